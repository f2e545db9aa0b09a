// What a block needs from the flash object that owns it.
#pragma once

#include <cstddef>
#include <cstdint>

class CBlock;
class memory;

class CBlockOwner {
  public:
    virtual ~CBlockOwner() = default;

    // Fills buffer with flash bytes; with countOnly only adds length to the
    // work total of the commit.
    virtual void ReadFlash(bool countOnly, uint32_t offset, uint32_t length, uint8_t* buffer) = 0;
    // Queues length bytes for the flash at offset: from data, or, when
    // savedImage is non-zero, from the image the programmer kept under that
    // handle (data is then null).
    virtual void QueueFlashWrite(bool countOnly, uint32_t offset, uint32_t length,
                                 const uint8_t* data, uint32_t savedImage) = 0;
    // Keeps the current flash image of a block that is about to move;
    // 0 when it could not.
    virtual uint32_t PreserveBlockImage(uint32_t offset, uint32_t length) = 0;
    // newTotalSize + the chain's total size - block's own size <= flash size.
    virtual bool FitsInFlash(uint32_t newTotalSize, const CBlock* block) = 0;
    // For the error when it does not: the sizes needed and free.
    virtual void DescribeSpace(uint32_t newTotalSize, const CBlock* block, char* text,
                               size_t size) {
        (void)newTotalSize;
        (void)block;
        if (size)
            text[0] = '\0';
    }
    // Tells the engine's caller that the chain changed (notice kind 4).
    virtual void NotifyChanged() = 0;

    // The selected TIM: "TimType", 0 without TIM data.
    virtual uint32_t TimTypeCode() const = 0;
    // Start of the TIM's largest "Memory" region, 0 without TIM data.
    virtual uint32_t LargestRegionStart() const = 0;
    // The TIM's memory map, null without TIM data.
    virtual memory* MemoryMap() = 0;
    // Question to the caller (notice kind 3); 0 when nobody answers.
    virtual int Ask(int question, intptr_t value) = 0;
    // Keeps temporary file names of several flash objects apart.
    virtual uint32_t InstanceNumber() const = 0;
};
