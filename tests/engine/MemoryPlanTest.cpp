#include "engine/Exc.h"
#include "engine/MemoryPlan.h"

#include <gtest/gtest.h>

namespace {

TEST(MemoryPlanTest, LargeRegionGivesTheFlashSizeToTheTransferBuffer) {
    const MemoryPlan p = PlanDspMemory({0x80000000, 0x400000, 0, 0x10000, 16, 0x200});
    EXPECT_EQ(p.sectorBuffer, 0x80000000u);
    EXPECT_EQ(p.sectorBufferSize, 0x10000u);
    EXPECT_EQ(p.transferBuffer, 0x80010000u);
    EXPECT_EQ(p.transferSize, 0x100000u);
    EXPECT_EQ(p.saveArea, 0x80110000u);
    EXPECT_EQ(p.saveSize, 0x2F0000u);
}

TEST(MemoryPlanTest, SmallRegionIsSplitInHalves) {
    // A = 0x30001 - 0x10000 = 0x20001 <= F: transfer 0x10000, save 0x10001.
    const MemoryPlan p = PlanDspMemory({0x80000000, 0x30001, 0, 0x10000, 16, 0});
    EXPECT_EQ(p.transferSize, 0x10000u);
    EXPECT_EQ(p.saveArea, 0x80020000u);
    EXPECT_EQ(p.saveSize, 0x10001u);
}

TEST(MemoryPlanTest, InternalRegionKeepsClearOfTheProgrammer) {
    const MemoryPlan p = PlanDspMemory({0, 0x100000, 0, 0x10000, 4, 0x1E0});
    EXPECT_EQ(p.sectorBuffer, 0x101E0u);  // (0x1E0 + 0x1001F) & ~31
    EXPECT_EQ(p.transferBuffer, 0x201E0u);
    EXPECT_EQ(p.transferSize, 0x40000u);
    EXPECT_EQ(p.saveArea, 0x601E0u);
    EXPECT_EQ(p.saveSize, 0x100000u - 0x10000 - 0x101E0 - 0x40000);
}

// The same layout, relative to an internal region that does not start at 0.
TEST(MemoryPlanTest, InternalRegionAwayFromZeroKeepsItsBuffersInside) {
    const MemoryPlan p = PlanDspMemory({0x00800000, 0x100000, 0x00800000, 0x10000, 4, 0x1E0});
    EXPECT_EQ(p.sectorBuffer, 0x008101E0u);
    EXPECT_EQ(p.transferBuffer, 0x008201E0u);
    EXPECT_EQ(p.saveArea, 0x008601E0u);
    EXPECT_EQ(uint64_t{p.saveArea} + p.saveSize, 0x00900000u);
}

TEST(MemoryPlanTest, RegionTooSmallIsRefused) {
    for (const MemoryPlanInput& in : {MemoryPlanInput{0x80000000, 0x10000, 0, 0x10000, 4, 0},
                                      MemoryPlanInput{0, 0x11000, 0, 0x1000, 4, 0x100}}) {
        try {
            PlanDspMemory(in);
            FAIL();
        } catch (const CFlashExc& e) {
            EXPECT_EQ(e.code, ERR_ALLOCATE_MEMORY);
        }
    }
}

}  // namespace
