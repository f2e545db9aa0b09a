#include "platform/RegFile.h"

#include <algorithm>

#include <cstdio>

namespace qel::platform {

namespace {

constexpr std::string_view kSpace = " \t";

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    const size_t last = s.find_last_not_of(kSpace);
    return s.substr(first, last - first + 1);
}

std::string_view TrimRight(std::string_view s) {
    const size_t last = s.find_last_not_of(kSpace);
    return last == std::string_view::npos ? std::string_view{} : s.substr(0, last + 1);
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && RegNamesEqual(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when the
// byte does not start one.
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t length;
    uint32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

// Bytes that are not UTF-8 travel as the lone surrogates U+DC80..U+DCFF, so
// that any byte string comes back unchanged.
std::vector<uint16_t> ToUtf16(std::string_view s) {
    std::vector<uint16_t> units;
    units.reserve(s.size() + 1);
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        const size_t n = DecodeUtf8(s, i, cp);
        if (n == 0) {
            units.push_back(static_cast<uint16_t>(0xDC00 | static_cast<uint8_t>(s[i])));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<uint16_t>(0xD800 | (cp >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(cp));
        }
        i += n;
    }
    return units;
}

// strict: a lone surrogate fails (whole files); otherwise it is mapped back
// as above, or to U+FFFD, and the text ends at the first zero unit.
std::optional<std::string> FromUtf16(const uint8_t* data, size_t count, bool strict) {
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint16_t unit = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (!strict && unit == 0)
            break;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
            const uint16_t next = static_cast<uint16_t>(data[2 * i + 2] | (data[2 * i + 3] << 8));
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800u) << 10) + (next - 0xDC00u));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            if (strict)
                return std::nullopt;
            if (unit >= 0xDC80 && unit <= 0xDCFF)
                out += static_cast<char>(unit & 0xFF);
            else
                AppendUtf8(out, 0xFFFD);
            continue;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

std::string Escape(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

// Reads a quoted text starting at s[pos] == '"'. "\\" and "\"" are escapes; a
// backslash before anything else stands for itself, as hand-typed Windows
// paths ("C:\Halvern") mean. Returns the position after the closing quote, or
// npos when it is missing.
size_t ReadQuoted(std::string_view s, size_t pos, std::string& out) {
    out.clear();
    for (size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"')
            return i + 1;
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
            continue;
        }
        out += c;
    }
    return std::string_view::npos;
}

bool HasControl(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            return true;
    return false;
}

std::string FormatValue(const RegValue& v) {
    std::string head = v.name.empty() ? std::string("@") : "\"" + Escape(v.name) + "\"";
    head += '=';
    switch (v.form) {
        case RegValue::Form::Text:
            return head + "\"" + Escape(v.text) + "\"\n";
        case RegValue::Form::Dword: {
            char number[16];
            std::snprintf(number, sizeof number, "dword:%08x", v.dword);
            return head + number + "\n";
        }
        case RegValue::Form::Hex:
            break;
    }
    if (v.type == kRegBinary) {
        head += "hex:";
    } else {
        char type[24];
        std::snprintf(type, sizeof type, "hex(%x):", v.type);
        head += type;
    }
    // Wrapped like the registry editor's exports: lines end in ",\" and
    // continue indented by two spaces.
    std::string out;
    std::string line = std::move(head);
    bool lineHasBytes = false;
    for (size_t i = 0; i < v.bytes.size(); ++i) {
        char piece[4];
        std::snprintf(piece, sizeof piece, "%02x", v.bytes[i]);
        std::string text = piece;
        if (i + 1 < v.bytes.size())
            text += ',';
        if (lineHasBytes && line.size() + text.size() > 77) {
            out += line + "\\\n";
            line = "  ";
        }
        line += text;
        lineHasBytes = true;
    }
    return out + line + "\n";
}

struct Parser {
    std::vector<std::string_view> lines;
    RegParseError& error;

