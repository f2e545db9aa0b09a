// A write plan that keeps its own staging buffer ships exactly the loads a
// plan over a caller's full-size buffer ships, while holding no more than the
// load being filled.
#include "engine/WritePlan.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <ostream>
#include <vector>

namespace {

using Loads = std::vector<std::vector<uint8_t>>;
using Queuer = std::function<void(CWritePlan&, bool count)>;

// Both passes, as a commit runs them.
void Run(CWritePlan& plan, const Queuer& queue) {
    plan.Reset();
    queue(plan, true);
    plan.Flush(true);
    plan.Rewind();
    queue(plan, false);
    plan.Flush(false);
}

Loads WithCallersBuffer(uint32_t loadSize, const Queuer& queue) {
    std::vector<uint8_t> staging(loadSize);
    Loads loads;
    CWritePlan plan(0x1000, staging.data(), loadSize, [&](uint32_t size) {
        loads.emplace_back(staging.begin(), staging.begin() + size);
    });
    Run(plan, queue);
    return loads;
}

struct Owned {
    Loads loads;
    bool heldAfterShipping = false;  // a buffer still there when the next load starts
};

Owned WithOwnBuffer(uint32_t loadSize, const Queuer& queue, bool releaseInShipper) {
    Owned out;
    CWritePlan* self = nullptr;
    CWritePlan plan(0x1000, loadSize, [&](uint32_t size) {
        const uint8_t* bytes = self->Staging();
        ASSERT_NE(bytes, nullptr);
        out.loads.emplace_back(bytes, bytes + size);
        if (releaseInShipper)
            self->ReleaseStaging();
    });
    self = &plan;
    Run(plan, queue);
    out.heldAfterShipping = plan.Staging() != nullptr;
    return out;
}

struct Case {
    const char* name;
    uint32_t loadSize;
    Queuer queue;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), seed);
    return v;
}

const std::vector<uint8_t> kData = Bytes(5000, 1);

const Case kCases[] = {
    {"OneSmallWrite", 4096, [](CWritePlan& p, bool c) { p.Queue(c, 0x40, 5, kData.data(), 0); }},
    {"SplitAcrossLoads", 256,
     [](CWritePlan& p, bool c) { p.Queue(c, 0x100, 1000, kData.data(), 0); }},
    {"EndMarkDoesNotFit", 60, [](CWritePlan& p, bool c) { p.Queue(c, 0, 40, kData.data(), 0); }},
    {"KeptImagesAndData", 200,
     [](CWritePlan& p, bool c) {
         for (uint32_t i = 0; i < 12; ++i) {
             p.Queue(c, 0x2000 * i, 0x1800, nullptr, i + 1);
             p.Queue(c, 0x2000 * i, 48, kData.data() + i, 0);
         }
         p.Queue(c, 0x30000, 3000, kData.data(), 0);
     }},
    {"LastLoadExactlyFull", 112,
     [](CWritePlan& p, bool c) { p.Queue(c, 0x10, 100, kData.data(), 0); }},
};

class OwnedStagingTest : public ::testing::TestWithParam<Case> {};

TEST_P(OwnedStagingTest, ShipsTheSameLoadsAsAFullSizeBuffer) {
    const Case& c = GetParam();
    const Loads expected = WithCallersBuffer(c.loadSize, c.queue);
    ASSERT_FALSE(expected.empty());
    for (bool release : {false, true}) {
        const Owned owned = WithOwnBuffer(c.loadSize, c.queue, release);
        EXPECT_EQ(owned.loads, expected) << (release ? "released by the shipper" : "kept");
        EXPECT_FALSE(owned.heldAfterShipping);
    }
}

INSTANTIATE_TEST_SUITE_P(Plans, OwnedStagingTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
