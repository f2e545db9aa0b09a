#include "Coff.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>

namespace qel::bench {

namespace {

constexpr size_t kFileHeader = 22;
constexpr size_t kOptionalHeader = 28;
constexpr size_t kSectionHeader = 48;
constexpr uint32_t kDummy = 0x01;
constexpr uint32_t kNoLoad = 0x02;
constexpr uint32_t kUninitialised = 0x80;
constexpr uint64_t kMaxFile = 512ull * 1024 * 1024;

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

namespace {

// Reads n bytes at a file offset; false when they are not all there.
using Reader = std::function<bool(uint64_t offset, void* out, size_t n)>;

bool ParseHeaders(uint64_t size, const Reader& read, CoffImage& out, std::string& error) {
    out = CoffImage{};
    uint8_t f[kFileHeader + kOptionalHeader] = {};
    if (size < kFileHeader || !read(0, f, kFileHeader)) {
        error = "file too short for a COFF header";
        return false;
    }
    const uint32_t sections = U16(f + 2);
    const uint32_t symbolOffset = U32(f + 8);
    const uint32_t symbolCount = U32(f + 12);
    const uint32_t optSize = U16(f + 16);
    if (optSize != 0 && optSize != kOptionalHeader) {
        error = "unexpected optional header size " + std::to_string(optSize);
        return false;
    }
    const uint64_t table = kFileHeader + optSize;
    if (table + uint64_t{sections} * kSectionHeader > size) {
        error = "section headers reach past the end of the file";
        return false;
    }
    if (optSize == kOptionalHeader) {
        if (!read(kFileHeader, f + kFileHeader, kOptionalHeader)) {
            error = "cannot read the optional header";
            return false;
        }
        out.hasEntry = true;
        out.entry = U32(f + kFileHeader + 16);
    }
    const uint64_t strings = uint64_t{symbolOffset} + 18ull * symbolCount;
    for (uint32_t i = 0; i < sections; ++i) {
        uint8_t h[kSectionHeader];
        if (!read(table + uint64_t{i} * kSectionHeader, h, kSectionHeader)) {
            error = "cannot read a section header";
            return false;
        }
        CoffImage::Section s;
        if (h[0] != 0) {
            size_t n = 0;
            while (n < 8 && h[n] != 0) ++n;
            s.name.assign(reinterpret_cast<const char*>(h), n);
        } else {
            const uint64_t at = strings + U32(h + 4);
            if (symbolOffset != 0 && at < size) {
                // Names are short; one that runs to the end of the file ends there.
                char name[256] = {};
                const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof(name), size - at));
                if (read(at, name, n))
                    s.name.assign(name, strnlen(name, n));
            }
        }
        s.address = U32(h + 8);
        s.size = U32(h + 16);
        s.fileOffset = U32(h + 20);
        const uint32_t flags = U32(h + 40);
        if ((flags & (kDummy | kNoLoad | kUninitialised)) != 0 || s.size == 0 || s.fileOffset == 0)
            continue;
        if (uint64_t{s.fileOffset} + s.size > size) {
            error = "section '" + s.name + "' reaches past the end of the file";
            return false;
        }
        if (uint64_t{s.address} + s.size > 0x100000000ull) {
            error = "section '" + s.name + "' reaches past the end of the address space";
            return false;
        }
        out.sections.push_back(std::move(s));
    }
    return true;
}

}  // namespace

bool ParseCoff(std::vector<uint8_t> bytes, CoffImage& out, std::string& error) {
    const Reader read = [&](uint64_t offset, void* to, size_t n) {
        if (offset > bytes.size() || n > bytes.size() - offset)
            return false;
        std::memcpy(to, bytes.data() + offset, n);
        return true;
    };
    if (!ParseHeaders(bytes.size(), read, out, error))
        return false;
    out.file = std::move(bytes);
    return true;
}

bool LoadCoffFile(const std::string& path, CoffImage& out, std::string& error) {
    CoffFile file;
    if (!file.Open(path, error))
        return false;
    out = file.Image();
    out.file.resize(static_cast<size_t>(file.Size()));
    if (!out.file.empty() && !file.Read(0, out.file.data(), out.file.size())) {
        error = "cannot read '" + path + "'";
        return false;
    }
    return true;
}

bool CoffFile::Open(const std::string& path, std::string& error) {
    in_.open(path, std::ios::binary | std::ios::ate);
    if (!in_) {
        error = "cannot open '" + path + "'";
        return false;
    }
    const std::streamoff end = in_.tellg();
    if (end < 0 || static_cast<uint64_t>(end) > kMaxFile) {
        error = "cannot read '" + path + "'";
        return false;
    }
    size_ = static_cast<uint64_t>(end);
    return ParseHeaders(
        size_, [this](uint64_t offset, void* to, size_t n) { return Read(offset, to, n); }, image_,
        error);
}

bool CoffFile::Read(uint64_t offset, void* out, size_t n) {
    if (offset > size_ || n > size_ - offset)
        return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    return n == 0 ||
           static_cast<bool>(in_.read(static_cast<char*>(out), static_cast<std::streamsize>(n)));
}

}  // namespace qel::bench
