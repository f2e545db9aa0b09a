// 32-bit little-endian words in byte buffers (flash images, boot files).
#pragma once

#include "include/LittleEndian.h"

namespace qel::blocks {

using qel::GetLe32;
using qel::PutLe32;

}  // namespace qel::blocks
