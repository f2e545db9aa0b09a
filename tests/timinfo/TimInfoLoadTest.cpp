// The binder every deliverable uses to reach the TIM library by name.
#include "QELExc.h"
#include "QelTimInfoLoad.h"
#include "tests/timinfo/TimInfoTestSupport.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace qel::timinfo::test {
namespace {

TEST(TimInfoLoadTest, BindsTheRealLibraryAndOpensItsDatabase) {
    DataVariable unset(nullptr);
    CQelTimInfoLoad loader;  // the Windows name, "QelTimInfo.dll"
    ASSERT_NE(loader.QelTimInfoOpen, nullptr);
    ASSERT_NE(loader.QelTimInfoClose, nullptr);
    ASSERT_NE(loader.QelModLibOpen, nullptr);
    ASSERT_NE(loader.QelModLibClose, nullptr);
    CQelTimInfo* database = loader.QelTimInfoOpen(0);
    ASSERT_NE(database, nullptr);
    EXPECT_GT(database->Count(), 0u);
    EXPECT_NE(database->FindByName("QT-6201"), nullptr);
    loader.QelTimInfoClose(database);
}

TEST(TimInfoLoadTest, TwoBindersOfOneLibraryAreIndependent) {
    DataVariable unset(nullptr);
    auto first = std::make_unique<CQelTimInfoLoad>();
    CQelTimInfoLoad second;
    first.reset();  // unloading one keeps the other's entry points valid
    CQelTimInfo* database = second.QelTimInfoOpen(0);
    ASSERT_NE(database, nullptr);
    EXPECT_STREQ(database->NameOf(0x11), "QT-6201");
    second.QelTimInfoClose(database);
}

struct BindFailure {
    const char* library;
    uint32_t line;
    const char* text;
};

void PrintTo(const BindFailure& c, std::ostream* os) {
    *os << c.library;
}

class BindFailureTest : public ::testing::TestWithParam<BindFailure> {};

TEST_P(BindFailureTest, ThrowsTheBinderRecord) {
    const BindFailure& c = GetParam();
    try {
        CQelTimInfoLoad loader(c.library);
        FAIL() << c.library << " was bound";
    } catch (const QelExcept& e) {
        EXPECT_EQ(e.code, 0x80002u);
        EXPECT_EQ(e.code, CQelTimInfoLoad::ErrorCode);
        EXPECT_EQ(e.line, c.line);
        EXPECT_STREQ(e.file, "QelTimInfoLoad");
        EXPECT_STREQ(e.message, c.text);
        EXPECT_EQ(e.nAddition, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, BindFailureTest,
    ::testing::Values(BindFailure{"QelTimInfoAbsent.dll", 43, "Could not find QelTimInfo.dll"},
                      BindFailure{"QelTimInfoStubNoTimInfoOpen.dll", 49,
                                  "Could not locate QelTimInfoOpen() function."},
                      BindFailure{"QelTimInfoStubNoTimInfoClose.dll", 50,
                                  "Could not locate QelTimInfoClose() function."},
                      BindFailure{"QelTimInfoStubNoModLibOpen.dll", 51,
                                  "Could not locate QelModLibOpen() function."},
                      BindFailure{"QelTimInfoStubNoModLibClose.dll", 52,
                                  "Could not locate QelModLibClose() function."}),
    [](const auto& p) { return "Line" + std::to_string(p.param.line); });

TEST(TimInfoLoadTest, TheFailureIsAlsoCaughtAsThePlainRecord) {
    try {
        CQelTimInfoLoad loader("QelTimInfoAbsent.dll");
        FAIL() << "bound";
    } catch (const QELExc& e) {
        EXPECT_EQ(e.code, 0x80002u);
        EXPECT_EQ(e.line, 43u);
        EXPECT_STREQ(e.file, "QelTimInfoLoad");
        EXPECT_STREQ(e.message, "Could not find QelTimInfo.dll");
    }
}

TEST(QelExceptTest, CutsLongTextsAndAlwaysTerminatesThem) {
    const std::string longText(5000, 'x');
    QelExcept e(1, 2, longText.c_str(), longText.c_str(), 3);
    EXPECT_EQ(std::string(e.file), longText.substr(0, sizeof(e.file) - 1));
    EXPECT_EQ(std::string(e.message), longText.substr(0, sizeof(e.message) - 1));
    EXPECT_EQ(e.nAddition, 3u);
}

}  // namespace
}  // namespace qel::timinfo::test
