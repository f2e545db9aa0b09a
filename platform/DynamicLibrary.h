// A shared library bound at run time by its Windows-style name
// ("Telmar.dll" -> libTelmar.so), searched first beside the running
// executable, then by the dynamic linker's own rules.
#pragma once

#include <string>

namespace qel::platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    explicit DynamicLibrary(const std::string& name) { Load(name); }
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // True when loaded; a second call unloads the first library.
    bool Load(const std::string& name);
    void Unload();
    bool IsLoaded() const { return handle_ != nullptr; }
    // Null when the library does not export the name.
    void* Symbol(const char* name) const;
    // The dynamic linker's text for the last failure.
    const std::string& LastError() const { return error_; }

    // "Telmar.dll" -> "libTelmar.so"; names that already look like a shared
    // object or a path are kept.
    static std::string MapName(const std::string& name);
    // Folder of the running executable, without a trailing slash.
    static std::string ExecutableFolder();

  private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace qel::platform
