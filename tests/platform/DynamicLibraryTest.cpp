#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using qel::platform::DynamicLibrary;

struct NameCase {
    const char* name;
    const char* file;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class DynamicLibraryNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(DynamicLibraryNameTest, MapsWindowsNames) {
    EXPECT_EQ(DynamicLibrary::MapName(GetParam().name), GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(Cases, DynamicLibraryNameTest,
                         testing::Values(NameCase{"Telmar.dll", "libTelmar.so"},
                                         NameCase{"QelTimInfo.DLL", "libQelTimInfo.so"},
                                         NameCase{"QelDrv", "libQelDrv.so"},
                                         NameCase{"libm.so.6", "libm.so.6"},
                                         NameCase{"libx.so", "libx.so"},
                                         NameCase{"my.sound.dll", "libmy.sound.so"},
                                         NameCase{"/opt/lib/libx.so", "/opt/lib/libx.so"}));

TEST(DynamicLibraryTest, LoadsBesideTheProgramByWindowsName) {
    DynamicLibrary library("PlatformProbe.dll");
    ASSERT_TRUE(library.IsLoaded()) << library.LastError();
    using ProbeFn = int (*)();
    auto probe = reinterpret_cast<ProbeFn>(library.Symbol("ProbeValue"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(), 4410);
    EXPECT_EQ(library.Symbol("NoSuchFunction"), nullptr);
    EXPECT_EQ(library.Symbol(nullptr), nullptr);
    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(library.Symbol("ProbeValue"), nullptr);
}

TEST(DynamicLibraryTest, MissingLibraryFailsWithText) {
    DynamicLibrary library;
    EXPECT_FALSE(library.Load("NoSuchLibrary4410.dll"));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_NE(library.LastError().find("NoSuchLibrary4410"), std::string::npos)
        << library.LastError();
    // A later success clears the old failure.
    EXPECT_TRUE(library.Load("libm.so.6")) << library.LastError();
    EXPECT_TRUE(library.LastError().empty());
    EXPECT_NE(library.Symbol("cos"), nullptr);
}

}  // namespace
