#include "engine/blocks/BlockUserData.h"

CBlockUserData::CBlockUserData(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockUser(flash, flashOffset, SubData) {}
