#include "platform/ModulePath.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace qel::platform {

std::string ModuleFolder(const void* addressInModule) {
    Dl_info info{};
    if (!addressInModule || dladdr(addressInModule, &info) == 0 || !info.dli_fname ||
        !*info.dli_fname)
        return {};
    std::error_code error;
    std::filesystem::path file = std::filesystem::weakly_canonical(info.dli_fname, error);
    if (error)
        file = std::filesystem::absolute(info.dli_fname, error);
    if (error)
        return {};
    return file.parent_path().string();
}

std::vector<std::string> FirmwareRoots(const std::string& programFolder) {
    std::vector<std::string> roots{programFolder + "/firmware"};
    std::error_code error;
    const std::filesystem::path share =
        std::filesystem::weakly_canonical(programFolder + "/../share/qel4410", error);
    roots.push_back(error ? programFolder + "/../share/qel4410" : share.string());
    return roots;
}

}  // namespace qel::platform
