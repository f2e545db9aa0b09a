// A block read back from a damaged flash: the input is the flash image from
// the block's start. The block is made from the header's type code as the
// flash object makes it, reads its header and extra header from a directory
// entry, loads and checks its payload, and is written out again.
#include "engine/Exc.h"
#include "engine/blocks/Block.h"
#include "engine/blocks/BlockDynamics.h"
#include "engine/blocks/BlockFactory.h"
#include "engine/blocks/BlockInit.h"
#include "engine/blocks/BlockOwner.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Flash sizes of real TIMs are a few MiB; a header that claims more is
// refused by the flash object before any payload is read.
constexpr uint32_t kFlashSize = 1u << 20;

class FuzzOwner : public CBlockOwner {
  public:
    FuzzOwner(const uint8_t* data, size_t size)
        : flash_(data, data + std::min<size_t>(size, kFlashSize)) {}

    void ReadFlash(bool countOnly, uint32_t offset, uint32_t length, uint8_t* buffer) override {
        if (countOnly)
            return;
        for (uint32_t i = 0; i < length; ++i) {
            const uint64_t at = uint64_t{offset} + i;
            buffer[i] = at < flash_.size() ? flash_[at] : 0xFF;
        }
    }
    void QueueFlashWrite(bool, uint32_t, uint32_t length, const uint8_t* data, uint32_t) override {
        // Touch every byte: a write that reaches past its source shows here.
        if (!data)
            return;
        for (uint32_t i = 0; i < length; ++i) sum_ += data[i];
    }
    uint32_t PreserveBlockImage(uint32_t, uint32_t) override { return 0; }
    bool FitsInFlash(uint32_t newTotalSize, const CBlock*) override {
        return newTotalSize <= kFlashSize;
    }
    void NotifyChanged() override {}
    uint32_t TimTypeCode() const override { return 0x11; }
    uint32_t LargestRegionStart() const override { return 0; }
    memory* MemoryMap() override { return nullptr; }
    int Ask(int, intptr_t) override { return 0; }
    uint32_t InstanceNumber() const override { return 0; }

    uint32_t Sum() const { return sum_; }

  private:
    std::vector<uint8_t> flash_;
    uint32_t sum_ = 0;
};

void Exercise(CBlock& block, const uint8_t* entry) {
    block.ReadHeader(entry);
    const BlockHeader* h = block.GetHeader();
    if (uint64_t{h->dataOffset} + h->paddedLength > kFlashSize)
        return;
    block.LoadData(true);
    block.LoadData(false);
    if (auto* dynamics = dynamic_cast<CBlockDynamics*>(&block)) {
        const uint32_t count = dynamics->GetDynamicCount();
        uint32_t a = 0;
        uint32_t v = 0;
        if (count)
            dynamics->GetDynamic(count - 1, &a, &v);
    }
    uint32_t size = 0;
    block.GetExtraHeader(&size);
    block.SetModified(false);
    block.Write(false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzOwner owner(data, size);

    // The init image: its first 56 bytes, as the directory holds them.
    if (size >= CBlockInit::RecordSize) {
        CBlockInit init(&owner, 0);
        try {
            Exercise(init, data);
        } catch (const CExc&) {
        }
    }

    if (size < sizeof(BlockHeader))
        return 0;
    BlockHeader header;
    std::memcpy(&header, data, sizeof(header));
    // The flash object takes an entry only when its header and extra header
    // lie inside the directory; the entry holds nothing after them.
    if (header.dataOffset > size)
        return 0;
    const std::vector<uint8_t> entry(data, data + std::max<size_t>(header.dataOffset, 48));
    try {
        std::unique_ptr<CBlock> block = CreateBlock(&owner, header.type, 0);
        if (block)
            Exercise(*block, entry.data());
    } catch (const CExc&) {
    }
    return 0;
}
