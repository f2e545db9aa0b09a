#include "timinfo/TimDatabase.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qel::timinfo {

namespace {

// TimExc keeps 127 characters: long keys and names are cut so the message
// still says which TIM it is about.
template <typename Exc>
[[noreturn]] void Throw(const char* what, const char* key, const char* tail,
                        const std::string& name) {
    std::string text = std::string(what) + " '" + std::string(key ? key : "(null)").substr(0, 50) +
                       "' " + tail + " '" + name.substr(0, 40) + "'";
    throw Exc(text.c_str());
}

}  // namespace

CTimRecord::CTimRecord(TimDescription description) : description_(std::move(description)) {
    // Both keys are guaranteed by the parser.
    name_ = &description_.values.at("Name").text;
    ParseNumber(description_.values.at("TimType").text, code_);
}

const char* CTimRecord::Name() const {
    return name_->c_str();
}

uint32_t CTimRecord::Code() const {
    return code_;
}

int CTimRecord::GetEntry(const char* section, TIMRec* out, int index) const {
    if (!section || !out || index < 0)
        return 1;
    auto list = description_.lists.find(std::string_view(section));
    if (list == description_.lists.end() || static_cast<size_t>(index) >= list->second.size())
        return 1;
    const TimEntry& entry = list->second[static_cast<size_t>(index)];
    for (int i = 0; i < 3; ++i) {
        out->number[i] = entry.number[i];
        // The parser keeps entry strings below the record's size.
        const std::string& text = entry.text[i];
        std::fill(std::begin(out->text[i]), std::end(out->text[i]), '\0');
        std::copy_n(text.begin(), std::min(text.size(), sizeof(out->text[i]) - 1), out->text[i]);
    }
    return 0;
}

int CTimRecord::GetInt(const char* key, int /*n*/) const {
    auto value = key ? description_.values.find(std::string_view(key)) : description_.values.end();
    if (value == description_.values.end())
        Throw<except_int_not_found>("Integer value", key, "not found in TIM", *name_);
    uint32_t number = 0;
    if (!ParseNumber(value->second.text, number))
        Throw<TimExc>("Value of", key, "is not a number in TIM", *name_);
    return static_cast<int>(number);
}

const char* CTimRecord::GetString(const char* key, const char* /*unused*/) const {
    auto value = key ? description_.values.find(std::string_view(key)) : description_.values.end();
    if (value == description_.values.end())
        Throw<except_str_not_found>("String value", key, "not found in TIM", *name_);
    return value->second.text.c_str();
}

CTimDatabase::CTimDatabase(const std::string& folder) : folder_(folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_directory(folder_, error))
        throw TimFileError(folder_, 0, "is not a folder");
    std::vector<std::string> files;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->path().extension() == ".tim" && it->is_regular_file(typeError))
            files.push_back(it->path().string());
    }
    if (error)
        throw TimFileError(folder_, 0, "cannot be listed: " + error.message());
    if (files.empty())
        throw TimFileError(folder_, 0, "holds no TIM description (*.tim)");
    std::sort(files.begin(), files.end());

    for (const std::string& file : files) {
        auto record = std::make_unique<CTimRecord>(ReadTimFile(file));
        const TimDescription& d = record->Description();
        auto clash = [&](const char* key, const CTimRecord* other) {
            const TimValue& first = other->Description().values.at(key);
            throw TimFileError(file, d.values.at(key).line,
                               std::string(key) + " '" + d.values.at(key).text + "' also in " +
                                   other->Description().path + ":" + std::to_string(first.line));
        };
        if (auto same = byName_.find(std::string_view(record->Name())); same != byName_.end())
            clash("Name", same->second);
        if (auto same = byCode_.find(record->Code()); same != byCode_.end())
            clash("TimType", same->second);
        byName_.emplace(record->Name(), record.get());
        byCode_.emplace(record->Code(), record.get());
        records_.push_back(std::move(record));
    }
}

const char* CTimDatabase::Version() const {
    return "1.0";
}

uint32_t CTimDatabase::Count() const {
    return static_cast<uint32_t>(records_.size());
}

CQelTimRecord* CTimDatabase::FindByName(const char* name) const {
    if (!name)
        return nullptr;
    auto found = byName_.find(std::string_view(name));
    return found == byName_.end() ? nullptr : found->second;
}

CQelTimRecord* CTimDatabase::At(uint32_t index) const {
    return index < records_.size() ? records_[index].get() : nullptr;
}

const char* CTimDatabase::DataFolder() const {
    return folder_.c_str();
}

const char* CTimDatabase::NameOf(uint32_t code) const {
    const CQelTimRecord* record = Find(code);
    return record ? record->Name() : "Unknown TIM type";
}

CQelTimRecord* CTimDatabase::Find(uint32_t code) const {
    auto found = byCode_.find(code);
    return found == byCode_.end() ? nullptr : found->second;
}

}  // namespace qel::timinfo
