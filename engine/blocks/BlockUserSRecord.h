// A user block built from a Motorola S-record file: the data of its S3
// records laid end to end. The payload keeps no addresses, so the S3 records
// must form one contiguous run.
#pragma once

#include "engine/blocks/BlockUser.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CBlockUserSRecord : public CBlockUser {
  public:
    CBlockUserSRecord(CBlockOwner* flash, uint32_t flashOffset);

    void ReadFile(std::vector<uint8_t>* data, uint32_t* length) override;

    // Builds the payload from S-record text into *out: the S3 data, 16 zero
    // bytes, zero fill; returns the payload length, text length / 2 + 16.
    uint32_t ParseText(const uint8_t* text, size_t length, std::vector<uint8_t>* out);

  private:
    char NextChar();
    uint8_t ReadHexByte();
    // Parses one record; S3 data go to out, which has room for that many.
    void ParseRecord(uint8_t* out, size_t room, uint32_t* dataLength, uint32_t* type);

    std::vector<uint8_t> text_;  // the file's text while it is parsed
    const uint8_t* textData_ = nullptr;
    size_t textLength_ = 0;
    size_t position_ = 0;
    char current_ = 0;
    uint32_t checksum_ = 0;
    uint32_t expectedAddress_ = 0;
    bool sequenceStarted_ = false;  // an S3 record has fixed the address
};
