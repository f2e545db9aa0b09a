#include "engine/ModuleClaim.h"

#include "engine/Exc.h"
#include "platform/SettingsHive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kSource = "Flash";

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

bool MakePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) == 0)
        return true;
    struct stat info {};
    // A folder of someone else's in a shared place is not ours to lock in.
    return errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == geteuid();
}

}  // namespace

std::string CModuleClaim::Folder() {
    if (const char* folder = std::getenv("QEL4410_RUNTIME_DIR"); folder && *folder)
        return folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
        return std::string(runtime) + "/qel4410";
    return "/tmp/qel4410-" + std::to_string(geteuid());
}

void CModuleClaim::Acquire(int board, int processor) {
    if (Held())
        return;
    const std::string folder = Folder();
    if (!MakePrivateFolder(folder))
        return;
    char name[96];
    snprintf(name, sizeof(name), "/board%d-processor%d-%016llx.claim", board, processor,
             static_cast<unsigned long long>(Fnv1a(qel::platform::RegistryFolder())));
    const std::string path = folder + name;
    qel::platform::LockedFile file;
    if (!file.Open(path, true))
        return;
    if (!file.TryLock(qel::platform::LockedFile::Mode::Exclusive)) {
        char holder[128] = {};
        const int64_t size = file.Size();
        if (size > 0)
            file.ReadAt(0, holder,
                        static_cast<size_t>(std::min<int64_t>(size, sizeof(holder) - 1)));
        QEL_RAISE_FORMAT(ERR_PROCESSOR_IN_USE, kSource, "Board %d, processor %d is held by %s",
                         board, processor, holder[0] ? holder : "another program");
    }
    char holder[96];
    const int length = snprintf(holder, sizeof(holder), "%s (process %d)",
                                program_invocation_short_name, static_cast<int>(getpid()));
    // The file may hold a longer text of an earlier holder: the text ends with
    // a NUL.
    file.WriteAt(0, holder, static_cast<size_t>(length) + 1);
    file_ = std::move(file);
}
