// The memory map of one TIM type: the free regions of its "Memory" entries,
// against which every section of an executable is reserved and in which the
// new-format boot loader finds its place. Failures throw QelExcept.
#pragma once

#include "QelTimInfo.h"

#include <cstdint>
#include <memory>

class CQelTimInfoLoad;

class CMemory {
  public:
    // An empty map.
    CMemory();
    // Opens the TIM database and loads the type's memory: each "Memory" entry
    // (start, size) goes to the head of the free list, so the list holds them
    // in reverse order. 0x30008 when the type is unknown; a library that
    // gives no database leaves the map empty.
    explicit CMemory(const char* timType);
    ~CMemory();
    CMemory(const CMemory&) = delete;
    CMemory& operator=(const CMemory&) = delete;

    // Puts a free region at the head of the list.
    void AddRegion(uint32_t size, uint32_t start);
    // Takes [address, address + size) out of the first free region that holds
    // it whole; 0x30005 when none does. Size 0 succeeds and changes nothing.
    bool Reserve(uint32_t size, uint32_t address);
    // Takes size bytes from the top of the first free region large enough.
    bool AllocateHigh(uint32_t size, uint32_t* address);

    struct Region {
        uint32_t size;
        uint32_t start;
        std::unique_ptr<Region> next;
    };
    const Region* FirstRegion() const { return head_.get(); }

  private:
    std::unique_ptr<Region> head_;
    std::unique_ptr<CQelTimInfoLoad> binder_;
    CQelTimInfo* database_ = nullptr;
};
