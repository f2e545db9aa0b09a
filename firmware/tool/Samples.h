// Sample user programs for the flash: small COFF executables that any TIM
// with SDRAM at 0x80000000 can boot, for the demonstration and for trying the
// console programmer.
#pragma once

#include <filesystem>

namespace qel::firmware {

void WriteSamples(const std::filesystem::path& folder);

}  // namespace qel::firmware
