#include "engine/formats/SBFManage.h"

#include "engine/formats/SBFCrc16.h"
#include "platform/FileTime.h"

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

enum class ReadStatus { Ok, CannotOpen, NoMemory };

// Reads a whole file; a path that opens but cannot be read (a directory) counts
// as one that cannot be opened.
ReadStatus ReadWholeFile(const char* path, std::vector<uint8_t>& out) {
    out.clear();
    if (!path)
        return ReadStatus::CannotOpen;
    FilePtr f(std::fopen(path, "rb"));
    if (!f)
        return ReadStatus::CannotOpen;
    try {
        std::array<uint8_t, 1 << 16> chunk;
        size_t n = std::fread(chunk.data(), 1, chunk.size(), f.get());
        if (std::ferror(f.get()))
            return ReadStatus::CannotOpen;
        if (n == chunk.size()) {
            // Size hint only: a folder or a device may report anything here.
            std::error_code ec;
            const auto size = std::filesystem::file_size(path, ec);
            if (!ec && size < (uint64_t{1} << 32))
                out.reserve(static_cast<size_t>(size));
        }
        for (;;) {
            out.insert(out.end(), chunk.data(), chunk.data() + n);
            if (n < chunk.size())
                break;
            n = std::fread(chunk.data(), 1, chunk.size(), f.get());
        }
    } catch (const std::bad_alloc&) {
        out = {};
        return ReadStatus::NoMemory;
    }
    if (std::ferror(f.get()))
        return ReadStatus::CannotOpen;
    return ReadStatus::Ok;
}

constexpr std::array<uint8_t, 256> MakeBitReverse() {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned r = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (b & (1u << bit))
                r |= 0x80u >> bit;
        t[b] = static_cast<uint8_t>(r);
    }
    return t;
}
constexpr std::array<uint8_t, 256> kBitReverse = MakeBitReverse();

// Last-write time of path as a FILETIME of the local wall-clock time; 0 when
// the file system cannot tell.
uint64_t LocalWriteFileTime(const char* path) {
    using namespace std::chrono;
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec);
    if (ec)
        return 0;
    const auto sinceEpoch =
        duration_cast<nanoseconds>(file_clock::to_sys(written).time_since_epoch());
    const int64_t utcTicks =
        sinceEpoch.count() / 100 + static_cast<int64_t>(qel::platform::kUnixEpochFileTime);
    if (utcTicks <= 0)
        return 0;
    const qel::platform::LocalTime local =
        qel::platform::FileTimeToLocal(static_cast<uint64_t>(utcTicks));
    const sys_days date{year_month_day{year{local.year}, month(static_cast<unsigned>(local.month)),
                                       std::chrono::day(static_cast<unsigned>(local.day))}};
    const int64_t localSeconds = date.time_since_epoch().count() * int64_t{86400} +
                                 local.hour * 3600 + local.minute * 60 + local.second;
    const int64_t ticks = localSeconds * 10000000 + utcTicks % 10000000 +
                          static_cast<int64_t>(qel::platform::kUnixEpochFileTime);
    return ticks > 0 ? static_cast<uint64_t>(ticks) : 0;
}

bool IsPrintable(uint8_t c) {
    return c >= 0x20 && c <= 0x7E;
}

// Adds decimal digit d to value, saturating instead of wrapping.
uint32_t AddDigit(uint32_t value, char d) {
    const uint64_t next = uint64_t{value} * 10 + static_cast<uint64_t>(d - '0');
    return next > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(next);
}

}  // namespace

// ---------------------------------------------------------------------------
// Stack files

CItemStack CSBFManage::ParseStack(uint32_t expectedVersion, const void* data, size_t size) {
    auto bytes = static_cast<const uint8_t*>(data);
    if (!bytes || size < 6)
        throw CStackException(kStackFileTooSmall);
    if (Le32(bytes) != expectedVersion)
        throw CStackException(kStackBadVersion);
    const uint16_t stored = static_cast<uint16_t>(bytes[size - 2] | bytes[size - 1] << 8);
    if (CCrc16::Of(bytes, size - 2) != stored)
        throw CStackException(kStackInvalid);

    // Lenient: a count larger than what the file holds yields the items it has.
    CItemStack stack;
    const uint8_t* p = bytes + 4;
    size_t remaining = size - 6;
    if (remaining < 4)
        return stack;
    uint32_t count = Le32(p);
    p += 4;
    remaining -= 4;
    for (; count > 0; --count) {
        if (remaining < 4)
            break;
        const uint32_t length = Le32(p);
        p += 4;
        remaining -= 4;
        if (remaining < length)
            break;
        stack.Push(p, length);
        p += length;
        remaining -= length;
    }
    return stack;
}

