#include "engine/formats/ObjFile.h"

#include "engine/Exc.h"
#include "include/LittleEndian.h"
#include "platform/TempFolder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace {

constexpr const char* kSource = "ObjFile";

// The little-endian readers shared with the converter's COFF reader.
constexpr auto& Get16 = qel::GetLe16;
constexpr auto& Get32 = qel::GetLe32;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// The last path component: error details have room for 127 characters only,
// and what is wrong matters more than the folder.
std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

CoffSectionHeader DecodeSection(const uint8_t* p) {
    CoffSectionHeader h;
    memcpy(h.name, p, 8);
    h.physicalAddress = Get32(p + 8);
    h.virtualAddress = Get32(p + 12);
    h.size = Get32(p + 16);
    h.rawDataOffset = Get32(p + 20);
    h.relocationOffset = Get32(p + 24);
    h.lineNumberOffset = Get32(p + 28);
    h.relocationCount = Get32(p + 32);
    h.lineNumberCount = Get32(p + 36);
    h.flags = Get32(p + 40);
    h.reserved = Get16(p + 44);
    h.page = Get16(p + 46);
    return h;
}

}  // namespace

CObjFile::CObjFile() = default;

CObjFile::~CObjFile() = default;

void CObjFile::Close() {
    image_.clear();
    image_.shrink_to_fit();
    name_.clear();
    loaded_ = false;
    fileHeader_ = {};
    optionalHeader_ = {};
    hasOptionalHeader_ = false;
    sections_.clear();
    sectionNames_.clear();
}

