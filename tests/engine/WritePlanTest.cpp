#include "engine/Exc.h"
#include "engine/WritePlan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    memcpy(&v, b.data() + at, 4);
    return v;
}

// A plan over a small staging buffer that records every shipped load.
struct PlanFixture {
    explicit PlanFixture(uint32_t stagingSize, uint32_t sectorSize = 0x10000)
        : staging(stagingSize),
          plan(sectorSize, staging.data(), stagingSize, [this](uint32_t size) {
              loads.emplace_back(staging.begin(), staging.begin() + size);
          }) {}

    // Both passes, as a commit runs them.
    void Run(const std::function<void(bool)>& queueAll) {
        plan.Reset();
        queueAll(true);
        plan.Flush(true);
        plan.Rewind();
        queueAll(false);
        plan.Flush(false);
    }

    std::vector<uint8_t> staging;
    CWritePlan plan;
    std::vector<std::vector<uint8_t>> loads;
};

TEST(WritePlanTest, SectorsSharedByNeighbouringWritesCountOnce) {
    PlanFixture f(0x40000);
    f.plan.Queue(true, 0x1FFFF, 3, nullptr, 0);
    EXPECT_EQ(f.plan.TotalSectors(), 2u);  // sectors 1 and 2
    f.plan.Queue(true, 0x20002, 0x10000, nullptr, 0);
    EXPECT_EQ(f.plan.TotalSectors(), 3u);  // only sector 3 is new
}

// A block moved through a kept image gets its current header laid over the
// copy: the header's sector was counted with the copy already.
TEST(WritePlanTest, HeaderOverAKeptImageAddsNoSector) {
    PlanFixture f(4096);
    f.plan.Queue(true, 0x1FF00, 0x20000, nullptr, 9);
    EXPECT_EQ(f.plan.TotalSectors(), 3u);
    f.plan.Queue(true, 0x1FF00, 48, nullptr, 0);
    EXPECT_EQ(f.plan.TotalSectors(), 3u);
}

TEST(WritePlanTest, NothingQueuedShipsNothing) {
    PlanFixture f(0x1000);
    f.Run([](bool) {});
    EXPECT_TRUE(f.loads.empty());
    EXPECT_EQ(f.plan.Nodes().size(), 1u);
    EXPECT_EQ(f.plan.TotalSectors(), 0u);
}

TEST(WritePlanTest, SmallWriteIsOneRecordAndAnEndMark) {
    PlanFixture f(0x1000);
    const std::vector<uint8_t> data = {1, 2, 3, 4, 5};
    f.Run([&](bool count) { f.plan.Queue(count, 0x40, 5, data.data(), 0); });
    ASSERT_EQ(f.loads.size(), 1u);
    const auto& load = f.loads[0];
    ASSERT_EQ(load.size(), 12u + 5 + 12);
    EXPECT_EQ(Word(load, 0), 0u);
    EXPECT_EQ(Word(load, 4), 0x40u);
    EXPECT_EQ(Word(load, 8), 5u);
    EXPECT_EQ(memcmp(load.data() + 12, data.data(), 5), 0);
    EXPECT_EQ(Word(load, 17), 0u);
    EXPECT_EQ(Word(load, 21), 0u);
    EXPECT_EQ(Word(load, 25), 0u);
}

TEST(WritePlanTest, LargeWriteIsSplitIntoFullLoads) {
    const uint32_t staging = 256;
    PlanFixture f(staging);
    std::vector<uint8_t> data(1000);
    std::iota(data.begin(), data.end(), 0);
    f.Run([&](bool count) { f.plan.Queue(count, 0x100, 1000, data.data(), 0); });

    // Reassemble what the records carry and check it is the data, in order.
    std::vector<uint8_t> seen;
    uint32_t expectedOffset = 0x100;
    for (size_t i = 0; i < f.loads.size(); ++i) {
        const auto& load = f.loads[i];
        size_t at = 0;
        while (at + 12 <= load.size()) {
            const uint32_t length = Word(load, at + 8);
            if (Word(load, at) == 0 && Word(load, at + 4) == 0 && length == 0)
                break;
            EXPECT_LE(length, staging - 12);
            EXPECT_EQ(Word(load, at + 4), expectedOffset);
            seen.insert(seen.end(), load.begin() + at + 12, load.begin() + at + 12 + length);
            expectedOffset += length;
            at += 12 + length;
        }
        if (i + 1 < f.loads.size()) {
            EXPECT_EQ(load.size(), staging);  // every load but the last is full
            EXPECT_LT(staging - at, 12u + 1);
        }
    }
    EXPECT_EQ(seen, data);
    EXPECT_EQ(f.plan.Nodes().size(), f.loads.size());
}

TEST(WritePlanTest, KeptImageCostsOneRecord) {
    PlanFixture f(0x1000);
    f.Run([&](bool count) { f.plan.Queue(count, 0x30000, 0x20000, nullptr, 9); });
    ASSERT_EQ(f.loads.size(), 1u);
    EXPECT_EQ(f.loads[0].size(), 24u);
    EXPECT_EQ(Word(f.loads[0], 0), 9u);
    EXPECT_EQ(Word(f.loads[0], 4), 0x30000u);
    EXPECT_EQ(Word(f.loads[0], 8), 0x20000u);
    EXPECT_EQ(f.plan.TotalSectors(), 2u);
}

TEST(WritePlanTest, EndMarkThatDoesNotFitSendsNothingMore) {
    // 12 + 40 = 52 bytes used, 8 left: the end mark does not fit.
    PlanFixture f(60);
    std::vector<uint8_t> data(40, 0xAB);
    f.Run([&](bool count) { f.plan.Queue(count, 0, 40, data.data(), 0); });
    ASSERT_EQ(f.loads.size(), 1u);
    EXPECT_EQ(f.loads[0].size(), 60u);
    EXPECT_EQ(Word(f.loads[0], 52), 0u);  // the rest is zero-filled
}

TEST(WritePlanTest, NoStagingBufferIsAnError) {
    CWritePlan plan(0x10000, nullptr, 0, [](uint32_t) {});
    try {
        plan.Queue(true, 0, 4, nullptr, 0);
        FAIL();
    } catch (const CFlashExc& e) {
        EXPECT_EQ(e.code, ERR_NO_TRANSFER_BUFFER);
    }
}

}  // namespace
