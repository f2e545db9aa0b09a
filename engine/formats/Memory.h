// The DSP memory map of a TIM: the regions the TIM description lists, and a
// working copy of them that an executable's sections are carved out of.
#pragma once

#include <cstdint>
#include <forward_list>

constexpr uint32_t MEMORY_CODE = 1;
constexpr uint32_t MEMORY_DATA = 2;

class memory {
  public:
    struct Region {
        uint32_t size;
        uint32_t kind;  // mask of MEMORY_CODE and MEMORY_DATA
        uint32_t start;
    };

    // Adds a configured region (code and data) at the head of the list.
    Region* AddRegion(uint32_t size, uint32_t start);
    // Makes every configured region free again; the free list then holds them
    // in the order they were added.
    void Reset();
    // Reserves exactly [address, address + size) of the first free region
    // that holds the range, when that region accepts kind (0: either).
    bool Allocate(uint32_t size, uint32_t kind, uint32_t address);
    // Takes size bytes from an address rounded up to alignment (a power of
    // two) in the first free region of a kind in kindMask that has room.
    bool FindFree(uint32_t size, uint32_t kindMask, uint32_t* address, uint32_t alignment = 1);

    const std::forward_list<Region>& ConfiguredRegions() const { return configured_; }
    const std::forward_list<Region>& FreeRegions() const { return free_; }

  private:
    std::forward_list<Region> configured_;
    std::forward_list<Region> free_;
};
