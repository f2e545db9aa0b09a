#include "engine/formats/InputFile.h"

#include "engine/Exc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

uint64_t CheckInputFile(const char* path, uint32_t code, const char* source, uint64_t maxBytes) {
    if (!path || !*path)
        QEL_RAISE_DETAIL(code, source, "No file name given");
    struct stat info {};
    if (stat(path, &info) != 0)
        QEL_RAISE_FORMAT(code, source, "File: %s: %s", path, strerror(errno));
    if (!S_ISREG(info.st_mode))
        QEL_RAISE_FORMAT(code, source, "File: %s: not a regular file", path);
    if (access(path, R_OK) != 0)
        QEL_RAISE_FORMAT(code, source, "File: %s: %s", path, strerror(errno));
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > maxBytes) {
        QEL_RAISE_FORMAT(code, source, "File: %s: %llu bytes, more than the %llu this can take",
                         path, static_cast<unsigned long long>(size),
                         static_cast<unsigned long long>(maxBytes));
    }
    return size;
}
