#include "engine/BlockChain.h"

#include "engine/Exc.h"

void CBlockChain::Insert(std::unique_ptr<CBlock> block, uint32_t position) {
    if (position >= blocks_.size()) {
        blocks_.push_back(std::move(block));
    } else {
        blocks_.insert(blocks_.begin() + position, std::move(block));
    }
}

CBlock* CBlockChain::At(uint32_t position) const {
    if (position >= blocks_.size())
        QEL_RAISE(ERR_CANNOT_FIND_BLOCK, "Flash");
    return blocks_[position].get();
}

std::unique_ptr<CBlock> CBlockChain::Unlink(uint32_t position) {
    if (position >= blocks_.size())
        return nullptr;
    std::unique_ptr<CBlock> block = std::move(blocks_[position]);
    blocks_.erase(blocks_.begin() + position);
    return block;
}

uint64_t CBlockChain::TotalSize() const {
    uint64_t total = 0;
    for (const auto& block : blocks_) total += block->GetTotalSize();
    return total;
}
