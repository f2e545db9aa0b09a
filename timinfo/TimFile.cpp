#include "timinfo/TimFile.h"

#include <array>
#include <fstream>
#include <sstream>

namespace qel::timinfo {

namespace {

constexpr std::array<std::string_view, 10> kNumericKeys = {
    "TimType",      "Family",       "SubFamily",  "Flash_Addr", "Flash_Offset",
    "UseChipErase", "Max_4410_ver", "processors", "SectorSize", "SectorCount"};
constexpr std::array<std::string_view, 2> kListKeys = {"Memory", "Set"};
constexpr size_t kMaxEntryText = 255;  // TIMRec strings hold 256 bytes with the zero

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsKeyStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsKeyChar(char c) {
    return IsKeyStart(c) || (c >= '0' && c <= '9');
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string Quote(std::string_view s) {
    constexpr size_t kShown = 40;
    std::string out = "'";
    out += s.substr(0, kShown);
    if (s.size() > kShown)
        out += "...";
    return out + "'";
}

class LineReader {
  public:
    LineReader(const std::string& path, int line) : path_(path), line_(line) {}
    [[noreturn]] void Fail(const std::string& reason) const {
        throw TimFileError(path_, line_, reason);
    }

    // A quoted string starting at s[0] == '"'; s is advanced past the closing
    // quote. Inside, \" and \\ stand for " and \; any other backslash is kept,
    // so Windows-style paths need no doubling.
    std::string Quoted(std::string_view& s) const {
        std::string out;
        size_t i = 1;
        for (; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '"' || s[i + 1] == '\\'))
                ++i;
            out += s[i];
        }
        if (i >= s.size())
            Fail("missing closing quote");
        s.remove_prefix(i + 1);
        return out;
    }

    // The next blank-separated token, quoted or not; quoted tells which.
    std::string Token(std::string_view& s, bool& quoted) const {
        s = Trim(s);
        quoted = !s.empty() && s.front() == '"';
        if (quoted) {
            std::string out = Quoted(s);
            if (!s.empty() && !IsBlank(s.front()))
                Fail("text right after a closing quote");
            return out;
        }
        size_t n = 0;
        while (n < s.size() && !IsBlank(s[n])) ++n;
        std::string out(s.substr(0, n));
        s.remove_prefix(n);
        return out;
    }

    std::string Value(std::string_view s) const {
        s = Trim(s);
        if (s.empty() || s.front() != '"')
            return std::string(s);
        std::string out = Quoted(s);
        if (!Trim(s).empty())
            Fail("text after the closing quote");
        return out;
    }

    TimEntry Entry(std::string_view key, std::string_view s) const {
        TimEntry entry;
        entry.line = line_;
        bool quoted = false;
        for (int i = 0; i < 3; ++i) {
            std::string token = Token(s, quoted);
            if (token.empty() && !quoted)
                Fail(std::string(key) + " entry needs three numbers, found " + std::to_string(i));
            if (quoted || !ParseNumber(token, entry.number[i]))
                Fail(std::string(key) + " entry: number " + std::to_string(i + 1) + " " +
                     Quote(token) + " is not a number");
        }
        for (int i = 0; i < 3; ++i) {
            std::string token = Token(s, quoted);
            if (token.empty() && !quoted)
                return entry;
            if (token.size() > kMaxEntryText)
                Fail(std::string(key) + " entry: string " + std::to_string(i + 1) +
                     " is longer than " + std::to_string(kMaxEntryText) + " characters");
            entry.text[i] = std::move(token);
        }
        if (!Trim(s).empty())
            Fail(std::string(key) + " entry has more than three strings: " + Quote(Trim(s)));
        return entry;
    }

  private:
    const std::string& path_;
    int line_;
};

}  // namespace

TimFileError::TimFileError(const std::string& path, int line, const std::string& reason)
    : std::runtime_error(line > 0 ? path + ":" + std::to_string(line) + ": " + reason
                                  : path + ": " + reason) {}

bool ParseNumber(std::string_view text, uint32_t& value) {
    uint64_t v = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        for (char c : text.substr(2)) {
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (digit < 0)
                return false;
            v = v * 16 + static_cast<uint64_t>(digit);
            if (v > 0xFFFFFFFFu)
                return false;
        }
        value = static_cast<uint32_t>(v);
        return true;
    }
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty())
        return false;
    const uint64_t limit = negative ? 0x80000000u : 0xFFFFFFFFu;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > limit)
            return false;
    }
    value = static_cast<uint32_t>(negative ? (~v + 1) : v);
    return true;
}

bool IsNumericKey(std::string_view key) {
    for (auto k : kNumericKeys)
        if (k == key)
            return true;
    return false;
}

bool IsListKey(std::string_view key) {
    for (auto k : kListKeys)
        if (k == key)
            return true;
    return false;
}

TimDescription ParseTimText(const std::string& path, std::string_view content) {
    TimDescription description;
    description.path = path;
    if (content.substr(0, 3) == "\xEF\xBB\xBF")
        content.remove_prefix(3);  // UTF-8 mark
    int lineNumber = 0;
    while (!content.empty() || lineNumber == 0) {
        ++lineNumber;
        const size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);  // Windows line ends

        LineReader reader(path, lineNumber);
        for (char c : line)
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
                reader.Fail("control character in line");
        line = Trim(line);
        if (line.empty() || line.front() == '#')
            continue;

        size_t n = 0;
        while (n < line.size() && IsKeyChar(line[n])) ++n;
        std::string_view key = line.substr(0, n);
        std::string_view rest = Trim(line.substr(n));
        if (key.empty() || !IsKeyStart(key.front()) || rest.empty() || rest.front() != '=')
            reader.Fail("expected 'Key = value', found " + Quote(line));
        rest.remove_prefix(1);

        if (IsListKey(key)) {
            description.lists[std::string(key)].push_back(reader.Entry(key, rest));
            continue;
        }
        auto found = description.values.find(key);
        if (found != description.values.end())
            reader.Fail("key '" + std::string(key) + "' repeated (first on line " +
                        std::to_string(found->second.line) + ")");
        TimValue value{reader.Value(rest), lineNumber};
        uint32_t number = 0;
        if (IsNumericKey(key) && !ParseNumber(value.text, number))
            reader.Fail("value of '" + std::string(key) +
                        "' is not a number: " + Quote(value.text));
        description.values.emplace(std::string(key), std::move(value));
    }
    auto name = description.values.find("Name");
    if (name == description.values.end())
        throw TimFileError(path, 0, "no 'Name' key");
    if (name->second.text.empty())
        throw TimFileError(path, name->second.line, "empty 'Name'");
    if (!description.values.count("TimType"))
        throw TimFileError(path, 0, "no 'TimType' key");
    return description;
}

TimDescription ReadTimFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (in)
        content << in.rdbuf();
    if (!in || in.bad())
        throw TimFileError(path, 0, "cannot be read");
    return ParseTimText(path, content.str());
}

}  // namespace qel::timinfo
