// The Advanced page's size texts, usage lines and flash map.
#include "tests/tool/FakeEngine.h"
#include "tool/AdvancedRules.h"

#include <gtest/gtest.h>

namespace {

struct SizeCase {
    const char* name;
    uint32_t bytes;
    const char* text;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.name;
}

class FormatSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FormatSizeTest, Units) {
    EXPECT_EQ(FormatSize(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FormatSizeTest,
                         ::testing::Values(SizeCase{"OneMiB", 1048576, "1.0MB"},
                                           SizeCase{"JustBelowMiB", 1048575, "1024.0KB"},
                                           SizeCase{"OneKiB", 1024, "1.0KB"},
                                           SizeCase{"JustBelowKiB", 1023, "1023B"},
                                           SizeCase{"Zero", 0, "0B"},
                                           SizeCase{"SixteenMiB", 16u << 20, "16.0MB"}),
                         kovra_test::CaseName());

TEST(UsageLines, QuarterUsed) {
    const UsageView view = UsageOf(true, 4194304, 1048576);
    EXPECT_EQ(view.total, "The flash provides 4.0MB (4194304 bytes)");
    EXPECT_EQ(view.used, "1.0MB (1048576 bytes) have been used");
    EXPECT_EQ(view.unused, "3.0MB (3145728 bytes) are unused");
    EXPECT_EQ(view.percentLine, "25% of the flash is used");
    EXPECT_EQ(view.percent, 25);
    EXPECT_TRUE(view.percentKnown);
}

TEST(UsageLines, UnknownTimHasNoFlashSize) {
    const UsageView view = UsageOf(true, 0, 0);
    EXPECT_EQ(view.total, "The flash provides 0B (0 bytes)");
    EXPECT_EQ(view.used, "0B (0 bytes) have been used");
    EXPECT_EQ(view.unused, "0B (0 bytes) are unused");
    EXPECT_FALSE(view.percentKnown);  // line and bar keep what they showed
}

TEST(UsageLines, NothingReadShowsNothing) {
    const UsageView view = UsageOf(false, 4194304, 1048576);
    EXPECT_EQ(view.total + view.used + view.unused + view.percentLine, "");
    EXPECT_EQ(view.percent, 0);
    EXPECT_TRUE(view.percentKnown);
}

ChainBlock Block(uint32_t type, uint32_t size, bool modified = false) {
    ChainBlock block;
    block.header.type = type;
    block.header.totalSize = size;
    block.modified = modified;
    return block;
}

TEST(FlashMap, ChainBackToBackThenFreeSpace) {
    const std::vector<ChainBlock> chain = {Block(0, 1024),         Block(1, 3072),
                                           Block(2, 4096),         Block(3, 8192),
                                           Block(4, 1024),         Block(0x00010005, 2048, true),
                                           Block(0x00100005, 512), Block(0xFFFF, 48)};
    const std::vector<FlashSegment> map = FlashMapOf(chain, 65536);
    ASSERT_EQ(map.size(), 9u);
    const SegmentKind kinds[] = {SegmentKind::System,    SegmentKind::System,   SegmentKind::System,
                                 SegmentKind::Bitstream, SegmentKind::Dynamics, SegmentKind::User,
                                 SegmentKind::User,      SegmentKind::System,   SegmentKind::Free};
    uint32_t offset = 0;
    for (size_t i = 0; i < map.size(); ++i) {
        EXPECT_EQ(map[i].kind, kinds[i]) << i;
        EXPECT_EQ(map[i].offset, offset) << i;
        offset += map[i].size;
    }
    EXPECT_EQ(offset, 65536u);
    EXPECT_EQ(map[5].userIndex, 0);
    EXPECT_EQ(map[6].userIndex, 1);
    EXPECT_TRUE(map[5].modified);
    EXPECT_EQ(map.back().size, 65536u - 20016u);
    EXPECT_EQ(SegmentTip(map[5]),
              "Block 5: User block 0 (changed, not written)\nOffset 0x00004400\nSize 2.0KB "
              "(2048 bytes)");
    EXPECT_EQ(SegmentTip(map.back()), "Free space\nOffset 0x00004E30\nSize 44.5KB (45520 bytes)");
}

TEST(FlashMap, ChainLongerThanTheFlashIsCut) {
    const std::vector<FlashSegment> map =
        FlashMapOf({Block(0, 1024), Block(0x00100005, 4096), Block(0xFFFF, 48)}, 2048);
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[1].size, 1024u);
    EXPECT_TRUE(FlashMapOf({}, 0).empty());
}

}  // namespace
