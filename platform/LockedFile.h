// A file for random-access reading and writing with whole-file advisory
// locks. The locks hold between processes and between two LockedFile objects
// of one process (each has its own open file), never between threads sharing
// one object: guard those with a mutex of your own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qel::platform {

class LockedFile {
  public:
    enum class Mode { Shared, Exclusive };

    LockedFile() = default;
    ~LockedFile() { Close(); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    LockedFile(LockedFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    LockedFile& operator=(LockedFile&& other) noexcept;

    // Opens for reading and writing; creates the file (mode 0666 less the
    // umask) when `create` is set. Creates no folders.
    bool Open(const std::string& path, bool create);
    // Opens read-only (a lock needs no write access).
    bool OpenReadOnly(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    // Open and OpenReadOnly refuse anything but a regular file (errno EINVAL).
    // Closing drops any lock held.
    void Close();

    // Waits for the lock.
    bool Lock(Mode mode);
    // False at once when another holder's lock conflicts.
    bool TryLock(Mode mode);
    void Unlock();

    // -1 on failure.
    int64_t Size() const;
    // Exactly `length` bytes or false.
    bool ReadAt(uint64_t offset, void* buffer, size_t length) const;
    bool WriteAt(uint64_t offset, const void* buffer, size_t length);
    // Data reaches the disk (fdatasync).
    bool Sync();

  private:
    bool OpenRegular(const std::string& path, int flags);

    int fd_ = -1;
};

// Creates a folder and its missing parents (mode 0777 less the umask); true
// when it exists afterwards.
bool MakeFolders(const std::string& path);

}  // namespace qel::platform
