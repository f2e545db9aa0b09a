#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct MessageCase {
    uint32_t code;
    const char* text;
};

class ExcMessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(ExcMessageTest, TableLookup) {
    CExc e(GetParam().code, "Flash", 1);
    EXPECT_STREQ(e.GetMessage(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ExcMessageTest,
    testing::Values(MessageCase{0, "Unknown error"}, MessageCase{1, "No block signature"},
                    MessageCase{14, "Application was build without \\ROM flag"},
                    MessageCase{32, "Record start with unexpected characterd"},
                    MessageCase{45,
                                "This Diamond app file format is not supported.\n"
                                "Rebuild your application with V3.0 or above"},
                    MessageCase{46, "Unknown error"}, MessageCase{0x10000, "Unknown error"},
                    MessageCase{0x10001, "Could not load fprog"},
                    MessageCase{0x1000a, "CCS exception occured"},
                    MessageCase{0x10013, "Value not found in TIM file"},
                    MessageCase{0x10014, "Unknown error"},
                    MessageCase{ERR_EMPTY_DIRECTORY, "Unknown error"},
                    MessageCase{ERR_DSP_USER_ABORTED, "Unknown error"}));

TEST(ExcTest, NewRecordIsEmpty) {
    CExc e;
    EXPECT_EQ(e.code, 0u);
    EXPECT_EQ(e.line, 0u);
    EXPECT_STREQ(e.source, "");
    EXPECT_STREQ(e.detail, "");
}

TEST(ExcTest, LongTextsAreCutAndTerminated) {
    const std::string longText(300, 'x');
    CExc e(7, longText.c_str(), 12, longText.c_str());
    EXPECT_EQ(strlen(e.source), 127u);
    EXPECT_EQ(strlen(e.detail), 127u);
}

TEST(ExcTest, CopyKeepsAllFieldsAndMessage) {
    CExc original(0x10001, "Flash", 321);
    original.FormatDetail("Block at flash offset 0x%08X has incorrect CRC value", 0x1000u);
    CExc copy;
    copy = original;
    const CFlashExc& seen = copy;
    EXPECT_EQ(seen.code, 0x10001u);
    EXPECT_EQ(seen.line, 321u);
    EXPECT_STREQ(seen.source, "Flash");
    EXPECT_STREQ(seen.detail, "Block at flash offset 0x00001000 has incorrect CRC value");
    EXPECT_STREQ(seen.GetMessage(), "Could not load fprog");
}

TEST(ExcTest, RaiseMacroIsCaughtAsFlashExc) {
    try {
        QEL_RAISE_FORMAT(ERR_TIM_VALUE_NOT_FOUND, "Flash",
                         "Could not find integer value '%s' in TIM file", "TimType");
        FAIL() << "no throw";
    } catch (const CFlashExc& e) {
        EXPECT_EQ(e.code, 0x10013u);
        EXPECT_STREQ(e.detail, "Could not find integer value 'TimType' in TIM file");
        EXPECT_GT(e.line, 0u);
    }
}

}  // namespace
