// Reading SBF descriptors.
#include "tests/fixtures/BitstreamFixtures.h"
#include "tests/fixtures/TestTempDir.h"

#include "engine/formats/SBFManage.h"

#include <gtest/gtest.h>

using namespace qel::fixtures;

namespace {

const Bytes kCompressed = Bytes{1, 0, 0, 0, 0x5A, 0xA5, 0x5A, 0xA5, 0, 0, 0, 0};

SbfSpec Full() {
    SbfSpec s;
    s.version = 0x00020007;
    s.timTypes = {0x11, 0x19};
    s.timeLow = 0x89ABCDEF;
    s.timeHigh = 0x01D9F00D;
    s.comment = "first light";
    s.sourcePath = "/bits/top.bit";
    s.info = " top.ncd\r\n 2v1000fg456\r\n";
    s.dataItems = DataItems(kCompressed);
    return s;
}

Bytes Truncated(const SbfSpec& layout, size_t itemsKept) {
    auto items = SbfItems(layout);
    items.resize(itemsKept);
    return MakeStackFile(0, items);
}

struct ReadCase {
    const char* name;
    Bytes file;
    int result;
    std::optional<SbfSpec> expected;  // fields when the result is 0
    uint32_t formatWord;
};

std::vector<ReadCase> Cases() {
    SbfSpec noFormat = Full();
    noFormat.formatWord.reset();
    SbfSpec otherFormat = Full();
    otherFormat.formatWord = 7;
    SbfSpec noTims = Full();
    noTims.timTypes.clear();
    SbfSpec emptyTexts = Full();
    emptyTexts.comment = emptyTexts.sourcePath = emptyTexts.info = "";
    SbfSpec otherMagic = Full();
    otherMagic.magic = 0x12345678;
    SbfSpec noData = Full();
    noData.dataItems.clear();

    auto tooManyTims = SbfItems(Full());
    tooManyTims[2] = U32(3);  // says 3, holds 2
    auto wrongCommentLength = SbfItems(Full());
    wrongCommentLength[7] = U32(99);
    auto tooManyData = SbfItems(Full());
    tooManyData[13] = U32(5);  // says 5, holds 2
    auto hugeTimCount = SbfItems(Full());
    hugeTimCount[2] = U32(0xFFFFFFFF);
    Bytes badCrc = MakeSbfFile(Full());
    badCrc[10] ^= 0xFF;

    return {
        {"Complete", MakeSbfFile(Full()), 0, Full(), 1},
        {"WithoutFormatWord", MakeSbfFile(noFormat), 0, noFormat, 0},
        {"OtherFormatWord", MakeSbfFile(otherFormat), 0, otherFormat, 7},
        {"EmptyTimList", MakeSbfFile(noTims), 0, noTims, 1},
        {"EmptyTexts", MakeSbfFile(emptyTexts), 0, emptyTexts, 1},
        {"MagicIsNotChecked", MakeSbfFile(otherMagic), 0, otherMagic, 1},
        {"NoDataItems", MakeSbfFile(noData), 0, noData, 1},
        {"TimCountLargerThanList", MakeStackFile(0, tooManyTims), 1, std::nullopt, 0},
        {"HugeTimCount", MakeStackFile(0, hugeTimCount), 1, std::nullopt, 0},
        {"CommentLengthDisagrees", MakeStackFile(0, wrongCommentLength), 1, std::nullopt, 0},
        {"DataCountLargerThanItems", MakeStackFile(0, tooManyData), 1, std::nullopt, 0},
        {"EndsAfterComment", Truncated(Full(), 9), 1, std::nullopt, 0},
        {"EmptyStackFile", WithCrc(U32(0)), 1, std::nullopt, 0},
        {"StackVersionOne", MakeStackFile(1, SbfItems(Full())), 1, std::nullopt, 0},
        {"CrcWrong", badCrc, 1, std::nullopt, 0},
        {"TooSmall", Bytes{0, 0, 0}, 1, std::nullopt, 0},
    };
}

class ReadSbfTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadSbfTest, ResultAndDescriptor) {
    const ReadCase& c = GetParam();
    TestTempDir dir;
    const std::string path = dir.File("in.sbf");
    WriteFile(path, c.file);
    CSBFManage sbf;
    SbfDescriptor d;
    uint32_t format = 0xDEAD;
    ASSERT_EQ(sbf.ReadSbf(path.c_str(), &d, &format), c.result);
    EXPECT_EQ(format, c.formatWord);
    if (!c.expected)
        return;
    const SbfSpec& e = *c.expected;
    EXPECT_EQ(d.magic, e.magic);
    EXPECT_EQ(d.version, e.version);
    EXPECT_EQ(d.timTypes, e.timTypes);
    EXPECT_EQ(d.sourceTimeLow, e.timeLow);
    EXPECT_EQ(d.sourceTimeHigh, e.timeHigh);
    EXPECT_EQ(d.comment, e.comment);
    EXPECT_EQ(d.sourcePath, e.sourcePath);
    EXPECT_EQ(d.info, e.info);
    EXPECT_EQ(std::vector<Bytes>(d.dataItems.Items().begin(), d.dataItems.Items().end()),
              e.dataItems);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadSbfTest, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ReadSbf, NullPathIsFourAndMissingFileIsOne) {
    CSBFManage sbf;
    SbfDescriptor d;
    uint32_t format = 5;
    EXPECT_EQ(sbf.ReadSbf(nullptr, &d, &format), 4);
    TestTempDir dir;
    EXPECT_EQ(sbf.ReadSbf(dir.File("absent.sbf").c_str(), &d, &format), 1);
    EXPECT_EQ(format, 0u);
}

