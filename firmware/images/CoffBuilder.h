// Writes TI COFF (version 2) executables: file header, optional header,
// section headers, raw data, symbol table and string table, little-endian.
// Shared by the build-time firmware tool and the test fixtures; it writes
// exactly what it is told, so tests can also make files the reader refuses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qel::firmware {

struct CoffSectionSpec {
    std::string name;  // more than 8 characters: string table
    uint32_t physicalAddress = 0;
    std::optional<uint32_t> virtualAddress;  // default: the physical address
    std::vector<uint8_t> data;               // bytes written to the file
    std::optional<uint32_t> size;            // header size; default: data.size()
    uint32_t flags = 0x20;                   // code
    uint16_t page = 0;
    bool nameInStringTable = false;  // also for a short name
    bool noRawData = false;          // raw data offset 0, nothing written
};

struct CoffSymbolSpec {
    std::string name;
    uint32_t value = 0;
    int16_t section = 0;
    uint8_t storageClass = 2;  // external
    uint8_t auxCount = 0;      // zero-filled auxiliary entries follow
};

// Where Build put things (file offsets).
struct CoffLayout {
    uint32_t sectionTableOffset = 0;
    std::vector<uint32_t> rawDataOffsets;  // 0 for sections without raw data
    uint32_t symbolTableOffset = 0;
    uint32_t stringTableOffset = 0;     // 0 when there is no string table
    std::vector<uint32_t> nameOffsets;  // string table offset of each long section name, or 0
};

class CoffBuilder {
  public:
    static constexpr uint16_t kDefaultFlags = 0x0103;  // relocations stripped, executable, LE

    // 0 (none), 28 (standard) or any other size (zero-padded or cut).
    CoffBuilder& SetOptionalHeaderSize(uint16_t size);
    CoffBuilder& SetEntryPoint(uint32_t address);
    CoffBuilder& SetFlags(uint16_t flags);
    CoffBuilder& SetExecutable(bool executable);
    CoffBuilder& AddSection(CoffSectionSpec section);
    CoffBuilder& AddSection(std::string name, uint32_t address, std::vector<uint8_t> data,
                            uint32_t flags = 0x20);
    CoffBuilder& AddSymbol(CoffSymbolSpec symbol);
    CoffBuilder& AddSymbol(std::string name, uint32_t value, int16_t section = 1);

    std::vector<CoffSectionSpec>& Sections() { return sections_; }

    std::vector<uint8_t> Build(CoffLayout* layout = nullptr) const;
    // Throws std::runtime_error when the file cannot be written.
    void WriteTo(const std::string& path) const;

  private:
    uint16_t optionalHeaderSize_ = 28;
    uint32_t entryPoint_ = 0;
    uint16_t flags_ = kDefaultFlags;
    std::vector<CoffSectionSpec> sections_;
    std::vector<CoffSymbolSpec> symbols_;
};

// Little-endian helpers for building and patching images.
void PutU16(std::vector<uint8_t>& out, uint16_t value);
void PutU32(std::vector<uint8_t>& out, uint32_t value);
void PokeU16(std::vector<uint8_t>& image, size_t offset, uint16_t value);
void PokeU32(std::vector<uint8_t>& image, size_t offset, uint32_t value);
uint32_t PeekU32(const std::vector<uint8_t>& image, size_t offset);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace qel::firmware
