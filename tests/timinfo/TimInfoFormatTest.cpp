// The description file format and the data folder, with small data folders
// written for each case.
#include "QelTimInfo.h"
#include "tests/timinfo/TimInfoTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qel::timinfo::test {
namespace {

struct Close {
    void operator()(CQelTimInfo* d) const { QelTimInfoClose(d); }
};
using Database = std::unique_ptr<CQelTimInfo, Close>;

class DataFolderTest : public ::testing::Test {
  protected:
    Database Open() { return Database(QelTimInfoOpen(0)); }
    TempFolder folder_;
    DataVariable variable_{folder_.Path().c_str()};
};

TEST_F(DataFolderTest, ReadsTheFolderNamedByTheVariable) {
    folder_.Write("B.tim", MinimalTim("Beta", "0x21"));
    folder_.Write("A.tim", MinimalTim("Alpha", "0x11"));
    folder_.Write("README.md", "not a description = at all");
    folder_.Write("C.tim.bak", "garbage");
    Database database = Open();
    ASSERT_NE(database, nullptr) << QelTimInfoLastError();
    EXPECT_STREQ(QelTimInfoLastError(), "");
    EXPECT_EQ(database->DataFolder(), folder_.Path());
    ASSERT_EQ(database->Count(), 2u);
    EXPECT_STREQ(database->At(0)->Name(), "Alpha");
    EXPECT_STREQ(database->At(1)->Name(), "Beta");
}

TEST_F(DataFolderTest, AcceptsEveryFormOfTheFormat) {
    folder_.Write("X.tim",
                  "\xEF\xBB\xBF# comment\r\n"
                  "   # indented comment\r\n"
                  "\r\n"
                  "Name = \"QT X\"\r\n"
                  "TimType=0X1f\r\n"
                  "Comment =   free text # not a comment  \r\n"
                  "Padded = \"  kept  \"\r\n"
                  "Escaped = \"a \\\"b\\\" c\\\\d \\n\"\r\n"
                  "Path = C:\\tim\\bl.out\r\n"
                  "Empty =\r\n"
                  "Negative = -1\r\n"
                  "Lowest = -2147483648\r\n"
                  "Top = 4294967295\r\n"
                  "Zeros = 010\r\n"
                  "\tMemory\t=\t0x0 0x40000 0\tINTERNAL\r\n"
                  "Memory = 1 2 3\r\n"
                  "Memory = 4 5 6 \"two words\" b \"\"\r\n"
                  "Text = 12abc");  // no line end at the end of the file
    Database database = Open();
    ASSERT_NE(database, nullptr) << QelTimInfoLastError();
    const CQelTimRecord* r = database->FindByName("QT X");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Code(), 0x1Fu);
    EXPECT_STREQ(r->GetString("Comment", nullptr), "free text # not a comment");
    EXPECT_STREQ(r->GetString("Padded", nullptr), "  kept  ");
    EXPECT_STREQ(r->GetString("Escaped", nullptr), "a \"b\" c\\d \\n");
    EXPECT_STREQ(r->GetString("Path", nullptr), "C:\\tim\\bl.out");
    EXPECT_STREQ(r->GetString("Empty", nullptr), "");
    EXPECT_STREQ(r->GetString("TimType", nullptr), "0X1f");
    EXPECT_EQ(r->GetInt("Negative", 0), -1);
    EXPECT_EQ(static_cast<uint32_t>(r->GetInt("Lowest", 0)), 0x80000000u);
    EXPECT_EQ(static_cast<uint32_t>(r->GetInt("Top", 0)), 0xFFFFFFFFu);
    EXPECT_EQ(r->GetInt("Zeros", 0), 10) << "a leading zero is not octal";
    EXPECT_EQ(r->GetInt("Zeros", 7), 10) << "the second argument selects nothing";

    TIMRec e(0);
    ASSERT_EQ(r->GetEntry("Memory", &e, 0), 0);
    EXPECT_EQ(e.number[1], 0x40000u);
    EXPECT_STREQ(e.text[0], "INTERNAL");
    ASSERT_EQ(r->GetEntry("Memory", &e, 1), 0);
    EXPECT_EQ(e.number[2], 3u);
    EXPECT_STREQ(e.text[0], "") << "strings of the previous entry must not remain";
    ASSERT_EQ(r->GetEntry("Memory", &e, 2), 0);
    EXPECT_STREQ(e.text[0], "two words");
    EXPECT_STREQ(e.text[1], "b");
    EXPECT_STREQ(e.text[2], "");
    EXPECT_NE(r->GetEntry("Memory", &e, 3), 0);
}

