// Where the flash programmer's buffers go in DSP memory: a one-sector buffer,
// the transfer buffer (host <-> programmer) and the save area for kept block
// images, all carved from the TIM's largest memory region.
#pragma once

#include <cstdint>

struct MemoryPlan {
    uint32_t sectorBuffer = 0;
    uint32_t sectorBufferSize = 0;
    uint32_t transferBuffer = 0;
    uint32_t transferSize = 0;
    uint32_t saveArea = 0;
    uint32_t saveSize = 0;
};

struct MemoryPlanInput {
    uint32_t largestStart;   // R
    uint32_t largestSize;    // Z
    uint32_t internalStart;  // start of "INTERNAL", 0 when there is none
    uint32_t sectorSize;     // S
    uint32_t sectorCount;    // N
    uint32_t fdbTotalSize;   // total size of the boot file's FDB image
};

// Raises "Could not allocate memory" when the region cannot hold the buffers.
MemoryPlan PlanDspMemory(const MemoryPlanInput& in);
