#include "engine/formats/SBFCrc16.h"

#include <array>
#include <cstring>

namespace {

constexpr size_t kSlices = 8;
using Tables = std::array<std::array<uint16_t, 256>, kSlices>;

// tables[s][b]: the CRC contribution of byte b followed by s zero bytes, so that
// eight bytes fold in with eight independent look-ups.
constexpr Tables MakeTables() {
    Tables t{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned c = b << 8;
        for (int bit = 0; bit < 8; ++bit) c = (c & 0x8000) ? ((c << 1) ^ 0x1021) : (c << 1);
        t[0][b] = static_cast<uint16_t>(c);
    }
    for (size_t s = 1; s < kSlices; ++s) {
        for (unsigned b = 0; b < 256; ++b) {
            const unsigned prev = t[s - 1][b];
            t[s][b] = static_cast<uint16_t>(((prev << 8) & 0xFFFF) ^ t[0][prev >> 8]);
        }
    }
    return t;
}

constexpr Tables kTables = MakeTables();
static_assert(kTables[0][1] == 0x1021 && kTables[0][2] == 0x2042 && kTables[0][3] == 0x3063);

}  // namespace

uint16_t CCrc16::TableEntry(uint8_t index) {
    return kTables[0][index];
}

uint16_t CCrc16::Update(uint16_t crc, const void* data, size_t length) {
    if (!data || length == 0)
        return crc;
    auto p = static_cast<const uint8_t*>(data);
    unsigned c = crc;
    while (length >= 8) {
        c = kTables[7][(c >> 8) ^ p[0]] ^ kTables[6][(c & 0xFF) ^ p[1]] ^ kTables[5][p[2]] ^
            kTables[4][p[3]] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^
            kTables[0][p[7]];
        p += 8;
        length -= 8;
    }
    while (length-- > 0) c = ((c << 8) & 0xFFFF) ^ kTables[0][(c >> 8) ^ *p++];
    return static_cast<uint16_t>(c);
}
