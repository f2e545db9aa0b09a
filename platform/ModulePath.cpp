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

}  // namespace qel::platform
