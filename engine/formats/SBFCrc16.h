// CRC-16/CCITT-FALSE of stack files: polynomial 0x1021, most significant bit
// first, initial value 0xFFFF, no reflection, no final XOR ("123456789" gives
// 0x29B1).
#pragma once

#include <cstddef>
#include <cstdint>

class CCrc16 {
  public:
    static constexpr uint16_t kInitial = 0xFFFF;

    // Folds length bytes into crc; a null buffer or an empty range leaves it.
    static uint16_t Update(uint16_t crc, const void* data, size_t length);
    // CRC of one whole buffer.
    static uint16_t Of(const void* data, size_t length) { return Update(kInitial, data, length); }
    // The classic one-byte table entry (0x0000, 0x1021, 0x2042, ...).
    static uint16_t TableEntry(uint8_t index);
};
