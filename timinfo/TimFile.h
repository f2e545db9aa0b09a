// Reading one TIM description file (format: timinfo/data/README.md).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qel::timinfo {

// A file that cannot be read or does not follow the format. what() is
// "<path>:<line>: <reason>" (no line part when the file cannot be read).
class TimFileError : public std::runtime_error {
  public:
    TimFileError(const std::string& path, int line, const std::string& reason);
};

struct TimValue {
    std::string text;  // quotes removed
    int line = 0;
};

// One line of an entry list: three numbers, then up to three strings.
struct TimEntry {
    uint32_t number[3] = {};
    std::string text[3];
    int line = 0;
};

struct TimDescription {
    std::string path;
    std::map<std::string, TimValue, std::less<>> values;
    std::map<std::string, std::vector<TimEntry>, std::less<>> lists;
};

// Decimal (optionally negative, as a 32-bit two's complement) or 0x hex; the
// whole text must be the number and it must fit in 32 bits.
bool ParseNumber(std::string_view text, uint32_t& value);

// Keys whose values must be numbers; checked while the file is read so a typo
// is reported with its line instead of when some tool first asks.
bool IsNumericKey(std::string_view key);
// Keys that are entry lists ("Memory", "Set"): repeatable, one entry a line.
bool IsListKey(std::string_view key);

// Parses the content of the file at path. Checks syntax, numbers, repeated
// keys and the presence of "Name" and "TimType". Throws TimFileError.
TimDescription ParseTimText(const std::string& path, std::string_view content);
// Reads and parses the file. Throws TimFileError.
TimDescription ReadTimFile(const std::string& path);

}  // namespace qel::timinfo
