#include "engine/blocks/BlockAlign.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockOwner.h"
#include "engine/blocks/Crc.h"

namespace {
constexpr const char* kSource = "BlockAlign";
}

void CBlockAlign::LoadData(bool countOnly) {
    if (dataLoaded_)
        return;
    data_.clear();
    if (header_.dataLength == 0) {
        if (!countOnly)
            dataLoaded_ = true;
        return;
    }
    // The CRC covers dataLength bytes of a paddedLength buffer: a damaged
    // header must not make it read past the end.
    if (header_.paddedLength < header_.dataLength) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                         "Block at flash offset 0x%08X has a damaged header", flashOffset_);
    }
    data_.assign(header_.paddedLength, 0);
    flash_->ReadFlash(countOnly, flashOffset_ + header_.dataOffset, header_.paddedLength,
                      data_.data());
    if (countOnly)
        return;
    if (CCrc::Of(data_.data(), header_.dataLength) != header_.crc) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                         "Block at flash offset 0x%08X has incorrect CRC value", flashOffset_);
    }
    dataLoaded_ = true;
}

uint32_t CBlockAlign::ComputeTotalSize(uint32_t extra) const {
    const uint32_t size = header_.dataOffset + header_.dataLength + extra;
    return (size + Alignment - 1) & ~(Alignment - 1);
}

void CBlockAlign::CheckAlignedSpace(uint64_t size, const char* source) {
    const uint64_t total = (size + Alignment - 1) & ~uint64_t{Alignment - 1};
    if (total > UINT32_MAX)
        QEL_RAISE(ERR_NOT_ENOUGH_SPACE, source);
    CheckSpace(static_cast<uint32_t>(total));
}

bool CBlockAlign::MoveTo(uint32_t newOffset, bool countOnly, bool markOnly) {
    if (newOffset == flashOffset_)
        return false;
    modified_ = true;
    if (markOnly)
        return false;
    if (!dataLoaded_ && savedImage_ == 0) {
        // One refusal is enough: the counting pass has planned the read.
        if (!keepRefused_)
            savedImage_ = flash_->PreserveBlockImage(flashOffset_, header_.totalSize);
        if (savedImage_ == 0) {
            keepRefused_ = countOnly;
            LoadData(countOnly);
        }
    }
    if (!countOnly)
        flashOffset_ = newOffset;
    return true;
}
