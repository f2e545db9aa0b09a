#include "programmer/EngineSettings.h"

#include "platform/SettingsHive.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace qel::programmer {

void FillMissingEngineFolders(const std::string& firmwareRoot) {
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
    std::error_code error;
    if (!std::filesystem::is_directory(firmwareRoot, error))
        return;
    auto key =
        SettingsKey::Open(platform::Hive::LocalMachine, kTelmarKey, platform::KeyAccess::ReadWrite);
    if (!key) {
        std::fprintf(stderr,
                     "qel-flash: the engine's folder settings are missing and the settings "
                     "in %s cannot be written\n",
                     platform::RegistryFolder().c_str());
        return;
    }
    std::string names;
    for (const FolderSetting* s : missing) {
        const std::string folder = firmwareRoot + "/" + s->folder;
        if (key->SetString(s->value, folder) != SettingsKey::kDone) {
            std::fprintf(stderr, "qel-flash: cannot store %s in %s\n", s->value,
                         key->FilePath().c_str());
            return;
        }
        names += (names.empty() ? "" : ", ") + std::string(s->value);
    }
    std::fprintf(stderr, "qel-flash: %s not set; using the firmware folders in %s (stored in %s)\n",
                 names.c_str(), firmwareRoot.c_str(), key->FilePath().c_str());
}

}  // namespace qel::programmer
