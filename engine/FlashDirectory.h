// The flash directory the programmer collects: 4 unused bytes, the first 56
// bytes of the init image, then one entry per block (flash offset, header,
// extra header). Entries point into the caller's buffer.
#pragma once

#include <cstdint>
#include <vector>

struct FlashDirectoryEntry {
    uint32_t flashOffset;
    const uint8_t* image;  // header followed by the extra header
};

struct FlashDirectory {
    static constexpr uint32_t InitImageOffset = 4;
    static constexpr uint32_t FirstEntryOffset = 60;

    const uint8_t* initImage = nullptr;  // 56 bytes
    std::vector<FlashDirectoryEntry> entries;
};

// Raises "Not a valid block" for a directory shorter than 60 bytes, an entry
// without the block signature, an entry that reaches past the end, or a block
// that claims more room than the flash has (its payload would otherwise be
// allocated and read at whatever size a damaged header says).
FlashDirectory ParseFlashDirectory(const uint8_t* bytes, uint32_t length, uint64_t flashSize);
