#include "platform/FileTime.h"

#include <chrono>
#include <ctime>

namespace qel::platform {

uint64_t CurrentFileTime() {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
    return kUnixEpochFileTime + static_cast<uint64_t>(sinceEpoch.count() / 100);
}

LocalTime FileTimeToLocal(uint64_t fileTime) {
    const int64_t ticks = static_cast<int64_t>(fileTime) - static_cast<int64_t>(kUnixEpochFileTime);
    // Floor division so that times before 1970 land in the right second.
    int64_t seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    const time_t t = static_cast<time_t>(seconds);
    tm parts{};
    localtime_r(&t, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,     static_cast<int>(rest / 10000)};
}

}  // namespace qel::platform
