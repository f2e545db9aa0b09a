// Writes a flash programmer executable ("Util"): one code section ".fprog" at
// programmer base + 0x1000, entry point there, beginning with the signature
// block by which the simulated bench recognises it: "QELFPROG", format
// version 1, command block address, TIM type code (u32 each).
#pragma once

#include "firmware/images/CoffBuilder.h"

#include <cstdint>

namespace qel::firmware {

constexpr uint32_t kProgrammerCodeOffset = 0x1000;
constexpr uint32_t kProgrammerFormatVersion = 1;

struct ProgrammerSpec {
    uint32_t base = 0;  // programmer base: start of INTERNAL memory
    uint32_t commandBlockAddress = 0x800;
    uint32_t timType = 0;
    uint32_t codeSize = 256;  // at least the 20-byte signature block
};

CoffBuilder MakeProgrammer(const ProgrammerSpec& layout);

}  // namespace qel::firmware
