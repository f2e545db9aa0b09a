// The flash programmer's command block: twelve 32-bit words at the address
// of the programmer image's command register, through which the host and the
// programmer running on the DSP talk. Named here once for the engine that
// drives the programmer and the bench that models it.
#pragma once

#include <cstdint>

namespace qel::fprog {

// Commands (word kWordCode); 3, 6 and 7 are not used.
inline constexpr uint32_t kCommandInitialise = 1;  // 7 arguments; 0 when the flash is reachable
inline constexpr uint32_t kCommandRead = 2;        // offset, length: bytes to the transfer buffer
inline constexpr uint32_t kCommandProgram = 4;     // the write records in the transfer buffer
inline constexpr uint32_t kCommandErase = 5;       // sector by sector; progress counts sectors
inline constexpr uint32_t kCommandKeepImage = 8;   // offset, length: handle of the kept image, or 0
inline constexpr uint32_t kCommandDirectory = 9;   // length of the directory in the transfer buffer
inline constexpr uint32_t kCommandChipErase = 10;  // no progress until it ends

// Word numbers (the byte offset of word n is 4 n).
inline constexpr uint32_t kWordCode = 0;           // host to DSP: the command
inline constexpr uint32_t kWordFirstArgument = 1;  // host to DSP: arguments in words 1 to 8
inline constexpr uint32_t kWordResult = 1;         // DSP to host, once the command completed
inline constexpr uint32_t kWordStatus = 9;         // DSP to host: kStatus*
inline constexpr uint32_t kWordControl = 10;       // host to DSP: kControl*
inline constexpr uint32_t kWordProgress = 11;      // DSP to host: progress of the running command
inline constexpr uint32_t kCommandBlockWords = 12;
inline constexpr uint32_t kMaxArguments = 8;
inline constexpr uint32_t kInitialiseArguments = 7;

// Values of the status word.
inline constexpr uint32_t kStatusBusy = 1;
inline constexpr uint32_t kStatusReady = 2;
inline constexpr uint32_t kStatusComplete = 3;

// Values of the control word: announce a command (answered with "ready"),
// then start the one now in the block.
inline constexpr uint32_t kControlAnnounce = 1;
inline constexpr uint32_t kControlStart = 2;

// Command 2 reads at most this many bytes at a time.
inline constexpr uint32_t kMaxReadLength = 32768;

// Write records of command 4, back to back from the start of the transfer
// buffer: source (0: the data follows; otherwise a handle of command 8),
// flash offset, length, then the data when the source is 0. A record whose
// three words are 0 ends the load.
inline constexpr uint32_t kRecordSource = 0;
inline constexpr uint32_t kRecordOffset = 4;
inline constexpr uint32_t kRecordLength = 8;
inline constexpr uint32_t kRecordHeadSize = 12;
inline constexpr uint32_t kRecordSourceInline = 0;

}  // namespace qel::fprog
