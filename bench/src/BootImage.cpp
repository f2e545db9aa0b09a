#include "BootImage.h"

#include "include/ComportImageFormat.h"

#include <cstdio>
#include <cstring>

namespace qel::bench {

namespace {

// Reads the image word by word, as the boot loader takes it off the link.
class WordStream {
  public:
    WordStream(const uint8_t* data, uint32_t length) : data_(data), length_(length) {}
    bool Next(uint32_t& word) {
        if (length_ - at_ < 4)
            return false;
        std::memcpy(&word, data_ + at_, 4);  // the host is little-endian, as the target
        at_ += 4;
        return true;
    }
    // Skips `bytes` of record data; false when they are not all there.
    bool Skip(uint32_t bytes) {
        if (length_ - at_ < bytes)
            return false;
        at_ += bytes;
        return true;
    }
    uint32_t Position() const { return at_; }
    bool AtEnd() const { return at_ == length_; }

  private:
    const uint8_t* data_;
    uint32_t length_;
    uint32_t at_ = 0;
};

std::string Hex(uint32_t v) {
    char text[16];
    snprintf(text, sizeof(text), "0x%X", v);
    return text;
}

}  // namespace

bool ReadBootImage(const uint8_t* image, uint32_t length, BootImage& out, std::string& reason) {
    out = BootImage{};
    WordStream in(image, length);
    uint32_t marker = 0;
    if (!in.Next(marker)) {
        reason = "image too short for a marker";
        return false;
    }
    if (marker == comport::kOldMarker) {
        const uint32_t expected[comport::kOldHeaderWords] = {comport::kOldMarker,
                                                             comport::kOldBusControl,
                                                             comport::kOldBusControl,
                                                             comport::kOldLoaderVersion,
                                                             0,
                                                             0};
        for (uint32_t i = 1; i < comport::kOldHeaderWords; ++i) {
            uint32_t word = 0;
            if (!in.Next(word)) {
                reason = "image ends inside its header";
                return false;
            }
            if (i == 4)
                out.entry = word;
            else if (word != expected[i]) {
                reason = "header word " + std::to_string(i) + " is " + Hex(word);
                return false;
            }
        }
    } else if (marker == comport::kNewMarker) {
        out.newFormat = true;
        if (!in.Next(out.loaderAddress)) {
            reason = "image ends inside its header";
            return false;
        }
    } else {
        reason = "unknown marker " + Hex(marker);
        return false;
    }

    for (;;) {
        const uint32_t at = in.Position();
        uint32_t recordLength = 0;
        if (!in.Next(recordLength)) {
            reason = "image ends without a terminator";
            return false;
        }
        if (recordLength == 0)
            break;
        if (recordLength % 4 != 0 || (out.newFormat && recordLength > comport::kMaxRecord)) {
            reason = "bad record length " + Hex(recordLength) + " at byte " + std::to_string(at);
            return false;
        }
        BootImage::Record r;
        r.length = recordLength;
        if (!in.Next(r.address)) {
            reason = "image ends inside the record at byte " + std::to_string(at);
            return false;
        }
        r.offset = in.Position();
        if (!in.Skip(recordLength)) {
            reason = "record at byte " + std::to_string(at) + " of " + Hex(recordLength) +
                     " bytes runs past the end of the image";
            return false;
        }
        out.records.push_back(r);
    }
    if (out.newFormat && !in.Next(out.entry)) {
        reason = "image ends before its entry point";
        return false;
    }
    if (!in.AtEnd()) {
        reason = std::to_string(length - in.Position()) + " bytes after the terminator";
        return false;
    }
    return true;
}

}  // namespace qel::bench
