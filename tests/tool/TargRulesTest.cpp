// The General page's rules: the TIM type list, the entry that shows a TIM
// name, the boot loader and bitstream texts and where Browse for a bitstream
// starts.
#include "tests/tool/FakeEngine.h"
#include "tool/TargRules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

using kovra_test::CaseName;
using kovra_test::FakeTimDatabase;

// ---------------------------------------------------------------- TIM list

struct ListedCase {
    const char* name;
    std::map<std::string, int> keys;
    bool listed;
};

void PrintTo(const ListedCase& c, std::ostream* os) {
    *os << c.name;
}

class IsListedTimTest : public ::testing::TestWithParam<ListedCase> {};

TEST_P(IsListedTimTest, ByTypeAndVersionLimit) {
    FakeTimDatabase database;
    database.Add("T", 1, GetParam().keys);
    EXPECT_EQ(IsListedTim(*database.At(0)), GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, IsListedTimTest,
    ::testing::Values(ListedCase{"LowBits001Limit5", {{"TimType", 9}, {"Max_4410_ver", 5}}, true},
                      ListedCase{"Limit4", {{"TimType", 9}, {"Max_4410_ver", 4}}, false},
                      ListedCase{"Type2", {{"TimType", 2}, {"Max_4410_ver", 7}}, false},
                      ListedCase{"LowBits111", {{"TimType", 0x0F}, {"Max_4410_ver", 7}}, false},
                      ListedCase{"Type1", {{"TimType", 1}, {"Max_4410_ver", 7}}, true},
                      // A missing limit leaves the type to decide.
                      ListedCase{"NoLimitListedType", {{"TimType", 0x11}}, true},
                      ListedCase{"NoLimitOtherType", {{"TimType", 0x12}}, false},
                      // Compared unsigned: a negative limit is a large one.
                      ListedCase{"NegativeLimit", {{"TimType", 0x21}, {"Max_4410_ver", -1}}, true},
                      ListedCase{"NoTimType", {{"Max_4410_ver", 7}}, false}),
    CaseName());

TEST(TimTypeEntries, SortedWithoutRegardToCaseAndWithTheNoneEntry) {
    FakeTimDatabase database;
    database.Add("QT-6403", 0x21, {{"TimType", 0x21}, {"Max_4410_ver", 7}});
    database.Add("QT-6100L", 0x39, {{"TimType", 0x39}, {"Max_4410_ver", 4}});
    database.Add("alpha", 0x41, {{"TimType", 0x41}});
    database.Add("QT-6201", 0x11, {{"TimType", 0x11}, {"Max_4410_ver", 7}});
    database.Add("QT-TEST10", 0x0A, {{"TimType", 0x0A}, {"Max_4410_ver", 7}});
    database.Add("Broken", 0x51, {});

    const std::vector<TimTypeEntry> entries = TimTypeEntries(&database);
    std::vector<std::string> texts;
    for (const TimTypeEntry& entry : entries) texts.push_back(entry.text);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"alpha", "No TIM type selected", "QT-6201", "QT-6403"}));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].tim, database.FindByName("alpha"));
    EXPECT_EQ(entries[1].tim, nullptr);
    EXPECT_EQ(entries[3].tim, database.FindByName("QT-6403"));
}

TEST(TimTypeEntries, WithoutDatabaseOnlyTheNoneEntry) {
    const std::vector<TimTypeEntry> entries = TimTypeEntries(nullptr);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, kNoTimTypeSelected);
    EXPECT_EQ(entries[0].tim, nullptr);
}

// ---------------------------------------------------------------- the entry of a TIM name

struct FindCase {
    const char* name;
    std::vector<std::string> entries;
    std::string tim;
    int index;
};

void PrintTo(const FindCase& c, std::ostream* os) {
    *os << c.name;
}

class FindTimEntryTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTimEntryTest, PrefixAfterTheFirstEntryWrapping) {
    EXPECT_EQ(FindTimEntry(GetParam().entries, GetParam().tim), GetParam().index);
}

const std::vector<std::string> kList{"No TIM type selected", "QT-6201", "QT-6201B", "QT-6403"};

