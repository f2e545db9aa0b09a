// CQelDrvLoad: the failure record for a missing library and for each
// missing entry point, and a complete binding.
#include "QELExc.h"
#include "converter/QelDrvLoad.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const kFunctions[] = {"QelOpen",
                                  "QelClose",
                                  "QelOpenBoard",
                                  "QelCloseBoard",
                                  "QelGetBoardInfo",
                                  "QelGetBoardCount",
                                  "QelGetError",
                                  "QelSetRefreshCallback",
                                  "QelSetHWStatusCallback",
                                  "QelGetBoardIndex",
                                  "QelGetDLLVer",
                                  "QelGetDLLBuildNo",
                                  "QelGetPluginVersion",
                                  "QelGetFactory",
                                  "QelStartScan",
                                  "QelStopScan"};

QELExc BindFailure(const std::string& library) {
    try {
        CQelDrvLoad binder(library.c_str());
    } catch (const QelExcept& e) {
        return e;
    }
    return QELExc{};
}

TEST(QelDrvLoadTest, EachMissingEntryPointHasItsLineAndText) {
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(kFunctions[i]);
        const QELExc e = BindFailure("QelDrvStubWithout" + std::to_string(i + 1) + ".dll");
        EXPECT_EQ(e.code, 0x80001u);
        EXPECT_EQ(e.line, 61u + i);
        EXPECT_STREQ(e.file, "Include\\QelDrvLoad");
        EXPECT_EQ(std::string(e.message),
                  std::string("Could not locate ") + kFunctions[i] + "() function.");
    }
}

TEST(QelDrvLoadTest, MissingLibrary) {
    const QELExc e = BindFailure("QelDrvNoSuchLibrary.dll");
    EXPECT_EQ(e.code, 0x80001u);
    EXPECT_EQ(e.line, 43u);
    EXPECT_STREQ(e.message, "Could not find QelDrv.dll");
}

TEST(QelDrvLoadTest, TheDriverBindsWhole) {
    CQelDrvLoad binder;
    ASSERT_NE(binder.QelGetError, nullptr);
    EXPECT_STREQ(binder.QelGetError(0x30008), "Unknown TIM type specified.");
    EXPECT_STREQ(binder.QelGetError(0x30006), "Unknown error.");
    EXPECT_NE(binder.QelStopScan, nullptr);
}

}  // namespace
