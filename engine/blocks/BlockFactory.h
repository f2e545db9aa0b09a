// Creates the block object for a type code read from the flash.
#pragma once

#include "engine/blocks/Block.h"

#include <cstdint>
#include <memory>

class CBlockOwner;

// Low 16 bits 0xFFFF: termination; 1 to 4: boot loader, FDB, FPGA, dynamics;
// 5: user block by the high 16 bits (1 executable, 2 Diamond application,
// 0x10 data, 0x11 S-record), null for any other sub-type. Every other code
// (0 included: the init block is made by the flash object itself) raises
// "Could not create block".
std::unique_ptr<CBlock> CreateBlock(CBlockOwner* owner, uint32_t type, uint32_t offset);
