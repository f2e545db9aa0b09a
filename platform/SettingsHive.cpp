#include "platform/SettingsHive.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/RegFile.h"

namespace qel::platform {

namespace {

std::string ParentFolder(const std::string& file) {
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

// A hive kept elsewhere behind a symbolic link is written where it lives,
// so the link survives the rename.
std::string ResolveLink(const std::string& file) {
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return file;
    char resolved[PATH_MAX];
    if (realpath(file.c_str(), resolved) == nullptr)
        return file;
    return resolved;
}

void ReportOnce(const std::string& file, const std::string& problem) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!reported.insert(file).second)
            return;
    }
    // One write, so that reports of parallel threads do not interleave.
    const std::string text = "qel4410: settings hive " + file + ": " + problem +
                             "; the file is left unchanged and its settings are read-only.\n";
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

enum class LoadResult { Loaded, Missing, Unusable };

// A fresh read of the hive; Missing leaves an empty document.
LoadResult Load(const std::string& file, RegDocument& doc) {
    doc = RegDocument{};
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return LoadResult::Missing;
        ReportOnce(file, std::string("cannot be read (") + std::strerror(errno) + ")");
        return LoadResult::Unusable;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxHiveBytes) {
        close(fd);
        ReportOnce(file, !S_ISREG(st.st_mode)
                             ? std::string("is not a regular file")
                             : "is larger than " + std::to_string(kMaxHiveBytes >> 20) + " MiB");
        return LoadResult::Unusable;
    }
    std::string bytes;
    char buffer[16384];
    while (bytes.size() <= static_cast<size_t>(kMaxHiveBytes)) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            ReportOnce(file, std::string("cannot be read (") + std::strerror(error) + ")");
            return LoadResult::Unusable;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (bytes.size() > static_cast<size_t>(kMaxHiveBytes)) {
        ReportOnce(file, "is larger than " + std::to_string(kMaxHiveBytes >> 20) + " MiB");
        return LoadResult::Unusable;
    }
    RegParseError error;
    auto parsed = ParseRegText(bytes, error);
    if (!parsed) {
        ReportOnce(file, "line " + std::to_string(error.line) + ": " + error.reason);
        return LoadResult::Unusable;
    }
    doc = std::move(*parsed);
    return LoadResult::Loaded;
}

