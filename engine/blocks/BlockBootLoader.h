// The boot loader block: a normal block with a 72-byte extra header of
// settings for the boot loader on the DSP; its payload is the boot loader.
#pragma once

#include "engine/blocks/BlockAbsolute.h"

#include <cstdint>
#include <string>

class CBlockBootLoader : public CBlockAbsolute {
  public:
    // The extra header, 32-bit little-endian words as on flash.
    struct Record {
        uint32_t word0;          // carried from the boot file
        uint32_t word4;          // carried from the boot file
        uint32_t timType;        // "TimType" of the selected TIM
        uint32_t largestRegion;  // start of the TIM's largest memory region
        uint32_t bootEnabled;    // start the bootable user block
        uint8_t carried[36];     // carried from the boot file
        char name[16];           // boot loader name, NUL-padded, maybe without NUL
    };
    static_assert(sizeof(Record) == BOOTLOADER_RECORD_SIZE);

    CBlockBootLoader(CBlockOwner* flash, uint32_t flashOffset);

    uint8_t* GetExtraHeader(uint32_t* size) override;
    uint32_t GetExtraHeaderSize() const override;
    void ReadExtraHeader(const uint8_t* extra) override;
    // image = the boot file's boot loader block; stamped for the selected TIM
    // and with booting enabled.
    void SetContents(const uint8_t* image) override;
    virtual void SetBoot(bool on);
    virtual bool IsBoot() const;

    const Record& GetRecord() const { return record_; }
    // The boot loader's name: at most 16 characters.
    std::string GetLoaderName() const;

  private:
    void StampTim();

    Record record_{};
};
