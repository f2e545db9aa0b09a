// Sample FPGA bitstreams: .bit files, the SBF stack files built from them for
// the sample TIM types, and a .dat file.
#pragma once

#include <filesystem>

namespace qel::firmware {

void WriteBitstreams(const std::filesystem::path& folder);

}  // namespace qel::firmware
