// One module's flash as a raw image file: byte for byte the flash content,
// erased bytes 0xFF. Bytes the file does not hold (no file yet, or a shorter
// one) read as erased. Within a process a mutex, between processes (and
// between bench instances) an advisory lock on the file keep writers apart.
#pragma once

#include "platform/LockedFile.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace qel::bench {

class FlashImage {
  public:
    FlashImage(std::string path, uint32_t size, uint32_t sectorSize);
    FlashImage(const FlashImage&) = delete;
    FlashImage& operator=(const FlashImage&) = delete;

    const std::string& Path() const { return path_; }
    uint32_t Size() const { return size_; }
    uint32_t SectorSize() const { return sectorSize_; }

    // A consistent read of [offset, offset + length); false outside the flash
    // or when the file cannot be read.
    bool Read(uint32_t offset, void* buffer, uint32_t length);

    // Exclusive access for one programmer command: reads and writes, then
    // Sync before the command reports completion.
    class Session {
      public:
        explicit Session(FlashImage& image);
        ~Session();
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;
        // False when the image file cannot be created or locked.
        bool Ok() const { return ok_; }
        bool Read(uint32_t offset, void* buffer, uint32_t length);
        bool Write(uint32_t offset, const void* buffer, uint32_t length);
        bool Fill(uint32_t offset, uint8_t value, uint32_t length);
        bool Sync();

      private:
        FlashImage& image_;
        std::unique_lock<std::mutex> lock_;
        bool ok_ = false;
    };

  private:
    // With mu_ held: opens the file when it exists (or creates it).
    bool OpenLocked(bool create);
    bool ReadLocked(uint32_t offset, void* buffer, uint32_t length);

    const std::string path_;
    const uint32_t size_;
    const uint32_t sectorSize_;
    std::mutex mu_;
    platform::LockedFile file_;
    bool writable_ = false;
};

}  // namespace qel::bench
