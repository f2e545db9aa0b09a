// Reader of TI COFF (version 2) executables and writer of the one-section
// executables the engine loads onto the DSP to place a buffer of bytes there.
//
// Every count and offset of the file is checked against the file's size when
// it is loaded, so a damaged file is refused with an engine error (source
// "ObjFile") instead of making the reader look outside the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decoded 22-byte COFF file header.
struct CoffFileHeader {
    uint16_t versionId;
    uint16_t sectionCount;
    uint32_t timeStamp;
    uint32_t symbolTableOffset;
    uint32_t symbolCount;
    uint16_t optionalHeaderSize;
    uint16_t flags;
    uint16_t targetId;
};

// The 28-byte optional header.
struct CoffOptionalHeader {
    uint16_t magic;
    uint16_t versionStamp;
    uint32_t codeSize;
    uint32_t initialisedDataSize;
    uint32_t uninitialisedDataSize;
    uint32_t entryPoint;
    uint32_t codeStart;
    uint32_t dataStart;
};
static_assert(sizeof(CoffOptionalHeader) == 28);

// One 48-byte section header, in file layout.
struct CoffSectionHeader {
    char name[8];  // NUL-padded; or 4 zero bytes and a string table offset
    uint32_t physicalAddress;
    uint32_t virtualAddress;
    uint32_t size;
    uint32_t rawDataOffset;
    uint32_t relocationOffset;
    uint32_t lineNumberOffset;
    uint32_t relocationCount;
    uint32_t lineNumberCount;
    uint32_t flags;
    uint16_t reserved;
    uint16_t page;
};
static_assert(sizeof(CoffSectionHeader) == 48);

constexpr uint32_t COFF_FILE_HEADER_SIZE = 22;
constexpr uint32_t COFF_OPTIONAL_HEADER_SIZE = 28;
constexpr uint32_t COFF_SECTION_HEADER_SIZE = 48;
constexpr uint32_t COFF_SYMBOL_SIZE = 18;

constexpr uint16_t COFF_FLAG_EXECUTABLE = 0x0002;

constexpr uint32_t COFF_SECTION_DUMMY = 0x01;
constexpr uint32_t COFF_SECTION_PADDED = 0x08;
constexpr uint32_t COFF_SECTION_COPY = 0x10;
constexpr uint32_t COFF_SECTION_CODE = 0x20;
constexpr uint32_t COFF_SECTION_DATA = 0x40;
constexpr uint32_t COFF_SECTION_UNINITIALISED = 0x80;

class CObjFile {
  public:
    CObjFile();
    ~CObjFile();
    CObjFile(const CObjFile&) = delete;
    CObjFile& operator=(const CObjFile&) = delete;

    // Reads the whole file. Errors: 19 "Could not open obj file" (detail: the
    // path), 40 for an optional header size other than 0 or 28, 13 "Could not
    // read file" for a file whose headers, section data or names lie outside it.
    void Load(const char* path);
    // The same from a buffer in memory (copied); name stands for the path.
    void LoadFromMemory(const uint8_t* data, size_t size, const char* name);
    void Close();

    bool IsLoaded() const { return loaded_; }
    const std::string& GetName() const { return name_; }
    const std::vector<uint8_t>& GetImage() const { return image_; }

    bool IsExecutable() const;
    int GetSectionCount() const;
    // Null with no file loaded.
    const CoffFileHeader* GetFileHeader() const;
    // Null when the file has none.
    const CoffOptionalHeader* GetOptionalHeader() const;

    // Section i (error 20 "Index out of range" outside [0, count)). The header
    // may be changed: a caller that skips a section sets its size to 0.
    CoffSectionHeader* GetSectionHeader(int i);
    const CoffSectionHeader* GetSectionHeader(int i) const;
    const std::string& GetSectionName(int i) const;
    // The section's size bytes in the image; error 13 when the header (as it
    // stands now) places them outside the file.
    const uint8_t* GetSectionData(int i) const;
    uint8_t* GetSectionData(int i);
    // Copies length bytes from the section's raw data offset on; bytes past
    // the end of the file are 0 (a section padded to whole words may end
    // there).
    void GetSectionBytes(int i, uint32_t length, uint8_t* out) const;
    // First section of that exact name, -1 when there is none.
    int FindSection(const char* name) const;

    // Error 41 "Coff optional header not found" when the file has none.
    uint32_t GetEntryPoint() const;

    // Value of the first symbol of that name (auxiliary entries skipped);
    // false when there is none. Error 13 when the symbol table lies outside
    // the file.
    bool FindSymbol(const char* name, uint32_t* value) const;

    // Writes a one-section COFF executable holding length bytes of data at
    // DSP address `address` into "__temp<number>.out" in the process's private
    // temporary folder and returns its path (also kept as the name). Leaves
    // the object empty but for the name. Error 0x10006 "Could not create temp
    // file" (detail: the path).
    std::string WriteTempCoff(uint32_t length, const uint8_t* data, uint32_t address, int number);

  private:
    void Parse();
    std::string ReadName(const char* field, const char* what) const;
    [[noreturn]] void Damaged(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    std::vector<uint8_t> image_;
    std::string name_;
    bool loaded_ = false;
    CoffFileHeader fileHeader_{};
    CoffOptionalHeader optionalHeader_{};
    bool hasOptionalHeader_ = false;
    std::vector<CoffSectionHeader> sections_;
    std::vector<std::string> sectionNames_;
};
