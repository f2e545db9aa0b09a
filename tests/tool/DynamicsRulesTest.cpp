// The Dynamics page's formats and the reading of its dialog's texts.
#include "tests/tool/FakeEngine.h"
#include "tool/DynamicsRules.h"

#include <gtest/gtest.h>

namespace {

struct ReadCase {
    const char* name;
    const char* text;
    bool read;
    uint32_t number;  // after reading, starting from 77
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadDynamicTextTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadDynamicTextTest, ReadsOrKeeps) {
    const ReadCase& c = GetParam();
    uint32_t number = 77;
    EXPECT_EQ(ReadDynamicText(c.text, number), c.read);
    EXPECT_EQ(number, c.number);
}

INSTANTIATE_TEST_SUITE_P(Texts, ReadDynamicTextTest,
                         ::testing::Values(ReadCase{"Hex", "0x10", true, 16},
                                           ReadCase{"Decimal", "16", true, 16},
                                           ReadCase{"MinusOne", "-1", true, 0xFFFFFFFF},
                                           ReadCase{"HexFull", "0xFFFFFFFF", true, 0xFFFFFFFF},
                                           ReadCase{"HexLowerDigits", "0x89ab", true, 0x89AB},
                                           // Only a lower-case x makes hex: "0X10" reads the 0.
                                           ReadCase{"CapitalXIsDecimal", "0X10", true, 0},
                                           ReadCase{"TrailingText", "12abc", true, 12},
                                           ReadCase{"EmptyKeeps", "", false, 77},
                                           ReadCase{"WordKeeps", "abc", false, 77},
                                           ReadCase{"BarePrefixKeeps", "0x", false, 77},
                                           ReadCase{"PrefixWithoutDigitsKeeps", "0xg", false, 77}),
                         kovra_test::CaseName());

TEST(DynamicsFormat, Columns) {
    EXPECT_EQ(FormatDynamicAddress(0x1800), "0x00001800");
    EXPECT_EQ(FormatDynamicAddress(0x80000000), "0x80000000");
    EXPECT_EQ(FormatDynamicValue(0xFFFFFFFF, true), "0xFFFFFFFF");
    EXPECT_EQ(FormatDynamicValue(0xFFFFFFFF, false), "-1");
    EXPECT_EQ(FormatDynamicValue(0x1F, true), "0x1F");
    EXPECT_EQ(FormatDynamicValue(31, false), "31");
}

}  // namespace
