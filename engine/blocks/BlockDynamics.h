// Address/value pairs that the boot loader stores into DSP memory before it
// starts the booted program. Kept as a list; the payload (8 bytes per pair)
// is rebuilt from the list before every size computation and write.
#pragma once

#include "engine/blocks/BlockAlign.h"

#include <cstdint>
#include <vector>

class CBlockDynamics : public CBlockAlign {
  public:
    static constexpr uint32_t RecordBytes = 8;

    CBlockDynamics(CBlockOwner* flash, uint32_t flashOffset);

    uint32_t GetDynamicCount();
    void GetDynamic(uint32_t index, uint32_t* address, uint32_t* value);
    void AddDynamic(uint32_t address, uint32_t value);
    void SetDynamic(uint32_t index, uint32_t address, uint32_t value);
    void RemoveDynamic(uint32_t index);
    void ClearDynamics();

    void Write(bool countOnly) override;
    uint32_t SetDataLength(uint32_t length) override;
    // Every list change ends here: marks the block and tells the caller.
    virtual void ListChanged();

  private:
    struct Dynamic {
        uint32_t address;
        uint32_t value;
    };

    void EnsureList();
    void Serialise();
    void CheckIndex(uint32_t index) const;
    uint32_t ListBytes() const { return static_cast<uint32_t>(list_.size()) * RecordBytes; }

    std::vector<Dynamic> list_;
    bool listBuilt_ = false;
};
