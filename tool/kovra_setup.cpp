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

constexpr const char* kUsage =
    "usage: kovra-setup [HELPFILE]\n"
    "Records the programming tool's manual (HELPFILE, else the one beside this\n"
    "program or in its installation) as the \"Help\" value under\n"
    "SOFTWARE\\Halvern\\QEL4410\\Kovra, and fills the engine's missing\n"
    "BootloaderPath, BitstreamPath and FprogPath with the firmware folders beside it.\n"
    "\n"
    "Environment: QEL4410_REGISTRY, the settings folder.\n";

int main(int argc, char** argv) {
    const std::string argument = argc == 2 ? argv[1] : "";
    if (argument == "--help" || argument == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argument == "--version" || argument == "-V") {
        std::printf("kovra-setup %s\n", QEL_VERSION);
        return 0;
    }
    // An option it does not know is not a manual's name.
    if (argc > 2 || argument.starts_with("-")) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string folder = qel::platform::DynamicLibrary::ExecutableFolder();
    const std::string manual = argc == 2 ? argument : DefaultManual(folder);
    if (manual.empty()) {
        std::fprintf(stderr, "kovra-setup: no manual found beside %s; name it\n", folder.c_str());
        return 1;
    }
    std::error_code missing;
    if (!std::filesystem::is_regular_file(manual, missing)) {
        std::fprintf(stderr, "kovra-setup: %s is not a file\n", manual.c_str());
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
