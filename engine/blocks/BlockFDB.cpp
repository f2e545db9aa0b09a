#include "engine/blocks/BlockFDB.h"

CBlockFDB::CBlockFDB(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockAbsolute(flash, flashOffset) {
    header_.type = 2;
    ClearDataLength();
}