    bool Fail(size_t index, std::string reason) {
        error.line = static_cast<int>(index + 1);
        error.reason = std::move(reason);
        return false;
    }

    // Parses the value starting at lines[index]; advances index past its
    // continuation lines.
    bool ParseValue(size_t& index, RegValue& v) {
        const size_t first = index;
        const std::string_view line = Trim(lines[index]);
        size_t pos;
        if (line[0] == '@') {
            v.name.clear();
            pos = 1;
        } else {
            pos = ReadQuoted(line, 0, v.name);
            if (pos == std::string_view::npos)
                return Fail(index, "the value name has no closing quote");
        }
        std::string_view rest = Trim(line.substr(pos));
        if (rest.empty() || rest[0] != '=')
            return Fail(index, "'=' expected after the value name");
        rest = Trim(rest.substr(1));

        if (!rest.empty() && rest[0] == '"') {
            const size_t end = ReadQuoted(rest, 0, v.text);
            if (end == std::string_view::npos)
                return Fail(index, "the text has no closing quote");
            if (!Trim(rest.substr(end)).empty())
                return Fail(index, "text after the closing quote");
            v.form = RegValue::Form::Text;
            v.type = kRegString;
        } else if (StartsWithNoCase(rest, "dword:")) {
            const std::string_view digits = Trim(rest.substr(6));
            if (digits.empty() || digits.size() > 8)
                return Fail(index, "dword: needs one to eight hexadecimal digits");
            uint32_t number = 0;
            for (char c : digits) {
                const int d = HexDigit(c);
                if (d < 0)
                    return Fail(index, "dword: needs one to eight hexadecimal digits");
                number = (number << 4) | static_cast<uint32_t>(d);
            }
            v.form = RegValue::Form::Dword;
            v.type = kRegDword;
            v.dword = number;
        } else if (StartsWithNoCase(rest, "hex")) {
            std::string_view layout = rest.substr(3);
            v.type = kRegBinary;
            if (!layout.empty() && layout[0] == '(') {
                const size_t close = layout.find(')');
                const std::string_view digits =
                    layout.substr(1, close == layout.npos ? 0 : close - 1);
                if (close == layout.npos || digits.empty() || digits.size() > 8)
                    return Fail(index, "hex(type) expected");
                uint32_t type = 0;
                for (char c : digits) {
                    const int d = HexDigit(c);
                    if (d < 0)
                        return Fail(index, "hex(type) expected");
                    type = (type << 4) | static_cast<uint32_t>(d);
                }
                v.type = type;
                layout = layout.substr(close + 1);
            }
            if (layout.empty() || layout[0] != ':')
                return Fail(index, "':' expected after hex");
            std::string list(TrimRight(layout.substr(1)));
            while (!list.empty() && list.back() == '\\') {
                list.pop_back();
                if (++index >= lines.size())
                    return Fail(index - 1, "the value continues past the end of the file");
                list += Trim(lines[index]);
            }
            if (!ParseBytes(list, v.bytes))
                return Fail(first, "malformed hex byte list");
            v.form = RegValue::Form::Hex;
        } else if (rest == "-") {
            return Fail(index, "value deletions (=-) do not belong in a settings hive");
        } else {
            return Fail(index, "unknown value data");
        }
        v.raw.assign(lines.begin() + static_cast<std::ptrdiff_t>(first),
                     lines.begin() + static_cast<std::ptrdiff_t>(index) + 1);
        return true;
    }

    static bool ParseBytes(std::string_view list, std::vector<uint8_t>& bytes) {
        bytes.clear();
        if (Trim(list).empty())
            return true;
        size_t start = 0;
        while (true) {
            const size_t comma = list.find(',', start);
            const std::string_view token =
                Trim(list.substr(start, comma == list.npos ? list.npos : comma - start));
            if (token.empty() || token.size() > 2)
                return false;
            int value = 0;
            for (char c : token) {
                const int d = HexDigit(c);
                if (d < 0)
                    return false;
                value = value * 16 + d;
            }
            bytes.push_back(static_cast<uint8_t>(value));
            if (comma == list.npos)
                return true;
            start = comma + 1;
        }
    }