CItemStack CSBFManage::LoadStack(uint32_t expectedVersion, const char* path) {
    std::vector<uint8_t> bytes;
    switch (ReadWholeFile(path, bytes)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::CannotOpen:
            throw CStackException(kStackFileNotFound);
        case ReadStatus::NoMemory:
            throw std::bad_alloc();
    }
    return ParseStack(expectedVersion, bytes.data(), bytes.size());
}

std::vector<uint8_t> CSBFManage::SerializeStack(const CItemStack& stack, uint32_t version) {
    constexpr uint64_t kMaxU32 = std::numeric_limits<uint32_t>::max();
    // Counts and lengths are 32-bit in the file; more cannot be written.
    if (stack.Count() > kMaxU32)
        throw CStackException(kStackNotCreated);
    size_t total = 8 + 2;
    for (const auto& item : stack.Items()) {
        if (item.size() > kMaxU32)
            throw CStackException(kStackNotCreated);
        total += 4 + item.size();
    }
    std::vector<uint8_t> out(total);
    uint8_t* p = out.data();
    PutLe32(p, version);
    PutLe32(p + 4, static_cast<uint32_t>(stack.Count()));
    p += 8;
    for (const auto& item : stack.Items()) {
        PutLe32(p, static_cast<uint32_t>(item.size()));
        p += 4;
        if (!item.empty())
            std::memcpy(p, item.data(), item.size());
        p += item.size();
    }
    const uint16_t crc = CCrc16::Of(out.data(), total - 2);
    p[0] = static_cast<uint8_t>(crc);
    p[1] = static_cast<uint8_t>(crc >> 8);
    return out;
}

void CSBFManage::SaveStack(const CItemStack& stack, uint32_t version, const char* path) {
    if (!path)
        throw CStackException(kStackNotCreated);
    const std::vector<uint8_t> bytes = SerializeStack(stack, version);
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        throw CStackException(kStackNotCreated);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        // A half-written stack file would only fail its CRC later: say so now.
        std::remove(path);
        throw CStackException(kStackNotCreated);
    }
}

// ---------------------------------------------------------------------------
// SBF descriptor

CItemStack CSBFManage::EncodeSbf(const SbfDescriptor& d, uint32_t formatWord) {
    CItemStack stack;
    stack.PushU32(d.magic);
    stack.PushU32(d.version);
    stack.PushU32(static_cast<uint32_t>(d.timTypes.size()));
    for (uint32_t type : d.timTypes) stack.PushU32(type);
    stack.PushU32(d.sourceTimeLow);
    stack.PushU32(d.sourceTimeHigh);
    stack.PushString(d.comment);
    stack.PushString(d.sourcePath);
    stack.PushString(d.info);
    stack.PushU32(static_cast<uint32_t>(d.dataItems.Count()));
    for (const auto& item : d.dataItems.Items()) {
        stack.PushU32(static_cast<uint32_t>(item.size()));
        stack.Push(item);
    }
    stack.PushU32(formatWord);
    return stack;
}

int CSBFManage::DecodeSbf(CItemStack stack, SbfDescriptor* out, uint32_t* formatWord) {
    if (formatWord)
        *formatWord = 0;
    if (!out)
        return SBF_NO_PATH;
    *out = SbfDescriptor{};
    try {
        out->magic = stack.PopU32();
        out->version = stack.PopU32();
        // Counts come from the file: the pops, not the counts, bound the loops.
        for (uint32_t k = stack.PopU32(); k > 0; --k) out->timTypes.push_back(stack.PopU32());
        out->sourceTimeLow = stack.PopU32();
        out->sourceTimeHigh = stack.PopU32();
        out->comment = stack.PopString();
        out->sourcePath = stack.PopString();
        out->info = stack.PopString();
        for (uint32_t m = stack.PopU32(); m > 0; --m) {
            const uint32_t length = stack.PopU32();
            out->dataItems.Push(stack.PopItem(length));
        }
    } catch (const std::exception&) {
        return SBF_FAILED;
    }
    try {
        const uint32_t word = stack.PopU32();
        if (formatWord)
            *formatWord = word;
    } catch (const CStackException&) {
        // Files of the first format end without it.
    }
    return SBF_OK;
}

int CSBFManage::ReadSbf(const char* path, SbfDescriptor* out, uint32_t* formatWord) {
    if (formatWord)
        *formatWord = 0;
    if (!path || !out)
        return SBF_NO_PATH;
    CItemStack stack;
    try {
        stack = LoadStack(SBF_STACK_VERSION, path);
    } catch (const std::exception&) {
        *out = SbfDescriptor{};
        return SBF_FAILED;
    }
    return DecodeSbf(std::move(stack), out, formatWord);
}

