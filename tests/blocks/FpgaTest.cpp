#include "BlockTestUtil.h"
#include "FakeOwner.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockFpga.h"
#include "engine/blocks/Crc.h"
#include "engine/formats/SBFManage.h"
#include "platform/TempFolder.h"
#include "tests/fixtures/BitstreamFixtures.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using blocktest::CodeOf;
using blocktest::DetailOf;
using blocktest::PutWord;
using qel::fixtures::TestTempDir;
namespace fx = qel::fixtures;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kTim = 0x31;

fx::SbfSpec Layout(std::vector<uint32_t> timTypes, const Bytes& compressed) {
    fx::SbfSpec layout;
    layout.version = 0x00030002;
    layout.timTypes = std::move(timTypes);
    layout.comment = "bitstream for the test";
    layout.dataItems = fx::DataItems(compressed);
    layout.formatWord = 1;
    return layout;
}

const Bytes kCompressed = fx::Words({3, 0x11, 0x22, 0x33, -5, 1, 0x44, 0});

// Every converted file left in the private folder.
std::vector<std::string> TempSdfFiles() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(qel::platform::PrivateTempFolder())) {
        if (e.path().extension() == ".sdf")
            out.push_back(e.path().string());
    }
    return out;
}

class FpgaTest : public testing::Test {
  protected:
    FpgaTest() { owner.timType = kTim; }

    // A block that is not modified: as read back after a commit.
    void Settle() {
        block.Write(false);
        owner.writes.clear();
        ASSERT_FALSE(block.IsModified());
    }

    TestTempDir dir;
    FakeOwner owner;
    CBlockFpga block{&owner, 0x800};
};

TEST_F(FpgaTest, NewBlock) {
    EXPECT_EQ(block.GetHeader()->type, 3u);
    EXPECT_EQ(block.GetHeader()->dataOffset, 564u);
    EXPECT_EQ(block.GetTotalSize(), 640u);
    uint32_t size = 0;
    EXPECT_NE(block.GetExtraHeader(&size), nullptr);
    EXPECT_EQ(size, 1536u);
}

TEST_F(FpgaTest, SbfForTheTimIsTakenWithoutAQuestion) {
    const std::string path =
        dir.Write("good.sbf", fx::MakeSbfFile(Layout({0x10, kTim}, kCompressed)));
    block.SetBitstream(path.c_str());

    EXPECT_TRUE(owner.questions.empty());
    const BlockHeader* h = block.GetHeader();
    EXPECT_EQ(h->version, 0x00030002u);
    EXPECT_EQ(h->aux, 1u);
    EXPECT_EQ(h->dataLength, kCompressed.size());
    EXPECT_EQ(h->crc, CCrc::Of(kCompressed.data(), kCompressed.size()));
    EXPECT_EQ(h->writeTimeLow, 0u);
    EXPECT_EQ(h->writeTimeHigh, 0u);
    EXPECT_EQ(h->dataOffset, 48 + 512 + ((path.size() + 4) & ~size_t{3}));
    EXPECT_EQ(block.Data(), kCompressed);
    EXPECT_STREQ(block.GetRecord().fileName, path.c_str());
    EXPECT_STREQ(block.GetRecord().comment, "bitstream for the test");
    EXPECT_TRUE(block.IsModified());
    EXPECT_EQ(owner.notices, 1);
}

TEST_F(FpgaTest, FormatWordMissingGivesAuxZero) {
    fx::SbfSpec layout = Layout({kTim}, kCompressed);
    layout.formatWord.reset();
    const std::string path = dir.Write("old.sbf", fx::MakeSbfFile(layout));
    block.SetBitstream(path.c_str());
    EXPECT_EQ(block.GetHeader()->aux, 0u);
    EXPECT_EQ(block.Data(), kCompressed);
}

struct AnswerCase {
    const char* name;
    int answer;
    bool taken;
};

class FpgaQuestionTest : public FpgaTest, public testing::WithParamInterface<AnswerCase> {};

