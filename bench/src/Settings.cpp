#include "Settings.h"

#include "platform/LockedFile.h"
#include "platform/RegFile.h"
#include "platform/SettingsHive.h"
#include "platform/TempFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qel::bench {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string Setting(const char* name) {
    for (auto hive : {platform::Hive::LocalMachine, platform::Hive::CurrentUser}) {
        auto key = platform::SettingsKey::Open(hive, kBenchSettingsKey, platform::KeyAccess::Read);
        std::string value;
        if (key && key->GetString(name, value) == platform::SettingsKey::kDone && !value.empty())
            return value;
    }
    return {};
}

}  // namespace

bool ReadBoundedFile(const std::string& path, size_t limit, std::string& out, std::string& error) {
    // Opened without blocking, so that a FIFO in its place is refused rather
    // than waited on.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = "not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > limit) {
        close(fd);
        error = "larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    out.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > limit) {
            close(fd);
            error = "larger than " + std::to_string(limit) + " bytes";
            return false;
        }
    }
    close(fd);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    std::string error;
    return ReadBoundedFile(path, kMaxSettingsFileBytes, out, error);
}

std::string ResolveStateFolder(const std::string& explicitFolder) {
    if (!explicitFolder.empty())
        return explicitFolder;
    std::string folder = Env("QEL4410_BENCH_STATE");
    if (!folder.empty())
        return folder;
    folder = Setting("State");
    if (!folder.empty())
        return folder;
    const std::string data = Env("XDG_DATA_HOME");
    if (!data.empty())
        return data + "/qel4410/bench";
    const std::string home = Env("HOME");
    if (!home.empty())
        return home + "/.local/share/qel4410/bench";
    return platform::PrivateTempPath("bench");
}

bool ResolveDescriptionText(const std::string& text, const std::string& path, std::string& out,
                            std::string& source, std::string& error) {
    if (!text.empty()) {
        out = text;
        source = "(given text)";
        return true;
    }
    std::string file = path;
    if (file.empty())
        file = Env("QEL4410_BENCH");
    if (file.empty())
        file = Setting("Description");
    if (file.empty()) {
        out = DefaultDescriptionText();
        source = "(embedded default bench)";
        return true;
    }
    source = file;
    std::string why;
    if (!ReadBoundedFile(file, kMaxDescriptionBytes, out, why)) {
        error = "cannot read the bench description '" + file + "': " + why;
        return false;
    }
    return true;
}

std::optional<BenchDesc> LoadDescription(const std::string& text, const std::string& path,
                                         std::string& source, std::string& error) {
    std::string body;
    if (!ResolveDescriptionText(text, path, body, source, error))
        return std::nullopt;
    std::string why;
    auto desc = ParseDescription(body, why);
    if (!desc) {
        error = source + ": " + why;
        return std::nullopt;
    }
    const std::string timing = Env("QEL4410_BENCH_TIMING");
    if (timing == "off") {
        OverrideTiming(*desc, Timing{});
    } else if (timing == "realistic") {
        OverrideTiming(*desc, RealisticTiming());
    } else if (!timing.empty()) {
        error = "QEL4410_BENCH_TIMING must be 'off' or 'realistic', not '" + timing + "'";
        return std::nullopt;
    }
    return desc;
}

bool RealtimeRequested() {
    const std::string file =
        platform::HiveFilePath(platform::Hive::CurrentUser, platform::RegistryFolder());
    std::string bytes;
    if (!ReadWholeFile(file, bytes))
        return false;
    platform::RegParseError perr;
    auto doc = platform::ParseRegText(bytes, perr);
    if (!doc)
        return false;
    const auto* key = doc->FindKey(std::string("HKEY_CURRENT_USER\\") + kSettingsKey);
    if (!key)
        return false;
    const auto* value = platform::FindValue(*key, kRealtimeValue);
    if (!value)
        return false;
    if (auto dword = platform::RegDwordOf(*value))
        return *dword == 1;
    return value->type == platform::kRegBinary && !value->bytes.empty() && value->bytes[0] == 1;
}

std::string ImagePath(const std::string& stateFolder, const ModuleDesc& module) {
    return stateFolder + "/" + module.image;
}

std::string FaultsFilePath(const std::string& stateFolder) {
    return stateFolder + "/faults.txt";
}

std::vector<StoredFault> ReadStoredFaults(const std::string& stateFolder) {
    std::vector<StoredFault> out;
    std::string text;
    if (!ReadWholeFile(FaultsFilePath(stateFolder), text))
        return out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        StoredFault f;
        std::string kind;
        uint32_t count = 0;
        if (!(words >> f.board >> f.processor >> kind >> count))
            continue;
        auto fault = FaultFromName(kind);
        if (!fault || !FaultCountProblem(*fault, count).empty())
            continue;
        f.setting = {*fault, count};
        out.push_back(f);
    }
    return out;
}

bool WriteStoredFaults(const std::string& stateFolder, const std::vector<StoredFault>& faults) {
    if (!platform::MakeFolders(stateFolder))
        return false;
    const std::string path = FaultsFilePath(stateFolder);
    if (faults.empty()) {
        std::remove(path.c_str());
        return true;
    }
    std::ofstream out(path, std::ios::trunc);
    for (const auto& f : faults)
        out << f.board << ' ' << f.processor << ' ' << FaultName(f.setting.fault) << ' '
            << f.setting.count << '\n';
    return static_cast<bool>(out);
}

}  // namespace qel::bench
