#include "engine/blocks/Block.h"

#include "BlockTypes.h"
#include "engine/Exc.h"
#include "engine/blocks/BlockOwner.h"
#include "engine/blocks/Crc.h"
#include "platform/FileTime.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {
constexpr const char* kSource = "Block";
}

static_assert(BLOCK_SIGNATURE == qel::block::kBlockSignature);

CBlock::CBlock(CBlockOwner* flash, uint32_t flashOffset)
    : flashOffset_(flashOffset), header_{}, flash_(flash) {
    header_.signature = BLOCK_SIGNATURE;
    header_.dataOffset = sizeof(BlockHeader);
}

CBlock::~CBlock() = default;

void CBlock::Write(bool countOnly) {
    if (IsModified()) {
        const uint64_t now = qel::platform::CurrentFileTime();
        header_.writeTimeLow = static_cast<uint32_t>(now);
        header_.writeTimeHigh = static_cast<uint32_t>(now >> 32);
        if (savedImage_ != 0) {
            flash_->QueueFlashWrite(countOnly, flashOffset_, header_.totalSize, nullptr,
                                    savedImage_);
            // The kept image has the old header: the current one (new write
            // time, edited id or record) goes over it.
            WriteHeader(countOnly);
        } else {
            WriteHeader(countOnly);
            WriteData(countOnly);
        }
    }
    if (!countOnly)
        modified_ = false;
}

void CBlock::ReadExtraHeader(const uint8_t*) {}

void CBlock::ReadHeader(const uint8_t* image) {
    if (!image)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    uint32_t signature;
    memcpy(&signature, image + offsetof(BlockHeader, signature), sizeof(signature));
    if (signature != BLOCK_SIGNATURE)
        QEL_RAISE(ERR_NO_BLOCK_SIGNATURE, kSource);
    memcpy(&header_, image, sizeof(header_));
    ReadExtraHeader(image + sizeof(BlockHeader));
    modified_ = false;
    dataLoaded_ = false;
}

const BlockHeader* CBlock::GetHeader() const {
    return &header_;
}

uint8_t* CBlock::GetExtraHeader(uint32_t* size) {
    if (size)
        *size = 0;
    return nullptr;
}

bool CBlock::IsModified() const {
    return modified_;
}

void CBlock::HeaderChanged(bool notify) {
    modified_ = true;
    if (notify && flash_)
        flash_->NotifyChanged();
}

void CBlock::SetModified(bool notify) {
    modified_ = true;
    dataLoaded_ = true;
    if (notify && flash_)
        flash_->NotifyChanged();
}

void CBlock::WriteHeader(bool countOnly) {
    flash_->QueueFlashWrite(countOnly, flashOffset_, sizeof(header_),
                            reinterpret_cast<const uint8_t*>(&header_), 0);
    const uint32_t extraSize = GetExtraHeaderSize();
    if (extraSize != 0) {
        uint32_t recordSize = 0;
        const uint8_t* extra = GetExtraHeader(&recordSize);
        flash_->QueueFlashWrite(countOnly, flashOffset_ + sizeof(header_), extraSize, extra, 0);
    }
}

void CBlock::WriteData(bool countOnly) {
    if (header_.dataLength != 0 && !data_.empty()) {
        // A buffer shorter than paddedLength would be read past its end, and
        // the fill of a block without an unused tail (an absolute block of an
        // odd length) would land on the next block's header.
        const uint32_t place =
            header_.totalSize > header_.dataOffset ? header_.totalSize - header_.dataOffset : 0;
        const uint32_t length =
            std::min({header_.paddedLength, static_cast<uint32_t>(data_.size()), place});
        flash_->QueueFlashWrite(countOnly, flashOffset_ + header_.dataOffset, length, data_.data(),
                                0);
    }
}

uint32_t CBlock::GetExtraHeaderSize() const {
    return 0;
}

void CBlock::CheckSpace(uint32_t newTotalSize) {
    if (!flash_->FitsInFlash(newTotalSize, this)) {
        char detail[128];
        flash_->DescribeSpace(newTotalSize, this, detail, sizeof(detail));
        QEL_RAISE_DETAIL(ERR_NOT_ENOUGH_SPACE, kSource, detail);
    }
}

uint32_t CBlock::SetDataLength(uint32_t length) {
    header_.dataOffset = sizeof(BlockHeader) + GetExtraHeaderSize();
    header_.dataLength = length;
    header_.paddedLength = (length + 3) & ~3u;
    header_.totalSize = ComputeTotalSize(0);
    const size_t covered = std::min<size_t>(length, data_.size());
    header_.crc = CCrc::Of(data_.data(), covered);
    return header_.crc;
}

void CBlock::ClearDataLength() {
    header_.dataOffset = sizeof(BlockHeader) + GetExtraHeaderSize();
    header_.dataLength = 0;
    header_.paddedLength = 0;
    header_.totalSize = ComputeTotalSize(0);
    header_.crc = 0;
}

uint32_t CBlock::GetTotalSize() const {
    return header_.totalSize;
}

void CBlock::SetId(uint32_t id) {
    header_.id = id;
    HeaderChanged(true);
}

void CBlock::SetVersion(uint32_t version) {
    header_.version = version;
    HeaderChanged(true);
}
