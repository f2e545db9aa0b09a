// This program knows only the public contract (Telmar.h), as a caller of the
// engine does: errors raised inside a separately loaded library must still be
// caught by type.
#include "Telmar.h"
#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LibraryBoundaryTest, EngineErrorIsCaughtAsFlashExcInAnotherLibrary) {
    qel::platform::DynamicLibrary library("exc_thrower.dll");
    ASSERT_TRUE(library.IsLoaded()) << library.LastError();
    auto raise = reinterpret_cast<void (*)(uint32_t)>(library.Symbol("ThrowEngineError"));
    ASSERT_NE(raise, nullptr);
    try {
        raise(0x10001);
        FAIL() << "no exception";
    } catch (const CFlashExc& e) {
        EXPECT_EQ(e.code, 0x10001u);
        EXPECT_EQ(e.line, 42u);
        EXPECT_STREQ(e.source, "Flash");
        EXPECT_STREQ(e.detail, "raised in another library");
        // The message table lives in the other library and still answers.
        EXPECT_STREQ(e.GetMessage(), "Could not load fprog");
    } catch (...) {
        FAIL() << "caught, but not as CFlashExc";
    }
}

TEST(LibraryBoundaryTest, MissingLibraryAndExportAreReported) {
    qel::platform::DynamicLibrary missing("NoSuchLibrary.dll");
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_FALSE(missing.LastError().empty());
    qel::platform::DynamicLibrary library("exc_thrower.dll");
    EXPECT_EQ(library.Symbol("NoSuchExport"), nullptr);
}

TEST(LibraryBoundaryTest, WindowsNamesMapToSharedObjects) {
    using qel::platform::DynamicLibrary;
    EXPECT_EQ(DynamicLibrary::MapName("Telmar.dll"), "libTelmar.so");
    EXPECT_EQ(DynamicLibrary::MapName("QelTimInfo.DLL"), "libQelTimInfo.so");
    EXPECT_EQ(DynamicLibrary::MapName("libx.so"), "libx.so");
    EXPECT_EQ(DynamicLibrary::MapName("/opt/lib/y.so.1"), "/opt/lib/y.so.1");
}

}  // namespace
