#include "tool/TargRules.h"

#include "platform/FileTime.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kMinimumVersionLimit = 5;
constexpr size_t kCommentField = 512;
constexpr size_t kFileNameOffset = kCommentField;
constexpr size_t kFileNameField = FPGA_RECORD_SIZE - kFileNameOffset;

int Lower(char c) {
    return std::tolower(static_cast<unsigned char>(c));
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i]))
            return false;
    return true;
}

std::string Field(const uint8_t* at, size_t size) {
    const char* text = reinterpret_cast<const char*>(at);
    return std::string(text, strnlen(text, size));
}

std::string VersionText(uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "Version %u.%02u", version >> 16, version & 0xFFFF);
    return text;
}

}  // namespace

bool IsListedTim(const CQelTimRecord& tim) {
    int type = 0;
    try {
        type = tim.GetInt("TimType", 0);
    } catch (const TimExc&) {
        return false;  // not a TIM type the list could select
    }
    try {
        const auto limit = static_cast<uint32_t>(tim.GetInt("Max_4410_ver", 0));
        if (limit < kMinimumVersionLimit)
            return false;
    } catch (const TimExc&) {
        // Without a limit the type alone decides.
    }
    return (static_cast<uint32_t>(type) & 7u) == 1u;
}

std::vector<TimTypeEntry> TimTypeEntries(const CQelTimInfo* database) {
    std::vector<TimTypeEntry> entries;
    for (uint32_t i = 0; database && i < database->Count(); ++i) {
        const CQelTimRecord* tim = database->At(i);
        if (tim && IsListedTim(*tim))
            entries.push_back({tim->Name() ? tim->Name() : "", tim});
    }
    entries.push_back({kNoTimTypeSelected, nullptr});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TimTypeEntry& a, const TimTypeEntry& b) {
                         return LessIgnoringCase(a.text, b.text);
                     });
    return entries;
}

int FindTimEntry(const std::vector<std::string>& entries, const std::string& name) {
    if (name.empty())
        return -1;
    const size_t count = entries.size();
    for (size_t step = 1; step <= count; ++step) {
        const size_t i = step % count;
        if (StartsWithIgnoringCase(entries[i], name))
            return static_cast<int>(i);
    }
    return -1;
}

uint64_t WriteTimeOf(const BlockHeader& header) {
    return uint64_t{header.writeTimeHigh} << 32 | header.writeTimeLow;
}

std::string FormatProgrammed(uint64_t fileTime) {
    const qel::platform::LocalTime t = qel::platform::FileTimeToLocal(fileTime);
    char text[64];
    std::snprintf(text, sizeof text, "on %02d/%02d/%04d at %02d:%02d", t.day, t.month, t.year,
                  t.hour, t.minute);
    return text;
}

StatusBox BootLoaderBox(const BlockHeader& header, const std::string& name, bool changed) {
    StatusBox box;
    if (header.version == 0)
        return box;
    box.iconShown = true;
    box.iconState = changed ? 1 : 0;
    std::string trimmed = name;
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back())))
        trimmed.pop_back();
    box.text = VersionText(header.version) + " (" + trimmed + ")";
    if (const uint64_t written = WriteTimeOf(header))
        box.text += " programmed " + FormatProgrammed(written);
    return box;
}

std::string FpgaFileName(const uint8_t* record) {
    return Field(record + kFileNameOffset, kFileNameField);
}

std::string FpgaComment(const uint8_t* record) {
    return Field(record, kCommentField);
}

StatusBox BitstreamBox(const BlockHeader& header, const uint8_t* record, bool changed) {
    StatusBox box;
    if (header.version == 0)
        return box;
    box.iconShown = true;
    box.iconState = changed ? 1 : 0;
    box.text = VersionText(header.version) + "\r\n";
    const std::string file = FpgaFileName(record);
    if (!file.empty())
        box.text += file + "\r\n";
    if (const uint64_t written = WriteTimeOf(header))
        box.text += "Programmed " + FormatProgrammed(written) + "\r\n\r\n";
    const std::string comment = FpgaComment(record);
    if (!comment.empty())
        box.text += "Notes: " + comment;
    return box;
}

std::string BitstreamBrowseStart(const std::string& fileName, const std::string& bitstreamFolder) {
    // The names the engine keeps are this system's paths; names written on
    // the other platform use backslashes. Either separator cuts.
    const size_t dot = fileName.rfind('.');
    std::string start = dot == std::string::npos ? std::string() : fileName.substr(0, dot);
    const size_t slash = start.find_last_of("\\/");
    start = slash == std::string::npos ? std::string() : start.substr(0, slash);
    return start.empty() ? bitstreamFolder : start;
}
