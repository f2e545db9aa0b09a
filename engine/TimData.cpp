#include "engine/TimData.h"

#include "engine/Exc.h"
#include "engine/formats/SBFManage.h"
#include "platform/FileExtension.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {
constexpr const char* kSource = "Flash";
}

int GetTimInt(const char* key, const CQelTimRecord* record) {
    if (!record)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    try {
        return record->GetInt(key, 0);
    } catch (const except_int_not_found&) {
        QEL_RAISE_FORMAT(ERR_TIM_VALUE_NOT_FOUND, kSource,
                         "Could not find integer value '%s' in TIM file", key);
    }
}

std::string GetTimString(const char* key, const CQelTimRecord* record) {
    if (!record)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    try {
        const char* text = record->GetString(key, nullptr);
        return text ? text : "";
    } catch (const except_str_not_found&) {
        QEL_RAISE_FORMAT(ERR_TIM_VALUE_NOT_FOUND, kSource,
                         "Could not find string value '%s' in TIM file", key);
    }
}

std::string JoinPath(const std::string& folder, const std::string& file) {
    if (folder.empty())
        return file;
    if (folder.back() == '/')
        return folder + file;
    return folder + "/" + file;
}

std::string FindBitstream(const std::string& folder, uint32_t timType) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (qel::platform::HasExtension(entry.path().string(), ".sbf"))
            files.push_back(entry.path().string());
    }
    if (files.empty())
        QEL_RAISE(ERR_NO_SUITABLE_SBF, kSource);
    // The listing order of a folder is the file system's; sort for a result
    // that does not depend on it.
    std::sort(files.begin(), files.end());

    std::string best;
    std::string candidate32;
    uint32_t bestVersion = 0;
    for (const std::string& file : files) {
        CSBFManage stack;
        SbfDescriptor description;
        uint32_t formatWord = 0;
        if (stack.ReadSbf(file.c_str(), &description, &formatWord) != SBF_OK)
            continue;
        for (uint32_t type : description.timTypes) {
            if (type != timType)
                continue;
            if (description.version > bestVersion) {
                bestVersion = description.version;
                best = file;
            }
            if (file.find("_32_") != std::string::npos)
                candidate32 = file;
        }
    }
    if (!best.empty() && best.find("_16_") != std::string::npos && !candidate32.empty()) {
        best = candidate32;
    }
    if (best.empty())
        QEL_RAISE(ERR_NO_SUITABLE_SBF, kSource);
    return best;
}
