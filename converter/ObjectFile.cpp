#include "converter/ObjectFile.h"

#include "QELExc.h"
#include "QelDrvErrors.h"
#include "converter/Memory.h"
#include "include/ComportImageFormat.h"
#include "include/LittleEndian.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

using qel::GetLe16;
using qel::GetLe32;

namespace {

constexpr const char* kSource = "qeldrv\\objectfile";

[[noreturn]] void Raise(uint32_t code, uint32_t line) {
    throw QelExcept(code, line, kSource, qel::drv::ErrorText(code));
}

uint32_t RoundedLength(uint32_t size) {
    return static_cast<uint32_t>((uint64_t{size} + 3) & ~uint64_t{3});
}

bool PutWords(std::FILE* out, std::initializer_list<uint32_t> words) {
    uint8_t bytes[8 * 4];
    size_t n = 0;
    for (uint32_t w : words) {
        qel::PutLe32(bytes + n, w);
        n += 4;
    }
    return std::fwrite(bytes, 1, n, out) == n;
}

}  // namespace

CObjectFile::CObjectFile(const char* path) {
    // Only a regular file: a folder opens for reading but has no size.
    std::error_code error;
    const std::filesystem::path file(path ? path : "");
    if (!std::filesystem::is_regular_file(file, error))
        Raise(qel::drv::kErrCoffOpen, __LINE__);
    const uintmax_t size = std::filesystem::file_size(file, error);
    std::ifstream in(file, std::ios::binary);
    if (error || !in)
        Raise(qel::drv::kErrCoffOpen, __LINE__);
    try {
        image_.resize(static_cast<size_t>(size));
    } catch (const std::exception&) {
        Raise(qel::drv::kErrCoffOpen, __LINE__);
    }
    in.read(reinterpret_cast<char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
    // A short read keeps what arrived; the checks judge it.
    image_.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    Check();
}

CObjectFile::CObjectFile(std::vector<uint8_t> image) : image_(std::move(image)) {
    Check();
}

void CObjectFile::Check() {
    const uint64_t fileSize = image_.size();
    if (fileSize < kFileHeaderSize)
        Raise(qel::drv::kErrCoffHeaderSize, __LINE__);
    fileHeader_ = image_.data();
    const uint32_t optionalSize = GetLe16(fileHeader_ + 16);
    if (optionalSize == 0)
        Raise(qel::drv::kErrCoffNoOptionalHeader, __LINE__);
    if (optionalSize != kOptionalHeaderSize)
        Raise(qel::drv::kErrCoffHeaderSize, __LINE__);
    const uint64_t tableStart = kFileHeaderSize + kOptionalHeaderSize;
    const uint64_t tableSize = uint64_t{kSectionHeaderSize} * GetLe16(fileHeader_ + 2);
    if (!qel::InsideImage(tableStart, tableSize, fileSize))
        Raise(qel::drv::kErrCoffHeaderSize, __LINE__);
    optionalHeader_ = fileHeader_ + kFileHeaderSize;
    sectionHeaders_ = fileHeader_ + tableStart;
    for (int i = 0; i < GetSectionCount(); ++i) {
        const Section s = GetSection(i);
        // Rounded up to whole words, the size must still fit a length word.
        if (IsLoadable(i) &&
            (!qel::InsideImage(s.rawDataOffset, s.size, fileSize) || s.size > UINT32_MAX - 3)) {
            throw QelExcept(qel::drv::kErrCoffSectionOutside, __LINE__, kSource,
                            kSectionOutsideText, static_cast<uint32_t>(i));
        }
    }
}

bool CObjectFile::IsExecutable() const {
    return (GetLe16(fileHeader_ + 18) & kExecutable) != 0;
}

int CObjectFile::GetSectionCount() const {
    return GetLe16(fileHeader_ + 2);
}

CObjectFile::Section CObjectFile::GetSection(int i) const {
    const uint8_t* h = sectionHeaders_ + static_cast<size_t>(i) * kSectionHeaderSize;
    return Section{GetLe32(h + 8), GetLe32(h + 16), GetLe32(h + 20), GetLe32(h + 40)};
}

bool CObjectFile::IsLoadable(int i) const {
    const Section s = GetSection(i);
    return s.rawDataOffset != 0 && s.size != 0 && (s.flags & kNotLoaded) == 0;
}

uint32_t CObjectFile::GetEntryPoint() const {
    return GetLe32(optionalHeader_ + 16);
}

void CObjectFile::ReserveSections(CMemory& memory, bool loadableOnly) const {
    for (int i = 0; i < GetSectionCount(); ++i) {
        const Section s = GetSection(i);
        const bool placed = loadableOnly ? IsLoadable(i) : s.size != 0 && !(s.flags & kNotLoaded);
        if (placed)
            memory.Reserve(s.size, s.loadAddress);
    }
}

bool CObjectFile::WriteData(std::FILE* out, const Section& s, uint32_t from,
                            uint32_t length) const {
    // Checked when the file was read: the section's size bytes are inside.
    const uint64_t start = uint64_t{s.rawDataOffset} + from;
    const uint64_t available = image_.size() - std::min<uint64_t>(start, image_.size());
    const size_t inside = static_cast<size_t>(std::min<uint64_t>(length, available));
    if (inside && std::fwrite(image_.data() + start, 1, inside, out) != inside)
        return false;
    static constexpr uint8_t kZeros[4] = {};
    const size_t rest = static_cast<size_t>(length - inside);
    return rest == 0 || std::fwrite(kZeros, 1, rest, out) == rest;
}

bool CObjectFile::WriteNewFormat(const char* timType, std::FILE* out) const {
    if (!IsExecutable())
        Raise(qel::drv::kErrCoffNotExecutable, __LINE__);
    CMemory memory(timType);
    return WriteNewFormat(memory, out);
}

bool CObjectFile::WriteOldFormat(const char* timType, std::FILE* out) const {
    if (!IsExecutable())
        Raise(qel::drv::kErrCoffNotExecutable, __LINE__);
    CMemory memory(timType);
    return WriteOldFormat(memory, out);
}

bool CObjectFile::WriteNewFormat(CMemory& memory, std::FILE* out) const {
    if (!IsExecutable())
        Raise(qel::drv::kErrCoffNotExecutable, __LINE__);
    ReserveSections(memory, true);
    uint32_t loader = 0;
    if (!memory.AllocateHigh(qel::comport::kBootLoaderReserve, &loader))
        Raise(qel::drv::kErrCoffBootLoader, __LINE__);
    const uint32_t align = qel::comport::kBootLoaderAlign;
    loader = (loader + align - 1) & ~(align - 1);

    bool ok = PutWords(out, {qel::comport::kNewMarker, loader});
    for (int i = 0; ok && i < GetSectionCount(); ++i) {
        if (!IsLoadable(i))
            continue;
        const Section s = GetSection(i);
        uint32_t length = RoundedLength(s.size);
        uint32_t address = s.loadAddress;
        uint32_t from = 0;
        while (ok && length > 0) {
            const uint32_t record = std::min(length, qel::comport::kMaxRecord);
            ok = PutWords(out, {record, address}) && WriteData(out, s, from, record);
            address += record;
            from += record;
            length -= record;
        }
    }
    return ok && PutWords(out, {0, GetEntryPoint()});
}

bool CObjectFile::WriteOldFormat(CMemory& memory, std::FILE* out) const {
    if (!IsExecutable())
        Raise(qel::drv::kErrCoffNotExecutable, __LINE__);
    // A section without file data is still placed in the old format.
    ReserveSections(memory, false);
    bool ok = PutWords(
        out, {qel::comport::kOldMarker, qel::comport::kOldBusControl, qel::comport::kOldBusControl,
              qel::comport::kOldLoaderVersion, GetEntryPoint(), 0});
    for (int i = 0; ok && i < GetSectionCount(); ++i) {
        if (!IsLoadable(i))
            continue;
        const Section s = GetSection(i);
        const uint32_t length = RoundedLength(s.size);
        ok = PutWords(out, {length, s.loadAddress}) && WriteData(out, s, 0, length);
    }
    return ok && PutWords(out, {0});
}
