// Zero-run compression.
#include "tests/fixtures/BitstreamFixtures.h"
#include "tests/fixtures/TestTempDir.h"

#include "engine/formats/SBFManage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace qel::fixtures;

namespace {

struct CompressCase {
    const char* name;
    Bytes input;
    Bytes output;
};

std::vector<CompressCase> Cases() {
    Bytes sevenBytes = Words({1, 2});
    sevenBytes.pop_back();
    Bytes longRun = Words({9});
    longRun.resize(4 + 4 * 1000, 0);
    Append(longRun, Words({8}));
    return {
        {"LiteralRunLiterals", Words({5, 0, 0, 0, 7, 0, 9, 0}),
         Words({1, 5, -3, 4, 7, 0, 9, 0, 0})},
        {"OnlyARun", Words({0, 0, 0, 0}), Words({-4, 0})},
        {"OnlyLiterals", Words({1, 2, 3}), Words({3, 1, 2, 3, 0})},
        {"PairsOfZerosStayLiterals", Words({1, 0, 0, 2, 0, 0}), Words({6, 1, 0, 0, 2, 0, 0, 0})},
        {"RunOfExactlyThree", Words({0, 0, 0}), Words({-3, 0})},
        {"TwoZerosAlone", Words({0, 0}), Words({2, 0, 0, 0})},
        {"RunThenLiteral", Words({0, 0, 0, 1}), Words({-3, 1, 1, 0})},
        {"LiteralThenRunAtEnd", Words({1, 0, 0, 0}), Words({1, 1, -3, 0})},
        {"RunLiteralRun", Words({0, 0, 0, 1, 0, 0, 0}), Words({-3, 1, 1, -3, 0})},
        {"NegativeLiteralsStayLiterals", Words({-1, -2}), Words({2, -1, -2, 0})},
        {"LongRun", longRun, Words({1, 9, -1000, 1, 8, 0})},
        {"SevenBytesKeepTheFirstWord", sevenBytes, Words({1, 1, 0})},
        {"ThreeBytesGiveTheEndWord", Bytes{1, 2, 3}, Words({0})},
        {"NothingGivesNothing", Bytes{}, Bytes{}},
    };
}

class CompressTest : public ::testing::TestWithParam<CompressCase> {};

TEST_P(CompressTest, Words) {
    const CompressCase& c = GetParam();
    EXPECT_EQ(CSBFManage::CompressZeroRuns(c.input.data(), c.input.size()), c.output);
}

INSTANTIATE_TEST_SUITE_P(Examples, CompressTest, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return std::string(p.param.name); });

// The rule written the plain way, one word at a time.
Bytes ReferenceCompress(const Bytes& data) {
    if (data.empty())
        return {};
    const size_t n = data.size() / 4;
    auto zero = [&](size_t i) {
        return data[4 * i] == 0 && data[4 * i + 1] == 0 && data[4 * i + 2] == 0 &&
               data[4 * i + 3] == 0;
    };
    std::vector<int32_t> out{0};
    size_t group = 0;
    int32_t literals = 0;
    for (size_t i = 0; i < n;) {
        size_t run = 0;
        while (i + run < n && zero(i + run)) ++run;
        if (run >= 3) {
            if (literals > 0) {
                out[group] = literals;
                out.push_back(-static_cast<int32_t>(run));
            } else {
                out[group] = -static_cast<int32_t>(run);
            }
            group = out.size();
            out.push_back(0);
            literals = 0;
            i += run;
        } else {
            int32_t w;
            std::memcpy(&w, &data[4 * i], 4);
            out.push_back(w);
            ++literals;
            ++i;
        }
    }
    out[group] = literals;
    if (literals != 0)
        out.push_back(0);
    Bytes bytes;
    for (int32_t w : out) AppendU32(bytes, static_cast<uint32_t>(w));
    return bytes;
}

// Sparse random words put every run length 0..5 at every vector lane and
// boundary; the vector scans must agree with the plain rule byte for byte.
TEST(CompressZeroRuns, AgreesWithThePlainRuleOnSparseData) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const size_t words = rng() % 200;
        Bytes data(4 * words + rng() % 4);
        const unsigned density = 1 + rng() % 6;
        for (size_t i = 0; i < words; ++i)
            if (rng() % density == 0)
                data[4 * i + rng() % 4] = static_cast<uint8_t>(1 + rng() % 255);
        ASSERT_EQ(CSBFManage::CompressZeroRuns(data.data(), data.size()), ReferenceCompress(data))
            << "round " << round;
    }
}

TEST(CompressZeroRuns, BitstreamRoundTripsAtAnyAlignment) {
    const Bytes body = MakeBitstreamBody(300000, 5);
    for (size_t offset = 0; offset < 4; ++offset) {
        Bytes shifted(offset, 0xCC);
        Append(shifted, body);
        const Bytes packed = CSBFManage::CompressZeroRuns(shifted.data() + offset, body.size());
        EXPECT_EQ(packed, ReferenceCompress(body));
        const auto unpacked = DecompressZeroRuns(packed);
        ASSERT_TRUE(unpacked.has_value());
        EXPECT_EQ(*unpacked, body);
        EXPECT_LT(packed.size(), body.size());
    }
}

}  // namespace
