// SBF bitstream stack files: reading and writing stack files, and building an
// SBF file from a Xilinx .bit file or a .dat file. Stands alone (the bitstream
// stack builder program links it too): it reports through result codes and
// CStackException, never through the engine's error record.
#pragma once

#include "engine/formats/SBFItemStack.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Result codes of ReadSbf, OpenBitFile and the builders.
enum SbfResult : int {
    SBF_OK = 0,
    SBF_FAILED = 1,        // stack file or item error, or the build ended by one
    SBF_CANNOT_OPEN = 2,   // source file cannot be opened
    SBF_NO_PATH = 4,       // ReadSbf without a path
    SBF_NO_SYNC_WORD = 5,  // no 0xFFFFFFFF word in the .bit file
    SBF_OUT_OF_MEMORY = 6,
};

inline constexpr uint32_t SBF_MAGIC = 0x89898989;
inline constexpr uint32_t SBF_STACK_VERSION = 0;  // stack file version of SBF files
inline constexpr uint32_t SBF_FORMAT_WORD = 1;    // last item of every SBF file written here

// The record an SBF file holds.
struct SbfDescriptor {
    uint32_t magic = 0;
    uint32_t version = 0;  // major << 16 | minor
    std::vector<uint32_t> timTypes;
    uint32_t sourceTimeLow = 0;  // last write of the source, local-time FILETIME
    uint32_t sourceTimeHigh = 0;
    std::string comment;
    std::string sourcePath;
    std::string info;  // .bit header summary; empty for .dat sources
    // (4-byte compressed length L) then (L bytes of compressed bitstream).
    CItemStack dataItems;
};

// Where the trailer of a .dat file lies and what it says.
struct DatTrailer {
    bool valid = false;     // false: no 0 byte before the trailer, only 0 bytes,
                            // or fewer than 4 bytes before the trailer
    size_t start = 0;       // offset of the trailer's first byte
    size_t dataLength = 0;  // start - 4: the bitstream bytes
    std::string text;       // non-printable bytes replaced by spaces
    uint32_t version = 0;   // major << 16 | minor, 1.0 when the text has none
};

class CSBFManage {
  public:
    CSBFManage();
    ~CSBFManage();
    CSBFManage(const CSBFManage&) = delete;
    CSBFManage& operator=(const CSBFManage&) = delete;

    // Reads and checks a stack file; failures raise CStackException ("File not
    // found", "Stack file to small", "Incorrect version number in stack file",
    // "Invalid stack file").
    static CItemStack LoadStack(uint32_t expectedVersion, const char* path);
    // The checks and the lenient item parse of LoadStack on bytes in memory.
    static CItemStack ParseStack(uint32_t expectedVersion, const void* data, size_t size);
    // Writes a stack file; "File was not created" when it cannot be written.
    static void SaveStack(const CItemStack& stack, uint32_t version, const char* path);
    // The bytes SaveStack writes.
    static std::vector<uint8_t> SerializeStack(const CItemStack& stack, uint32_t version);

    // 0 read (formatWord 0 when the file has none), 1 stack file or item error
    // (out partly filled), 4 path or out null.
    int ReadSbf(const char* path, SbfDescriptor* out, uint32_t* formatWord);
    // Pops an SBF descriptor and its format word off a loaded stack (0 or 1).
    static int DecodeSbf(CItemStack stack, SbfDescriptor* out, uint32_t* formatWord);
    // The items of an SBF file, format word last.
    static CItemStack EncodeSbf(const SbfDescriptor& descriptor, uint32_t formatWord);

    // Opens a .bit file (closing the previous one) and finds the end of its
    // first 0xFFFFFFFF word: 0 found, 2 cannot open, 5 not found.
    int OpenBitFile(const char* path);
    // Summary of the open .bit file's header: design, part, date and time lines.
    std::string ReadBitHeaderInfo();
    // The same on bytes in memory: file holds at least the file's first
    // position + 1 bytes (or the whole file).
    static std::string BitHeaderInfo(const void* file, size_t size, size_t position);
    // Offset of the byte that completes the first 0xFFFFFFFF word, or -1.
    static int64_t FindSyncWord(const void* data, size_t size);

    int BuildFromBit(const char* bitPath, const char* sbfPath, uint32_t version,
                     const std::vector<uint32_t>& timTypes, const std::string& comment);
    int BuildFromDat(const char* datPath, const char* sbfPath,
                     const std::vector<uint32_t>& timTypes);
    static DatTrailer FindDatTrailer(const void* data, size_t size);
    // The version walk over a trailer text.
    static uint32_t DatVersion(std::string_view trailer);

    // Zero-run compression of the whole little-endian words of data (trailing
    // 1-3 bytes dropped); an empty result for length 0.
    static std::vector<uint8_t> CompressZeroRuns(const void* data, size_t length);

    // State of the open source file.
    bool IsOpen() const { return file_ != nullptr; }
    uint64_t FileSize() const { return fileSize_; }
    uint64_t Position() const { return position_; }

  private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    void CloseFile();

    std::unique_ptr<std::FILE, FileCloser> file_;
    std::string filePath_;
    uint64_t fileSize_ = 0;
    uint64_t position_ = 0;
};