// The engine pops the length and then the bitstream off dataItems.
TEST(ReadSbf, DataItemsPopAsLengthThenBitstream) {
    TestTempDir dir;
    const std::string path = dir.File("in.sbf");
    WriteFile(path, MakeSbfFile(Full()));
    CSBFManage sbf;
    SbfDescriptor d;
    uint32_t format = 0;
    ASSERT_EQ(sbf.ReadSbf(path.c_str(), &d, &format), 0);
    const uint32_t length = d.dataItems.PopU32();
    EXPECT_EQ(length, kCompressed.size());
    EXPECT_EQ(d.dataItems.PopItem(length), kCompressed);
    EXPECT_TRUE(d.dataItems.Empty());
}

// A descriptor encoded here reads back field for field, and the file is the
// one the independent builder writes.
TEST(ReadSbf, EncodedDescriptorRoundTrips) {
    SbfDescriptor d;
    d.magic = SBF_MAGIC;
    d.version = 0x00030001;
    d.timTypes = {0x21};
    d.sourceTimeLow = 1;
    d.sourceTimeHigh = 2;
    d.comment = "c";
    d.sourcePath = "p.dat";
    d.dataItems.PushU32(static_cast<uint32_t>(kCompressed.size()));
    d.dataItems.Push(kCompressed);
    TestTempDir dir;
    const std::string path = dir.File("rt.sbf");
    CSBFManage::SaveStack(CSBFManage::EncodeSbf(d, SBF_FORMAT_WORD), 0, path.c_str());

    SbfSpec layout;
    layout.version = 0x00030001;
    layout.timTypes = {0x21};
    layout.timeLow = 1;
    layout.timeHigh = 2;
    layout.comment = "c";
    layout.sourcePath = "p.dat";
    layout.dataItems = DataItems(kCompressed);
    EXPECT_EQ(ReadFile(path), MakeSbfFile(layout));

    CSBFManage sbf;
    SbfDescriptor back;
    uint32_t format = 0;
    ASSERT_EQ(sbf.ReadSbf(path.c_str(), &back, &format), 0);
    EXPECT_EQ(format, 1u);
    EXPECT_EQ(back.timTypes, d.timTypes);
    EXPECT_EQ(back.dataItems, d.dataItems);
    EXPECT_EQ(back.comment, "c");
}

}  // namespace
