// The FPGA block: the compressed bitstream of an SBF file, with the file's
// name and comment in its extra header. The boot loader configures the FPGA
// from it.
#pragma once

#include "BlockTypes.h"
#include "engine/blocks/BlockAlign.h"

#include <cstdint>

class CBlockFpga : public CBlockAlign {
  public:
    static constexpr uint32_t Type = qel::block::kTypeFpga;
    // Question to the caller: take a bitstream not made for this TIM?
    static constexpr int QuestionWrongTim = TELMAR_QUESTION_FOREIGN_BITSTREAM;
    // Larger bitstream files (SBF, .bit or .dat) are refused before they are
    // read: the largest flash of the known TIMs is 16 MiB, and even a .bit
    // file that compresses well is not four times that.
    static constexpr uint64_t MaxBitstreamFile = 64ull << 20;

    struct Record {
        char comment[512];    // the SBF's comment, NUL-terminated
        char fileName[1024];  // the path given to SetBitstream, NUL-terminated
    };
    static_assert(sizeof(Record) == FPGA_RECORD_SIZE);

    CBlockFpga(CBlockOwner* flash, uint32_t flashOffset);

    uint8_t* GetExtraHeader(uint32_t* size) override;
    uint32_t GetExtraHeaderSize() const override;
    void ReadExtraHeader(const uint8_t* extra) override;

    // Fills the block from an SBF file, or from a .bit or .dat file that is
    // converted first. A bitstream not made for the selected TIM is taken only
    // when the caller agrees; otherwise the block stays as it was.
    void SetBitstream(const char* path);

    const Record& GetRecord() const { return record_; }

  private:
    Record record_{};
};