void CObjFile::Load(const char* path) {
    Close();
    if (path == nullptr || *path == '\0')
        QEL_RAISE_DETAIL(ERR_CANNOT_OPEN_OBJ, kSource, "");
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    std::ifstream in;
    if (!ec)
        in.open(path, std::ios::binary);
    if (ec || !in)
        QEL_RAISE_DETAIL(ERR_CANNOT_OPEN_OBJ, kSource, path);
    // Every offset in the file is 32 bits wide.
    if (size > UINT32_MAX) {
        QEL_RAISE_FORMAT(ERR_CANNOT_READ_FILE, kSource, "%s: larger than 4 GiB",
                         BaseName(path).c_str());
    }

    std::vector<uint8_t> image(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    // A short read keeps what arrived; the checks below judge it.
    image.resize(static_cast<size_t>(in.gcount()));
    image_ = std::move(image);
    name_ = path;
    try {
        Parse();
    } catch (...) {
        Close();
        throw;
    }
}

void CObjFile::LoadFromMemory(const uint8_t* data, size_t size, const char* name) {
    Close();
    if (data == nullptr && size != 0)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    image_.assign(data, data + size);
    name_ = name ? name : "";
    try {
        Parse();
    } catch (...) {
        Close();
        throw;
    }
}

void CObjFile::Damaged(const char* format, ...) const {
    char what[160];
    va_list args;
    va_start(args, format);
    vsnprintf(what, sizeof(what), format, args);
    va_end(args);
    QEL_RAISE_FORMAT(ERR_CANNOT_READ_FILE, kSource, "%s: %s", BaseName(name_).c_str(), what);
}

void CObjFile::Parse() {
    const uint8_t* p = image_.data();
    const uint64_t fileSize = image_.size();
    if (fileSize < COFF_FILE_HEADER_SIZE) {
        Damaged("%llu bytes, too short for a COFF file header",
                static_cast<unsigned long long>(fileSize));
    }
    fileHeader_.versionId = Get16(p);
    fileHeader_.sectionCount = Get16(p + 2);
    fileHeader_.timeStamp = Get32(p + 4);
    fileHeader_.symbolTableOffset = Get32(p + 8);
    fileHeader_.symbolCount = Get32(p + 12);
    fileHeader_.optionalHeaderSize = Get16(p + 16);
    fileHeader_.flags = Get16(p + 18);
    fileHeader_.targetId = Get16(p + 20);

    const uint32_t optionalSize = fileHeader_.optionalHeaderSize;
    if (optionalSize != 0 && optionalSize != COFF_OPTIONAL_HEADER_SIZE) {
        QEL_RAISE_FORMAT(ERR_WRONG_OPTIONAL_HEADER, kSource, "%s: optional header of %u bytes",
                         BaseName(name_).c_str(), optionalSize);
    }
    const uint64_t tableStart = COFF_FILE_HEADER_SIZE + optionalSize;
    const uint64_t tableEnd =
        tableStart + uint64_t{COFF_SECTION_HEADER_SIZE} * fileHeader_.sectionCount;
    if (!qel::InsideImage(0, tableEnd, fileSize)) {
        Damaged("headers of %u sections end at byte %llu, file has %llu", fileHeader_.sectionCount,
                static_cast<unsigned long long>(tableEnd),
                static_cast<unsigned long long>(fileSize));
    }
    if (optionalSize != 0) {
        const uint8_t* o = p + COFF_FILE_HEADER_SIZE;
        optionalHeader_.magic = Get16(o);
        optionalHeader_.versionStamp = Get16(o + 2);
        optionalHeader_.codeSize = Get32(o + 4);
        optionalHeader_.initialisedDataSize = Get32(o + 8);
        optionalHeader_.uninitialisedDataSize = Get32(o + 12);
        optionalHeader_.entryPoint = Get32(o + 16);
        optionalHeader_.codeStart = Get32(o + 20);
        optionalHeader_.dataStart = Get32(o + 24);
        hasOptionalHeader_ = true;
    }

    sections_.reserve(fileHeader_.sectionCount);
    sectionNames_.reserve(fileHeader_.sectionCount);
    for (uint32_t i = 0; i < fileHeader_.sectionCount; ++i) {
        const CoffSectionHeader h = DecodeSection(p + tableStart + COFF_SECTION_HEADER_SIZE * i);
        char owner[24];
        snprintf(owner, sizeof(owner), "section %u", i);
        sectionNames_.push_back(ReadName(h.name, owner));
        // Uninitialised sections and those without a file offset have no
        // bytes in the file; everything else must lie wholly inside it.
        if (h.size != 0 && h.rawDataOffset != 0 && !(h.flags & COFF_SECTION_UNINITIALISED) &&
            !qel::InsideImage(h.rawDataOffset, h.size, fileSize)) {
            Damaged("section %u (%.40s) data 0x%X+0x%X outside the file (0x%llX bytes)", i,
                    sectionNames_.back().c_str(), h.rawDataOffset, h.size,
                    static_cast<unsigned long long>(fileSize));
        }
        sections_.push_back(h);
    }
    loaded_ = true;
}

std::string CObjFile::ReadName(const char* field, const char* owner) const {
    if (field[0] != '\0')
        return std::string(field, strnlen(field, 8));
    const uint32_t offset = Get32(reinterpret_cast<const uint8_t*>(field) + 4);
    // An all-zero name field (as in the temporary files) is an empty name,
    // not the bytes of the string table's length word.
    if (offset == 0)
        return std::string();
    const uint64_t fileSize = image_.size();
    const uint64_t tableStart = uint64_t{fileHeader_.symbolTableOffset} +
                                uint64_t{COFF_SYMBOL_SIZE} * fileHeader_.symbolCount;
    if (tableStart + 4 > fileSize) {
        Damaged("%s: string table at byte %llu outside the file", owner,
                static_cast<unsigned long long>(tableStart));
    }
    if (offset < 4)
        Damaged("%s: name offset %u inside the string table length", owner, offset);
    const uint64_t start = tableStart + offset;
    if (start >= fileSize) {
        Damaged("%s: name offset %u outside the file", owner, offset);
    }
    const char* text = reinterpret_cast<const char*>(image_.data()) + start;
    const size_t room = static_cast<size_t>(fileSize - start);
    const void* end = memchr(text, '\0', room);
    if (end == nullptr)
        Damaged("%s: name at offset %u not terminated in the file", owner, offset);
    return std::string(text, static_cast<const char*>(end));
}

bool CObjFile::IsExecutable() const {
    return loaded_ && (fileHeader_.flags & COFF_FLAG_EXECUTABLE) != 0;
}

int CObjFile::GetSectionCount() const {
    return loaded_ ? fileHeader_.sectionCount : 0;
}

const CoffFileHeader* CObjFile::GetFileHeader() const {
    return loaded_ ? &fileHeader_ : nullptr;
}

const CoffOptionalHeader* CObjFile::GetOptionalHeader() const {
    return loaded_ && hasOptionalHeader_ ? &optionalHeader_ : nullptr;
}

CoffSectionHeader* CObjFile::GetSectionHeader(int i) {
    if (i < 0 || static_cast<size_t>(i) >= sections_.size()) {
        QEL_RAISE_FORMAT(ERR_INDEX_OUT_OF_RANGE, kSource, "Section %d of %zu", i, sections_.size());
    }
    return &sections_[static_cast<size_t>(i)];
}

const CoffSectionHeader* CObjFile::GetSectionHeader(int i) const {
    return const_cast<CObjFile*>(this)->GetSectionHeader(i);
}

const std::string& CObjFile::GetSectionName(int i) const {
    GetSectionHeader(i);
    return sectionNames_[static_cast<size_t>(i)];
}

const uint8_t* CObjFile::GetSectionData(int i) const {
    const CoffSectionHeader* h = GetSectionHeader(i);
    if (uint64_t{h->rawDataOffset} + h->size > image_.size()) {
        Damaged("section %d (%.40s) data 0x%X+0x%X outside the file (0x%zX bytes)", i,
                sectionNames_[static_cast<size_t>(i)].c_str(), h->rawDataOffset, h->size,
                image_.size());
    }
    return image_.data() + h->rawDataOffset;
}

uint8_t* CObjFile::GetSectionData(int i) {
    return const_cast<uint8_t*>(std::as_const(*this).GetSectionData(i));
}

void CObjFile::GetSectionBytes(int i, uint32_t length, uint8_t* out) const {
    const CoffSectionHeader* h = GetSectionHeader(i);
    const size_t offset = h->rawDataOffset;
    const size_t available = offset < image_.size() ? image_.size() - offset : 0;
    const size_t n = std::min<size_t>(length, available);
    if (n != 0)
        memcpy(out, image_.data() + offset, n);
    if (length > n)
        memset(out + n, 0, length - n);
}

int CObjFile::FindSection(const char* name) const {
    for (size_t i = 0; i < sectionNames_.size(); ++i) {
        if (sectionNames_[i] == name)
            return static_cast<int>(i);
    }
    return -1;
}

uint32_t CObjFile::GetEntryPoint() const {
    if (!loaded_ || !hasOptionalHeader_) {
        QEL_RAISE_DETAIL(ERR_NO_OPTIONAL_HEADER, kSource, BaseName(name_).c_str());
    }
    return optionalHeader_.entryPoint;
}

bool CObjFile::FindSymbol(const char* name, uint32_t* value) const {
    if (!loaded_ || name == nullptr)
        return false;
    const uint64_t start = fileHeader_.symbolTableOffset;
    const uint64_t count = fileHeader_.symbolCount;
    if (start + count * COFF_SYMBOL_SIZE > image_.size()) {
        Damaged("symbol table of %llu entries at byte %llu outside the file",
                static_cast<unsigned long long>(count), static_cast<unsigned long long>(start));
    }
    for (uint64_t i = 0; i < count;) {
        const uint8_t* entry = image_.data() + start + i * COFF_SYMBOL_SIZE;
        char owner[24];
        snprintf(owner, sizeof(owner), "symbol %llu", static_cast<unsigned long long>(i));
        if (ReadName(reinterpret_cast<const char*>(entry), owner) == name) {
            if (value)
                *value = Get32(entry + 8);
            return true;
        }
        i += 1 + entry[17];  // auxiliary entries follow their symbol
    }
    return false;
}

std::string CObjFile::WriteTempCoff(uint32_t length, const uint8_t* data, uint32_t address,
                                    int number) {
    Close();
    if (data == nullptr && length != 0)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    char fileName[32];
    snprintf(fileName, sizeof(fileName), "__temp%d.out", number);
    std::string path;
    try {
        path = qel::platform::PrivateTempPath(fileName);
    } catch (const std::exception&) {
        QEL_RAISE_DETAIL(ERR_CREATE_TEMP_FILE, kSource, fileName);
    }

    constexpr uint32_t kDataOffset =
        COFF_FILE_HEADER_SIZE + COFF_OPTIONAL_HEADER_SIZE + COFF_SECTION_HEADER_SIZE;  // 98
    // The headers only: the section's bytes go to the file straight from
    // the caller's buffer, which may be as large as the DSP transfer buffer.
    std::vector<uint8_t> out;
    out.reserve(kDataOffset);
    // File header: one section, no symbols; flags 0x010D (relocations, line
    // numbers and local symbols stripped, little-endian), not executable.
    Put16(out, 0x00C2);
    Put16(out, 1);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put16(out, COFF_OPTIONAL_HEADER_SIZE);
    Put16(out, 0x010D);
    Put16(out, 0x0099);
    // Optional header.
    Put16(out, 0x0108);
    Put16(out, 0x01A4);
    Put32(out, length);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, address);
    Put32(out, address);
    Put32(out, 0);
    // Section header: no name.
    out.insert(out.end(), 8, 0);
    Put32(out, address);
    Put32(out, address);
    Put32(out, length);
    Put32(out, kDataOffset);
    for (int i = 0; i < 5; ++i) Put32(out, 0);  // relocations, line numbers, flags
    Put16(out, 0);
    Put16(out, 0);

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file)
        file.write(reinterpret_cast<const char*>(out.data()),
                   static_cast<std::streamsize>(out.size()));
    if (file && length != 0)
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
    if (file)
        file.close();
    if (!file)
        QEL_RAISE_DETAIL(ERR_CREATE_TEMP_FILE, kSource, path.c_str());
    name_ = path;
    return path;
}
