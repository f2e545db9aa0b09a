// Which kind a file is, by its name's extension and regardless of case: a
// folder or a point elsewhere in the path says nothing about the file.
#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace qel::platform {

// extension with its point, as ".bit".
inline bool HasExtension(std::string_view path, std::string_view extension) {
    const size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() <= extension.size())
        return false;
    const std::string_view tail = name.substr(name.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace qel::platform
