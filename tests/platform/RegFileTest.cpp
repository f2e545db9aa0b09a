#include "platform/RegFile.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using qel::platform::FormatRegText;
using qel::platform::ParseRegText;
using qel::platform::RegDocument;
using qel::platform::RegParseError;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

struct BrokenCase {
    const char* label;
    std::string text;
    int line;
};

void PrintTo(const BrokenCase& c, std::ostream* os) {
    *os << c.label;
}

class RegFileBrokenTest : public testing::TestWithParam<BrokenCase> {};

TEST_P(RegFileBrokenTest, ReportsTheLine) {
    RegParseError error;
    EXPECT_FALSE(ParseRegText(GetParam().text, error).has_value());
    EXPECT_EQ(error.line, GetParam().line) << error.reason;
    EXPECT_FALSE(error.reason.empty());
}

const std::string kKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern]\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RegFileBrokenTest,
    testing::Values(BrokenCase{"NoHeader", kKey + "\"a\"=\"b\"\n", 1},
                    BrokenCase{"OldHeader", "REGEDIT4\n\n" + kKey, 1},
                    BrokenCase{"ValueBeforeKey", kHeader + "\"a\"=\"b\"\n", 3},
                    BrokenCase{"UnterminatedText", kHeader + kKey + "\"a\"=\"C:\\\\x\n", 4},
                    BrokenCase{"UnterminatedName", kHeader + kKey + "\"a=\"b\n", 4},
                    BrokenCase{"TextAfterQuote", kHeader + kKey + "\"a\"=\"b\" c\n", 4},
                    BrokenCase{"MissingEquals", kHeader + kKey + "\"a\" \"b\"\n", 4},
                    BrokenCase{"BadDword", kHeader + kKey + "\"a\"=dword:12xz\n", 4},
                    BrokenCase{"LongDword", kHeader + kKey + "\"a\"=dword:123456789\n", 4},
                    BrokenCase{"BadHexByte", kHeader + kKey + "\"a\"=hex:01,1g\n", 4},
                    BrokenCase{"EmptyHexByte", kHeader + kKey + "\"a\"=hex:01,,02\n", 4},
                    BrokenCase{"BadHexType", kHeader + kKey + "\"a\"=hex(q):01\n", 4},
                    BrokenCase{"ContinuationAtEnd", kHeader + kKey + "\"a\"=hex:01,\\\n", 4},
                    BrokenCase{"BadContinuedByte", kHeader + kKey + "\"a\"=hex:01,\\\n  zz\n", 4},
                    BrokenCase{"KeyDeletion", kHeader + "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n", 3},
                    BrokenCase{"ValueDeletion", kHeader + kKey + "\"a\"=-\n", 4},
                    BrokenCase{"UnknownData", kHeader + kKey + "\"a\"=qword:1\n", 4},
                    BrokenCase{"UnclosedKey", kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n", 3},
                    BrokenCase{"StrayText", kHeader + kKey + "\"a\"=\"b\"\nsome words\n", 5},
                    BrokenCase{"ZeroByte", kHeader + kKey + std::string("\"a\"=\"b\0\"\n", 9), 4},
                    BrokenCase{"ZeroByteAfterCrLf",
                               "Windows Registry Editor Version 5.00\r\n\r\n" + kKey + kKey +
                                   std::string("\0", 1),
                               5}),
    [](const testing::TestParamInfo<BrokenCase>& param) { return param.param.label; });

// Values this code does not interpret, comments and the wrapping of long
// lines come back byte for byte.
TEST(RegFileTest, UnchangedFileFormatsToTheSameText) {
    const std::string text =
        kHeader +
        "; exported for the lab machines\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern]\n"
        "@=\"default\"\n"
        "\"Path\"=\"C:\\\\Halvern\\\\Boot\"\n"
        "; the next one is expanded by the shell\n"
        "\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\n"
        "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00,63,00,64,00,65,00,66,00,67,\\\n"
        "  00,68,00,00,00,00,00\n"
        "\"Big\"=hex(b):01,02,03,04,05,06,07,08\n"
        "\"Odd\"=hex(4711):ff\n"
        "\"Count\"=dword:0000000A\n"
        "\n"
        "[HKEY_CURRENT_USER\\Elsewhere]\n"
        "\"x\"=\"y\"\n"
        "\n";
    RegParseError error;
    auto doc = ParseRegText(text, error);
    ASSERT_TRUE(doc) << error.line << ": " << error.reason;
    EXPECT_EQ(FormatRegText(*doc), text);
}

