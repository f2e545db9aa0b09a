// The checks every file the engine reads passes before it is read: a regular
// file (not a folder, a device or a pipe that could block or never end) of a
// bounded size. Failures name the file and the system's reason.
#pragma once

#include <cstdint>

// Raises code from source with the detail "File: <path>: <reason>" when path
// is not a readable regular file of at most maxBytes; returns its size.
uint64_t CheckInputFile(const char* path, uint32_t code, const char* source, uint64_t maxBytes);
