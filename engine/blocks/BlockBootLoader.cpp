#include "engine/blocks/BlockBootLoader.h"

#include "BlockTypes.h"
#include "engine/Exc.h"
#include "engine/blocks/BlockOwner.h"
#include "engine/blocks/LittleEndian.h"

#include <cstring>

namespace {
constexpr const char* kSource = "BlockBootLoader";
// The checks shared with every absolute block report as the base does.
constexpr const char* kBaseSource = "BlockAbsolute";
constexpr uint32_t kDataOffset = sizeof(BlockHeader) + BOOTLOADER_RECORD_SIZE;
}  // namespace

CBlockBootLoader::CBlockBootLoader(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockAbsolute(flash, flashOffset) {
    record_.word0 = 0x192;
    record_.word4 = 0x8000;
    StampTim();
    header_.type = qel::block::kTypeBootLoader;
    ClearDataLength();
}

void CBlockBootLoader::StampTim() {
    record_.timType = flash_ ? flash_->TimTypeCode() : 0;
    record_.largestRegion = flash_ ? flash_->LargestRegionStart() : 0;
}

uint8_t* CBlockBootLoader::GetExtraHeader(uint32_t* size) {
    if (size)
        *size = sizeof(record_);
    return reinterpret_cast<uint8_t*>(&record_);
}

uint32_t CBlockBootLoader::GetExtraHeaderSize() const {
    return sizeof(record_);
}

void CBlockBootLoader::ReadExtraHeader(const uint8_t* extra) {
    // The directory entry holds dataOffset - 48 extra bytes: anything but
    // the record's size would be read past or misplace the payload.
    if (header_.dataOffset != kDataOffset) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                         "Block at flash offset 0x%08X has a damaged extra header", flashOffset_);
    }
    std::memcpy(&record_, extra, sizeof(record_));
}

void CBlockBootLoader::SetContents(const uint8_t* image) {
    if (!image)
        QEL_RAISE(ERR_INVALID_PARAMETER, kBaseSource);
    BlockHeader incoming;
    std::memcpy(&incoming, image, sizeof(incoming));
    if (incoming.signature != BLOCK_SIGNATURE)
        QEL_RAISE(ERR_NO_BLOCK_SIGNATURE, kBaseSource);
    // The record is taken from offset 48 and written back there: a payload
    // anywhere else would overlap it or leave a gap.
    if (incoming.dataOffset != kDataOffset) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource, "Boot loader data offset %u",
                         incoming.dataOffset);
    }
    CBlockAbsolute::SetContents(image);
    std::memcpy(&record_, image + sizeof(BlockHeader), sizeof(record_));
    StampTim();
    record_.bootEnabled = 1;
}

void CBlockBootLoader::SetBoot(bool on) {
    if (IsBoot() == on)
        return;
    record_.bootEnabled = on ? 1 : 0;
    SetModified(true);
}

bool CBlockBootLoader::IsBoot() const {
    return record_.bootEnabled != 0;
}

std::string CBlockBootLoader::GetLoaderName() const {
    return std::string(record_.name, strnlen(record_.name, sizeof(record_.name)));
}
