// A user block that carries a file's bytes as they are (or word-swapped).
#pragma once

#include "engine/blocks/BlockUser.h"

class CBlockUserData : public CBlockUser {
  public:
    CBlockUserData(CBlockOwner* flash, uint32_t flashOffset);
};
