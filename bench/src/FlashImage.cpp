#include "FlashImage.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qel::bench {

namespace {
constexpr uint32_t kChunk = 256 * 1024;
}

FlashImage::FlashImage(std::string path, uint32_t size, uint32_t sectorSize)
    : path_(std::move(path)), size_(size), sectorSize_(sectorSize) {}

bool FlashImage::OpenLocked(bool create) {
    if (file_.IsOpen() && (writable_ || !create))
        return true;
    if (file_.Open(path_, create)) {
        writable_ = true;
        return true;
    }
    if (!create && file_.OpenReadOnly(path_)) {
        writable_ = false;
        return true;
    }
    return false;
}

bool FlashImage::ReadLocked(uint32_t offset, void* buffer, uint32_t length) {
    auto* out = static_cast<uint8_t*>(buffer);
    const int64_t fileSize = file_.IsOpen() ? file_.Size() : 0;
    if (fileSize < 0)
        return false;
    const uint64_t have = std::min<uint64_t>(static_cast<uint64_t>(fileSize), size_);
    uint32_t fromFile = 0;
    if (offset < have)
        fromFile = static_cast<uint32_t>(std::min<uint64_t>(length, have - offset));
    if (fromFile && !file_.ReadAt(offset, out, fromFile))
        return false;
    std::memset(out + fromFile, 0xFF, length - fromFile);
    return true;
}

bool FlashImage::Read(uint32_t offset, void* buffer, uint32_t length) {
    if (uint64_t{offset} + length > size_)
        return false;
    if (length == 0)
        return true;
    std::lock_guard lock(mu_);
    if (!OpenLocked(false)) {
        // No image yet: an erased flash.
        std::memset(buffer, 0xFF, length);
        return true;
    }
    if (!file_.Lock(platform::LockedFile::Mode::Shared))
        return false;
    const bool ok = ReadLocked(offset, buffer, length);
    file_.Unlock();
    return ok;
}

FlashImage::Session::Session(FlashImage& image) : image_(image), lock_(image.mu_) {
    if (!image_.OpenLocked(true) || !image_.writable_)
        return;
    if (!image_.file_.Lock(platform::LockedFile::Mode::Exclusive))
        return;
    // A new or short file grows to the flash size with erased bytes, so the
    // file always shows the whole flash.
    const int64_t have = image_.file_.Size();
    if (have < 0)
        return;
    if (static_cast<uint64_t>(have) < image_.size_) {
        std::vector<uint8_t> ff(kChunk, 0xFF);
        uint64_t at = static_cast<uint64_t>(have);
        while (at < image_.size_) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunk, image_.size_ - at));
            if (!image_.file_.WriteAt(at, ff.data(), n))
                return;
            at += n;
        }
    }
    ok_ = true;
}

FlashImage::Session::~Session() {
    if (image_.file_.IsOpen())
        image_.file_.Unlock();
}

bool FlashImage::Session::Read(uint32_t offset, void* buffer, uint32_t length) {
    if (!ok_ || uint64_t{offset} + length > image_.size_)
        return false;
    return image_.ReadLocked(offset, buffer, length);
}

bool FlashImage::Session::Write(uint32_t offset, const void* buffer, uint32_t length) {
    if (!ok_ || uint64_t{offset} + length > image_.size_)
        return false;
    return image_.file_.WriteAt(offset, buffer, length);
}

bool FlashImage::Session::Fill(uint32_t offset, uint8_t value, uint32_t length) {
    if (!ok_ || uint64_t{offset} + length > image_.size_)
        return false;
    std::vector<uint8_t> block(std::min(length, kChunk), value);
    while (length > 0) {
        const uint32_t n = std::min<uint32_t>(length, kChunk);
        if (!image_.file_.WriteAt(offset, block.data(), n))
            return false;
        offset += n;
        length -= n;
    }
    return true;
}

bool FlashImage::Session::Sync() {
    return ok_ && image_.file_.Sync();
}

}  // namespace qel::bench