// ---------------------------------------------------------------------------
// .bit files

CSBFManage::CSBFManage() = default;
CSBFManage::~CSBFManage() = default;

void CSBFManage::CloseFile() {
    file_.reset();
    filePath_.clear();
    fileSize_ = 0;
    position_ = 0;
}

int64_t CSBFManage::FindSyncWord(const void* data, size_t size) {
    auto p = static_cast<const uint8_t*>(data);
    unsigned run = 0;
    for (size_t i = 0; i < size; ++i) {
        run = p[i] == 0xFF ? run + 1 : 0;
        if (run == 4)
            return static_cast<int64_t>(i);
    }
    return -1;
}

int CSBFManage::OpenBitFile(const char* path) {
    CloseFile();
    if (!path)
        return SBF_CANNOT_OPEN;
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path, "rb"));
    if (!f)
        return SBF_CANNOT_OPEN;
    std::array<uint8_t, 1 << 16> chunk;
    uint64_t offset = 0;
    unsigned run = 0;
    bool found = false;
    while (!found) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), f.get());
        for (size_t i = 0; i < n; ++i) {
            run = chunk[i] == 0xFF ? run + 1 : 0;
            if (run == 4) {
                position_ = offset + i;
                found = true;
                break;
            }
        }
        offset += n;
        if (n < chunk.size())
            break;
    }
    if (std::ferror(f.get())) {
        position_ = 0;
        return SBF_CANNOT_OPEN;
    }
    if (!found)
        return SBF_NO_SYNC_WORD;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) {
        position_ = 0;
        return SBF_CANNOT_OPEN;
    }
    const long size = std::ftell(f.get());
    if (size < 0 || static_cast<uint64_t>(size) <= position_) {
        position_ = 0;
        return SBF_CANNOT_OPEN;
    }
    fileSize_ = static_cast<uint64_t>(size);
    file_ = std::move(f);
    filePath_ = path;
    return SBF_OK;
}

namespace {

// Steps 2 and 3 of the header summary on the bytes of the computed range.
std::string SummariseHeader(const uint8_t* bytes, size_t length) {
    std::string text(reinterpret_cast<const char*>(bytes), length);
    for (char& c : text) {
        const auto u = static_cast<uint8_t>(c);
        if (u != 0 && !IsPrintable(u))
            c = ' ';
    }
    std::string result;
    size_t i = 0;
    for (int line = 0; line < 4 && i < length; ++line) {
        const size_t zero = text.find('\0', i);
        if (zero == std::string::npos)
            break;
        i = zero + 1;
        size_t end = text.find('\0', i);
        if (end == std::string::npos)
            end = length;
        result.append(text, i, end - i);
        result += "\r\n";
        i = end + 1;
    }
    return result;
}

// The range [start, end) of the header that the summary reads; false when it
// is empty or starts before the file.
bool HeaderRange(uint8_t lengthByte, uint64_t position, uint64_t& start, uint64_t& end) {
    const int n = static_cast<int8_t>(lengthByte);
    const int first = (n + 3) & ~3;
    if (first < 0)
        return false;
    start = static_cast<uint64_t>(first);
    end = position & ~uint64_t{4};
    return end > start;
}

}  // namespace

std::string CSBFManage::BitHeaderInfo(const void* file, size_t size, size_t position) {
    auto bytes = static_cast<const uint8_t*>(file);
    if (!bytes || size < 2)
        return {};
    uint64_t start = 0, end = 0;
    if (!HeaderRange(bytes[1], position, start, end))
        return {};
    if (end > size)
        return {};  // the header is shorter than the range
    return SummariseHeader(bytes + start, static_cast<size_t>(end - start));
}

std::string CSBFManage::ReadBitHeaderInfo() {
    if (!file_)
        return {};
    std::FILE* f = file_.get();
    uint8_t head[2];
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fread(head, 1, 2, f) != 2)
        return {};
    uint64_t start = 0, end = 0;
    if (!HeaderRange(head[1], position_, start, end))
        return {};
    if (end > fileSize_)
        return {};
    try {
        std::vector<uint8_t> bytes(static_cast<size_t>(end - start));
        if (std::fseek(f, static_cast<long>(start), SEEK_SET) != 0 ||
            std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size())
            return {};
        return SummariseHeader(bytes.data(), bytes.size());
    } catch (const std::bad_alloc&) {
        return {};
    }
}

