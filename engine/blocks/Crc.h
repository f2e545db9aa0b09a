// CRC-32 of block payloads: the reflected 0xEDB88320 form (ISO-HDLC, zlib).
#pragma once

#include <cstddef>
#include <cstdint>

class CCrc {
  public:
    virtual ~CCrc() = default;
    // 0 for a null buffer or an empty range.
    uint32_t Compute(const void* data, size_t length) const;

    static uint32_t Of(const void* data, size_t length) { return CCrc().Compute(data, length); }
};
