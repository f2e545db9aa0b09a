#include "programmer/EngineSettings.h"

#include "platform/SettingsHive.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace qel::programmer {

void FillMissingEngineFolders(const std::vector<std::string>& firmwareRoots, bool tell) {
    using platform::SettingsKey;
    std::vector<const FolderSetting*> missing;
    {
        auto key =
            SettingsKey::Open(platform::Hive::LocalMachine, kTelmarKey, platform::KeyAccess::Read);
        for (const FolderSetting& s : kFolderSettings) {
            std::string value;
            if (!key || key->GetString(s.value, value) != SettingsKey::kDone)
                missing.push_back(&s);
        }
    }
    if (missing.empty())
        return;
    std::string names;
    for (const FolderSetting* s : missing)
        names += (names.empty() ? "" : ", ") + std::string(s->value);
    std::string firmwareRoot;
    for (const std::string& root : firmwareRoots) {
        bool complete = true;
        std::error_code error;
        for (const FolderSetting* s : missing)
            complete = complete && std::filesystem::is_directory(root + "/" + s->folder, error);
        if (complete) {
            firmwareRoot = root;
            break;
        }
    }
    if (firmwareRoot.empty()) {
        std::string looked;
        for (const std::string& root : firmwareRoots) looked += "\n  " + root;
        std::fprintf(stderr,
                     "qel-flash: %s not set in %s, and no firmware folders (bootloaders, "
                     "bitstreams, programmers) were found in:%s\n",
                     names.c_str(), platform::RegistryFolder().c_str(), looked.c_str());
        return;
    }
    auto key =
        SettingsKey::Open(platform::Hive::LocalMachine, kTelmarKey, platform::KeyAccess::ReadWrite);
    if (!key) {
        std::fprintf(stderr,
                     "qel-flash: the engine's folder settings are missing and the settings "
                     "in %s cannot be written: %s\n",
                     platform::RegistryFolder().c_str(),
                     platform::HiveWriteProblem(platform::Hive::LocalMachine).c_str());
        return;
    }
    for (const FolderSetting* s : missing) {
        const std::string folder = firmwareRoot + "/" + s->folder;
        if (key->SetString(s->value, folder) != SettingsKey::kDone) {
            std::fprintf(stderr, "qel-flash: cannot store %s in %s: %s\n", s->value,
                         key->FilePath().c_str(),
                         platform::HiveWriteProblem(platform::Hive::LocalMachine).c_str());
            return;
        }
    }
    if (tell)
        std::fprintf(stderr,
                     "qel-flash: %s not set; using the firmware folders in %s (stored in %s)\n",
                     names.c_str(), firmwareRoot.c_str(), key->FilePath().c_str());
}

}  // namespace qel::programmer