    bool Run(RegDocument& doc) {
        bool header = false;
        RegKey* current = nullptr;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string_view line = Trim(lines[i]);
            if (line.empty())
                continue;
            if (!header) {
                if (line != kRegHeader)
                    return Fail(i,
                                "the file does not start with \"" + std::string(kRegHeader) + "\"");
                header = true;
                continue;
            }
            if (line[0] == ';') {
                if (current)
                    current->entries.push_back(
                        RegEntry{true, std::string(TrimRight(lines[i])), {}});
                else
                    doc.preamble.emplace_back(TrimRight(lines[i]));
                continue;
            }
            if (line[0] == '[') {
                if (line.back() != ']' || line.size() < 3)
                    return Fail(i, "malformed key line");
                const std::string_view name = line.substr(1, line.size() - 2);
                if (name[0] == '-')
                    return Fail(i, "key deletions ([-...]) do not belong in a settings hive");
                current = doc.FindKey(name);
                if (!current) {
                    doc.keys.push_back(RegKey{std::string(name), {}});
                    current = &doc.keys.back();
                }
                continue;
            }
            if (line[0] == '"' || line[0] == '@') {
                if (!current)
                    return Fail(i, "a value before the first key");
                RegValue v;
                if (!ParseValue(i, v))
                    return false;
                // Imports let a later line win; keep its place and drop the old.
                if (RegValue* old = FindValue(*current, v.name))
                    *old = std::move(v);
                else
                    current->entries.push_back(RegEntry{false, {}, std::move(v)});
                continue;
            }
            return Fail(i, "unexpected text");
        }
        return true;
    }
};

}  // namespace

bool RegNamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

RegKey* RegDocument::FindKey(std::string_view fullName) {
    for (RegKey& key : keys)
        if (RegNamesEqual(key.name, fullName))
            return &key;
    return nullptr;
}

const RegKey* RegDocument::FindKey(std::string_view fullName) const {
    return const_cast<RegDocument*>(this)->FindKey(fullName);
}

RegKey& RegDocument::CreateKey(std::string_view fullName, bool* created) {
    if (created)
        *created = false;
    if (RegKey* key = FindKey(fullName))
        return *key;
    std::vector<std::string_view> parts;
    for (size_t start = 0; start <= fullName.size();) {
        size_t end = fullName.find('\\', start);
        if (end == fullName.npos)
            end = fullName.size();
        if (end > start)
            parts.push_back(fullName.substr(start, end - start));
        start = end + 1;
    }
    if (parts.size() < 2) {
        keys.push_back(RegKey{std::string(fullName), {}});
        if (created)
            *created = true;
        return keys.back();
    }
    std::string name(parts[0]);
    RegKey* key = nullptr;
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string parent = name;
        name += '\\';
        name += parts[i];
        if ((key = FindKey(name))) {
            name = key->name;
            continue;
        }
        // Spell the new part as a deeper key already spells it, if one does.
        const std::string below = name + '\\';
        for (const RegKey& k : keys) {
            if (k.name.size() > below.size() && StartsWithNoCase(k.name, below)) {
                name = k.name.substr(0, name.size());
                break;
            }
        }
        // Ordered as an export orders keys: before the first key below the
        // new one (a hand-written file may lack parents), else at the end of
        // the parent's subtree.
        auto at = keys.end();
        for (auto it = keys.begin(); it != keys.end(); ++it) {
            if (it->name.size() > below.size() && StartsWithNoCase(it->name, below)) {
                at = it;
                break;
            }
            if (RegNamesEqual(it->name, parent) ||
                (it->name.size() > parent.size() && StartsWithNoCase(it->name, parent + '\\')))
                at = it + 1;
        }
        key = &*keys.insert(at, RegKey{name, {}});
        if (created)
            *created = true;
    }
    return *key;
}

