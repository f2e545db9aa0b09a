#include "firmware/images/CoffBuilder.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace qel::firmware {

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PokeU16(std::vector<uint8_t>& image, size_t offset, uint16_t value) {
    image.at(offset + 1) = static_cast<uint8_t>(value >> 8);
    image[offset] = static_cast<uint8_t>(value);
}

void PokeU32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    image.at(offset + 3);
    for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t PeekU32(const std::vector<uint8_t>& image, size_t offset) {
    image.at(offset + 3);
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | image[offset + i];
    return value;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

CoffBuilder& CoffBuilder::SetOptionalHeaderSize(uint16_t size) {
    optionalHeaderSize_ = size;
    return *this;
}

CoffBuilder& CoffBuilder::SetEntryPoint(uint32_t address) {
    entryPoint_ = address;
    return *this;
}

CoffBuilder& CoffBuilder::SetFlags(uint16_t flags) {
    flags_ = flags;
    return *this;
}

CoffBuilder& CoffBuilder::SetExecutable(bool executable) {
    flags_ = executable ? (flags_ | 0x0002) : (flags_ & ~0x0002);
    return *this;
}

CoffBuilder& CoffBuilder::AddSection(CoffSectionSpec section) {
    sections_.push_back(std::move(section));
    return *this;
}

CoffBuilder& CoffBuilder::AddSection(std::string name, uint32_t address, std::vector<uint8_t> data,
                                     uint32_t flags) {
    CoffSectionSpec section;
    section.name = std::move(name);
    section.physicalAddress = address;
    section.data = std::move(data);
    section.flags = flags;
    return AddSection(std::move(section));
}

CoffBuilder& CoffBuilder::AddSymbol(CoffSymbolSpec symbol) {
    symbols_.push_back(std::move(symbol));
    return *this;
}

CoffBuilder& CoffBuilder::AddSymbol(std::string name, uint32_t value, int16_t section) {
    CoffSymbolSpec symbol;
    symbol.name = std::move(name);
    symbol.value = value;
    symbol.section = section;
    return AddSymbol(std::move(symbol));
}

namespace {

// Appends the 8-byte name field: inline when it fits, else a string table
// reference. Returns the string table offset used, or 0.
uint32_t PutName(std::vector<uint8_t>& out, const std::string& name, bool forceTable,
                 std::string& strings) {
    if (!forceTable && name.size() <= 8) {
        char field[8] = {};
        memcpy(field, name.data(), name.size());
        out.insert(out.end(), field, field + 8);
        return 0;
    }
    const uint32_t offset = static_cast<uint32_t>(4 + strings.size());
    strings += name;
    strings += '\0';
    PutU32(out, 0);
    PutU32(out, offset);
    return offset;
}

}  // namespace

std::vector<uint8_t> CoffBuilder::Build(CoffLayout* layout) const {
    CoffLayout where;
    const uint32_t tableOffset = 22 + optionalHeaderSize_;
    where.sectionTableOffset = tableOffset;

    // Raw data follows the section headers, each section at a word boundary.
    uint32_t offset = tableOffset + 48 * static_cast<uint32_t>(sections_.size());
    for (const CoffSectionSpec& s : sections_) {
        if (s.noRawData) {
            where.rawDataOffsets.push_back(0);
            continue;
        }
        offset = (offset + 3) & ~3u;
        where.rawDataOffsets.push_back(offset);
        offset += static_cast<uint32_t>(s.data.size());
    }
    offset = (offset + 3) & ~3u;
    uint32_t symbolEntries = 0;
    for (const CoffSymbolSpec& sym : symbols_) symbolEntries += 1 + sym.auxCount;

    std::string strings;
    std::vector<uint8_t> headers;
    for (const CoffSectionSpec& s : sections_) {
        where.nameOffsets.push_back(PutName(headers, s.name, s.nameInStringTable, strings));
        PutU32(headers, s.physicalAddress);
        PutU32(headers, s.virtualAddress.value_or(s.physicalAddress));
        PutU32(headers, s.size.value_or(static_cast<uint32_t>(s.data.size())));
        PutU32(headers, where.rawDataOffsets[where.nameOffsets.size() - 1]);
        for (int i = 0; i < 4; ++i) PutU32(headers, 0);  // relocations, line numbers
        PutU32(headers, s.flags);
        PutU16(headers, 0);
        PutU16(headers, s.page);
    }
    std::vector<uint8_t> symbols;
    for (const CoffSymbolSpec& sym : symbols_) {
        PutName(symbols, sym.name, false, strings);
        PutU32(symbols, sym.value);
        PutU16(symbols, static_cast<uint16_t>(sym.section));
        PutU16(symbols, 0);
        symbols.push_back(sym.storageClass);
        symbols.push_back(sym.auxCount);
        symbols.insert(symbols.end(), 18u * sym.auxCount, 0);
    }
    const bool hasStrings = !strings.empty();
    if (symbolEntries != 0 || hasStrings)
        where.symbolTableOffset = offset;
    if (hasStrings)
        where.stringTableOffset = offset + 18 * symbolEntries;

    std::vector<uint8_t> out;
    PutU16(out, 0x00C2);
    PutU16(out, static_cast<uint16_t>(sections_.size()));
    PutU32(out, 0);
    PutU32(out, where.symbolTableOffset);
    PutU32(out, symbolEntries);
    PutU16(out, optionalHeaderSize_);
    PutU16(out, flags_);
    PutU16(out, 0x0099);

    if (optionalHeaderSize_ != 0) {
        uint32_t code = 0, data = 0, bss = 0;
        for (const CoffSectionSpec& s : sections_) {
            const uint32_t size = s.size.value_or(static_cast<uint32_t>(s.data.size()));
            if (s.flags & 0x20)
                code += size;
            if (s.flags & 0x40)
                data += size;
            if (s.flags & 0x80)
                bss += size;
        }
        std::vector<uint8_t> optional;
        PutU16(optional, 0x0108);
        PutU16(optional, 0x01A4);
        PutU32(optional, code);
        PutU32(optional, data);
        PutU32(optional, bss);
        PutU32(optional, entryPoint_);
        PutU32(optional, 0);
        PutU32(optional, 0);
        optional.resize(optionalHeaderSize_, 0);
        out.insert(out.end(), optional.begin(), optional.end());
    }
    out.insert(out.end(), headers.begin(), headers.end());
    for (size_t i = 0; i < sections_.size(); ++i) {
        if (sections_[i].noRawData)
            continue;
        out.resize(where.rawDataOffsets[i], 0);
        out.insert(out.end(), sections_[i].data.begin(), sections_[i].data.end());
    }
    if (where.symbolTableOffset != 0) {
        out.resize(where.symbolTableOffset, 0);
        out.insert(out.end(), symbols.begin(), symbols.end());
    }
    if (hasStrings) {
        PutU32(out, static_cast<uint32_t>(4 + strings.size()));
        out.insert(out.end(), strings.begin(), strings.end());
    }
    if (layout)
        *layout = std::move(where);
    return out;
}

void CoffBuilder::WriteTo(const std::string& path) const {
    WriteFileBytes(path, Build());
}

}  // namespace qel::firmware
