// Where a loaded module (executable or shared library) lives on disk.
#pragma once

#include <string>

namespace qel::platform {

// Absolute folder of the file of the module that contains addressInModule,
// without a trailing slash; empty when the address belongs to no module.
std::string ModuleFolder(const void* addressInModule);

}  // namespace qel::platform
