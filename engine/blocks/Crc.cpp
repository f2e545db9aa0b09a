#include "engine/blocks/Crc.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

uint32_t CCrc::Compute(const void* data, size_t length) const {
    if (!data || length == 0)
        return 0;
    // zlib's table-driven CRC is the same polynomial and as fast as any of ours.
    auto bytes = static_cast<const Bytef*>(data);
    uLong crc = crc32(0L, Z_NULL, 0);
    while (length > 0) {
        const size_t chunk = std::min<size_t>(length, std::numeric_limits<uInt>::max());
        crc = crc32(crc, bytes, static_cast<uInt>(chunk));
        bytes += chunk;
        length -= chunk;
    }
    return static_cast<uint32_t>(crc);
}
