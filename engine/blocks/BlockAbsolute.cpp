#include "engine/blocks/BlockAbsolute.h"

#include "engine/Exc.h"
#include "engine/blocks/Crc.h"

#include <cstring>

namespace {
constexpr const char* kSource = "BlockAbsolute";
}

void CBlockAbsolute::LoadData(bool) {}

uint32_t CBlockAbsolute::ComputeTotalSize(uint32_t extra) const {
    return header_.dataOffset + header_.dataLength + extra;
}

bool CBlockAbsolute::MoveTo(uint32_t newOffset, bool, bool) {
    // An absolute block never asks to be rewritten because it moved.
    flashOffset_ = newOffset;
    return false;
}

void CBlockAbsolute::SetContents(const uint8_t* image) {
    if (!image)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    BlockHeader incoming;
    memcpy(&incoming, image, sizeof(incoming));
    if (incoming.signature != BLOCK_SIGNATURE)
        QEL_RAISE(ERR_NO_BLOCK_SIGNATURE, kSource);
    // The payload must lie inside the block's place: what reaches past it
    // would be written over the next block.
    if (incoming.dataOffset < sizeof(BlockHeader) ||
        uint64_t{incoming.dataOffset} + incoming.dataLength > incoming.totalSize) {
        QEL_RAISE_DETAIL(ERR_NOT_VALID_BLOCK, kSource,
                         "Block image whose payload reaches past its total size");
    }
    CheckSpace(incoming.totalSize);

    header_ = incoming;
    // A damaged image may carry a padded length below its data length.
    header_.paddedLength = (incoming.dataLength + 3) & ~3u;
    const uint8_t* payload = image + incoming.dataOffset;
    header_.crc = CCrc::Of(payload, incoming.dataLength);
    // WriteData queues paddedLength bytes: the fill is zero.
    data_.assign(header_.paddedLength, 0);
    if (incoming.dataLength != 0)
        std::memcpy(data_.data(), payload, incoming.dataLength);
    SetModified(false);
}
