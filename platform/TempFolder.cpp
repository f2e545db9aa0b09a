#include "platform/TempFolder.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// A folder names its process in kOwnerFile: the process id and its start
// time (so that a reused process id is not taken for the owner).
constexpr const char* kOwnerFile = ".owner";
constexpr const char* kFolderPrefix = "qel4410-";
// Folders of older builds carry no owner file; a day untouched makes them
// debris.
constexpr std::time_t kUnmarkedAge = 24 * 60 * 60;

// Field 22 of /proc/PID/stat; empty when the process does not exist.
std::string ProcessStartTime(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text))
        return {};
    // The command name (field 2) is in parentheses and may hold spaces.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return {};
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22)
            return field;
    }
    return {};
}

// True also for a marker that does not read as one: the age rule decides.
bool OwnerAlive(const std::string& marker, bool& readable) {
    std::istringstream in(marker);
    long pid = 0;
    std::string started;
    readable = static_cast<bool>(in >> pid >> started) && pid > 0;
    if (!readable)
        return true;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return false;
    const std::string now = ProcessStartTime(static_cast<pid_t>(pid));
    // Without /proc the process id is all there is to go by.
    return now.empty() ? true : now == started;
}

// Removes the private folders of this user's processes that no longer run.
void RemoveAbandoned(const std::string& base) {
    std::error_code error;
    for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kFolderPrefix, 0) != 0 || name.size() != std::strlen(kFolderPrefix) + 6)
            continue;
        struct stat st {};
        if (lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
            continue;
        std::ifstream in(it->path() / kOwnerFile);
        std::stringstream marker;
        marker << in.rdbuf();
        bool readable = false;
        if (in.is_open() && OwnerAlive(marker.str(), readable) && readable)
            continue;
        if (!readable && std::time(nullptr) - st.st_mtime < kUnmarkedAge)
            continue;  // being made right now, or of a build without owner files
        RemoveTree(it->path());
    }
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
    // Written aside and renamed, so that no one reads half a marker.
    const std::string marker = std::string(name.data()) + "/" + kOwnerFile;
    std::ofstream(marker + ".new") << getpid() << ' ' << ProcessStartTime(getpid()) << '\n';
    std::rename((marker + ".new").c_str(), marker.c_str());
    RemoveAbandoned(base == "/" ? "/" : base);
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
