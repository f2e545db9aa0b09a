// A block that occupies exactly header, extra header and payload; it never
// moves its content (boot loader, FDB, init image).
#pragma once

#include "engine/blocks/Block.h"

class CBlockAbsolute : public CBlock {
  public:
    using CBlock::CBlock;

    void LoadData(bool countOnly) override;
    uint32_t ComputeTotalSize(uint32_t extra) const override;
    bool MoveTo(uint32_t newOffset, bool countOnly, bool markOnly) override;
    // image = a complete block in memory: header, extra header, payload.
    virtual void SetContents(const uint8_t* image);
};
