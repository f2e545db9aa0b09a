#include "firmware/images/BootFileBuilder.h"

#include <zlib.h>
#include <stdexcept>

namespace qel::firmware {

std::vector<uint8_t> MakeFdbPayload(uint32_t timType, uint32_t size) {
    if (size < 12)
        throw std::invalid_argument("FDB payload below 12 bytes");
    const char magic[] = "QELFDB01";
    std::vector<uint8_t> payload(magic, magic + 8);
    PutU32(payload, timType);
    payload.resize(size, 0);
    return payload;
}

std::vector<uint8_t> MakeBlockImage(uint32_t type, uint32_t version,
                                    const std::vector<uint8_t>& extraHeader,
                                    const std::vector<uint8_t>& payload) {
    const uint32_t dataOffset = 48 + static_cast<uint32_t>(extraHeader.size());
    const uint32_t dataLength = static_cast<uint32_t>(payload.size());
    uint32_t crc = 0;
    if (!payload.empty()) {
        crc = static_cast<uint32_t>(crc32(0L, payload.data(), static_cast<uInt>(payload.size())));
    }
    std::vector<uint8_t> image;
    PutU32(image, type);
    PutU32(image, 0);  // id
    PutU32(image, kBlockSignature);
    PutU32(image, dataOffset + dataLength);  // an absolute block: no tail
    PutU32(image, dataOffset);
    PutU32(image, (dataLength + 3) & ~3u);
    PutU32(image, dataLength);
    PutU32(image, version);
    PutU32(image, crc);
    PutU32(image, 0);  // write time
    PutU32(image, 0);
    PutU32(image, 0);  // aux
    image.insert(image.end(), extraHeader.begin(), extraHeader.end());
    image.insert(image.end(), payload.begin(), payload.end());
    return image;
}

BootFileBuilder::BootFileBuilder() {
    // A recognisable stand-in for the boot loader program.
    const char magic[] = "QELBOOTL";
    loaderPayload_.assign(magic, magic + 8);
    for (uint32_t i = 8; i < 256; ++i) loaderPayload_.push_back(static_cast<uint8_t>(i * 31 + 5));
    fdbPayload_ = MakeFdbPayload(timType_);
}

BootFileBuilder& BootFileBuilder::SetInitSize(uint32_t size) {
    initSize_ = size;
    return *this;
}

BootFileBuilder& BootFileBuilder::SetInitWidth(uint32_t width) {
    initWidth_ = width;
    return *this;
}

BootFileBuilder& BootFileBuilder::SetTimType(uint32_t timType) {
    timType_ = timType;
    return *this;
}

BootFileBuilder& BootFileBuilder::SetGeometry(uint32_t sectorSize, uint32_t sectorCount) {
    sectorSize_ = sectorSize;
    sectorCount_ = sectorCount;
    return *this;
}

BootFileBuilder& BootFileBuilder::SetLoaderName(const std::string& name) {
    if (name.size() > 16)
        throw std::invalid_argument("boot loader name above 16 characters");
    loaderName_ = name;
    return *this;
}

BootFileBuilder& BootFileBuilder::SetLoaderVersion(uint32_t version) {
    loaderVersion_ = version;
    return *this;
}

BootFileBuilder& BootFileBuilder::SetRegionStart(uint32_t start) {
    regionStart_ = start;
    return *this;
}

BootFileBuilder& BootFileBuilder::SetLoaderPayload(std::vector<uint8_t> payload) {
    loaderPayload_ = std::move(payload);
    return *this;
}

BootFileBuilder& BootFileBuilder::SetFdbPayload(std::vector<uint8_t> payload) {
    fdbPayload_ = std::move(payload);
    return *this;
}

BootFileBuilder& BootFileBuilder::SetSectionAddress(uint32_t address) {
    sectionAddress_ = address;
    return *this;
}

std::vector<uint8_t> BootFileBuilder::InitImage() const {
    if (initWidth_ == 0)
        throw std::invalid_argument("init image width 0");
    const uint32_t bytes = initSize_ / initWidth_;
    if (bytes < 56)
        throw std::invalid_argument("init image holds less than its 56-byte header");
    std::vector<uint8_t> image;
    PutU32(image, 0x00000060);  // words the engine carries unchanged
    PutU32(image, 0x00000000);
    PutU32(image, 0x00000001);
    PutU32(image, initSize_);
    PutU32(image, initSize_);  // the engine stores the size here in the flash copy
    PutU32(image, kInitMagic);
    for (int i = 0; i < 4; ++i) PutU32(image, 0);
    PutU32(image, timType_);
    PutU32(image, initWidth_);
    PutU32(image, sectorSize_);
    PutU32(image, sectorCount_);
    for (uint32_t i = 56; i < bytes; ++i) image.push_back(static_cast<uint8_t>(i * 13 + 7));
    return image;
}

std::vector<uint8_t> BootFileBuilder::LoaderImage() const {
    std::vector<uint8_t> extra;
    PutU32(extra, 0x192);
    PutU32(extra, 0x8000);
    PutU32(extra, timType_);
    PutU32(extra, regionStart_);
    PutU32(extra, 0);  // bootEnabled
    extra.resize(56, 0);
    extra.insert(extra.end(), loaderName_.begin(), loaderName_.end());
    extra.resize(72, 0);
    return MakeBlockImage(block::kTypeBootLoader, loaderVersion_, extra, loaderPayload_);
}

std::vector<uint8_t> BootFileBuilder::FdbImage() const {
    return MakeBlockImage(block::kTypeFdb, loaderVersion_, {}, fdbPayload_);
}

std::vector<uint8_t> BootFileBuilder::BootlSection() const {
    std::vector<uint8_t> section = InitImage();
    const std::vector<uint8_t> loader = LoaderImage();
    const std::vector<uint8_t> fdb = FdbImage();
    section.insert(section.end(), loader.begin(), loader.end());
    section.insert(section.end(), fdb.begin(), fdb.end());
    return section;
}

CoffBuilder BootFileBuilder::Coff() const {
    CoffBuilder coff;
    coff.AddSection(".bootl", sectionAddress_, BootlSection(), 0x40);
    return coff;
}

}  // namespace qel::firmware
