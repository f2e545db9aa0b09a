#include "platform/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <filesystem>
#include <system_error>

namespace qel::platform {

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

// Opened without blocking and kept only when it is a regular file: a FIFO or
// a device in an image's place would block or never end.
bool LockedFile::OpenRegular(const std::string& path, int flags) {
    Close();
    int fd;
    do {
        fd = open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

bool LockedFile::Open(const std::string& path, bool create) {
    return OpenRegular(path, O_RDWR | (create ? O_CREAT : 0));
}

bool LockedFile::OpenReadOnly(const std::string& path) {
    return OpenRegular(path, O_RDONLY);
}

void LockedFile::Close() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool LockedFile::Lock(Mode mode) {
    if (fd_ < 0)
        return false;
    int rc;
    do {
        rc = flock(fd_, mode == Mode::Shared ? LOCK_SH : LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool LockedFile::TryLock(Mode mode) {
    if (fd_ < 0)
        return false;
    int rc;
    do {
        rc = flock(fd_, (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void LockedFile::Unlock() {
    if (fd_ >= 0)
        flock(fd_, LOCK_UN);
}

int64_t LockedFile::Size() const {
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool LockedFile::ReadAt(uint64_t offset, void* buffer, size_t length) const {
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
        const ssize_t n = pread(fd_, out, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool LockedFile::WriteAt(uint64_t offset, const void* buffer, size_t length) {
    const auto* in = static_cast<const char*>(buffer);
    while (length > 0) {
        const ssize_t n = pwrite(fd_, in, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        in += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool LockedFile::Sync() {
    return fd_ >= 0 && fdatasync(fd_) == 0;
}

bool MakeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

}  // namespace qel::platform
