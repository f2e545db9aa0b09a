// Where the bench finds its description and keeps its state.
#pragma once

#include "Description.h"

#include <optional>
#include <string>

namespace qel::bench {

// Settings (HKEY_LOCAL_MACHINE, then HKEY_CURRENT_USER): key
// "SOFTWARE\Halvern\QEL4410\Bench", string values "Description" and "State".
inline constexpr const char* kBenchSettingsKey = "SOFTWARE\\Halvern\\QEL4410\\Bench";

// explicitFolder, else QEL4410_BENCH_STATE, else the "State" setting, else
// $XDG_DATA_HOME/qel4410/bench (~/.local/share/qel4410/bench).
std::string ResolveStateFolder(const std::string& explicitFolder);

// The description text and where it came from: the text given, the file
// given, QEL4410_BENCH, the "Description" setting, or the embedded default.
// False with a reason when a named file cannot be read.
bool ResolveDescriptionText(const std::string& text, const std::string& path, std::string& out,
                            std::string& source, std::string& error);

// Parses the resolved description and applies QEL4410_BENCH_TIMING ("off" or
// "realistic"; any other value is an error).
std::optional<BenchDesc> LoadDescription(const std::string& text, const std::string& path,
                                         std::string& source, std::string& error);

// "RealtimeStart" under HKEY_CURRENT_USER\Software\GODSP\Code Composer\Settings
// is a binary 1 (or a dword 1).
bool RealtimeRequested();

// The image file of a module: its name in the state folder.
std::string ImagePath(const std::string& stateFolder, const ModuleDesc& module);

// Fault switches set with the console tool, kept in the state folder and
// applied by every bench that starts there: "BOARD PROCESSOR KIND COUNT" lines.
std::string FaultsFilePath(const std::string& stateFolder);
struct StoredFault {
    int board = 0;
    int processor = 0;
    FaultSetting setting;
};
std::vector<StoredFault> ReadStoredFaults(const std::string& stateFolder);
bool WriteStoredFaults(const std::string& stateFolder, const std::vector<StoredFault>& faults);

// Files the bench reads are regular files within a size: a description at
// most kMaxDescriptionBytes, a settings hive or the stored faults at most
// kMaxSettingsFileBytes. Anything else (a device, a FIFO, a folder, a huge
// file) is refused before reading, with the reason in `error`.
inline constexpr size_t kMaxDescriptionBytes = 1u << 20;
inline constexpr size_t kMaxSettingsFileBytes = 16u << 20;
bool ReadBoundedFile(const std::string& path, size_t limit, std::string& out, std::string& error);
bool ReadWholeFile(const std::string& path, std::string& out);

}  // namespace qel::bench
