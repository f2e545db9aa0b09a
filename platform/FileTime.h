// Windows FILETIME stand-in: 100 ns units since 1601-01-01 UTC.
#pragma once

#include <chrono>
#include <cstdint>

namespace qel::platform {

// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;

// The current UTC time as a FILETIME.
uint64_t CurrentFileTime();
uint64_t FileTimeFromTimePoint(std::chrono::system_clock::time_point time);

// Broken-down time, as the Windows SYSTEMTIME has it.
struct LocalTime {
    int year;
    int month;  // 1-12
    int day;    // 1-31
    int hour;
    int minute;
    int second;
    int millisecond;
};

// A FILETIME as local broken-down time, by the time zone in force now
// (TZ or the system's), with the daylight saving rule of that date.
LocalTime FileTimeToLocal(uint64_t fileTime);
// The same without a time zone: UTC.
LocalTime FileTimeToUtc(uint64_t fileTime);

}  // namespace qel::platform
