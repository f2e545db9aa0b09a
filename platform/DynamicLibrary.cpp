#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <filesystem>
#include <string_view>

namespace qel::platform {

DynamicLibrary::~DynamicLibrary() {
    Unload();
}

std::string DynamicLibrary::MapName(const std::string& name) {
    const std::string_view view = name;
    // "libx.so", "libx.so.6": already a shared object name.
    if (view.find('/') != view.npos || view.ends_with(".so") || view.find(".so.") != view.npos)
        return name;
    std::string base = name;
    const std::string dll = ".dll";
    if (base.size() > dll.size()) {
        std::string tail = base.substr(base.size() - dll.size());
        for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == dll)
            base.resize(base.size() - dll.size());
    }
    return "lib" + base + ".so";
}

std::string DynamicLibrary::ExecutableFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    return std::filesystem::path(path).parent_path().string();
}

bool DynamicLibrary::Load(const std::string& name) {
    Unload();
    error_.clear();
    const std::string file = MapName(name);
    std::string besideError;
    if (file.find('/') == std::string::npos) {
        const std::string beside = ExecutableFolder() + "/" + file;
        if (access(beside.c_str(), F_OK) == 0) {
            handle_ = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
            // The copy beside the program was meant; its failure (a missing
            // dependency, say) is the one worth telling.
            if (!handle_) {
                const char* text = dlerror();
                besideError = text ? text : "cannot load " + beside;
            }
        }
    }
    if (!handle_)
        handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* text = dlerror();
        error_ = !besideError.empty() ? besideError : text ? text : "cannot load " + file;
    }
    return handle_ != nullptr;
}

void DynamicLibrary::Unload() {
    if (handle_)
        dlclose(handle_);
    handle_ = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!handle_ || !name)
        return nullptr;
    return dlsym(handle_, name);
}

}  // namespace qel::platform
