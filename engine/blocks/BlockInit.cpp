#include "engine/blocks/BlockInit.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockOwner.h"
#include "engine/blocks/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <vector>

using qel::blocks::GetLe32;
using qel::blocks::PutLe32;

namespace {
constexpr const char* kSource = "BlockInit";
}

CBlockInit::CBlockInit(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockAbsolute(flash, flashOffset) {
    // The init image has no header on flash: no type, and a size of 0 until
    // an image is set or read.
    header_.type = qel::block::kTypeInit;
    PutLe32(record_.data() + MagicWord, InitMagic);
}

uint32_t CBlockInit::RecordWord(uint32_t offset) const {
    return GetLe32(record_.data() + offset);
}

uint32_t CBlockInit::SourceLength(const uint8_t* image) {
    if (!image)
        return 0;
    const uint32_t size = GetLe32(image + SizeWord);
    const uint32_t stored = GetLe32(image + WidthWord) == 2 ? size / 2 : size;
    return std::max(stored, RecordSize);
}

void CBlockInit::SetContents(const uint8_t* image) {
    if (!image)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    if (GetLe32(image + MagicWord) != InitMagic)
        QEL_RAISE(ERR_NOT_VALID_INIT_BLOCK, kSource);
    const uint32_t size = GetLe32(image + SizeWord);
    const uint32_t width = GetLe32(image + WidthWord);
    // Too small to carry its own size, or a width the boot file cannot hold:
    // either would make the copy run past one of the buffers.
    if (size < MinimumSize) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_INIT_BLOCK, kSource, "Init image size %u below %u", size,
                         MinimumSize);
    }
    if (width == 0 || width > 2) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_INIT_BLOCK, kSource, "Init image width %u", width);
    }
    CheckSpace(size);

    // The boot file's bytes with the selected TIM stamped in, as they go to
    // the flash.
    std::vector<uint8_t> source(image, image + SourceLength(image));
    PutLe32(source.data() + TimTypeWord, flash_ ? flash_->TimTypeCode() : 0);

    std::vector<uint8_t> payload(size, 0);
    if (width == 2) {
        // Each stored byte is the low byte of a 16-bit word; for an odd size
        // the last byte stays 0.
        for (uint32_t i = 0; i < size / 2; ++i) payload[2 * i] = source[i];
    } else {
        std::memcpy(payload.data(), source.data(), size);
    }
    PutLe32(payload.data() + FlashSizeWord, size);

    SetModified(false);
    std::memcpy(record_.data(), source.data(), RecordSize);
    data_ = std::move(payload);
    header_.totalSize = ComputeTotalSize(0);
}

void CBlockInit::ReadHeader(const uint8_t* image) {
    if (!image)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    // The flash copy holds its size in word 16.
    const uint32_t size = GetLe32(image + FlashSizeWord);
    PutLe32(record_.data() + SizeWord, size);
    header_.totalSize = size;
    modified_ = false;
    dataLoaded_ = false;
}

uint32_t CBlockInit::ComputeTotalSize(uint32_t) const {
    return RecordWord(SizeWord);
}

void CBlockInit::Write(bool countOnly) {
    CBlockAbsolute::Write(countOnly);
    // No header on the flash holds a write time: read back it is 0, and so it
    // is in memory.
    header_.writeTimeLow = 0;
    header_.writeTimeHigh = 0;
}

void CBlockInit::WriteHeader(bool) {}

void CBlockInit::WriteData(bool countOnly) {
    const uint32_t size =
        std::min<uint32_t>(RecordWord(SizeWord), static_cast<uint32_t>(data_.size()));
    if (size == 0)
        return;
    flash_->QueueFlashWrite(countOnly, flashOffset_, size, data_.data(), 0);
}
