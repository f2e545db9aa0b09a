#include "engine/blocks/BlockFDB.h"

#include "BlockTypes.h"

CBlockFDB::CBlockFDB(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockAbsolute(flash, flashOffset) {
    header_.type = qel::block::kTypeFdb;
    ClearDataLength();
}
