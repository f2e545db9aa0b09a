// What the four kinds of user block share: the user's record (bootable,
// big-endian, file name), the ID and version, and the plain file read.
#pragma once

#include "BlockTypes.h"
#include "engine/blocks/BlockAlign.h"

#include <cstdint>
#include <vector>

class CBlockUser : public CBlockAlign {
  public:
    static constexpr uint32_t TypeCode = qel::block::kTypeUser;
    // type = TypeCode | subType << 16
    static constexpr uint32_t SubExec = qel::block::kSubTypeExec;
    static constexpr uint32_t SubApp = qel::block::kSubTypeApp;
    static constexpr uint32_t SubData = qel::block::kSubTypeData;
    static constexpr uint32_t SubSRecord = qel::block::kSubTypeSRecord;

    CBlockUser(CBlockOwner* flash, uint32_t flashOffset, uint32_t subType);

    uint8_t* GetExtraHeader(uint32_t* size) override;
    uint32_t GetExtraHeaderSize() const override;
    void ReadExtraHeader(const uint8_t* extra) override;

    // Takes the record and builds the payload from its file; returns the
    // payload's CRC.
    virtual uint32_t SetFromFile(const UserBlockRecord* record, uint32_t id, bool checkSpace);
    // Reads the record's file into *data (replaced) and gives the payload
    // length; the buffer is zero-filled up to a multiple of 4.
    virtual void ReadFile(std::vector<uint8_t>* data, uint32_t* length);
    virtual void SetProperties(const UserBlockRecord* record);
    void SetBootable(bool bootable);

    const UserBlockRecord& GetRecord() const { return record_; }

  protected:
    // The plain read shared by every kind: the file's bytes, each complete
    // 32-bit word reversed when the record asks for big-endian.
    static void ReadPlainFile(const UserBlockRecord& record, std::vector<uint8_t>* data,
                              uint32_t* length);
    void TakeRecord(const UserBlockRecord& record);

    UserBlockRecord record_{};
};
