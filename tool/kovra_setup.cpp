// kovra-setup: the settings an installer writes for the programming tool.
// The tool never writes its "Help" value; this program does, pointing it at
// the manual, and fills the engine's three folder values that are missing
// with the firmware folders beside it. Run once after building or installing.
//
//   kovra-setup [HELPFILE]
#include "RegEdit.h"
#include "platform/DynamicLibrary.h"
#include "platform/SettingsHive.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::string DefaultManual(const std::string& folder) {
    namespace fs = std::filesystem;
    for (const std::string& candidate :
         {folder + "/help/Kovra.html", folder + "/../share/doc/kovra/Kovra.html"}) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error))
            return fs::weakly_canonical(candidate, error).string();
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: kovra-setup [HELPFILE]\n");
        return 2;
    }
    const std::string folder = qel::platform::DynamicLibrary::ExecutableFolder();
    const std::string manual = argc == 2 ? std::string(argv[1]) : DefaultManual(folder);
    if (manual.empty()) {
        std::fprintf(stderr, "kovra-setup: no manual found beside %s; name it\n", folder.c_str());
        return 1;
    }
    CRegEdit settings("SOFTWARE\\Halvern\\QEL4410", "Kovra");
    if (settings.SetString("Help", manual) != CRegEdit::Done) {
        std::fprintf(stderr, "kovra-setup: cannot write the settings in %s\n",
                     qel::platform::RegistryFolder().c_str());
        return 1;
    }
    std::printf("Help = %s\n", manual.c_str());

    const std::string firmware = folder + "/firmware";
    std::error_code error;
    if (!std::filesystem::is_directory(firmware, error))
        return 0;
    auto engine = qel::platform::SettingsKey::Open(qel::platform::Hive::LocalMachine,
                                                   "SOFTWARE\\Halvern\\QEL4410\\Telmar",
                                                   qel::platform::KeyAccess::ReadWrite);
    if (!engine)
        return 0;
    const char* const values[3][2] = {{"BootloaderPath", "bootloaders"},
                                      {"BitstreamPath", "bitstreams"},
                                      {"FprogPath", "programmers"}};
    for (const auto& value : values) {
        std::string existing;
        if (engine->GetString(value[0], existing) == qel::platform::SettingsKey::kDone)
            continue;
        const std::string path = firmware + "/" + value[1];
        if (engine->SetString(value[0], path) == qel::platform::SettingsKey::kDone)
            std::printf("%s = %s\n", value[0], path.c_str());
    }
    return 0;
}
