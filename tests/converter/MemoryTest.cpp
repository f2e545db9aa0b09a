// CMemory: the free list, reservations and the boot loader's allocation.
#include "ConverterTestSupport.h"

#include "converter/Memory.h"

namespace qel::converter_test {
namespace {

using Regions = std::vector<std::pair<uint32_t, uint32_t>>;  // start, size

Regions List(const CMemory& memory) {
    Regions regions;
    for (const CMemory::Region* r = memory.FirstRegion(); r; r = r->next.get())
        regions.emplace_back(r->start, r->size);
    return regions;
}

TEST(MemoryTest, ReserveTakesFromStartEndOrMiddle) {
    struct Case {
        const char* what;
        uint32_t size, address;
        Regions after;
    };
    const Case cases[] = {
        {"at the start", 0x100, 0x1000, {{0x1100, 0xF00}}},
        {"at the end", 0x100, 0x1F00, {{0x1000, 0xF00}}},
        {"in the middle", 0x100, 0x1400, {{0x1000, 0x400}, {0x1500, 0xB00}}},
        {"all of it", 0x1000, 0x1000, {{0x2000, 0}}},
        {"size 0 anywhere", 0, 0x99999999, {{0x1000, 0x1000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemory memory;
        memory.AddRegion(0x1000, 0x1000);
        EXPECT_TRUE(memory.Reserve(c.size, c.address));
        EXPECT_EQ(List(memory), c.after);
    }
}

TEST(MemoryTest, ReserveFailsOutsideEveryFreeRegion) {
    struct Case {
        const char* what;
        uint32_t size, address;
    };
    const Case cases[] = {
        {"before", 0x10, 0xF00},
        {"after", 0x10, 0x4000},
        {"past the end", 0x20, 0x1FF0},
        {"straddling two regions", 0x20, 0x2FF0},
        {"wraps around", 0x20, 0xFFFFFFF0},
        {"already taken", 0x10, 0x1100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CMemory memory;
        memory.AddRegion(0x1000, 0x3000);  // adjacent to the next
        memory.AddRegion(0x1000, 0x2000);
        memory.AddRegion(0x1000, 0x1000);
        memory.Reserve(0x100, 0x1100);
        const Regions before = List(memory);
        const QELExc e = Raised([&] { memory.Reserve(c.size, c.address); });
        EXPECT_EQ(e.code, 0x30005u);
        EXPECT_EQ(List(memory), before);
    }
}

TEST(MemoryTest, AllocateHighTakesTheTopOfTheFirstRegionLargeEnough) {
    CMemory memory;
    memory.AddRegion(0x2000, 0x10000);
    memory.AddRegion(0x100, 0x80000);  // head of the list, too small
    uint32_t address = 0;
    ASSERT_TRUE(memory.AllocateHigh(0x1020, &address));
    EXPECT_EQ(address, 0x10FE0u);
    EXPECT_EQ(List(memory), (Regions{{0x80000, 0x100}, {0x10000, 0xFE0}}));
    EXPECT_FALSE(memory.AllocateHigh(0x1000, &address));
}

TEST(MemoryTest, TimTypeMemoryEntriesAreListedInReverseOrder) {
    fixtures::TestTempDir temp;
    TimFolder tims(temp,
                   {{"MAP", 0x11, {{0x0, 0x10000}, {0x80000, 0x20010}, {0x90000000, 0x100}}}});
    const CMemory memory("MAP");
    EXPECT_EQ(List(memory), (Regions{{0x90000000, 0x100}, {0x80000, 0x20010}, {0x0, 0x10000}}));
    const QELExc e = Raised([] { CMemory unknown("NOSUCH"); });
    EXPECT_EQ(e.code, 0x30008u);
    EXPECT_STREQ(e.message, "Unknown TIM type specified.");
}

TEST(MemoryTest, ManyRegionsAreFreedWithoutDeepRecursion) {
    CMemory memory;
    for (uint32_t i = 0; i < 1000000; ++i) memory.AddRegion(4, i * 8);
}

}  // namespace
}  // namespace qel::converter_test
