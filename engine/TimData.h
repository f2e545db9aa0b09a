// The selected TIM as the flash object uses it: where the flash lies, its
// geometry, the DSP memory plan of the programmer, the register settings and
// the memory map, plus the reading helpers for TIM description values.
#pragma once

#include "QelTimInfo.h"
#include "engine/MemoryPlan.h"
#include "engine/formats/Memory.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TimData {
    virtual ~TimData() = default;

    uint32_t flashAddress = 0;
    uint32_t sectorSize = 0;
    uint32_t sectorCount = 0;
    uint32_t largestRegionStart = 0;
    MemoryPlan plan;
    uint32_t timType = 0;
    // (DSP address, value), written in list order: the last "Set" entry first.
    std::vector<std::pair<uint32_t, uint32_t>> registerSettings;
    std::string defaultLoaderPath;
    memory memoryMap;
    bool flashAccess = true;
    bool chipErase = false;
    uint32_t internalStart = 0;

    uint64_t FlashSize() const { return uint64_t{sectorSize} * sectorCount; }
};

// One value of a TIM record. Null record: "Invalid parameter"; a missing key:
// 0x10013 with "Could not find integer|string value '<key>' in TIM file".
int GetTimInt(const char* key, const CQelTimRecord* record);
std::string GetTimString(const char* key, const CQelTimRecord* record);

// folder + separator + file name.
std::string JoinPath(const std::string& folder, const std::string& file);

// The best stack file for a TIM type in a folder: highest version among the
// files listing the type, "_32_" preferred to a "_16_" winner. Error 39 when
// nothing fits.
std::string FindBitstream(const std::string& folder, uint32_t timType);
