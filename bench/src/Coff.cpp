#include "Coff.h"

#include <cstring>
#include <fstream>

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

bool ParseCoff(std::vector<uint8_t> bytes, CoffImage& out, std::string& error) {
    out = CoffImage{};
    const uint64_t size = bytes.size();
    if (size < kFileHeader) {
        error = "file too short for a COFF header";
        return false;
    }
    const uint8_t* f = bytes.data();
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
        out.hasEntry = true;
        out.entry = U32(f + kFileHeader + 16);
    }
    const uint64_t strings = uint64_t{symbolOffset} + 18ull * symbolCount;
    for (uint32_t i = 0; i < sections; ++i) {
        const uint8_t* h = f + table + uint64_t{i} * kSectionHeader;
        CoffImage::Section s;
        if (h[0] != 0) {
            size_t n = 0;
            while (n < 8 && h[n] != 0) ++n;
            s.name.assign(reinterpret_cast<const char*>(h), n);
        } else {
            const uint64_t at = strings + U32(h + 4);
            if (symbolOffset != 0 && at < size) {
                const char* p = reinterpret_cast<const char*>(f + at);
                s.name.assign(p, strnlen(p, size - at));
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
    out.file = std::move(bytes);
    return true;
}

bool LoadCoffFile(const std::string& path, CoffImage& out, std::string& error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        error = "cannot open '" + path + "'";
        return false;
    }
    const std::streamoff end = in.tellg();
    if (end < 0 || static_cast<uint64_t>(end) > kMaxFile) {
        error = "cannot read '" + path + "'";
        return false;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(end));
    in.seekg(0);
    if (!bytes.empty() && !in.read(reinterpret_cast<char*>(bytes.data()), end)) {
        error = "cannot read '" + path + "'";
        return false;
    }
    return ParseCoff(std::move(bytes), out, error);
}

}  // namespace qel::bench
