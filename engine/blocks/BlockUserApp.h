// A user block holding a standalone 3L Diamond application image.
#pragma once

#include "engine/blocks/BlockUser.h"

class CBlockUserApp : public CBlockUser {
  public:
    CBlockUserApp(CBlockOwner* flash, uint32_t flashOffset);

    void ReadFile(std::vector<uint8_t>* data, uint32_t* length) override;
};
