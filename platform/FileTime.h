// Windows FILETIME stand-in: 100 ns units since 1601-01-01 UTC.
#pragma once

#include <cstdint>

namespace qel::platform {

// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;

// The current UTC time as a FILETIME.
uint64_t CurrentFileTime();

struct LocalTime {
    int year;
    int month;  // 1-12
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
};

// A FILETIME as local broken-down time.
LocalTime FileTimeToLocal(uint64_t fileTime);

}  // namespace qel::platform
