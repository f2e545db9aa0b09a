// The walk over the chain of blocks in a flash: the init image at offset 0
// (its size at word 16), then blocks found by signature and total size, up to
// and including the termination block. Used by the programmer model's
// directory command and by the console tool.
#pragma once

#include "include/BlockTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qel::bench {

using qel::block::kBlockSignature;
using qel::block::kInitMagic;
inline constexpr uint32_t kInitHeaderSize = 56;
inline constexpr uint32_t kBlockHeaderSize = 48;

struct ChainBlock {
    uint32_t offset = 0;
    uint32_t header[12] = {};    // type, id, signature, totalSize, dataOffset, ...
    std::vector<uint8_t> extra;  // dataOffset - 48 bytes
    uint32_t Type() const { return header[0]; }
    uint32_t TotalSize() const { return header[3]; }
    uint32_t DataOffset() const { return header[4]; }
    uint32_t DataLength() const { return header[6]; }
    uint32_t Version() const { return header[7]; }
    uint32_t Crc() const { return header[8]; }
};

struct ChainWalk {
    bool validInit = false;              // magic at byte 20
    uint8_t init[kInitHeaderSize] = {};  // first 56 bytes of the flash
    uint32_t initSize = 0;               // word 16
    std::vector<ChainBlock> blocks;
    bool terminated = false;  // ended with a termination block
    std::string stop;         // why the walk ended otherwise
};

// reader(offset, length, out) reads flash bytes; false ends the walk.
using FlashReader = std::function<bool(uint32_t, uint32_t, void*)>;
ChainWalk WalkChain(const FlashReader& reader, uint32_t flashSize);

// The flash directory: 4 bytes (the number of entries), the first 56 bytes of
// the init image, then per block its flash offset, header and extra header.
// Entries that would make it longer than maxLength are left out. Empty when
// the walk found no valid init image.
std::vector<uint8_t> BuildDirectory(const ChainWalk& walk, uint32_t maxLength);

// "boot loader", "user (executable)" ...
std::string BlockTypeName(uint32_t type);

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

}  // namespace qel::bench
