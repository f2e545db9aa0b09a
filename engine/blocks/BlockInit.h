// The init image at flash offset 0: no block header of its own, the first 56
// bytes of the image are its header. The processor boots from it.
#pragma once

#include "BlockTypes.h"
#include "engine/blocks/BlockAbsolute.h"

#include <array>
#include <cstdint>

class CBlockInit : public CBlockAbsolute {
  public:
    static constexpr uint32_t RecordSize = 56;
    static constexpr uint32_t InitMagic = qel::block::kInitMagic;
    // Word offsets inside the image header.
    static constexpr uint32_t SizeWord = 12;
    static constexpr uint32_t FlashSizeWord = 16;
    static constexpr uint32_t MagicWord = 20;
    static constexpr uint32_t TimTypeWord = 40;
    static constexpr uint32_t WidthWord = 44;
    // Smallest image that can hold its size at FlashSizeWord.
    static constexpr uint32_t MinimumSize = FlashSizeWord + 4;

    CBlockInit(CBlockOwner* flash, uint32_t flashOffset);

    // image = the boot file's init image; the TIM type is stamped into the
    // copy the block keeps, the caller's image is not changed.
    void SetContents(const uint8_t* image) override;
    // image = the first 56 bytes of the flash; only the size is taken.
    void ReadHeader(const uint8_t* image) override;
    uint32_t ComputeTotalSize(uint32_t extra) const override;
    void Write(bool countOnly) override;
    void WriteHeader(bool countOnly) override;
    void WriteData(bool countOnly) override;

    // Bytes SetContents reads from an image: its header, and size / 2 bytes
    // for width 2, else size bytes. Lets a boot file reader check that the
    // image lies within its section before handing it over.
    static uint32_t SourceLength(const uint8_t* image);

    // The first 56 bytes of the last image set.
    const std::array<uint8_t, RecordSize>& Record() const { return record_; }

  private:
    uint32_t RecordWord(uint32_t offset) const;

    std::array<uint8_t, RecordSize> record_{};
};
