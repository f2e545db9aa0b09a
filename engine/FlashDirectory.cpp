#include "engine/FlashDirectory.h"

#include "Telmar.h"
#include "engine/Exc.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr const char* kSource = "Flash";

uint32_t WordAt(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof(v));
    return v;
}

}  // namespace

FlashDirectory ParseFlashDirectory(const uint8_t* bytes, uint32_t length, uint64_t flashSize) {
    if (!bytes || length < FlashDirectory::FirstEntryOffset) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource, "Flash directory of %u bytes is too short",
                         length);
    }
    FlashDirectory directory;
    directory.initImage = bytes + FlashDirectory::InitImageOffset;
    uint32_t at = FlashDirectory::FirstEntryOffset;
    while (at < length) {
        const uint32_t remaining = length - at;
        if (remaining < 4 + sizeof(BlockHeader)) {
            QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                             "Flash directory entry at 0x%X is cut short", at);
        }
        const uint8_t* image = bytes + at + 4;
        if (WordAt(image + offsetof(BlockHeader, signature)) != BLOCK_SIGNATURE) {
            QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                             "Flash directory entry at 0x%X has no block signature", at);
        }
        const uint32_t dataOffset = WordAt(image + offsetof(BlockHeader, dataOffset));
        if (dataOffset < sizeof(BlockHeader) || dataOffset > remaining - 4) {
            QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                             "Flash directory entry at 0x%X reaches past the directory", at);
        }
        const uint32_t flashOffset = WordAt(bytes + at);
        const uint64_t totalSize = WordAt(image + offsetof(BlockHeader, totalSize));
        // An absolute block of an odd length ends with its payload, before the
        // fill that paddedLength counts; reading paddedLength must stay on the flash.
        const uint64_t payloadEnd =
            uint64_t{dataOffset} + WordAt(image + offsetof(BlockHeader, dataLength));
        const uint64_t paddedEnd = uint64_t{flashOffset} + dataOffset +
                                   WordAt(image + offsetof(BlockHeader, paddedLength));
        if (flashOffset + totalSize > flashSize || payloadEnd > totalSize ||
            paddedEnd > flashSize) {
            QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                             "Block at flash offset 0x%08X does not fit the flash", flashOffset);
        }
        directory.entries.push_back({flashOffset, image});
        at += 4 + dataOffset;
    }
    return directory;
}
