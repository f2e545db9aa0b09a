// The comport boot image: the words a TIM's boot loader reads over its
// comport link. Named here once for the converter that writes images and
// the bench's boot loader that reads them; all words are 32-bit little-endian.
#pragma once

#include <cstdint>

namespace qel::comport {

// Old format: six header words (marker, two bus control words, 1, entry
// point, 0), then records {length, load address, data}, then 0.
inline constexpr uint32_t kOldMarker = 0x00003779;
inline constexpr uint32_t kOldBusControl = 0x3E39FFF0;
inline constexpr uint32_t kOldLoaderVersion = 1;
inline constexpr uint32_t kOldHeaderWords = 6;

// New format: marker, boot loader address, then records of at most
// kMaxRecord bytes, then 0 and the entry point.
inline constexpr uint32_t kNewMarker = 0xBBBB0002;
inline constexpr uint32_t kMaxRecord = 0x3FFFC;

// What the converter reserves for the relocated boot loader, and the
// alignment of its place: the loader itself takes kBootLoaderSize minus the
// alignment slack.
inline constexpr uint32_t kBootLoaderReserve = 0x1020;
inline constexpr uint32_t kBootLoaderAlign = 32;
inline constexpr uint32_t kBootLoaderSize = kBootLoaderReserve - kBootLoaderAlign;

}  // namespace qel::comport
