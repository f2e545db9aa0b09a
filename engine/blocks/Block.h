// One block of the flash chain: a copy of its 48-byte header, its payload,
// its flash offset and two state flags (modified, dataLoaded).
#pragma once

#include "Telmar.h"

#include <cstdint>
#include <vector>

class CBlockOwner;

class CBlock {
  public:
    CBlock(CBlockOwner* flash, uint32_t flashOffset);
    virtual ~CBlock();
    CBlock(const CBlock&) = delete;
    CBlock& operator=(const CBlock&) = delete;

    virtual void LoadData(bool countOnly) = 0;
    virtual uint32_t ComputeTotalSize(uint32_t extra) const = 0;
    virtual bool MoveTo(uint32_t newOffset, bool countOnly, bool markOnly) = 0;
    virtual void Write(bool countOnly);
    virtual void ReadExtraHeader(const uint8_t* extra);
    virtual void ReadHeader(const uint8_t* image);
    virtual const BlockHeader* GetHeader() const;
    virtual uint8_t* GetExtraHeader(uint32_t* size);
    virtual bool IsModified() const;
    virtual void SetModified(bool notify);
    virtual void WriteHeader(bool countOnly);
    virtual void WriteData(bool countOnly);
    virtual uint32_t GetExtraHeaderSize() const;
    virtual void CheckSpace(uint32_t newTotalSize);
    virtual uint32_t SetDataLength(uint32_t length);
    virtual void ClearDataLength();
    virtual uint32_t GetTotalSize() const;

    void SetId(uint32_t id);
    void SetVersion(uint32_t version);
    // Stores the version word of a block that is still being built: no
    // notice, no state change.
    void StoreVersion(uint32_t version) { header_.version = version; }

    uint32_t FlashOffset() const { return flashOffset_; }
    uint32_t SavedImage() const { return savedImage_; }
    // After a commit has programmed the block: a kept image belongs to that
    // commit only, the next one must keep (or read) the block afresh.
    void ForgetSavedImage() { savedImage_ = 0; }
    // A commit failed before the block's records reached the flash.
    void MarkUnwritten() { modified_ = true; }
    // A failed commit: the block is still where it was before that commit,
    // and what the programmer kept or refused to keep for it is forgotten.
    void UndoMove(uint32_t flashOffset) {
        flashOffset_ = flashOffset;
        savedImage_ = 0;
        keepRefused_ = false;
    }
    bool IsDataLoaded() const { return dataLoaded_; }
    // The payload buffer: dataLength bytes of content, then fill up to
    // paddedLength; empty when the block holds none.
    const std::vector<uint8_t>& Data() const { return data_; }

  protected:
    // A change of header or extra header only: the payload stays where it is
    // (on the flash when it was never loaded).
    void HeaderChanged(bool notify);

    uint32_t flashOffset_;
    uint32_t savedImage_ = 0;
    // The programmer refused to keep the block's image in this commit's
    // counting pass: the second pass reads it without asking again.
    bool keepRefused_ = false;
    BlockHeader header_;
    CBlockOwner* flash_;
    std::vector<uint8_t> data_;
    bool modified_ = true;
    bool dataLoaded_ = true;
};
