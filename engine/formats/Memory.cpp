#include "engine/formats/Memory.h"

memory::Region* memory::AddRegion(uint32_t size, uint32_t start) {
    configured_.push_front(Region{size, MEMORY_CODE | MEMORY_DATA, start});
    return &configured_.front();
}

void memory::Reset() {
    free_.clear();
    for (const Region& region : configured_) free_.push_front(region);
}

// Ends are computed in 64 bits: a region may reach the top of the address
// space.
bool memory::Allocate(uint32_t size, uint32_t kind, uint32_t address) {
    if (kind == 0)
        kind = MEMORY_CODE | MEMORY_DATA;
    const uint64_t end = uint64_t{address} + size;
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        Region& region = *it;
        const uint64_t regionEnd = uint64_t{region.start} + region.size;
        if (region.start > address || regionEnd < end)
            continue;
        // Only the first region that holds the range is tried.
        if ((region.kind & kind) == 0)
            return false;
        if (address == region.start) {
            region.start += size;
            region.size -= size;
        } else if (end == regionEnd) {
            region.size -= size;
        } else {
            const Region tail{static_cast<uint32_t>(regionEnd - end), region.kind,
                              static_cast<uint32_t>(end)};
            region.size = address - region.start;
            free_.insert_after(it, tail);
        }
        return true;
    }
    return false;
}

bool memory::FindFree(uint32_t size, uint32_t kindMask, uint32_t* address, uint32_t alignment) {
    for (Region& region : free_) {
        if ((region.kind & kindMask) == 0)
            continue;
        // The range taken starts at the aligned address, so the bytes skipped
        // before it count against the region.
        const uint64_t start = region.start;
        const uint64_t aligned = (start + alignment - 1) / alignment * alignment;
        if (aligned + size > start + region.size)
            continue;
        if (address)
            *address = static_cast<uint32_t>(aligned);
        const auto taken = static_cast<uint32_t>(aligned + size - start);
        region.start += taken;
        region.size -= taken;
        return true;
    }
    return false;
}
