// Builders of bitstream inputs and stack files for tests: Xilinx-style .bit
// files with a standard header, .dat files with a text trailer, stack files
// and SBF files written byte by byte (independently of the code under test),
// and a reference decoder of the zero-run format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace qel::fixtures {

using Bytes = std::vector<uint8_t>;

// Bitwise CRC-16/CCITT-FALSE, deliberately table-free.
uint16_t ReferenceCrc16(const uint8_t* data, size_t length);

Bytes U32(uint32_t value);
void Append(Bytes& to, const Bytes& more);
void AppendU32(Bytes& to, uint32_t value);
// Signed words as little-endian bytes.
Bytes Words(std::initializer_list<int32_t> words);
Bytes Text(const std::string& text);

// A configuration body as a bitstream has it: dummy and sync words, then
// frames of dense literal words (with a few isolated zeros) between long zero
// runs. Deterministic for a seed.
Bytes MakeBitstreamBody(size_t bytes, uint32_t seed = 1);

struct BitHeader {
    std::string design = "top.ncd;UserID=0xFFFFFFFF";
    std::string part = "2v1000fg456";
    std::string date = "2024/05/17";
    std::string time = "12:34:56";
};
// A .bit file: field 1 (length 9), field 2 (length 1), fields 'a' to 'd'
// (2-byte big-endian lengths, NUL-terminated texts), 'e' (4-byte length), body.
Bytes MakeBitFile(const BitHeader& header, const Bytes& body);
// Offset of the first byte after the header, where the body begins.
size_t BitHeaderSize(const BitHeader& header);

// A .dat file: data, a 4-byte gap (zeros), the trailer text, then trailingZeros
// 0 bytes.
Bytes MakeDatFile(const Bytes& data, const std::string& trailer, size_t trailingZeros = 4);

// A stack file: version, count (the number of items unless given), items, CRC.
Bytes MakeStackFile(uint32_t version, const std::vector<Bytes>& items,
                    std::optional<uint32_t> count = std::nullopt);
// Appends the CRC-16 of body.
Bytes WithCrc(Bytes body);

struct SbfSpec {
    uint32_t magic = 0x89898989;
    uint32_t version = 0x00010000;
    std::vector<uint32_t> timTypes{0x11};
    uint32_t timeLow = 0;
    uint32_t timeHigh = 0;
    std::string comment = "N/A";
    std::string sourcePath = "top.bit";
    std::string info;
    std::vector<Bytes> dataItems;  // usually (L as 4 bytes, L compressed bytes)
    std::optional<uint32_t> formatWord = 1;
};
// The items of an SBF file in file order.
std::vector<Bytes> SbfItems(const SbfSpec& spec);
Bytes MakeSbfFile(const SbfSpec& spec);
// The two data items of a compressed bitstream.
std::vector<Bytes> DataItems(const Bytes& compressed);

// Decodes the zero-run format; nullopt when the stream is malformed (a group
// that runs past the end, or no end word).
std::optional<Bytes> DecompressZeroRuns(const Bytes& stream);
// Every byte's bits in reverse order.
Bytes ReverseBits(Bytes bytes);

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadFile(const std::filesystem::path& path);

// A fresh folder for one test's files, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace qel::fixtures
