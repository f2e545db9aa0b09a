#include "platform/TempFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace qel::platform {

namespace {

namespace fs = std::filesystem;

// Makes every folder writable before emptying it, so that a folder whose
// write permission was taken away is removed too.
void RemoveTree(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error)
        return;
    if (fs::is_directory(status)) {
        chmod(path.c_str(), S_IRWXU);
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            RemoveTree(it->path());
    }
    fs::remove(path, error);
}

struct Folder {
    std::string path;
    pid_t owner;
};

Folder* g_folder = nullptr;

// A forked child shares the parent's folder and must leave it alone.
void RemoveAtExit() {
    if (g_folder && getpid() == g_folder->owner)
        RemoveTree(g_folder->path);
}

Folder* MakeFolder() {
    std::string base = "/tmp";
    if (const char* env = std::getenv("TMPDIR"); env && env[0] == '/') {
        struct stat st {};
        if (stat(env, &st) == 0 && S_ISDIR(st.st_mode))
            base = env;
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string pattern = (base == "/" ? "" : base) + "/qel4410-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("cannot create a private temporary folder in " + base + ": " +
                                 std::strerror(errno));
    chmod(name.data(), S_IRWXU);  // 0700 whatever the umask
    // Never freed: the path must stay valid for code that runs during exit.
    g_folder = new Folder{name.data(), getpid()};
    std::atexit(RemoveAtExit);
    return g_folder;
}

}  // namespace

const std::string& PrivateTempFolder() {
    static Folder* const folder = MakeFolder();
    return folder->path;
}

std::string PrivateTempPath(const std::string& fileName) {
    if (fileName.empty() || fileName == "." || fileName == ".." ||
        fileName.find('/') != std::string::npos)
        throw std::invalid_argument("not a plain file name: \"" + fileName + "\"");
    return PrivateTempFolder() + "/" + fileName;
}

}  // namespace qel::platform