const RegValue* FindValue(const RegKey& key, std::string_view name) {
    for (const RegEntry& e : key.entries)
        if (!e.isComment && RegNamesEqual(e.value.name, name))
            return &e.value;
    return nullptr;
}

RegValue* FindValue(RegKey& key, std::string_view name) {
    return const_cast<RegValue*>(FindValue(static_cast<const RegKey&>(key), name));
}

std::optional<RegDocument> ParseRegText(std::string_view bytes, RegParseError& error) {
    std::string converted;
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
        static_cast<uint8_t>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            error = {1, "UTF-16 text with an odd number of bytes"};
            return std::nullopt;
        }
        auto text = FromUtf16(reinterpret_cast<const uint8_t*>(bytes.data()) + 2,
                              (bytes.size() - 2) / 2, true);
        if (!text) {
            error = {1, "malformed UTF-16 text"};
            return std::nullopt;
        }
        converted = std::move(*text);
        bytes = converted;
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    if (const size_t zero = bytes.find('\0'); zero != std::string_view::npos) {
        const auto line = std::count(bytes.begin(), bytes.begin() + static_cast<long>(zero), '\n');
        error = {static_cast<int>(line) + 1, "the file holds zero bytes (not a text file)"};
        return std::nullopt;
    }
    Parser parser{{}, error};
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        if (end == bytes.npos)
            end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        parser.lines.push_back(line);
        start = end + 1;
    }
    RegDocument doc;
    if (!parser.Run(doc))
        return std::nullopt;
    return doc;
}

std::string FormatRegText(const RegDocument& document) {
    std::string out(kRegHeader);
    out += "\n\n";
    for (const std::string& line : document.preamble) out += line + "\n";
    if (!document.preamble.empty())
        out += "\n";
    for (const RegKey& key : document.keys) {
        out += "[" + key.name + "]\n";
        for (const RegEntry& e : key.entries) {
            if (e.isComment) {
                out += e.comment + "\n";
            } else if (!e.value.raw.empty()) {
                for (const std::string& line : e.value.raw) out += line + "\n";
            } else {
                out += FormatValue(e.value);
            }
        }
        out += "\n";
    }
    return out;
}

void SetRegString(RegValue& value, std::string_view text) {
    text = text.substr(0, text.find('\0'));
    value.type = kRegString;
    value.dword = 0;
    value.raw.clear();
    value.bytes.clear();
    value.text.clear();
    if (HasControl(text)) {
        for (uint16_t unit : ToUtf16(text)) {
            value.bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
            value.bytes.push_back(static_cast<uint8_t>(unit >> 8));
        }
        value.bytes.push_back(0);
        value.bytes.push_back(0);
        value.form = RegValue::Form::Hex;
    } else {
        value.text = text;
        value.form = RegValue::Form::Text;
    }
}

void SetRegDword(RegValue& value, uint32_t number) {
    value.type = kRegDword;
    value.raw.clear();
    value.bytes.clear();
    value.text.clear();
    value.dword = number;
    value.form = RegValue::Form::Dword;
}

std::optional<std::string> RegStringOf(const RegValue& value) {
    if (value.type != kRegString)
        return std::nullopt;
    if (value.form == RegValue::Form::Text)
        return value.text;
    if (value.form == RegValue::Form::Hex)
        return FromUtf16(value.bytes.data(), value.bytes.size() / 2, false);
    return std::nullopt;
}

std::optional<uint32_t> RegDwordOf(const RegValue& value) {
    if (value.type != kRegDword)
        return std::nullopt;
    if (value.form == RegValue::Form::Dword)
        return value.dword;
    if (value.form == RegValue::Form::Hex && value.bytes.size() == 4)
        return static_cast<uint32_t>(value.bytes[0] | (value.bytes[1] << 8) |
                                     (value.bytes[2] << 16) |
                                     (static_cast<uint32_t>(value.bytes[3]) << 24));
    return std::nullopt;
}

bool RegNameWritable(std::string_view name) {
    return !HasControl(name);
}

}  // namespace qel::platform