INSTANTIATE_TEST_SUITE_P(
    Names, FindTimEntryTest,
    ::testing::Values(FindCase{"Exact", kList, "QT-6403", 3},
                      FindCase{"NotCaseSensitive", kList, "qt-6403", 3},
                      FindCase{"FirstPrefixMatch", kList, "QT-6201", 1},
                      FindCase{"ShorterPrefix", kList, "QT-64", 3},
                      FindCase{"NoMatch", kList, "Unknown TIM type", -1},
                      FindCase{"LongerThanEntry", kList, "QT-6403X", -1},
                      FindCase{"EmptyNameMatchesNothing", kList, "", -1},
                      FindCase{"FirstEntryLooksLast", {"ab1", "x", "ab2"}, "ab", 2},
                      FindCase{"WrapsToTheFirst", {"ab1", "x", "ab2"}, "ab1", 0},
                      FindCase{"SingleEntry", {"QT-6201"}, "qt-6201", 0},
                      FindCase{"EmptyList", {}, "QT-6201", -1}),
    CaseName());

// ---------------------------------------------------------------- dates and boxes

// Runs each test in a known time zone, restoring the caller's.
class InTimeZone : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ"))
            saved_ = tz;
    }
    void TearDown() override {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
    }
    static void Zone(const char* tz) { setenv("TZ", tz, 1); }

  private:
    std::optional<std::string> saved_;
};

// 2026-07-01 22:30:59 UTC.
constexpr uint64_t kJulyEvening = 116444736000000000ull + 1782945059ull * 10000000ull;

BlockHeader Header(uint32_t version, uint64_t written = 0) {
    BlockHeader header{};
    header.version = version;
    header.writeTimeLow = static_cast<uint32_t>(written);
    header.writeTimeHigh = static_cast<uint32_t>(written >> 32);
    return header;
}

TEST_F(InTimeZone, FormatProgrammedInLocalTime) {
    Zone("UTC");
    EXPECT_EQ(FormatProgrammed(kJulyEvening), "on 01/07/2026 at 22:30");
    // Summer time two hours east: the next day.
    Zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(FormatProgrammed(kJulyEvening), "on 02/07/2026 at 00:30");
    EXPECT_EQ(WriteTimeOf(Header(1, kJulyEvening)), kJulyEvening);
    EXPECT_EQ(WriteTimeOf(Header(1)), 0u);
}

struct BootCase {
    const char* name;
    uint32_t version;
    std::string loader;
    bool changed;
    uint64_t written;
    StatusBox box;
};

void PrintTo(const BootCase& c, std::ostream* os) {
    *os << c.name;
}

class BootLoaderBoxTest : public InTimeZone, public ::testing::WithParamInterface<BootCase> {};

TEST_P(BootLoaderBoxTest, TextAndIcon) {
    Zone("UTC");
    const BootCase& c = GetParam();
    const StatusBox box = BootLoaderBox(Header(c.version, c.written), c.loader, c.changed);
    EXPECT_EQ(box.text, c.box.text);
    EXPECT_EQ(box.iconShown, c.box.iconShown);
    EXPECT_EQ(box.iconState, c.box.iconState);
}

INSTANTIATE_TEST_SUITE_P(
    Loaders, BootLoaderBoxTest,
    ::testing::Values(
        BootCase{"NotWritten", 0x00010005, "LDR", false, 0, {"Version 1.05 (LDR)", true, 0}},
        BootCase{"TrailingBlanksCut",
                 0x0002000C,
                 "QT6201 \t ",
                 false,
                 0,
                 {"Version 2.12 (QT6201)", true, 0}},
        BootCase{"Changed", 0x00010000, "LDR", true, 0, {"Version 1.00 (LDR)", true, 1}},
        BootCase{"Programmed",
                 0x00030001,
                 "LDR",
                 false,
                 kJulyEvening,
                 {"Version 3.01 (LDR) programmed on 01/07/2026 at 22:30", true, 0}},
        BootCase{"MinorAbove99", 0x00010123, "LDR", false, 0, {"Version 1.291 (LDR)", true, 0}},
        BootCase{"NoBootLoader", 0, "LDR", true, kJulyEvening, {"", false, 0}}),
    CaseName());

