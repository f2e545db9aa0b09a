#include "platform/FileTime.h"

#include <ctime>

namespace qel::platform {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;

// Whole seconds since 1970 (rounded down, also before 1970) and the ticks
// left over.
void Split(uint64_t fileTime, int64_t& seconds, int64_t& ticks) {
    if (fileTime >= kUnixEpochFileTime) {
        const uint64_t since = fileTime - kUnixEpochFileTime;
        seconds = static_cast<int64_t>(since / kTicksPerSecond);
        ticks = static_cast<int64_t>(since % kTicksPerSecond);
    } else {
        const uint64_t before = kUnixEpochFileTime - fileTime;
        seconds = -static_cast<int64_t>(before / kTicksPerSecond);
        ticks = static_cast<int64_t>(before % kTicksPerSecond);
        if (ticks != 0) {
            --seconds;
            ticks = kTicksPerSecond - ticks;
        }
    }
}

LocalTime Convert(uint64_t fileTime, bool local) {
    int64_t seconds = 0;
    int64_t ticks = 0;
    Split(fileTime, seconds, ticks);
    const time_t t = static_cast<time_t>(seconds);
    tm parts{};
    if (local) {
        tzset();  // localtime_r alone does not see a changed TZ
        localtime_r(&t, &parts);
    } else {
        gmtime_r(&t, &parts);
    }
    return LocalTime{parts.tm_year + 1900,
                     parts.tm_mon + 1,
                     parts.tm_mday,
                     parts.tm_hour,
                     parts.tm_min,
                     parts.tm_sec,
                     static_cast<int>(ticks / 10000)};
}

}  // namespace

uint64_t FileTimeFromTimePoint(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ticks =
        duration_cast<duration<int64_t, std::ratio<1, kTicksPerSecond>>>(time.time_since_epoch());
    return kUnixEpochFileTime + static_cast<uint64_t>(ticks.count());
}

uint64_t CurrentFileTime() {
    return FileTimeFromTimePoint(std::chrono::system_clock::now());
}

LocalTime FileTimeToLocal(uint64_t fileTime) {
    return Convert(fileTime, true);
}

LocalTime FileTimeToUtc(uint64_t fileTime) {
    return Convert(fileTime, false);
}

}  // namespace qel::platform
