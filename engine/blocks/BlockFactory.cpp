#include "engine/blocks/BlockFactory.h"

#include "BlockTypes.h"
#include "engine/Exc.h"
#include "engine/blocks/BlockBootLoader.h"
#include "engine/blocks/BlockDynamics.h"
#include "engine/blocks/BlockFDB.h"
#include "engine/blocks/BlockFpga.h"
#include "engine/blocks/BlockTermination.h"
#include "engine/blocks/BlockUserApp.h"
#include "engine/blocks/BlockUserData.h"
#include "engine/blocks/BlockUserExec.h"
#include "engine/blocks/BlockUserSRecord.h"

namespace {
// The flash object reports a failed creation as its own.
constexpr const char* kSource = "Flash";
}  // namespace

std::unique_ptr<CBlock> CreateBlock(CBlockOwner* owner, uint32_t type, uint32_t offset) {
    switch (qel::block::ClassOf(type)) {
        case qel::block::kTypeTermination:
            return std::make_unique<CBlockTermination>(owner, offset);
        case qel::block::kTypeBootLoader:
            return std::make_unique<CBlockBootLoader>(owner, offset);
        case qel::block::kTypeFdb:
            return std::make_unique<CBlockFDB>(owner, offset);
        case qel::block::kTypeFpga:
            return std::make_unique<CBlockFpga>(owner, offset);
        case qel::block::kTypeDynamics:
            return std::make_unique<CBlockDynamics>(owner, offset);
        case qel::block::kTypeUser:
            switch (qel::block::SubTypeOf(type)) {
                case CBlockUser::SubExec:
                    return std::make_unique<CBlockUserExec>(owner, offset);
                case CBlockUser::SubApp:
                    return std::make_unique<CBlockUserApp>(owner, offset);
                case CBlockUser::SubData:
                    return std::make_unique<CBlockUserData>(owner, offset);
                case CBlockUser::SubSRecord:
                    return std::make_unique<CBlockUserSRecord>(owner, offset);
                default:
                    return nullptr;
            }
        default:
            QEL_RAISE(ERR_CANNOT_CREATE_BLOCK, kSource);
    }
}
