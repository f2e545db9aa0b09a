#include "tool/AdvancedRules.h"

#include <algorithm>
#include <cstdio>

std::string FormatSize(uint32_t bytes) {
    char text[32];
    if (bytes >= 0x100000)
        std::snprintf(text, sizeof text, "%.1fMB", bytes / 1048576.0);
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%.1fKB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%uB", bytes);
    return text;
}

UsageView UsageOf(bool dataRead, uint32_t flashSize, uint32_t usedSize) {
    UsageView view;
    if (!dataRead)
        return view;
    // A chain larger than the flash shows nothing unused, not a wrapped size.
    const uint32_t unused = flashSize > usedSize ? flashSize - usedSize : 0;
    char text[128];
    std::snprintf(text, sizeof text, "The flash provides %s (%u bytes)",
                  FormatSize(flashSize).c_str(), flashSize);
    view.total = text;
    std::snprintf(text, sizeof text, "%s (%u bytes) have been used", FormatSize(usedSize).c_str(),
                  usedSize);
    view.used = text;
    std::snprintf(text, sizeof text, "%s (%u bytes) are unused", FormatSize(unused).c_str(),
                  unused);
    view.unused = text;
    if (flashSize == 0) {
        view.percentKnown = false;
        return view;
    }
    view.percent = static_cast<int>(uint64_t{usedSize} * 100 / flashSize);
    std::snprintf(text, sizeof text, "%d%% of the flash is used", view.percent);
    view.percentLine = text;
    return view;
}

namespace {

SegmentKind KindOf(uint32_t type) {
    switch (type & 0xFFFF) {
        case 3:
            return SegmentKind::Bitstream;
        case 4:
            return SegmentKind::Dynamics;
        case 5:
            return SegmentKind::User;
        default:
            return SegmentKind::System;  // init, boot loader, FDB, termination
    }
}

const char* KindName(const FlashSegment& segment) {
    switch (segment.kind) {
        case SegmentKind::System:
            return "System block";
        case SegmentKind::Bitstream:
            return "FPGA bitstream";
        case SegmentKind::Dynamics:
            return "Dynamic values";
        case SegmentKind::User:
            return "User block";
        case SegmentKind::Free:
            break;
    }
    return "Free space";
}

}  // namespace

std::vector<FlashSegment> FlashMapOf(const std::vector<ChainBlock>& chain, uint32_t flashSize) {
    std::vector<FlashSegment> map;
    uint64_t offset = 0;
    int users = 0;
    for (size_t i = 0; i < chain.size() && offset < flashSize; ++i) {
        const ChainBlock& block = chain[i];
        FlashSegment segment;
        segment.offset = static_cast<uint32_t>(offset);
        segment.size =
            static_cast<uint32_t>(std::min<uint64_t>(block.header.totalSize, flashSize - offset));
        segment.kind = KindOf(block.header.type);
        segment.index = static_cast<int>(i);
        if (segment.kind == SegmentKind::User)
            segment.userIndex = users++;
        segment.modified = block.modified;
        offset += block.header.totalSize;
        if (segment.size > 0)
            map.push_back(segment);
    }
    if (offset < flashSize) {
        FlashSegment free;
        free.offset = static_cast<uint32_t>(offset);
        free.size = static_cast<uint32_t>(flashSize - offset);
        map.push_back(free);
    }
    return map;
}

std::string SegmentTip(const FlashSegment& segment) {
    char text[160];
    std::string name = KindName(segment);
    if (segment.kind == SegmentKind::User)
        name += " " + std::to_string(segment.userIndex);
    if (segment.modified)
        name += " (changed, not written)";
    if (segment.index >= 0) {
        std::snprintf(text, sizeof text, "Block %d: %s\nOffset 0x%08X\nSize %s (%u bytes)",
                      segment.index, name.c_str(), segment.offset, FormatSize(segment.size).c_str(),
                      segment.size);
    } else {
        std::snprintf(text, sizeof text, "%s\nOffset 0x%08X\nSize %s (%u bytes)", name.c_str(),
                      segment.offset, FormatSize(segment.size).c_str(), segment.size);
    }
    return text;
}
