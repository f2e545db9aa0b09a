// Temporary files of this process live in a private folder (mode 0700, unique
// name) under the system's temporary folder, never directly in a shared one:
// another user cannot plant a link under a name we are about to write.
// The folder and what it holds are removed at exit; folders left by processes
// of this user that no longer run (a crash, a kill) are removed when the next
// process makes its own.
#pragma once

#include <string>

namespace qel::platform {

// The private folder, created on first use. Throws std::runtime_error when it
// cannot be made.
const std::string& PrivateTempFolder();
// PrivateTempFolder() + "/" + fileName. Throws std::invalid_argument unless
// fileName is a plain file name (no '/', not "." or "..").
std::string PrivateTempPath(const std::string& fileName);

}  // namespace qel::platform
