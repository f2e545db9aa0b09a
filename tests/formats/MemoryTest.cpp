#include "engine/formats/Memory.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Span = std::pair<uint32_t, uint32_t>;  // start, size

std::vector<Span> Free(const memory& map) {
    std::vector<Span> spans;
    for (const memory::Region& r : map.FreeRegions()) spans.emplace_back(r.start, r.size);
    return spans;
}

struct AllocateCase {
    const char* label;
    uint32_t address;
    uint32_t size;
    bool result;
    std::vector<Span> freeAfter;
};

void PrintTo(const AllocateCase& c, std::ostream* os) {
    *os << c.label;
}

class AllocateTest : public ::testing::TestWithParam<AllocateCase> {};

TEST_P(AllocateTest, CarvesExactlyTheRange) {
    const AllocateCase& c = GetParam();
    memory map;
    map.AddRegion(0x1000, 0x1000);  // [0x1000, 0x2000)
    map.Reset();
    EXPECT_EQ(map.Allocate(c.size, MEMORY_CODE, c.address), c.result);
    EXPECT_EQ(Free(map), c.freeAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, AllocateTest,
    ::testing::Values(
        AllocateCase{"AtStart", 0x1000, 0x100, true, {{0x1100, 0xF00}}},
        AllocateCase{"InTheMiddleSplits", 0x1800, 0x100, true, {{0x1000, 0x800}, {0x1900, 0x700}}},
        AllocateCase{"AtEnd", 0x1F00, 0x100, true, {{0x1000, 0xF00}}},
        AllocateCase{"WholeRegionLeavesEmptyRegion", 0x1000, 0x1000, true, {{0x2000, 0}}},
        AllocateCase{"BeginsBefore", 0x0F80, 0x100, false, {{0x1000, 0x1000}}},
        AllocateCase{"EndsAfter", 0x1F80, 0x100, false, {{0x1000, 0x1000}}},
        AllocateCase{"WrapsTheAddressSpace", 0x1800, 0xFFFFF000, false, {{0x1000, 0x1000}}}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST(Memory, RangeAcrossTwoAdjacentRegionsFails) {
    memory map;
    map.AddRegion(0x1000, 0x1000);
    map.AddRegion(0x1000, 0x2000);
    map.Reset();
    EXPECT_FALSE(map.Allocate(0x200, 0, 0x1F00));
    EXPECT_EQ(Free(map), (std::vector<Span>{{0x1000, 0x1000}, {0x2000, 0x1000}}));
}

TEST(Memory, KindZeroMeansEitherAndAForeignKindFails) {
    memory map;
    map.AddRegion(0x100, 0x0);
    map.Reset();
    EXPECT_FALSE(map.Allocate(0x10, 4, 0x0));
    EXPECT_TRUE(map.Allocate(0x10, 0, 0x0));
    EXPECT_TRUE(map.Allocate(0x10, MEMORY_DATA, 0x10));
    EXPECT_EQ(Free(map), (std::vector<Span>{{0x20, 0xE0}}));
}

TEST(Memory, RegionReachingTheTopOfTheAddressSpace) {
    memory map;
    map.AddRegion(0x1000, 0xFFFFF000);
    map.Reset();
    EXPECT_TRUE(map.Allocate(0x100, MEMORY_CODE, 0xFFFFFF00));
    EXPECT_TRUE(map.Allocate(0x100, MEMORY_CODE, 0xFFFFF800));
    EXPECT_EQ(Free(map), (std::vector<Span>{{0xFFFFF000, 0x800}, {0xFFFFF900, 0x600}}));
}

TEST(Memory, FindFreeTakesTheFirstRegionWithRoom) {
    memory map;
    map.AddRegion(0x100, 0x0);
    map.AddRegion(0x8000, 0x8000);
    map.Reset();
    uint32_t address = 0;
    ASSERT_TRUE(map.FindFree(640, MEMORY_CODE, &address));
    EXPECT_EQ(address, 0x8000u);
    EXPECT_EQ(Free(map), (std::vector<Span>{{0x0, 0x100}, {0x8280, 0x7D80}}));
    EXPECT_FALSE(map.FindFree(0x8000, MEMORY_CODE, &address));
    EXPECT_FALSE(map.FindFree(0x10, 4, &address));
}

TEST(Memory, FindFreeAlignsBeforeItTakes) {
    memory map;
    map.AddRegion(0x8000, 0x0);
    map.Reset();
    ASSERT_TRUE(map.Allocate(0x104, MEMORY_CODE, 0x0));
    ASSERT_TRUE(map.Allocate(0x10, MEMORY_CODE, 0x384));
    uint32_t address = 0;
    ASSERT_TRUE(map.FindFree(640, MEMORY_CODE, &address, 32));
    EXPECT_EQ(address, 0x3A0u);
    EXPECT_EQ(Free(map), (std::vector<Span>{{0x104, 0x280}, {0x620, 0x79E0}}));
}

TEST(Memory, ResetRestoresTheRegionsInTheOrderAdded) {
    memory map;
    map.AddRegion(0x10, 0xA000);
    map.AddRegion(0x20, 0xB000);
    map.AddRegion(0x30, 0xC000);
    // The configured list is newest first.
    std::vector<Span> configured;
    for (const memory::Region& r : map.ConfiguredRegions()) {
        configured.emplace_back(r.start, r.size);
        EXPECT_EQ(r.kind, MEMORY_CODE | MEMORY_DATA);
    }
    EXPECT_EQ(configured, (std::vector<Span>{{0xC000, 0x30}, {0xB000, 0x20}, {0xA000, 0x10}}));

    map.Reset();
    const std::vector<Span> fresh{{0xA000, 0x10}, {0xB000, 0x20}, {0xC000, 0x30}};
    EXPECT_EQ(Free(map), fresh);
    ASSERT_TRUE(map.Allocate(0x8, 0, 0xB004));
    map.Reset();
    EXPECT_EQ(Free(map), fresh);
}

}  // namespace
