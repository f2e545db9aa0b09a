// A flash object stand-in for block tests: a flash image in memory, a record
// of every queued write and preserved image, and settable TIM values.
#pragma once

#include "engine/blocks/Block.h"
#include "engine/blocks/BlockOwner.h"

#include <cstdint>
#include <cstring>
#include <vector>

class FakeOwner : public CBlockOwner {
  public:
    struct Write {
        bool countOnly;
        uint32_t offset;
        uint32_t length;
        std::vector<uint8_t> bytes;  // empty for writes from a saved image
        uint32_t savedImage;
    };

    explicit FakeOwner(uint32_t flashSize = 0x100000) : flash(flashSize, 0xFF) {}

    void ReadFlash(bool countOnly, uint32_t offset, uint32_t length, uint8_t* buffer) override {
        ++reads;
        if (countOnly) {
            bytesCounted += length;
            return;
        }
        memcpy(buffer, flash.data() + offset, length);
    }
    void QueueFlashWrite(bool countOnly, uint32_t offset, uint32_t length, const uint8_t* data,
                         uint32_t savedImage) override {
        Write w{countOnly, offset, length, {}, savedImage};
        if (data)
            w.bytes.assign(data, data + length);
        writes.push_back(std::move(w));
        if (!countOnly && data)
            memcpy(flash.data() + offset, data, length);
    }
    uint32_t PreserveBlockImage(uint32_t offset, uint32_t length) override {
        preserved.push_back({offset, length});
        return nextHandle;
    }
    bool FitsInFlash(uint32_t newTotalSize, const CBlock* block) override {
        uint64_t used = newTotalSize + chainSize;
        if (block)
            used -= block->GetTotalSize();
        return used <= flash.size();
    }
    void NotifyChanged() override { ++notices; }
    uint32_t TimTypeCode() const override { return timType; }
    uint32_t LargestRegionStart() const override { return largestRegion; }
    memory* MemoryMap() override { return memoryMap; }
    int Ask(int question, intptr_t value) override {
        questions.push_back({question, value});
        return answer;
    }
    uint32_t InstanceNumber() const override { return 1; }

    // Writes bytes into the flash image, as a programmed module would hold them.
    void Put(uint32_t offset, const void* data, size_t length) {
        memcpy(flash.data() + offset, data, length);
    }
    // Writes of the real (not counting) pass only.
    std::vector<Write> RealWrites() const {
        std::vector<Write> out;
        for (const Write& w : writes) {
            if (!w.countOnly)
                out.push_back(w);
        }
        return out;
    }

    std::vector<uint8_t> flash;
    std::vector<Write> writes;
    std::vector<std::pair<uint32_t, uint32_t>> preserved;
    std::vector<std::pair<int, intptr_t>> questions;
    uint32_t nextHandle = 0;  // what PreserveBlockImage answers
    uint64_t chainSize = 0;   // total size of the rest of the chain, for FitsInFlash
    uint64_t bytesCounted = 0;
    int reads = 0;
    int notices = 0;
    uint32_t timType = 0;
    uint32_t largestRegion = 0;
    memory* memoryMap = nullptr;
    int answer = 0;
};
