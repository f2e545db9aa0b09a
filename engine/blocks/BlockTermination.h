// The empty block that ends the chain.
#pragma once

#include "engine/blocks/BlockAlign.h"

class CBlockTermination : public CBlockAlign {
  public:
    static constexpr uint32_t Type = 0xFFFF;

    CBlockTermination(CBlockOwner* flash, uint32_t flashOffset);
};
