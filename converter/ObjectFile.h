// The converter's reader of TI COFF (version 2) executables and its writer
// of comport boot images, old and new format.
//
// Unlike the engine's reader it takes only the fields the images need, wants
// an optional header of exactly 28 bytes, and reports with the driver's COFF
// error codes. It holds the whole file; every header and every loadable
// section's data are checked to lie inside it before anything is read:
// - a file shorter than its headers: 0x30002 "Not a valid .coff file format.
//   (Wrong header size)";
// - a loadable section whose data reach past the end of the file: 0x30006
//   "Not a valid .coff file format. (Section data outside the file)", with
//   the section's index in nAddition.
// A section's data are its size rounded up to whole words; rounding bytes
// past the end of the file are written as 0.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CMemory;

class CObjectFile {
  public:
    static constexpr uint32_t kFileHeaderSize = 22;
    static constexpr uint32_t kOptionalHeaderSize = 28;
    static constexpr uint32_t kSectionHeaderSize = 48;
    static constexpr uint16_t kExecutable = 0x0002;
    // Dummy, no load, copy, uninitialised: no bytes for the target.
    static constexpr uint32_t kNotLoaded = 0x93;
    static constexpr const char* kSectionOutsideText =
        "Not a valid .coff file format. (Section data outside the file)";

    struct Section {
        uint32_t loadAddress;
        uint32_t size;
        uint32_t rawDataOffset;
        uint32_t flags;
    };

    // Reads and checks the file; throws QelExcept (0x30001 cannot open).
    explicit CObjectFile(const char* path);
    // The same over bytes already in memory.
    explicit CObjectFile(std::vector<uint8_t> image);
    // The headers are pointers into the image: not copied, not moved.
    CObjectFile(const CObjectFile&) = delete;
    CObjectFile& operator=(const CObjectFile&) = delete;

    bool IsExecutable() const;
    int GetSectionCount() const;
    // Section i, 0 <= i < GetSectionCount().
    Section GetSection(int i) const;
    bool IsLoadable(int i) const;
    uint32_t GetEntryPoint() const;

    // Check the executable against the TIM type, then write the image. Every
    // check is made before the first byte is written, so a failure (thrown)
    // leaves the output untouched. False when writing to `out` failed.
    bool WriteOldFormat(const char* timType, std::FILE* out) const;
    bool WriteNewFormat(const char* timType, std::FILE* out) const;
    // The same against a memory map at hand, which the checks use up.
    bool WriteOldFormat(CMemory& memory, std::FILE* out) const;
    bool WriteNewFormat(CMemory& memory, std::FILE* out) const;

  private:
    void Check();
    // Puts the section's data, rounded up to whole words, from `from` on,
    // `length` bytes of it.
    bool WriteData(std::FILE* out, const Section& s, uint32_t from, uint32_t length) const;
    void ReserveSections(CMemory& memory, bool loadableOnly) const;

    std::vector<uint8_t> image_;
    const uint8_t* fileHeader_ = nullptr;
    const uint8_t* optionalHeader_ = nullptr;
    const uint8_t* sectionHeaders_ = nullptr;
};
