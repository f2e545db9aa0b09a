// The General page's rules without a window: which TIM descriptions the TIM
// type list offers, the texts of the boot loader and bitstream boxes, the
// list entry that shows a processor's TIM type and where Browse for a
// bitstream starts.
#pragma once

#include "QelTimInfo.h"
#include "Telmar.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kNoTimTypeSelected = "No TIM type selected";

// Listed: "TimType" with its low three bits 1, and a "Max_4410_ver" of at
// least 5 (compared unsigned) when the description has one. A description
// without "TimType" is left out.
bool IsListedTim(const CQelTimRecord& tim);

struct TimTypeEntry {
    std::string text;
    const CQelTimRecord* tim = nullptr;  // null for "No TIM type selected"
};
// The list as its sorted combo holds it: every listed description by its
// name and "No TIM type selected", ordered by text without regard to case.
// Only "No TIM type selected" without a database.
std::vector<TimTypeEntry> TimTypeEntries(const CQelTimInfo* database);

// Index of the entry that shows a TIM name: the first whose text begins with
// the name, not case-sensitive, looked for from the second entry on and
// wrapping round to the first. -1 when none does (an empty name matches none).
int FindTimEntry(const std::vector<std::string>& entries, const std::string& name);

// A header's write time as one FILETIME; 0 when never written.
uint64_t WriteTimeOf(const BlockHeader& header);
// "on %02d/%02d/%04d at %02d:%02d" (day, month, year, hour, minute) in the
// local time of the time zone in force now.
std::string FormatProgrammed(uint64_t fileTime);

// A boot loader or bitstream box: its text and its status icon.
struct StatusBox {
    std::string text;
    bool iconShown = false;
    int iconState = 0;  // 0 as on the flash, 1 changed
};
// Empty and without icon while the header's version is 0.
StatusBox BootLoaderBox(const BlockHeader& header, const std::string& name, bool changed);
// record: the FPGA block record (FPGA_RECORD_SIZE bytes), comment first,
// then the file name.
StatusBox BitstreamBox(const BlockHeader& header, const uint8_t* record, bool changed);
std::string FpgaFileName(const uint8_t* record);
std::string FpgaComment(const uint8_t* record);

// Where Browse for a bitstream starts: the file name cut before its last "."
// and then before its last folder separator; the engine's bitstream folder
// when either is missing.
std::string BitstreamBrowseStart(const std::string& fileName, const std::string& bitstreamFolder);
