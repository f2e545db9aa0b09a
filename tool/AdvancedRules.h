// The Advanced page's rules without a window: the size texts, the four usage
// lines and the flash map's segments.
#pragma once

#include "Telmar.h"

#include <cstdint>
#include <string>
#include <vector>

// "%.1fMB" from 1 MiB, "%.1fKB" from 1 KiB, else "%dB".
std::string FormatSize(uint32_t bytes);

struct UsageView {
    std::string total;
    std::string used;
    std::string unused;
    std::string percentLine;
    int percent = 0;
    // False when the flash size is 0: the percentage line and the bar keep
    // what they showed.
    bool percentKnown = true;
};
UsageView UsageOf(bool dataRead, uint32_t flashSize, uint32_t usedSize);

// One block of the chain as the map draws it.
struct ChainBlock {
    BlockHeader header{};
    bool modified = false;
};

enum class SegmentKind { System, Bitstream, Dynamics, User, Free };

struct FlashSegment {
    uint32_t offset = 0;
    uint32_t size = 0;
    SegmentKind kind = SegmentKind::Free;
    int index = -1;  // position in the chain; -1 for free space
    int userIndex = -1;
    bool modified = false;
};

// The chain laid back to back from offset 0, cut at the flash's end, and the
// free space after it.
std::vector<FlashSegment> FlashMapOf(const std::vector<ChainBlock>& chain, uint32_t flashSize);
// Index, kind, offset and size of a segment, one per line.
std::string SegmentTip(const FlashSegment& segment);
