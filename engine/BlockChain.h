// The ordered, owned list of blocks that mirrors one flash: position 0 the
// init image, 1 boot loader, 2 FDB, 3 FPGA, 4 dynamics, user blocks, and the
// termination block last.
#pragma once

#include "engine/blocks/Block.h"

#include <cstdint>
#include <memory>
#include <vector>

class CBlockChain {
  public:
    static constexpr uint32_t FirstUserPosition = 5;
    // A complete chain: the five fixed blocks and the termination block.
    static constexpr uint32_t FixedBlocks = 6;
    static constexpr uint32_t Append = 0xFFFFFFFF;

    void Clear() { blocks_.clear(); }
    // Takes ownership; a position at or beyond the end appends.
    void Insert(std::unique_ptr<CBlock> block, uint32_t position = Append);
    // Error 4 "Could not find block" when the chain is shorter.
    CBlock* At(uint32_t position) const;
    // Null when the chain is shorter.
    std::unique_ptr<CBlock> Unlink(uint32_t position);

    uint32_t Count() const { return static_cast<uint32_t>(blocks_.size()); }
    uint32_t UserBlockCount() const { return Count() >= FixedBlocks ? Count() - FixedBlocks : 0; }
    // Sum of every block's total size.
    uint64_t TotalSize() const;

    auto begin() const { return blocks_.begin(); }
    auto end() const { return blocks_.end(); }

  private:
    std::vector<std::unique_ptr<CBlock>> blocks_;
};
