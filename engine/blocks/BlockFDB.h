// The Flash Data Block: an image of DSP memory from the boot file that the
// flash programmer needs; the engine only carries it.
#pragma once

#include "engine/blocks/BlockAbsolute.h"

class CBlockFDB : public CBlockAbsolute {
  public:
    CBlockFDB(CBlockOwner* flash, uint32_t flashOffset);
};
