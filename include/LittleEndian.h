// Little-endian numbers in byte buffers, and the one bounds test every reader
// of a file image makes before it looks at a range of it.
#pragma once

#include <cstdint>

namespace qel {

inline uint16_t GetLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void PutLe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// [offset, offset + length) lies within an image of `size` bytes; the sum is
// taken in 64 bits, so 32-bit fields of a damaged file cannot wrap around.
inline bool InsideImage(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}

}  // namespace qel
