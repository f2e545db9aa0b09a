#include "builder/GorlinModel.h"

#include "QelTimInfo.h"
#include "platform/FileExtension.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>

bool CGorlinModel::IsListedTimType(int timType) {
    return (timType & 7) == 1;
}

int CGorlinModel::LeadingNumber(std::string_view text, int fallback) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        // Past INT_MAX the value only saturates; keep reading the digits.
        if (value <= INT_MAX)
            value = value * 10 + (text[i] - '0');
    }
    if (digits == 0)
        return fallback;
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

uint32_t CGorlinModel::VersionFromEdits(std::string_view major, std::string_view minor) {
    int high = LeadingNumber(major, 1);
    const int low = LeadingNumber(minor, 0);
    if (high == 0 && low == 0)
        high = 1;  // version 0.0 is not a version
    return (static_cast<uint32_t>(high) & 0xFFFF) << 16 | (static_cast<uint32_t>(low) & 0xFFFF);
}

std::string CGorlinModel::GenerateName(std::string_view input, std::string_view device,
                                       uint32_t version) {
    if (input.empty())
        return {};
    // Cut at the first point of the file name: a point in a folder name
    // ("/home/j.smith/", "v1.2/", "../") belongs to the folder.
    const size_t nameStart = input.find_last_of("/\\") + 1;  // 0 without a folder
    const std::string_view base = input.substr(0, input.find('.', nameStart));
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, "v%up%u.sbf", static_cast<unsigned>(version >> 16),
                  static_cast<unsigned>(version & 0xFFFF));
    std::string name(base);
    name += '_';
    name += device;
    name += numbers;
    return name;
}

std::string CGorlinModel::DeviceNameFromInfo(std::string_view info) {
    size_t begin = info.find('\n');
    if (begin == std::string_view::npos)
        return {};
    ++begin;
    while (begin < info.size() &&
           (info[begin] == '\n' || info[begin] == '\r' || info[begin] == ' '))
        ++begin;
    size_t end = info.find('\r', begin);
    if (end == std::string_view::npos)
        end = info.size();
    std::string_view line = info.substr(begin, end - begin);
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    while (!line.empty() && isDigit(line.back())) line.remove_suffix(1);   // speed / pin count
    while (!line.empty() && isLetter(line.back())) line.remove_suffix(1);  // package
    return std::string(line);
}

bool CGorlinModel::IsDatInput(std::string_view input) {
    return qel::platform::HasExtension(input, ".dat");
}

void CGorlinModel::LoadTargets(const CQelTimInfo& database) {
    targets_.clear();
    const uint32_t count = database.Count();
    for (uint32_t i = 0; i < count; ++i) {
        const CQelTimRecord* record = database.At(i);
        if (!record)
            continue;
        int timType = 0;
        try {
            timType = record->GetInt("TimType", 0);
        } catch (const TimExc&) {
            continue;  // a description without a type cannot be a target
        }
        if (!IsListedTimType(timType))
            continue;
        const char* name = record->Name();
        targets_.insert(targets_.begin(),
                        GorlinTarget{name ? name : "", static_cast<uint32_t>(timType), record});
    }
}

std::vector<size_t> CGorlinModel::DisplayOrder() const {
    std::vector<size_t> order(targets_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = order.size() - 1 - i;
    return order;
}

void CGorlinModel::SetChecked(size_t index, bool checked) {
    if (index < targets_.size())
        targets_[index].checked = checked;
}

void CGorlinModel::UncheckAll() {
    for (GorlinTarget& target : targets_) target.checked = false;
}

void CGorlinModel::CheckTypes(const std::vector<uint32_t>& timTypes) {
    for (GorlinTarget& target : targets_)
        target.checked =
            std::find(timTypes.begin(), timTypes.end(), target.timType) != timTypes.end();
}

std::vector<uint32_t> CGorlinModel::CheckedTypes() const {
    std::vector<uint32_t> types;
    for (const GorlinTarget& target : targets_)
        if (target.checked)
            types.push_back(target.timType);
    return types;
}

void CGorlinModel::InputChanged(const std::string& input) {
    datMode_ = IsDatInput(input);
    if (datMode_)
        return;
    if (sbf_.OpenBitFile(input.c_str()) == SBF_OK)
        deviceName_ = DeviceNameFromInfo(sbf_.ReadBitHeaderInfo());
}

std::optional<SbfDescriptor> CGorlinModel::ReadSbfToShow(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    SbfDescriptor descriptor;
    uint32_t formatWord = 0;
    if (sbf_.ReadSbf(path.c_str(), &descriptor, &formatWord) != SBF_OK)
        return std::nullopt;
    CheckTypes(descriptor.timTypes);
    return descriptor;
}

void CGorlinModel::RememberShown(std::string sourcePath, std::string sbfPath) {
    shownSource_ = std::move(sourcePath);
    shownSbf_ = std::move(sbfPath);
}

bool CGorlinModel::InfoIsStale(std::string_view input, std::string_view file) const {
    return input != shownSource_ || file != shownSbf_;
}

GorlinBuildRequest CGorlinModel::MakeBuildRequest(const std::string& input,
                                                  const std::string& output, std::string_view major,
                                                  std::string_view minor,
                                                  const std::string& comment) const {
    GorlinBuildRequest request;
    request.fromDat = datMode_;
    request.input = input;
    request.output = output;
    request.timTypes = CheckedTypes();
    if (!datMode_) {
        request.version = VersionFromEdits(major, minor);
        request.comment = comment;
    }
    return request;
}

int CGorlinModel::Build(const GorlinBuildRequest& request) {
    if (request.fromDat)
        return sbf_.BuildFromDat(request.input.c_str(), request.output.c_str(), request.timTypes);
    return sbf_.BuildFromBit(request.input.c_str(), request.output.c_str(), request.version,
                             request.timTypes, request.comment);
}
