#include "engine/formats/BootFile.h"

#include "Telmar.h"
#include "engine/Exc.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kSource = "ObjFile";
constexpr uint32_t kBlockHeaderSize = sizeof(BlockHeader);
constexpr uint32_t kLoaderMinSize = kBlockHeaderSize + BOOTLOADER_RECORD_SIZE;  // 120

uint32_t Word(const uint8_t* p, uint32_t offset) {
    p += offset;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] __attribute__((format(printf, 3, 4))) void Refuse(uint32_t code,
                                                               const std::string& file,
                                                               const char* format, ...) {
    char what[160];
    va_list args;
    va_start(args, format);
    vsnprintf(what, sizeof(what), format, args);
    va_end(args);
    QEL_RAISE_FORMAT(code, kSource, "%s: %s", BaseName(file).c_str(), what);
}

// Checks one complete block image at `offset` inside the section and returns
// its totalSize.
uint32_t CheckBlockImage(const std::string& file, const uint8_t* section, uint32_t sectionSize,
                         uint64_t offset, const char* what, uint32_t minSize) {
    if (offset + kBlockHeaderSize > sectionSize) {
        Refuse(ERR_CANNOT_READ_FILE, file, "%s header at .bootl+0x%llX past the section (0x%X)",
               what, static_cast<unsigned long long>(offset), sectionSize);
    }
    const uint8_t* image = section + offset;
    if (Word(image, 8) != BLOCK_SIGNATURE) {
        Refuse(ERR_NO_BLOCK_SIGNATURE, file, "%s image at .bootl+0x%llX", what,
               static_cast<unsigned long long>(offset));
    }
    const uint32_t totalSize = Word(image, 12);
    const uint32_t dataOffset = Word(image, 16);
    const uint32_t paddedLength = Word(image, 20);
    const uint32_t dataLength = Word(image, 24);
    if (totalSize < minSize || offset + totalSize > sectionSize) {
        Refuse(ERR_CANNOT_READ_FILE, file, "%s image of 0x%X bytes at .bootl+0x%llX, section 0x%X",
               what, totalSize, static_cast<unsigned long long>(offset), sectionSize);
    }
    // The block classes copy dataLength bytes from dataOffset into a buffer
    // of paddedLength bytes.
    if (dataOffset < kBlockHeaderSize || uint64_t{dataOffset} + dataLength > totalSize ||
        paddedLength != ((uint64_t{dataLength} + 3) & ~uint64_t{3})) {
        Refuse(ERR_CANNOT_READ_FILE, file,
               "%s payload at 0x%X (0x%X bytes, padded 0x%X) outside its 0x%X bytes", what,
               dataOffset, dataLength, paddedLength, totalSize);
    }
    return totalSize;
}

}  // namespace

CBootFile::CBootFile() = default;

CBootFile::~CBootFile() = default;

void CBootFile::Reset() {
    initImage_ = nullptr;
    loaderImage_ = nullptr;
    fdbImage_ = nullptr;
    initImageSize_ = loaderImageSize_ = fdbImageSize_ = 0;
    fdbPayloadOffset_ = fdbPayloadSize_ = 0;
}

// The images point into the previous file's buffer, which Load frees: they
// are cleared first, whatever the new file holds.
void CBootFile::Load(const char* path) {
    Reset();
    objFile_.Load(path);
    FindImages();
}

void CBootFile::LoadFromMemory(const uint8_t* data, size_t size, const char* name) {
    Reset();
    objFile_.LoadFromMemory(data, size, name);
    FindImages();
}

void CBootFile::FindImages() {
    const int index = objFile_.FindSection(".bootl");
    if (index < 0)
        return;
    const std::string file = objFile_.GetName();
    try {
        uint8_t* section = objFile_.GetSectionData(index);
        const uint32_t sectionSize = objFile_.GetSectionHeader(index)->size;
        if (sectionSize < INIT_HEADER_SIZE) {
            Refuse(ERR_CANNOT_READ_FILE, file, ".bootl section of %u bytes has no init header",
                   sectionSize);
        }
        const uint32_t size = Word(section, INIT_WORD_SIZE);
        const uint32_t width = Word(section, INIT_WORD_WIDTH);
        // Width 0 leaves the boot loader's place undefined; other widths than
        // 1 and 2 would make the init block copy size bytes of which the file
        // holds only size / width.
        if (width != 1 && width != 2) {
            Refuse(ERR_NOT_VALID_INIT_BLOCK, file, "init image width %u (must be 1 or 2)", width);
        }
        // The flash copy carries its size at byte 16.
        if (size < 20)
            Refuse(ERR_NOT_VALID_INIT_BLOCK, file, "init image size %u below 20", size);
        const uint32_t initBytes = size / width;
        if (initBytes > sectionSize) {
            Refuse(ERR_CANNOT_READ_FILE, file, "init image of 0x%X bytes past the section (0x%X)",
                   initBytes, sectionSize);
        }
        const uint32_t loaderSize =
            CheckBlockImage(file, section, sectionSize, initBytes, "boot loader", kLoaderMinSize);
        const uint64_t fdbOffset = uint64_t{initBytes} + loaderSize;
        const uint32_t fdbSize =
            CheckBlockImage(file, section, sectionSize, fdbOffset, "FDB", kBlockHeaderSize);
        initImage_ = section;
        loaderImage_ = section + initBytes;
        fdbImage_ = section + fdbOffset;
        // Kept as found: callers may stamp values into the images.
        initImageSize_ = initBytes;
        loaderImageSize_ = loaderSize;
        fdbImageSize_ = fdbSize;
        fdbPayloadOffset_ = Word(fdbImage_, 16);
        fdbPayloadSize_ = Word(fdbImage_, 24);
    } catch (...) {
        objFile_.Close();
        throw;
    }
}

uint32_t CBootFile::GetInitSize() const {
    return initImage_ ? Word(initImage_, INIT_WORD_SIZE) : 0;
}

uint32_t CBootFile::GetInitWidth() const {
    return initImage_ ? Word(initImage_, INIT_WORD_WIDTH) : 0;
}

uint32_t CBootFile::GetSectorSize() const {
    return initImage_ ? Word(initImage_, INIT_WORD_SECTOR_SIZE) : 0;
}

uint32_t CBootFile::GetSectorCount() const {
    return initImage_ ? Word(initImage_, INIT_WORD_SECTOR_COUNT) : 0;
}

const uint8_t* CBootFile::GetFdbPayload() const {
    return fdbImage_ ? fdbImage_ + fdbPayloadOffset_ : nullptr;
}

std::string CBootFile::GetLoaderName() const {
    if (!loaderImage_)
        return std::string();
    const char* name = reinterpret_cast<const char*>(loaderImage_) + kBlockHeaderSize + 56;
    return std::string(name, strnlen(name, 16));
}

uint32_t CBootFile::GetLoaderVersion() const {
    return loaderImage_ ? Word(loaderImage_, 28) : 0;
}