TEST_F(DataFolderTest, TextThatIsNoNumberThrowsTimExcNotTheMissingKeyError) {
    folder_.Write("X.tim", MinimalTim("X", "1") + "Text = 12abc\nEmpty =\n");
    Database database = Open();
    ASSERT_NE(database, nullptr) << QelTimInfoLastError();
    const CQelTimRecord* r = database->At(0);
    for (const char* key : {"Text", "Empty", "Name"}) {
        try {
            r->GetInt(key, 0);
            ADD_FAILURE() << key << " read as a number";
        } catch (const except_int_not_found&) {
            ADD_FAILURE() << key << " reported as missing";
        } catch (const TimExc& e) {
            EXPECT_NE(std::string(e.Text()).find(key), std::string::npos) << e.Text();
            EXPECT_NE(std::string(e.Text()).find("not a number"), std::string::npos) << e.Text();
        }
    }
}

TEST_F(DataFolderTest, LongKeysStillLeaveTheTimNameInTheMessage) {
    folder_.Write("X.tim", MinimalTim("QT-6201", "1"));
    Database database = Open();
    ASSERT_NE(database, nullptr) << QelTimInfoLastError();
    const std::string key(300, 'K');
    try {
        database->At(0)->GetString(key.c_str(), nullptr);
        FAIL();
    } catch (const except_str_not_found& e) {
        EXPECT_NE(std::string(e.Text()).find("QT-6201"), std::string::npos) << e.Text();
    }
}

TEST(DataVariableTest, AFolderThatDoesNotExistIsAnErrorNotAFallBack) {
    TempFolder parent;
    const std::string missing = parent.Path() + "/missing";
    DataVariable variable(missing.c_str());
    ::testing::internal::CaptureStderr();
    CQelTimInfo* database = QelTimInfoOpen(0);
    const std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(database, nullptr);
    QelTimInfoClose(database);
    const std::string error = QelTimInfoLastError();
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_NE(error.find("QEL4410_TIMDATA"), std::string::npos) << error;
    EXPECT_NE(written.find(error), std::string::npos) << written;
}

// A malformed data folder: files to write, and which file and line the error
// must name (line 0: none), with a piece of the reason.
struct Malformed {
    const char* label;
    std::vector<std::pair<std::string, std::string>> files;
    std::string file;  // empty: the folder itself
    int line;
    std::string reason;
};