bool MayWrite(const std::string& path) {
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Writing needs the folder (for the new file and the rename) and, when the
// file exists, the file itself: an administrator protects a hive by taking
// its write permission away.
bool HiveWritable(const std::string& file) {
    const std::string folder = ParentFolder(file);
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    struct stat st {};
    if (stat(file.c_str(), &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) && MayWrite(file);
}

class HiveLock {
  public:
    explicit HiveLock(const std::string& file) {
        const std::string path = file + ".lock";
        // flock needs no write access: users sharing a hive share the lock too.
        fd_ = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0)
            return;
        int rc;
        do {
            rc = flock(fd_, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~HiveLock() {
        if (fd_ >= 0)
            close(fd_);  // closing releases the lock
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A new file beside the old one, flushed, then renamed over it: readers see
// the old text or the new one, never a part.
bool ReplaceFile(const std::string& file, const std::string& text) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = ParentFolder(file);
    const std::string base = file.substr(file.rfind('/') + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + "/." + base + "." + std::to_string(getpid()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text);
    struct stat old {};
    if (ok && stat(file.c_str(), &old) == 0) {
        // Keep the administrator's permissions and owner.
        ok = fchmod(fd, old.st_mode & 07777) == 0;
        if (ok && geteuid() == 0 && (old.st_uid != 0 || old.st_gid != 0))
            (void)!fchown(fd, old.st_uid, old.st_gid);
    }
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool MakeFolders(const std::string& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::string parent = ParentFolder(folder);
    if (parent != folder && !MakeFolders(parent))
        return false;
    return mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

bool SameValue(const RegValue& a, const RegValue& b) {
    return a.type == b.type && a.form == b.form && a.text == b.text && a.bytes == b.bytes &&
           a.dword == b.dword;
}

}  // namespace

struct SettingsKey::ValueUpdate {
    enum class Kind { String, Dword, Binary, Delete } kind;
    std::string_view text;
    uint32_t number = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;

    void Apply(RegValue& v) const {
        switch (kind) {
            case Kind::String:
                SetRegString(v, text);
                break;
            case Kind::Dword:
                SetRegDword(v, number);
                break;
            case Kind::Binary:
                v.type = kRegBinary;
                v.form = RegValue::Form::Hex;
                v.raw.clear();
                v.text.clear();
                v.dword = 0;
                v.bytes.assign(data, data + size);
                break;
            case Kind::Delete:
                break;
        }
    }
};

std::string RegistryFolder() {
    if (const char* folder = std::getenv("QEL4410_REGISTRY"); folder && *folder)
        return folder;
    // Relative values of XDG_CONFIG_HOME are to be ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return std::string(config) + "/qel4410/registry";
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
            found->pw_dir)
            home = found->pw_dir;
    }
    if (home.empty())
        home = "/tmp";
    return home + "/.config/qel4410/registry";
}

const char* HiveName(Hive hive) {
    return hive == Hive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string HiveFilePath(Hive hive, const std::string& folder) {
    return folder + "/" + HiveName(hive) + ".reg";
}

std::string HiveWriteProblem(Hive hive, const std::string& folder) {
    struct stat folderStat {};
    if (stat(folder.c_str(), &folderStat) == 0 && !S_ISDIR(folderStat.st_mode))
        return folder + " is not a folder";
    errno = 0;
    if (!MakeFolders(folder))
        return "the folder " + folder + " cannot be made (" + std::strerror(errno) + ")";
    const std::string file = ResolveLink(HiveFilePath(hive, folder));
    const std::string parent = ParentFolder(file);
    if (faccessat(AT_FDCWD, parent.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return "the folder " + parent + " is not writable (" + std::strerror(errno) + ")";
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return file + " is not a regular file";
        if (!MayWrite(file))
            return file + " is not writable (" + std::strerror(errno) + ")";
    }
    RegDocument doc;
    if (Load(file, doc) == LoadResult::Unusable)
        return file + " cannot be read or parsed (see the message above)";
    return {};
}

SettingsKey::SettingsKey(std::string file, std::string fullName, bool writable,
                         unsigned disposition)
    : file_(std::move(file)),
      fullName_(std::move(fullName)),
      writable_(writable),
      disposition_(disposition) {}

SettingsKey::~SettingsKey() = default;

std::unique_ptr<SettingsKey> SettingsKey::Open(Hive hive, std::string_view path, KeyAccess access,
                                               const std::string& folder) {
    std::string fullName = HiveName(hive);
    bool anyPart = false;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('\\', start);
        if (end == path.npos)
            end = path.size();
        if (end > start) {
            fullName += '\\';
            fullName += path.substr(start, end - start);
            anyPart = true;
        }
        start = end + 1;
    }
    if (!anyPart || !RegNameWritable(fullName) || folder.empty())
        return nullptr;

    RegDocument doc;
    if (access == KeyAccess::Read) {
        const std::string file = ResolveLink(HiveFilePath(hive, folder));
        if (Load(file, doc) != LoadResult::Loaded)
            return nullptr;
        const RegKey* key = doc.FindKey(fullName);
        if (!key)
            return nullptr;
        return std::unique_ptr<SettingsKey>(
            new SettingsKey(file, key->name, false, kOpenedExistingKey));
    }

    if (!MakeFolders(folder))
        return nullptr;
    const std::string file = ResolveLink(HiveFilePath(hive, folder));
    if (!HiveWritable(file))
        return nullptr;
    HiveLock lock(file);
    if (!lock.Held() || Load(file, doc) == LoadResult::Unusable)
        return nullptr;
    bool created = false;
    RegKey& key = doc.CreateKey(fullName, &created);
    std::string spelled = key.name;
    if (created && !ReplaceFile(file, FormatRegText(doc)))
        return nullptr;
    return std::unique_ptr<SettingsKey>(new SettingsKey(
        file, std::move(spelled), true, created ? kCreatedNewKey : kOpenedExistingKey));
}

// Reads one value afresh from the hive file and converts it; kNotFound when
// the file, the key or the value is missing, kWrongType when convert refuses.
namespace {

template <class Out, class Convert>
int ReadValue(const std::string& file, const std::string& fullName, std::string_view name, Out& out,
              Convert convert) {
    RegDocument doc;
    if (Load(file, doc) != LoadResult::Loaded)
        return SettingsKey::kNotFound;
    const RegKey* key = doc.FindKey(fullName);
    const RegValue* value = key ? FindValue(*key, name) : nullptr;
    if (!value)
        return SettingsKey::kNotFound;
    auto converted = convert(*value);
    if (!converted)
        return SettingsKey::kWrongType;
    out = std::move(*converted);
    return SettingsKey::kDone;
}

}  // namespace

int SettingsKey::GetString(std::string_view name, std::string& out) const {
    return ReadValue(file_, fullName_, name, out,
                     [](const RegValue& value) { return RegStringOf(value); });
}

int SettingsKey::GetDword(std::string_view name, uint32_t& out) const {
    return ReadValue(file_, fullName_, name, out,
                     [](const RegValue& value) { return RegDwordOf(value); });
}

int SettingsKey::GetBinary(std::string_view name, std::vector<uint8_t>& out) const {
    return ReadValue(file_, fullName_, name, out, [](const RegValue& value) {
        return value.type == kRegBinary && value.form == RegValue::Form::Hex
                   ? std::optional<std::vector<uint8_t>>(value.bytes)
                   : std::nullopt;
    });
}

int SettingsKey::SetString(std::string_view name, std::string_view value) {
    return Update(name, ValueUpdate{ValueUpdate::Kind::String, value, 0});
}

int SettingsKey::SetDword(std::string_view name, uint32_t value) {
    return Update(name, ValueUpdate{ValueUpdate::Kind::Dword, {}, value});
}

int SettingsKey::SetBinary(std::string_view name, const uint8_t* data, size_t size) {
    if (!data && size != 0)
        return kWriteFailed;
    return Update(name, ValueUpdate{ValueUpdate::Kind::Binary, {}, 0, data, size});
}

int SettingsKey::DeleteValue(std::string_view name) {
    return Update(name, ValueUpdate{ValueUpdate::Kind::Delete, {}});
}

int SettingsKey::Update(std::string_view name, const ValueUpdate& update) {
    if (!writable_)
        return kReadOnly;
    if (!RegNameWritable(name))
        return kWriteFailed;
    HiveLock lock(file_);
    if (!lock.Held())
        return kWriteFailed;
    RegDocument doc;
    if (Load(file_, doc) == LoadResult::Unusable)
        return kWriteFailed;
    if (update.kind == ValueUpdate::Kind::Delete) {
        RegKey* key = doc.FindKey(fullName_);
        if (!key)
            return kNotFound;
        auto& entries = key->entries;
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (!it->isComment && RegNamesEqual(it->value.name, name)) {
                entries.erase(it);
                return ReplaceFile(file_, FormatRegText(doc)) ? kDone : kWriteFailed;
            }
        }
        return kNotFound;
    }
    // Another process may have removed the key meanwhile; the value still
    // belongs there.
    bool created = false;
    RegKey& key = doc.CreateKey(fullName_, &created);
    if (RegValue* old = FindValue(key, name)) {
        RegValue changed = *old;
        update.Apply(changed);
        if (!created && SameValue(changed, *old))
            return kDone;
        *old = std::move(changed);
    } else {
        RegEntry entry;
        entry.value.name = name;
        update.Apply(entry.value);
        key.entries.push_back(std::move(entry));
    }
    return ReplaceFile(file_, FormatRegText(doc)) ? kDone : kWriteFailed;
}

}  // namespace qel::platform
