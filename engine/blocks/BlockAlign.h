// A block rounded up to a multiple of 128 bytes, which can move along the
// chain; its payload is read from the flash only when it is needed.
#pragma once

#include "engine/blocks/Block.h"

class CBlockAlign : public CBlock {
  public:
    static constexpr uint32_t Alignment = 128;

    using CBlock::CBlock;

    void LoadData(bool countOnly) override;
    uint32_t ComputeTotalSize(uint32_t extra) const override;
    bool MoveTo(uint32_t newOffset, bool countOnly, bool markOnly) override;

  protected:
    // The flash-space check for a block of size bytes before rounding; one
    // that cannot be held in 32 bits is "Not enough flash space" from source.
    void CheckAlignedSpace(uint64_t size, const char* source);
};
