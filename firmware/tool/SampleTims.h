// The sample TIM types whose firmware files the build makes (the values the
// TIM descriptions in timinfo/data carry).
#pragma once

#include <cstdint>
#include <span>

namespace qel::firmware {

struct SampleTim {
    const char* name;
    uint32_t timType;
    uint32_t internalStart;  // programmer base
    uint32_t largestRegionStart;
    uint32_t sectorSize;
    uint32_t sectorCount;
    bool wideCommandBlock;       // command block at base + 0x10000 instead of + 0x800
    const char* loaderFile;      // "Loader"
    const char* programmerFile;  // "Util"
    const char* loaderName;      // at most 16 characters
    uint32_t loaderVersion;
};

// One entry per distinct pair of files.
std::span<const SampleTim> SampleTims();

uint32_t CommandBlockAddress(const SampleTim& tim);

}  // namespace qel::firmware
