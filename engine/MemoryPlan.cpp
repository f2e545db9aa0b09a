#include "engine/MemoryPlan.h"

#include "engine/Exc.h"

MemoryPlan PlanDspMemory(const MemoryPlanInput& in) {
    const uint64_t flashSize = uint64_t{in.sectorSize} * in.sectorCount;
    // A region smaller than what is carved from it would wrap the arithmetic
    // round and put buffers anywhere.
    if (in.largestSize <= in.sectorSize) {
        QEL_RAISE_FORMAT(ERR_ALLOCATE_MEMORY, "Flash",
                         "Largest memory region (0x%X bytes) cannot hold a 0x%X-byte sector",
                         in.largestSize, in.sectorSize);
    }
    MemoryPlan plan;
    uint64_t available = in.largestSize - in.sectorSize;
    plan.sectorBuffer = in.largestStart;
    plan.sectorBufferSize = in.sectorSize;
    if (in.largestStart == in.internalStart) {
        // The programmer and its FDB sit at the start of internal memory.
        const uint32_t clear = (in.fdbTotalSize + 0x1001Fu) & ~31u;
        if (available <= clear) {
            QEL_RAISE_FORMAT(ERR_ALLOCATE_MEMORY, "Flash",
                             "Internal memory (0x%X bytes) too small for the programmer buffers",
                             in.largestSize);
        }
        plan.sectorBuffer = in.largestStart + clear;
        available -= clear;
    }
    plan.transferBuffer = plan.sectorBuffer + in.sectorSize;
    if (available > flashSize) {
        plan.transferSize = static_cast<uint32_t>(flashSize);
        available -= flashSize;
    } else {
        plan.transferSize = static_cast<uint32_t>(available / 2);
        available -= plan.transferSize;
    }
    plan.saveArea = plan.transferBuffer + plan.transferSize;
    plan.saveSize = static_cast<uint32_t>(available);
    return plan;
}
