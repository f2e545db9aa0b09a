// The write plan of one commit. The counting pass splits every queued write
// into staging loads (plan nodes) and counts the flash sectors each load
// touches; the writing pass splits the same writes at the same places, fills
// the staging buffer with write records and ships each full load.
#pragma once

#include "ProgrammerProtocol.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CWritePlan {
  public:
    // Record head: source (0 inline, else a kept-image handle), flash offset, length.
    static constexpr uint32_t RecordHead = qel::fprog::kRecordHeadSize;

    struct Node {
        uint32_t sectors = 0;
        uint32_t used = 0;
        int64_t lastSector = -1;  // one past the highest sector counted
    };

    // Brings the first size bytes of the staging buffer into the DSP and programs them.
    using Shipper = std::function<void(uint32_t size)>;

    // sectorSize must be a power of two; staging is the host buffer of
    // transfer-buffer size (may be null: queuing then raises "No transfer buffer").
    CWritePlan(uint32_t sectorSize, uint8_t* staging, uint32_t stagingSize, Shipper ship);
    // The plan keeps its own staging buffer, allocated for each load at the
    // size that load takes (known from the counting pass) and released after
    // shipping or by ReleaseStaging; loads still split at loadSize bytes.
    CWritePlan(uint32_t sectorSize, uint32_t loadSize, Shipper ship);

    // The staging bytes of the load being shipped.
    const uint8_t* Staging() const { return staging_; }
    // The shipper has taken the bytes: an owned buffer goes at once.
    void ReleaseStaging();

    // Step 2 of a commit: one empty node, current.
    void Reset();
    // Before the writing pass: every node's used = 0, the first node current.
    void Rewind();

    void Queue(bool countOnly, uint32_t offset, uint32_t length, const uint8_t* data,
               uint32_t savedImage);
    // Closes the last load with an end record and, in writing mode, ships it.
    void Flush(bool countOnly);

    uint32_t TotalSectors() const;
    uint32_t SectorsBeforeCurrent() const;
    const std::vector<Node>& Nodes() const { return nodes_; }
    size_t CurrentIndex() const { return current_; }

  private:
    void CountSectors(uint32_t offset, uint32_t length);
    void PutRecord(uint32_t source, uint32_t offset, uint32_t length, const uint8_t* data);
    void NextLoad(bool countOnly);
    // Owned buffer: room for the current load's records.
    void EnsureStaging();
    void GrowStaging(uint32_t size);

    uint32_t sectorSize_;
    uint8_t* staging_;
    uint32_t stagingSize_;
    Shipper ship_;
    bool owned_ = false;
    // Pages of their own, so that a released load goes back to the system
    // at once whichever thread allocates next.
    struct PageBuffer {
        explicit PageBuffer(size_t size);
        ~PageBuffer();
        PageBuffer(const PageBuffer&) = delete;
        PageBuffer& operator=(const PageBuffer&) = delete;
        uint8_t* data = nullptr;
        size_t size = 0;
    };
    std::unique_ptr<PageBuffer> buffer_;
    uint32_t bufferSize_ = 0;
    std::vector<Node> nodes_;
    std::vector<uint32_t> planned_;  // used bytes of each load in the counting pass
    size_t current_ = 0;
};
