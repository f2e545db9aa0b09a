// The empty block that ends the chain.
#pragma once

#include "BlockTypes.h"
#include "engine/blocks/BlockAlign.h"

class CBlockTermination : public CBlockAlign {
  public:
    static constexpr uint32_t Type = qel::block::kTypeTermination;

    CBlockTermination(CBlockOwner* flash, uint32_t flashOffset);
};
