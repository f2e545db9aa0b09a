#include "engine/blocks/BlockTermination.h"

CBlockTermination::CBlockTermination(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockAlign(flash, flashOffset) {
    header_.type = Type;
    ClearDataLength();
}