const Malformed kMalformed[] = {
    {"NoEqualsSign",
     {{"A.tim", "Name = A\nTimType = 1\nFlash_Addr 0x90000000\n"}},
     "A.tim",
     3,
     "expected 'Key = value'"},
    {"KeyStartsWithDigit",
     {{"A.tim", "Name = A\n1Key = 2\nTimType = 1\n"}},
     "A.tim",
     2,
     "expected 'Key = value'"},
    {"NoKey", {{"A.tim", "Name = A\nTimType = 1\n= 2\n"}}, "A.tim", 3, "expected 'Key = value'"},
    {"SectionHeader",
     {{"A.tim", "[A]\nName = A\nTimType = 1\n"}},
     "A.tim",
     1,
     "expected 'Key = value'"},
    {"BadHexDigit", {{"A.tim", "Name = A\nTimType = 0x1G\n"}}, "A.tim", 2, "'TimType'"},
    {"WordForNumber",
     {{"A.tim", "Name = A\nTimType = 1\n\nFamily = seven\n"}},
     "A.tim",
     4,
     "not a number: 'seven'"},
    {"NumberTooLarge",
     {{"A.tim", "Name = A\nTimType = 1\nFlash_Addr = 0x100000000\n"}},
     "A.tim",
     3,
     "'Flash_Addr'"},
    {"DecimalTooLarge",
     {{"A.tim", "Name = A\nTimType = 1\nSectorSize = 4294967296\n"}},
     "A.tim",
     3,
     "'SectorSize'"},
    {"BareHexPrefix", {{"A.tim", "Name = A\nTimType = 0x\n"}}, "A.tim", 2, "'TimType'"},
    {"EmptyNumber",
     {{"A.tim", "Name = A\nTimType = 1\nprocessors =\n"}},
     "A.tim",
     3,
     "'processors'"},
    {"MemoryTwoNumbers",
     {{"A.tim", "Name = A\nTimType = 1\nMemory = 0x0 0x40000 INTERNAL\n"}},
     "A.tim",
     3,
     "number 3 'INTERNAL' is not a number"},
    {"SetNoNumbers",
     {{"A.tim", "Name = A\nTimType = 1\nSet =\n"}},
     "A.tim",
     3,
     "needs three numbers, found 0"},
    {"QuotedNumber",
     {{"A.tim", "Name = A\nTimType = 1\nSet = \"0\" 1 2\n"}},
     "A.tim",
     3,
     "number 1"},
    {"FourStrings",
     {{"A.tim", "Name = A\nTimType = 1\nMemory = 0 1 2 a b c d\n"}},
     "A.tim",
     3,
     "more than three strings"},
    {"EntryStringTooLong",
     {{"A.tim", "Name = A\nTimType = 1\nMemory = 0 1 2 " + std::string(256, 'x') + "\n"}},
     "A.tim",
     3,
     "longer than 255"},
    {"RepeatedKey",
     {{"A.tim", "Name = A\nTimType = 1\nLoader = a\nLoader = b\n"}},
     "A.tim",
     4,
     "repeated (first on line 3)"},
    {"UnclosedQuote",
     {{"A.tim", "Name = A\nTimType = 1\nComment = \"open\n"}},
     "A.tim",
     3,
     "missing closing quote"},
    {"TextAfterQuote",
     {{"A.tim", "Name = A\nTimType = 1\nComment = \"a\" b\n"}},
     "A.tim",
     3,
     "after the closing quote"},
    {"TokenGluedToQuote",
     {{"A.tim", "Name = A\nTimType = 1\nSet = 0 1 2 \"a\"b\n"}},
     "A.tim",
     3,
     "right after a closing quote"},
    {"ControlCharacter",
     {{"A.tim", std::string("Name = A\nTimType = 1\nUtil = a\0b\n", 32)}},
     "A.tim",
     3,
     "control character"},
    {"NoName", {{"A.tim", "TimType = 1\n"}}, "A.tim", 0, "no 'Name' key"},
    {"EmptyName", {{"A.tim", "Name = \"\"\nTimType = 1\n"}}, "A.tim", 1, "empty 'Name'"},
    {"NoTimType", {{"A.tim", "Name = A\n"}}, "A.tim", 0, "no 'TimType' key"},
    {"DuplicateName",
     {{"A.tim", "Name = Same\nTimType = 1\n"}, {"B.tim", "\nName = Same\nTimType = 2\n"}},
     "B.tim",
     2,
     "Name 'Same' also in "},
    {"DuplicateTimType",
     {{"A.tim", "Name = A\nTimType = 0x11\n"}, {"B.tim", "Name = B\n\n\nTimType = 17\n"}},
     "B.tim",
     4,
     "TimType '17' also in "},
    {"BadFileAmongGoodOnes",
     {{"A.tim", "Name = A\nTimType = 1\n"},
      {"B.tim", "Name = B\nTimType = 2\nx\n"},
      {"C.tim", "Name = C\nTimType = 3\n"}},
     "B.tim",
     3,
     "expected 'Key = value'"},
    {"EmptyFolder", {{"README.md", "no descriptions here"}}, "", 0, "holds no TIM description"},
};

void PrintTo(const Malformed& c, std::ostream* os) {
    *os << c.label;
}

class MalformedTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedTest, FailsNamingFileAndLine) {
    const Malformed& c = GetParam();
    TempFolder folder;
    for (const auto& [name, content] : c.files) folder.Write(name, content);
    DataVariable variable(folder.Path().c_str());

    ::testing::internal::CaptureStderr();
    CQelTimInfo* database = QelTimInfoOpen(0);
    const std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(database, nullptr);
    QelTimInfoClose(database);

    const std::string error = QelTimInfoLastError();
    std::string where = c.file.empty() ? folder.Path() : folder.Path() + "/" + c.file;
    where += c.line > 0 ? ":" + std::to_string(c.line) + ": " : ": ";
    EXPECT_EQ(error.rfind(where, 0), 0u) << "error: " << error << "\nexpected at: " << where;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_NE(written.find(error), std::string::npos) << "standard error: " << written;
}

INSTANTIATE_TEST_SUITE_P(Files, MalformedTest, ::testing::ValuesIn(kMalformed),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(LastErrorTest, IsClearedByASuccessfulOpen) {
    TempFolder bad;
    bad.Write("A.tim", "Name = A\n");
    TempFolder good;
    good.Write("A.tim", MinimalTim("A", "1"));
    {
        DataVariable variable(bad.Path().c_str());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(QelTimInfoOpen(0), nullptr);
        ::testing::internal::GetCapturedStderr();
        EXPECT_STRNE(QelTimInfoLastError(), "");
    }
    DataVariable variable(good.Path().c_str());
    CQelTimInfo* database = QelTimInfoOpen(0);
    EXPECT_NE(database, nullptr);
    EXPECT_STREQ(QelTimInfoLastError(), "");
    QelTimInfoClose(database);
}

}  // namespace
}  // namespace qel::timinfo::test