int CSBFManage::BuildFromBit(const char* bitPath, const char* sbfPath, uint32_t version,
                             const std::vector<uint32_t>& timTypes, const std::string& comment) {
    const int opened = OpenBitFile(bitPath);
    if (opened != SBF_OK)
        return opened;
    try {
        SbfDescriptor d;
        const uint64_t written = LocalWriteFileTime(bitPath);
        d.sourceTimeLow = static_cast<uint32_t>(written);
        d.sourceTimeHigh = static_cast<uint32_t>(written >> 32);

        std::vector<uint8_t> data;
        try {
            data.resize(static_cast<size_t>(fileSize_ - position_));
        } catch (const std::bad_alloc&) {
            return SBF_OUT_OF_MEMORY;
        }
        std::FILE* f = file_.get();
        if (std::fseek(f, static_cast<long>(position_), SEEK_SET) != 0 ||
            std::fread(data.data(), 1, data.size(), f) != data.size())
            return SBF_FAILED;  // the file changed under us
        for (uint8_t& b : data) b = kBitReverse[b];

        std::vector<uint8_t> compressed;
        try {
            compressed = CompressZeroRuns(data.data(), data.size());
        } catch (const std::bad_alloc&) {
            return SBF_OUT_OF_MEMORY;
        }
        data = {};

        d.magic = SBF_MAGIC;
        d.version = version;
        d.timTypes = timTypes;
        d.comment = comment;
        d.sourcePath = bitPath;
        d.info = ReadBitHeaderInfo();
        d.dataItems.PushU32(static_cast<uint32_t>(compressed.size()));
        d.dataItems.Push(std::move(compressed));
        SaveStack(EncodeSbf(d, SBF_FORMAT_WORD), SBF_STACK_VERSION, sbfPath);
        return SBF_OK;
    } catch (const std::bad_alloc&) {
        return SBF_OUT_OF_MEMORY;
    } catch (const std::exception&) {
        return SBF_FAILED;
    }
}

// ---------------------------------------------------------------------------
// .dat files

uint32_t CSBFManage::DatVersion(std::string_view trailer) {
    uint32_t major = 1, minor = 0;
    uint32_t digits = 0;  // the digit buffer, as its value
    int state = 0;
    for (const char c : trailer) {
        if (c >= '0' && c <= '9') {
            digits = AddDigit(digits, c);
            if (state == 0)
                state = 1;
            if (state == 2)
                state = 3;
        } else if (c == '.') {
            if (state == 1) {
                major = digits;
                digits = 0;
                state = 2;
            }
        } else if (state == 3) {
            minor = digits;
            break;
        } else {
            digits = 0;
            state = 0;
        }
    }
    // Each half holds 16 bits; a larger number must not spill into the other.
    return (major & 0xFFFF) << 16 | (minor & 0xFFFF);
}

DatTrailer CSBFManage::FindDatTrailer(const void* data, size_t size) {
    DatTrailer t;
    auto bytes = static_cast<const uint8_t*>(data);
    if (!bytes)
        return t;
    size_t end = size;
    while (end > 0 && bytes[end - 1] == 0) --end;
    if (end == 0)
        return t;  // empty, or 0 bytes only
    size_t start = end;
    while (start > 0 && bytes[start - 1] != 0) --start;
    if (start == 0)
        return t;  // no 0 byte before the trailer
    if (start < 4)
        return t;  // the 4 bytes before the trailer are not there
    t.valid = true;
    t.start = start;
    t.dataLength = start - 4;
    t.text.assign(reinterpret_cast<const char*>(bytes + start), end - start);
    for (char& c : t.text)
        if (!IsPrintable(static_cast<uint8_t>(c)))
            c = ' ';
    t.version = DatVersion(t.text);
    return t;
}

int CSBFManage::BuildFromDat(const char* datPath, const char* sbfPath,
                             const std::vector<uint32_t>& timTypes) {
    std::vector<uint8_t> bytes;
    switch (ReadWholeFile(datPath, bytes)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::CannotOpen:
            return SBF_CANNOT_OPEN;
        case ReadStatus::NoMemory:
            return SBF_OUT_OF_MEMORY;
    }
    try {
        const DatTrailer trailer = FindDatTrailer(bytes.data(), bytes.size());
        if (!trailer.valid)
            return SBF_FAILED;
        std::vector<uint8_t> compressed = CompressZeroRuns(bytes.data(), trailer.dataLength);
        bytes = {};

        SbfDescriptor d;
        d.magic = SBF_MAGIC;
        d.version = trailer.version;
        d.timTypes = timTypes;
        d.comment = trailer.text;
        d.sourcePath = datPath;
        d.dataItems.PushU32(static_cast<uint32_t>(compressed.size()));
        d.dataItems.Push(std::move(compressed));
        SaveStack(EncodeSbf(d, SBF_FORMAT_WORD), SBF_STACK_VERSION, sbfPath);
        return SBF_OK;
    } catch (const std::bad_alloc&) {
        return SBF_OUT_OF_MEMORY;
    } catch (const std::exception&) {
        return SBF_FAILED;
    }
}
