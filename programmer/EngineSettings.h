// The three folders the engine reads when it builds a flash object. A fresh
// machine has none of them; the programmer then points them at the firmware
// folders the build put beside it.
#pragma once

#include <string>
#include <vector>

namespace qel::programmer {

inline constexpr const char* kTelmarKey = "SOFTWARE\\Halvern\\QEL4410\\Telmar";

struct FolderSetting {
    const char* value;   // "BootloaderPath" ...
    const char* folder;  // beside the program, under firmware/
};
inline constexpr FolderSetting kFolderSettings[] = {{"BootloaderPath", "bootloaders"},
                                                    {"BitstreamPath", "bitstreams"},
                                                    {"FprogPath", "programmers"}};

// Fills the missing values with <root>/<folder> of the first root (in the
// order of platform::FirmwareRoots) that holds
// all three folders, and tells so on stderr. Leaves everything alone when the
// values exist. When no root holds the firmware, or the settings cannot be
// written, says on stderr what is missing and where it looked (the engine
// then fails with its own error).
// tell: say which folders were filled in (-q keeps it quiet); failures are
// always told.
void FillMissingEngineFolders(const std::vector<std::string>& firmwareRoots, bool tell = true);

}  // namespace qel::programmer
