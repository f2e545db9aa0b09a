// The carrier-board driver's error codes and their fixed texts, shared by the
// driver library and the converter that reports them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qel::drv {

// facility * 0x10000 + number
inline constexpr uint32_t kErrCoffOpen = 0x30001;
inline constexpr uint32_t kErrCoffHeaderSize = 0x30002;
inline constexpr uint32_t kErrCoffNoOptionalHeader = 0x30003;
inline constexpr uint32_t kErrCoffNotExecutable = 0x30004;
inline constexpr uint32_t kErrCoffPlacement = 0x30005;
// Not in the table: a section whose data lie outside the file. Its text
// travels in the error record.
inline constexpr uint32_t kErrCoffSectionOutside = 0x30006;
inline constexpr uint32_t kErrCoffBootLoader = 0x30007;
inline constexpr uint32_t kErrCoffUnknownTim = 0x30008;
inline constexpr uint32_t kErrDriverLibrary = 0x80001;
inline constexpr uint32_t kErrTimInfoLibrary = 0x80002;
inline constexpr uint32_t kErrOpenFile = 0xC0004;
inline constexpr uint32_t kErrCarrierInterface = 0xC0008;
inline constexpr uint32_t kErrTransmissionTimeout = 0xC000A;
inline constexpr uint32_t kErrNotMultipleOf4 = 0xC000B;

struct ErrorEntry {
    uint32_t code;
    const char* text;
};

// The whole table, in code order.
const ErrorEntry* ErrorTable(size_t* count);
// The text for a code; "Unknown error." for every code not in the table.
const char* ErrorText(uint32_t code);

}  // namespace qel::drv
