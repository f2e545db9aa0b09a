// Quillon's command line and flow: banner, options, conversion of a COFF
// executable into a comport boot image, and the download through the
// carrier-board driver. All messages go to `out`.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qel::quillon {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
// The image was written, but the download asked for did not happen.
inline constexpr int kExitNotDownloaded = 2;

// args[0] is the program's own name. Returns the exit code.
int Run(const std::vector<std::string>& args, std::FILE* out);

}  // namespace qel::quillon