TEST_P(FpgaQuestionTest, BitstreamForAnotherTimNeedsTheCallersYes) {
    const std::string first =
        dir.Write("first.sbf", fx::MakeSbfFile(Layout({kTim}, fx::Words({1, 7, 0}))));
    block.SetBitstream(first.c_str());
    Settle();
    const Bytes before = block.Data();
    const BlockHeader headerBefore = *block.GetHeader();

    owner.answer = GetParam().answer;
    const std::string other = dir.Write("other.sbf", fx::MakeSbfFile(Layout({0x99}, kCompressed)));
    block.SetBitstream(other.c_str());

    ASSERT_EQ(owner.questions.size(), 1u);
    EXPECT_EQ(owner.questions[0].first, CBlockFpga::QuestionWrongTim);
    EXPECT_STREQ(reinterpret_cast<const char*>(owner.questions[0].second), other.c_str());
    EXPECT_EQ(block.IsModified(), GetParam().taken);
    if (GetParam().taken) {
        EXPECT_EQ(block.Data(), kCompressed);
        EXPECT_STREQ(block.GetRecord().fileName, other.c_str());
    } else {
        EXPECT_EQ(block.Data(), before);
        EXPECT_EQ(std::memcmp(block.GetHeader(), &headerBefore, sizeof(BlockHeader)), 0);
        EXPECT_STREQ(block.GetRecord().fileName, first.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, FpgaQuestionTest,
                         testing::Values(AnswerCase{"Declined", 0, false},
                                         AnswerCase{"Accepted", 1, true}),
                         blocktest::ByName());

// The bitstream an SBF built straight from the source holds.
Bytes Reference(const std::string& source, bool bit, const std::string& sbf) {
    CSBFManage m;
    const int built = bit ? m.BuildFromBit(source.c_str(), sbf.c_str(), 0x00010000, {kTim}, "N/A")
                          : m.BuildFromDat(source.c_str(), sbf.c_str(), {kTim});
    EXPECT_EQ(built, SBF_OK);
    SbfDescriptor d;
    uint32_t format = 0;
    EXPECT_EQ(m.ReadSbf(sbf.c_str(), &d, &format), SBF_OK);
    const uint32_t length = d.dataItems.PopU32();
    return d.dataItems.PopItem(length);
}

struct ConvertCase {
    const char* name;
    bool bitContent;  // a .bit file, else a .dat file
    const char* fileName;
    uint32_t version;
    const char* comment;
};

class FpgaConvertTest : public FpgaTest, public testing::WithParamInterface<ConvertCase> {};

TEST_P(FpgaConvertTest, ConvertsInThePrivateFolderAndRemovesTheFile) {
    const ConvertCase& c = GetParam();
    const Bytes body = fx::MakeBitstreamBody(4096);
    const Bytes content = c.bitContent ? fx::MakeBitFile(fx::BitHeader{}, body)
                                       : fx::MakeDatFile(body, "design 2.7 build");
    const std::string path = dir.Write(c.fileName, content);
    const auto tempsBefore = TempSdfFiles();

    block.SetBitstream(path.c_str());

    EXPECT_TRUE(owner.questions.empty());  // converted for the selected TIM
    EXPECT_EQ(block.GetHeader()->version, c.version);
    EXPECT_EQ(block.GetHeader()->aux, 1u);
    EXPECT_STREQ(block.GetRecord().comment, c.comment);
    EXPECT_STREQ(block.GetRecord().fileName, path.c_str());
    EXPECT_EQ(block.Data(), Reference(path, c.bitContent, dir.File("reference.sbf")));
    EXPECT_EQ(TempSdfFiles(), tempsBefore);
    EXPECT_FALSE(fs::exists("_tmp.sdf"));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, FpgaConvertTest,
    testing::Values(ConvertCase{"Bit", true, "top.bit", 0x00010000, "N/A"},
                    ConvertCase{"UpperCaseBit", true, "TOP.BIT", 0x00010000, "N/A"},
                    ConvertCase{"Dat", false, "top.dat", 0x00020007, "design 2.7 build"},
                    // The extension decides, not ".bit" elsewhere in the name.
                    ConvertCase{"BitInsideTheNameIsDat", false, "top.bit.dat", 0x00020007,
                                "design 2.7 build"}),
    blocktest::ByName());

struct BadSourceCase {
    const char* name;
    Bytes content;
    const char* fileName;
};

class FpgaBadSourceTest : public FpgaTest, public testing::WithParamInterface<BadSourceCase> {};

TEST_P(FpgaBadSourceTest, CannotOpenAndLeavesNoTemporaryFile) {
    Settle();
    const std::string path = dir.Write(GetParam().fileName, GetParam().content);
    const auto tempsBefore = TempSdfFiles();
    EXPECT_EQ(CodeOf([&] { block.SetBitstream(path.c_str()); }), ERR_CANNOT_OPEN_FILE);
    EXPECT_EQ(DetailOf([&] { block.SetBitstream(path.c_str()); }), "File: " + path);
    EXPECT_EQ(TempSdfFiles(), tempsBefore);
    EXPECT_FALSE(block.IsModified());
    EXPECT_EQ(block.GetHeader()->dataLength, 0u);
}

INSTANTIATE_TEST_SUITE_P(Sources, FpgaBadSourceTest,
                         testing::Values(BadSourceCase{"BitWithoutSyncWord", Bytes(64, 0x12),
                                                       "nosync.bit"},
                                         BadSourceCase{"EmptyBit", {}, "empty.bit"},
                                         BadSourceCase{"EmptyDat", {}, "empty.dat"},
                                         BadSourceCase{"DatOfZeros", Bytes(64, 0), "zeros.dat"}),
                         blocktest::ByName());

TEST_F(FpgaTest, MissingFileNullPathAndNoOwner) {
    const std::string missing = dir.File("missing.bit");
    EXPECT_EQ(CodeOf([&] { block.SetBitstream(missing.c_str()); }), ERR_CANNOT_OPEN_FILE);
    EXPECT_EQ(CodeOf([&] { block.SetBitstream(dir.Path().c_str()); }), ERR_CANNOT_OPEN_FILE);
    EXPECT_EQ(CodeOf([&] { block.SetBitstream(nullptr); }), ERR_NO_FILENAME);
    CBlockFpga orphan(nullptr, 0);
    EXPECT_EQ(CodeOf([&] { orphan.SetBitstream(missing.c_str()); }), 0u);
    EXPECT_EQ(orphan.GetHeader()->dataLength, 0u);
}

TEST_F(FpgaTest, LongNameAndCommentAreCut) {
    fx::SbfSpec layout = Layout({kTim}, kCompressed);
    layout.comment = std::string(600, 'c');
    const std::string file = dir.Write("long.sbf", fx::MakeSbfFile(layout));
    // "./" steps make a 1030-character path to the same file.
    std::string path = dir.Path();
    while (path.size() + std::strlen("/long.sbf") < 1030) path += "/.";
    path = path.substr(0, 1030 - std::strlen("/long.sbf")) + "/long.sbf";
    while (path.size() < 1030) path.insert(dir.Path().size(), "/.");
    ASSERT_EQ(path.size(), 1030u);
    ASSERT_TRUE(fs::exists(path));

    block.SetBitstream(path.c_str());
    EXPECT_EQ(std::string(block.GetRecord().fileName), path.substr(0, 1023));
    EXPECT_EQ(std::string(block.GetRecord().comment), std::string(511, 'c'));
    EXPECT_EQ(block.GetExtraHeaderSize(), 512u + 1024);
}

struct DataItemsCase {
    const char* name;
    std::vector<Bytes> items;
};

class FpgaDataItemsTest : public FpgaTest, public testing::WithParamInterface<DataItemsCase> {};

TEST_P(FpgaDataItemsTest, BrokenDataItemsAreAnEngineErrorAndChangeNothing) {
    fx::SbfSpec layout = Layout({kTim}, kCompressed);
    layout.dataItems = GetParam().items;
    const std::string path = dir.Write("items.sbf", fx::MakeSbfFile(layout));
    Settle();
    EXPECT_EQ(CodeOf([&] { block.SetBitstream(path.c_str()); }), ERR_CANNOT_READ_FILE);
    EXPECT_FALSE(block.IsModified());
    EXPECT_EQ(block.GetHeader()->dataLength, 0u);
    EXPECT_EQ(block.GetRecord().fileName[0], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Items, FpgaDataItemsTest,
    testing::Values(DataItemsCase{"None", {}}, DataItemsCase{"LengthOnly", {fx::U32(8)}},
                    DataItemsCase{"LengthDisagrees", {fx::U32(12), Bytes(8, 1)}},
                    DataItemsCase{"LengthItemTooShort", {Bytes{8, 0}, Bytes(8, 1)}}),
    blocktest::ByName());

TEST_F(FpgaTest, HugeLengthDoesNotFit) {
    fx::SbfSpec layout = Layout({kTim}, kCompressed);
    layout.dataItems = {fx::U32(0xFFFFFFF0), Bytes(8, 1)};
    const std::string path = dir.Write("huge.sbf", fx::MakeSbfFile(layout));
    EXPECT_EQ(CodeOf([&] { block.SetBitstream(path.c_str()); }), ERR_NOT_ENOUGH_SPACE);
    FakeOwner small(0x3F0);
    small.timType = kTim;
    CBlockFpga tight(&small, 0);
    const std::string fitsNot =
        dir.Write("fits.sbf", fx::MakeSbfFile(Layout({kTim}, Bytes(0x400, 1))));
    EXPECT_EQ(CodeOf([&] { tight.SetBitstream(fitsNot.c_str()); }), ERR_NOT_ENOUGH_SPACE);
    EXPECT_EQ(tight.GetHeader()->dataLength, 0u);
}

// --- extra header from a damaged flash --------------------------------------------

struct ExtraCase {
    const char* name;
    uint32_t dataOffset;
    bool nameTerminated;
    bool valid;
};

class FpgaExtraHeaderTest : public testing::TestWithParam<ExtraCase> {};

TEST_P(FpgaExtraHeaderTest, ReadsOnlyWhatTheRecordHolds) {
    const ExtraCase& c = GetParam();
    // Header and extra header as a directory entry holds them, and nothing
    // after: any read past dataOffset would leave the vector.
    Bytes entry(std::clamp<uint32_t>(c.dataOffset, 48, 2048), 'n');
    BlockHeader h{};
    h.type = 3;
    h.signature = BLOCK_SIGNATURE;
    h.dataOffset = c.dataOffset;
    h.totalSize = 0x1000;
    std::memcpy(entry.data(), &h, sizeof(h));
    if (c.nameTerminated && entry.size() > 48 + 512)
        entry.back() = 0;
    FakeOwner owner;
    CBlockFpga block(&owner, 0x80);
    const uint32_t code = CodeOf([&] { block.ReadHeader(entry.data()); });
    EXPECT_EQ(code, c.valid ? 0u : ERR_NOT_VALID_BLOCK);
    if (c.valid) {
        EXPECT_EQ(block.GetRecord().comment[0], 'n');
        EXPECT_LT(std::strlen(block.GetRecord().fileName), 1024u);
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, FpgaExtraHeaderTest,
                         testing::Values(ExtraCase{"Smallest", 564, true, true},
                                         ExtraCase{"Largest", 1584, true, true},
                                         ExtraCase{"NoExtraHeader", 48, true, false},
                                         ExtraCase{"BelowHeader", 20, true, false},
                                         ExtraCase{"CommentOnly", 560, true, false},
                                         ExtraCase{"BeyondRecord", 1588, true, false},
                                         ExtraCase{"Huge", 0xFFFFFFF0, true, false},
                                         ExtraCase{"NameWithoutNul", 1000, false, false}),
                         blocktest::ByName());

}  // namespace