struct FpgaCase {
    const char* name;
    uint32_t version;
    std::string file;
    std::string comment;
    bool changed;
    uint64_t written;
    StatusBox box;
};

void PrintTo(const FpgaCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<uint8_t> FpgaRecord(const std::string& comment, const std::string& file) {
    std::vector<uint8_t> record(FPGA_RECORD_SIZE, 0);
    std::memcpy(record.data(), comment.data(), std::min<size_t>(comment.size(), 512));
    std::memcpy(record.data() + 512, file.data(), std::min<size_t>(file.size(), 1024));
    return record;
}

class BitstreamBoxTest : public InTimeZone, public ::testing::WithParamInterface<FpgaCase> {};

TEST_P(BitstreamBoxTest, TextAndIcon) {
    Zone("UTC");
    const FpgaCase& c = GetParam();
    const std::vector<uint8_t> record = FpgaRecord(c.comment, c.file);
    const StatusBox box = BitstreamBox(Header(c.version, c.written), record.data(), c.changed);
    EXPECT_EQ(box.text, c.box.text);
    EXPECT_EQ(box.iconShown, c.box.iconShown);
    EXPECT_EQ(box.iconState, c.box.iconState);
}

const std::string kFullComment(512, 'c');  // fills its field: no terminating zero

INSTANTIATE_TEST_SUITE_P(
    Bitstreams, BitstreamBoxTest,
    ::testing::Values(
        FpgaCase{"VersionAndFileOnly",
                 0x00010002,
                 "/bits/qt6201_v1p2.sbf",
                 "",
                 true,
                 0,
                 {"Version 1.02\r\n/bits/qt6201_v1p2.sbf\r\n", true, 1}},
        FpgaCase{"Everything",
                 0x00020000,
                 "/bits/a.sbf",
                 "Rev B board",
                 false,
                 kJulyEvening,
                 {"Version 2.00\r\n/bits/a.sbf\r\nProgrammed on 01/07/2026 at 22:30\r\n\r\n"
                  "Notes: Rev B board",
                  true, 0}},
        FpgaCase{
            "NoFileName", 0x00010000, "", "N/A", false, 0, {"Version 1.00\r\nNotes: N/A", true, 0}},
        FpgaCase{"CommentFillingItsField",
                 0x00010000,
                 "/f.sbf",
                 kFullComment,
                 false,
                 0,
                 {"Version 1.00\r\n/f.sbf\r\nNotes: " + kFullComment, true, 0}},
        FpgaCase{"NoBitstream", 0, "/bits/a.sbf", "x", true, kJulyEvening, {"", false, 0}}),
    CaseName());

TEST(FpgaRecordFields, FileNameFillingItsFieldStopsAtTheRecordsEnd) {
    const std::string file(1024, 'f');
    const std::vector<uint8_t> record = FpgaRecord("note", file);
    EXPECT_EQ(FpgaFileName(record.data()), file);
    EXPECT_EQ(FpgaComment(record.data()), "note");
}

// ---------------------------------------------------------------- Browse start

struct StartCase {
    const char* name;
    std::string file;
    std::string start;
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class BrowseStartTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(BrowseStartTest, FolderOfTheFileElseTheEnginesFolder) {
    EXPECT_EQ(BitstreamBrowseStart(GetParam().file, "/engine/bitstreams"), GetParam().start);
}

INSTANTIATE_TEST_SUITE_P(
    Names, BrowseStartTest,
    ::testing::Values(StartCase{"SlashPath", "/data/bits/qt6201_v1p2.sbf", "/data/bits"},
                      StartCase{"BackslashPath", "C:\\QEL\\Bits\\qt6201.sbf", "C:\\QEL\\Bits"},
                      StartCase{"Empty", "", "/engine/bitstreams"},
                      StartCase{"NoExtension", "/data/bits/qt6201", "/engine/bitstreams"},
                      StartCase{"NoFolder", "qt6201.sbf", "/engine/bitstreams"},
                      StartCase{"AtTheRoot", "/qt6201.sbf", "/engine/bitstreams"},
                      // Cut at the last "." first, wherever it stands.
                      StartCase{"DotInAFolder", "/data/v1.2/qt6201", "/data"}),
    CaseName());

}  // namespace
