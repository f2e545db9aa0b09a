// Helpers shared by the stack-file fuzz targets.
#pragma once

#include "platform/TempFolder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace fuzzsupport {

using Bytes = std::vector<uint8_t>;

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

inline std::string WriteTemp(const char* name, const uint8_t* data, size_t size) {
    const std::string path = qel::platform::PrivateTempPath(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr, "temporary file");
    if (size > 0)
        Check(std::fwrite(data, 1, size, f) == size, "temporary write");
    std::fclose(f);
    return path;
}

// The zero-run format decoded; nullopt for a malformed stream.
inline std::optional<Bytes> Decompress(const Bytes& s) {
    Bytes out;
    size_t i = 0;
    while (i + 4 <= s.size()) {
        int32_t h;
        std::memcpy(&h, &s[i], 4);
        i += 4;
        if (h == 0)
            return i == s.size() ? std::optional<Bytes>(out) : std::nullopt;
        if (h < 0) {
            out.resize(out.size() + 4 * static_cast<size_t>(-static_cast<int64_t>(h)), 0);
        } else {
            const size_t n = 4 * static_cast<size_t>(h);
            if (s.size() - i < n)
                return std::nullopt;
            out.insert(out.end(), s.begin() + static_cast<long>(i),
                       s.begin() + static_cast<long>(i + n));
            i += n;
        }
    }
    return std::nullopt;
}

}  // namespace fuzzsupport
