// Where a loaded module (executable or shared library) lives on disk.
#pragma once

#include <string>
#include <vector>

namespace qel::platform {

// Absolute folder of the file of the module that contains addressInModule,
// without a trailing slash; empty when the address belongs to no module.
std::string ModuleFolder(const void* addressInModule);

// Where a program finds the firmware files (folders bootloaders, bitstreams,
// programmers, samples), in this order: firmware/ beside the program (a
// build), then share/qel4410 of the prefix it is installed in.
std::vector<std::string> FirmwareRoots(const std::string& programFolder);

}  // namespace qel::platform
