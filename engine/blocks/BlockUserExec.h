// A user block built from a Code Composer Studio executable (TI COFF): its
// payload is a boot image of the loadable sections.
#pragma once

#include "engine/blocks/BlockUser.h"

class CBlockUserExec : public CBlockUser {
  public:
    static constexpr uint32_t BootMarker = 0xBBBB0002;
    // Room the boot loader may use while it copies the sections.
    static constexpr uint32_t SafePlaceBytes = 640;
    static constexpr uint32_t SafePlaceAlignment = 32;

    CBlockUserExec(CBlockOwner* flash, uint32_t flashOffset);

    void ReadFile(std::vector<uint8_t>* data, uint32_t* length) override;
};
