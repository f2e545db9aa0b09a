// The driver error table: codes and texts as callers match them.
#include "QelDrvErrors.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(DriverErrorTableTest, TextsOfTheTable) {
    struct Case {
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {0x9, "Could not open the Tessel device"},
        {0x30005,
         "At least one of the sections specified in the .coff file \n"
         "could not be placed in the DSP memory space."},
        {0x50006, "User defined error value.   See 'nAddition' field."},
        {0xC0009, "The burst size is too big. The maximum burst size is 16K/8 = 2048."},
        {0xD0009, "Invalid buffer"},
        {0xE0002, "Invalid buffer"},
        {0xF0008, "Wrong flahs address"},
        {0xF000A, "ID doesn't exist"},
        {0x30006, "Unknown error."},
        {0, "Unknown error."},
        {0xF000B, "Unknown error."},
        {0xFFFFFFFF, "Unknown error."},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(qel::drv::ErrorText(c.code), c.text) << std::hex << c.code;
}

TEST(DriverErrorTableTest, EightyThreeEntriesInCodeOrderEachFoundByItsCode) {
    size_t count = 0;
    const qel::drv::ErrorEntry* table = qel::drv::ErrorTable(&count);
    EXPECT_EQ(count, 83u);
    std::set<uint32_t> facilities;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            EXPECT_LT(table[i - 1].code, table[i].code);
        }
        EXPECT_EQ(qel::drv::ErrorText(table[i].code), table[i].text);
        facilities.insert(table[i].code >> 16);
    }
    EXPECT_EQ(facilities, (std::set<uint32_t>{0x0, 0x1, 0x2, 0x3, 0x4, 0x5, 0x6, 0x8, 0xB, 0xC, 0xD,
                                              0xE, 0xF}));
}

}  // namespace
