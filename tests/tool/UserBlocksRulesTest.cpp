// The User blocks page's rules: rows, type guesses, the dialogs' texts and
// comparisons, the menus' greyed items and Delete's index arithmetic.
#include "tests/tool/FakeEngine.h"
#include "tool/UserBlocksRules.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <cstring>

namespace {

using ::testing::ElementsAre;

UserBlockEntry Entry(uint32_t type, uint32_t id, uint32_t version, const char* file,
                     bool bootable = false, bool bigEndian = false) {
    UserBlockEntry entry;
    entry.header.type = type;
    entry.header.id = id;
    entry.header.version = version;
    entry.header.dataLength = 4096;
    entry.record.bootable = bootable ? 1 : 0;
    entry.record.bigEndian = bigEndian ? 1 : 0;
    std::snprintf(entry.record.fileName, sizeof entry.record.fileName, "%s", file);
    return entry;
}

struct GuessCase {
    const char* name;
    const char* path;
    BlockTypeIndex type;
};

class GuessTest : public ::testing::TestWithParam<GuessCase> {};

TEST_P(GuessTest, ByTheTextAfterTheFirstDotOfTheFileName) {
    EXPECT_EQ(GuessTypeIndex(GetParam().path), GetParam().type);
}

TEST(GuessDot, OnlyTheFileNameCounts) {
    EXPECT_TRUE(HasDot("/work/x.out"));
    EXPECT_FALSE(HasDot("/home/j.smith/table"));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, GuessTest,
    ::testing::Values(GuessCase{"App", "/work/demo.app", BlockTypeIndex::Application},
                      GuessCase{"OutAnyCase", "/work/Demo.Out", BlockTypeIndex::Executable},
                      GuessCase{"Hex", "/work/boot.HEX", BlockTypeIndex::SRecord},
                      GuessCase{"Bin", "/work/table.bin", BlockTypeIndex::RawData},
                      GuessCase{"NoDot", "/work/table", BlockTypeIndex::RawData},
                      // A dot in a folder's name does not count.
                      GuessCase{"DottedFolder", "/work/v1.2/x.out", BlockTypeIndex::Executable},
                      GuessCase{"DottedFolderNoDot", "/home/j.smith/table",
                                BlockTypeIndex::RawData},
                      GuessCase{"TwoExtensions", "/work/x.out.bak", BlockTypeIndex::RawData}),
    kovra_test::CaseName());

TEST(UserBlockRow, Columns) {
    UserBlockEntry entry = Entry(0x00010005, 0x1A, 0x00020003, "/work/demo.out", true, true);
    entry.header.dataLength = 1001;
    const UserBlockRow row = DescribeUserBlock(entry, 4);
    EXPECT_THAT(row.columns,
                ElementsAre("Program", "0x1A", "4", "1001", "2.3", "N/A", "/work/demo.out", "Big"));
    EXPECT_EQ(row.image, BlockTypeImage::Program);
    EXPECT_TRUE(row.bootFlag);
}

TEST(UserBlockRow, TypeNamesAndImages) {
    const struct {
        uint32_t type;
        const char* name;
        BlockTypeImage image;
    } cases[] = {
        {0x00010005, "Program", BlockTypeImage::Program},
        {0x00020005, "Application", BlockTypeImage::Application},
        {0x00100005, "Raw data", BlockTypeImage::RawData},
        {0x00110005, "S-Record", BlockTypeImage::SRecord},
        {0x00070005, "Unknown", BlockTypeImage::Unknown},
    };
    for (const auto& c : cases) {
        const UserBlockRow row = DescribeUserBlock(Entry(c.type, 0, 0, "f"), 0);
        EXPECT_EQ(row.columns[0], c.name);
        EXPECT_EQ(row.image, c.image) << c.name;
        EXPECT_EQ(row.columns[7], "Small");
        EXPECT_FALSE(row.bootFlag);
    }
}

TEST(UserBlockRow, DateInLocalTime) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    // 2024-03-05 14:07:00 UTC.
    const uint64_t fileTime = 133541212200000000ull;
    EXPECT_EQ(
        FormatBlockDate(static_cast<uint32_t>(fileTime), static_cast<uint32_t>(fileTime >> 32)),
        "05/03/2024  14:07");
    EXPECT_EQ(FormatBlockDate(0, 0), "N/A");
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(UserBlockTypes, HeaderTypeToEditIndex) {
    const struct {
        uint32_t type;
        BlockTypeIndex index;
    } cases[] = {
        {0x00010005, BlockTypeIndex::Executable}, {0x00020005, BlockTypeIndex::Application},
        {0x00110005, BlockTypeIndex::SRecord},    {0x00100005, BlockTypeIndex::RawData},
        {0x00050005, BlockTypeIndex::RawData},    {0x00120005, BlockTypeIndex::RawData},
        {0x0000FFFF, BlockTypeIndex::RawData},
    };
    for (const auto& c : cases) EXPECT_EQ(TypeIndexOfHeaderType(c.type), c.index) << c.type;
    EXPECT_EQ(SubTypeOfTypeIndex(BlockTypeIndex::RawData), 16u);
    EXPECT_EQ(SubTypeOfTypeIndex(BlockTypeIndex::Application), 2u);
    EXPECT_EQ(SubTypeOfTypeIndex(BlockTypeIndex::Executable), 1u);
    EXPECT_EQ(SubTypeOfTypeIndex(BlockTypeIndex::SRecord), 17u);
    EXPECT_STREQ(AddDialogTypeText(BlockTypeIndex::RawData), "Raw binary file");
    EXPECT_STREQ(EditDialogTypeText(BlockTypeIndex::RawData), "Raw data file");
    EXPECT_STREQ(AddDialogTypeText(BlockTypeIndex::SRecord), "S-Record format file");
    EXPECT_STREQ(EditDialogTypeText(BlockTypeIndex::SRecord), "S-Record file");
}

TEST(UserBlockDialogs, ReadingTheTexts) {
    const struct {
        const char* text;
        uint32_t id;
    } ids[] = {{"", 0},
               {"42", 42},
               {"0x1f", 0x1F},
               {"0X1F", 0x1F},
               {"0x", 0},
               {"12ab", 12},
               {"0xFFFFFFFF", 0xFFFFFFFF}};
    for (const auto& c : ids) EXPECT_EQ(ReadBlockId(c.text), c.id) << c.text;
    EXPECT_EQ(ReadVersionPart(""), 0u);
    EXPECT_EQ(ReadVersionPart("12"), 12u);
    // A half never spills into the other.
    EXPECT_EQ(ReadVersionPart("65537"), 1u);
    EXPECT_EQ(FormatBlockId(0x1A), "0x1A");
}

TEST(UserBlockDialogs, PanelAndAcceptedAdd) {
    EXPECT_FALSE(PanelStateOf(BlockTypeIndex::RawData).bootableEnabled);
    EXPECT_TRUE(PanelStateOf(BlockTypeIndex::RawData).bigEndianEnabled);
    for (BlockTypeIndex type :
         {BlockTypeIndex::Application, BlockTypeIndex::Executable, BlockTypeIndex::SRecord}) {
        EXPECT_TRUE(PanelStateOf(type).bootableEnabled);
        EXPECT_FALSE(PanelStateOf(type).bigEndianEnabled);
    }
    // "Bootable" ticked for an executable, then the type changed to raw data.
    BlockProperties ticked;
    ticked.bootable = true;
    ticked.type = BlockTypeIndex::RawData;
    EXPECT_FALSE(AcceptedAddProperties(ticked).bootable);
    ticked.type = BlockTypeIndex::Executable;
    EXPECT_TRUE(AcceptedAddProperties(ticked).bootable);
}

TEST(UserBlockDialogs, EditOutcomes) {
    const BlockProperties before =
        PropertiesOf(Entry(0x00010005, 0x10, 0x00010002, "/work/demo.out", true));
    EXPECT_EQ(before.major, 1u);
    EXPECT_EQ(before.minor, 2u);
    EXPECT_EQ(before.type, BlockTypeIndex::Executable);
    const struct {
        const char* name;
        void (*change)(BlockProperties&);
        EditOutcome outcome;
    } cases[] = {
        {"nothing", [](BlockProperties&) {}, EditOutcome::Unchanged},
        {"id", [](BlockProperties& p) { p.id = 0x11; }, EditOutcome::EditInPlace},
        {"major", [](BlockProperties& p) { p.major = 3; }, EditOutcome::EditInPlace},
        {"minor", [](BlockProperties& p) { p.minor = 0; }, EditOutcome::EditInPlace},
        {"bootable", [](BlockProperties& p) { p.bootable = false; }, EditOutcome::EditInPlace},
        {"big endian", [](BlockProperties& p) { p.bigEndian = true; }, EditOutcome::Rebuild},
        {"type", [](BlockProperties& p) { p.type = BlockTypeIndex::SRecord; },
         EditOutcome::Rebuild},
        {"file", [](BlockProperties& p) { p.fileName = "/work/other.out"; }, EditOutcome::Rebuild},
        {"file case", [](BlockProperties& p) { p.fileName = "/work/Demo.out"; },
         EditOutcome::Rebuild},
    };
    for (const auto& c : cases) {
        BlockProperties after = before;
        c.change(after);
        EXPECT_EQ(CompareEdit(before, after), c.outcome) << c.name;
    }
}

TEST(UserBlockRecordOf, FileNameMustFit) {
    BlockProperties block;
    block.bootable = true;
    block.fileName = std::string(1023, 'a');
    UserBlockRecord record;
    ASSERT_TRUE(MakeRecord(block, record));
    EXPECT_EQ(record.bootable, 1u);
    EXPECT_EQ(std::strlen(record.fileName), 1023u);
    block.fileName += 'a';
    EXPECT_FALSE(MakeRecord(block, record));
}

TEST(UserBlockMenus, WhichMenuAndWhatIsGreyed) {
    EXPECT_EQ(MenuFor(false, 0), UserBlockMenu::Empty);
    EXPECT_EQ(MenuFor(false, 3), UserBlockMenu::Empty);
    EXPECT_EQ(MenuFor(true, 0), UserBlockMenu::Single);
    EXPECT_EQ(MenuFor(true, 1), UserBlockMenu::Single);
    EXPECT_EQ(MenuFor(true, 2), UserBlockMenu::Multiple);

    const struct {
        uint32_t type;
        bool bootable;
        bool bootMenu, bootFrom, cancelBoot;
    } cases[] = {
        {0x00100005, false, false, false, false},  // raw data: no booting at all
        {0x00100005, true, false, false, false},  {0x00010005, false, true, true, false},
        {0x00010005, true, true, false, true},    {0x00110005, true, true, false, true},
    };
    for (const auto& c : cases) {
        const BootMenuState state = BootMenuStateOf(c.type, c.bootable);
        EXPECT_EQ(state.bootMenu, c.bootMenu) << c.type << c.bootable;
        EXPECT_EQ(state.bootFrom, c.bootFrom) << c.type << c.bootable;
        EXPECT_EQ(state.cancelBoot, c.cancelBoot) << c.type << c.bootable;
    }
}

TEST(UserBlockDelete, EngineIndicesFollowEarlierRemovals) {
    EXPECT_THAT(DeleteIndices({2, 3, 5}), ElementsAre(2u, 2u, 3u));
    EXPECT_THAT(DeleteIndices({0, 1, 2}), ElementsAre(0u, 0u, 0u));
    EXPECT_THAT(DeleteIndices({4}), ElementsAre(4u));
    EXPECT_TRUE(DeleteIndices({}).empty());
}

TEST(UserBlockMessages, VerifyAndBootQuestion) {
    const KovraMessage ok = VerifyMessage(VerifyOutcome::Verified, "/work/a.out");
    EXPECT_EQ(
        ok.text,
        "Verification suceeded.\n\n/work/a.out\nhas been correctly programmed into the flash.");
    EXPECT_EQ(ok.icon, KovraMessage::Icon::Information);
    const KovraMessage missing = VerifyMessage(VerifyOutcome::FileMissing, "/work/a.out");
    EXPECT_EQ(missing.text, "The following file could not be found:\n/work/a.out\n");
    EXPECT_EQ(missing.icon, KovraMessage::Icon::Warning);
    const KovraMessage different = VerifyMessage(VerifyOutcome::Different, "/work/a.out");
    EXPECT_EQ(different.text,
              "Verification failed.\n\n/work/a.out\nis different from the data programmed into "
              "the flash.");
    for (const KovraMessage& m : {ok, missing, different}) EXPECT_EQ(m.caption, "Result");
    const KovraMessage question = BootableQuestion();
    EXPECT_EQ(question.caption, "Bootable block");
    EXPECT_EQ(question.buttons, KovraMessage::Buttons::YesNoCancel);
    EXPECT_EQ(question.icon, KovraMessage::Icon::Question);
}

}  // namespace
