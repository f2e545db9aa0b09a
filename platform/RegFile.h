// The text of one settings hive in the registry editor's export format
// ("Windows Registry Editor Version 5.00"), so that an administrator can read,
// edit, export and import it with the usual tools.
//
// Lines are kept as read: a value that is not changed is written back exactly
// as it stood (value types this code does not interpret included), and so are
// comments. Only changed or new values are formatted afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qel::platform {

// Registry value types by their numbers.
enum RegType : uint32_t {
    kRegNone = 0,
    kRegString = 1,
    kRegExpandString = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegDwordBigEndian = 5,
    kRegMultiString = 7,
    kRegQword = 11,
};

struct RegValue {
    std::string name;  // "" is the default value ("@")
    uint32_t type = kRegString;
    // The text for plain strings ("Name"="text"), the raw bytes for every hex
    // form (hex(1) strings included, as UTF-16LE), the number for dword:.
    std::string text;
    std::vector<uint8_t> bytes;
    uint32_t dword = 0;
    enum class Form { Text, Dword, Hex } form = Form::Text;
    // The physical lines as read; empty once the value was changed.
    std::vector<std::string> raw;
};

struct RegEntry {
    // A comment line when isComment, a value otherwise.
    bool isComment = false;
    std::string comment;
    RegValue value;
};

struct RegKey {
    std::string name;  // full name, "HKEY_LOCAL_MACHINE\SOFTWARE\..."
    std::vector<RegEntry> entries;
};

struct RegDocument {
    std::vector<std::string> preamble;  // comments before the first key
    std::vector<RegKey> keys;

    // Case-insensitive lookups (ASCII letters), as the registry compares names.
    RegKey* FindKey(std::string_view fullName);
    const RegKey* FindKey(std::string_view fullName) const;
    // Creates the key and its missing parents below the root, keeping the
    // spelling of the parts that exist. Returns the key.
    RegKey& CreateKey(std::string_view fullName, bool* created = nullptr);
};

const RegValue* FindValue(const RegKey& key, std::string_view name);
RegValue* FindValue(RegKey& key, std::string_view name);

struct RegParseError {
    int line = 0;  // 1-based
    std::string reason;
};

// The header line every hive file starts with.
inline constexpr std::string_view kRegHeader = "Windows Registry Editor Version 5.00";

// Parses a hive file's bytes (UTF-8, or UTF-16LE with its byte order mark as
// the registry editor exports). An empty file is an empty hive.
std::optional<RegDocument> ParseRegText(std::string_view bytes, RegParseError& error);
// The file text (UTF-8, "\n" line ends).
std::string FormatRegText(const RegDocument& document);

// Names compare like registry names: letters without regard to case.
bool RegNamesEqual(std::string_view a, std::string_view b);

// Value setters that drop the raw lines so the value is formatted afresh.
// Text is stored up to its first zero; text the line format cannot carry
// (control characters) is stored as hex(1), still a string value.
void SetRegString(RegValue& value, std::string_view text);
void SetRegDword(RegValue& value, uint32_t number);

// The string of a value of type 1 (plain or hex(1)); nullopt for other types.
std::optional<std::string> RegStringOf(const RegValue& value);
// The number of a value of type 4 (dword: or four bytes of hex(4)).
std::optional<uint32_t> RegDwordOf(const RegValue& value);

// True when the name can be written in a value line (no control characters).
bool RegNameWritable(std::string_view name);

}  // namespace qel::platform
