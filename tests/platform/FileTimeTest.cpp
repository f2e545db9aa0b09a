#include "platform/FileTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "TestSupport.h"

namespace {

using qel::platform::FileTimeToLocal;
using qel::platform::FileTimeToUtc;
using qel::platform::LocalTime;

struct DateCase {
    const char* label;
    uint64_t fileTime;
    LocalTime utc;
};

void PrintTo(const DateCase& c, std::ostream* os) {
    *os << c.label;
}

class FileTimeDateTest : public testing::TestWithParam<DateCase> {};

void ExpectTime(const LocalTime& got, const LocalTime& want) {
    EXPECT_EQ(got.year, want.year);
    EXPECT_EQ(got.month, want.month);
    EXPECT_EQ(got.day, want.day);
    EXPECT_EQ(got.hour, want.hour);
    EXPECT_EQ(got.minute, want.minute);
    EXPECT_EQ(got.second, want.second);
    EXPECT_EQ(got.millisecond, want.millisecond);
}

TEST_P(FileTimeDateTest, ToUtc) {
    ExpectTime(FileTimeToUtc(GetParam().fileTime), GetParam().utc);
}

TEST_P(FileTimeDateTest, ToLocalInUtcZone) {
    platform_test::ScopedEnv tz("TZ", "UTC0");
    ExpectTime(FileTimeToLocal(GetParam().fileTime), GetParam().utc);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileTimeDateTest,
    testing::Values(
        DateCase{"Origin", 0, {1601, 1, 1, 0, 0, 0, 0}},
        DateCase{"UnixEpoch", 116444736000000000ull, {1970, 1, 1, 0, 0, 0, 0}},
        DateCase{"JustBeforeEpoch", 116444736000000000ull - 10000, {1969, 12, 31, 23, 59, 59, 999}},
        DateCase{"Y2K", 125911584000000000ull, {2000, 1, 1, 0, 0, 0, 0}},
        DateCase{"LeapDay",
                 125911584000000000ull + 59ull * 86400 * 10000000 +
                     (13ull * 3600 + 14 * 60 + 15) * 10000000 + 1239999,
                 {2000, 2, 29, 13, 14, 15, 123}}),
    [](const testing::TestParamInfo<DateCase>& param) { return param.param.label; });

TEST(FileTimeTest, LocalTimeFollowsTheZoneAndItsSummerTime) {
    {
        platform_test::ScopedEnv tz("TZ", "EST5");
        ExpectTime(FileTimeToLocal(qel::platform::kUnixEpochFileTime), {1969, 12, 31, 19, 0, 0, 0});
    }
    platform_test::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    const uint64_t winterNoon = 125911584000000000ull + 12ull * 3600 * 10000000;  // 2000-01-01
    ExpectTime(FileTimeToLocal(winterNoon), {2000, 1, 1, 13, 0, 0, 0});
    const uint64_t summerNoon = winterNoon + 182ull * 86400 * 10000000;  // 2000-07-01
    ExpectTime(FileTimeToLocal(summerNoon), {2000, 7, 1, 14, 0, 0, 0});
}

TEST(FileTimeTest, CurrentTimeIsSystemTime) {
    using qel::platform::FileTimeFromTimePoint;
    const uint64_t before = FileTimeFromTimePoint(std::chrono::system_clock::now());
    const uint64_t now = qel::platform::CurrentFileTime();
    const uint64_t after = FileTimeFromTimePoint(std::chrono::system_clock::now());
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
    EXPECT_EQ(FileTimeFromTimePoint(std::chrono::system_clock::time_point{}),
              qel::platform::kUnixEpochFileTime);
}

}  // namespace