TEST(RegFileTest, ReadsUtf16WithByteOrderMarkAndCrLf) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern]\r\n"
        u"\"Gr\u00fc\u00dfe\"=\"\u00e4\u20ac\U0001F600\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    RegParseError error;
    auto doc = ParseRegText(bytes, error);
    ASSERT_TRUE(doc) << error.line << ": " << error.reason;
    const auto* key = doc->FindKey("HKEY_LOCAL_MACHINE\\software\\HALVERN");
    ASSERT_NE(key, nullptr);
    const auto* value = qel::platform::FindValue(*key, "Gr\u00fc\u00dfe");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(qel::platform::RegStringOf(*value), "\u00e4\u20ac\U0001F600");
}

TEST(RegFileTest, LaterDuplicateValueWinsAsOnImport) {
    RegParseError error;
    auto doc = ParseRegText(kHeader + kKey + "\"A\"=\"first\"\n\"a\"=\"second\"\n", error);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->keys.size(), 1u);
    ASSERT_EQ(doc->keys[0].entries.size(), 1u);
    EXPECT_EQ(qel::platform::RegStringOf(doc->keys[0].entries[0].value), "second");
}

// A new key goes below its parent's subtree, with its parents, spelled as
// the file already spells them.
TEST(RegFileTest, CreateKeyKeepsSpellingAndPlacesBelowParent) {
    RegParseError error;
    auto doc = ParseRegText(kHeader +
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Kovra]\n"
                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta]\n",
                            error);
    ASSERT_TRUE(doc);
    bool created = false;
    doc->CreateKey("HKEY_LOCAL_MACHINE\\Software\\HALVERN\\qel4410\\Gorlin", &created);
    EXPECT_TRUE(created);
    // The parents the file lacked come first, as in an export.
    EXPECT_EQ(FormatRegText(*doc),
              kHeader +
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern]\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410]\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Kovra]\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern\\QEL4410\\Gorlin]\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta]\n\n");
    doc->CreateKey("HKEY_LOCAL_MACHINE\\software\\zeta", &created);
    EXPECT_FALSE(created);
}

struct TextCase {
    const char* label;
    std::string text;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.label;
}

class RegFileTextTest : public testing::TestWithParam<TextCase> {};

// Whatever the text, it is written so that it reads back the same: escapes,
// control characters (as hex(1)) and bytes that are not UTF-8.
TEST_P(RegFileTextTest, RoundTrip) {
    RegDocument doc;
    auto& entries = doc.CreateKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern").entries;
    entries.emplace_back();
    entries.back().value.name = "Some \"name\" \\ here";
    qel::platform::SetRegString(entries.back().value, GetParam().text);
    const std::string file = FormatRegText(doc);

    RegParseError error;
    auto back = ParseRegText(file, error);
    ASSERT_TRUE(back) << error.line << ": " << error.reason << "\n" << file;
    const auto* key = back->FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvern");
    ASSERT_NE(key, nullptr) << file;
    const auto* value = qel::platform::FindValue(*key, "some \"NAME\" \\ here");
    ASSERT_NE(value, nullptr) << file;
    EXPECT_EQ(qel::platform::RegStringOf(*value), GetParam().text) << file;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegFileTextTest,
    testing::Values(
        TextCase{"Empty", ""}, TextCase{"WindowsPath", "C:\\Halvern\\Boot"},
        TextCase{"TrailingBackslash", "C:\\"}, TextCase{"UncPath", "\\\\server\\share\\"},
        TextCase{"Quotes", "say \"hi\" \\\""}, TextCase{"Brackets", "[HKEY_LOCAL_MACHINE\\x]"},
        TextCase{"Tab", "a\tb"}, TextCase{"Newline", "line one\nline two\r\n"},
        TextCase{"LongWithNewline", std::string(300, 'x') + "\n" + std::string(50, 'y')},
        TextCase{"Unicode", "Gr\u00fc\u00dfe \u20ac \U0001F600\n"},
        TextCase{"NotUtf8", "\xff\xfe\x80 latin \xe9\n"}),
    [](const testing::TestParamInfo<TextCase>& param) { return param.param.label; });

TEST(RegFileTest, TextIsStoredUpToItsFirstZero) {
    qel::platform::RegValue value;
    qel::platform::SetRegString(value, std::string("abc\0def", 7));
    EXPECT_EQ(qel::platform::RegStringOf(value), "abc");
}

}  // namespace
