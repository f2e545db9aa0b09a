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

// Fills the missing values with <firmwareRoot>/<folder> and tells so on
// stderr. Leaves everything alone when the values exist, when firmwareRoot
// is not a folder, or when the settings cannot be written (the engine then
// reports what is missing).
void FillMissingEngineFolders(const std::string& firmwareRoot);

}  // namespace qel::programmer
