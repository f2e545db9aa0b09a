// Writes a TIM's boot loader file: a COFF executable whose ".bootl" section
// holds the init image, the boot loader block image and the FDB block image,
// back to back.
#pragma once

#include "firmware/images/CoffBuilder.h"
#include "include/BlockTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qel::firmware {

using qel::block::kBlockSignature;
using qel::block::kInitMagic;

// The start of an FDB payload: "QELFDB01", then the TIM type (u32), padded
// with zeros to `size` bytes (at least 12).
std::vector<uint8_t> MakeFdbPayload(uint32_t timType, uint32_t size = 64);

// A complete block image: 48-byte header (type, id, signature, totalSize =
// 48 + extra + payload, dataOffset, paddedLength, dataLength, version,
// CRC-32 of the payload), the extra header, the payload.
std::vector<uint8_t> MakeBlockImage(uint32_t type, uint32_t version,
                                    const std::vector<uint8_t>& extraHeader,
                                    const std::vector<uint8_t>& payload);

class BootFileBuilder {
  public:
    BootFileBuilder();

    // size: the init image's size word (bytes in the flash); the file holds
    // size / width bytes, which must cover the 56-byte header.
    BootFileBuilder& SetInitSize(uint32_t size);
    BootFileBuilder& SetInitWidth(uint32_t width);
    BootFileBuilder& SetTimType(uint32_t timType);
    BootFileBuilder& SetGeometry(uint32_t sectorSize, uint32_t sectorCount);
    // At most 16 characters.
    BootFileBuilder& SetLoaderName(const std::string& name);
    BootFileBuilder& SetLoaderVersion(uint32_t version);
    // Extra-header word 12: the largest memory region's start.
    BootFileBuilder& SetRegionStart(uint32_t start);
    BootFileBuilder& SetLoaderPayload(std::vector<uint8_t> payload);
    BootFileBuilder& SetFdbPayload(std::vector<uint8_t> payload);
    // Load address of the ".bootl" section.
    BootFileBuilder& SetSectionAddress(uint32_t address);

    std::vector<uint8_t> InitImage() const;    // as held by the file
    std::vector<uint8_t> LoaderImage() const;  // complete type 1 block
    std::vector<uint8_t> FdbImage() const;     // complete type 2 block
    std::vector<uint8_t> BootlSection() const;

    // An executable with the ".bootl" section (initialised data); callers may
    // add sections before or after it.
    CoffBuilder Coff() const;
    std::vector<uint8_t> Build() const { return Coff().Build(); }
    void WriteTo(const std::string& path) const { Coff().WriteTo(path); }

  private:
    uint32_t initSize_ = 256;
    uint32_t initWidth_ = 1;
    uint32_t timType_ = 0x11;
    uint32_t sectorSize_ = 0x10000;
    uint32_t sectorCount_ = 32;
    std::string loaderName_ = "QT6201 BOOT v2.1";
    uint32_t loaderVersion_ = 0x00020001;
    uint32_t regionStart_ = 0x80000000;
    uint32_t sectionAddress_ = 0;
    std::vector<uint8_t> loaderPayload_;
    std::vector<uint8_t> fdbPayload_;
};

}  // namespace qel::firmware
