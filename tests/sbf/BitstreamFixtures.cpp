#include "BitstreamFixtures.h"

#include <fstream>
#include <random>
#include <stdexcept>

namespace qel::fixtures {

uint16_t ReferenceCrc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

Bytes U32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

void AppendU32(Bytes& to, uint32_t value) { Append(to, U32(value)); }

Bytes Words(std::initializer_list<int32_t> words) {
    Bytes out;
    for (int32_t w : words) AppendU32(out, static_cast<uint32_t>(w));
    return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes MakeBitstreamBody(size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(bytes + 4096);
    AppendU32(out, 0xFFFFFFFF);
    AppendU32(out, 0x665599AA);  // AA 99 55 66 on the wire
    while (out.size() < bytes) {
        const size_t literals = 16 + rng() % 400;
        for (size_t i = 0; i < literals; ++i) {
            const uint32_t r = rng();
            AppendU32(out, (r % 32 == 0) ? 0u : (r | 1u));
        }
        const size_t zeros = rng() % 4 == 0 ? 1 + rng() % 2 : 3 + rng() % 1500;
        out.resize(out.size() + 4 * zeros, 0);
    }
    out.resize(bytes);
    return out;
}

namespace {

void AppendField16(Bytes& out, char key, const std::string& text) {
    out.push_back(static_cast<uint8_t>(key));
    const size_t length = text.size() + 1;
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
    Append(out, Text(text));
    out.push_back(0);
}

}  // namespace

Bytes MakeBitFile(const BitHeader& header, const Bytes& body) {
    Bytes out = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
    AppendField16(out, 'a', header.design);
    AppendField16(out, 'b', header.part);
    AppendField16(out, 'c', header.date);
    AppendField16(out, 'd', header.time);
    out.push_back('e');
    const auto length = static_cast<uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(length >> shift));
    Append(out, body);
    return out;
}

size_t BitHeaderSize(const BitHeader& header) { return MakeBitFile(header, {}).size(); }

Bytes MakeDatFile(const Bytes& data, const std::string& trailer, size_t trailingZeros) {
    Bytes out = data;
    out.resize(out.size() + 4, 0);
    Append(out, Text(trailer));
    out.resize(out.size() + trailingZeros, 0);
    return out;
}

Bytes WithCrc(Bytes body) {
    const uint16_t crc = ReferenceCrc16(body.data(), body.size());
    body.push_back(static_cast<uint8_t>(crc));
    body.push_back(static_cast<uint8_t>(crc >> 8));
    return body;
}

Bytes MakeStackFile(uint32_t version, const std::vector<Bytes>& items,
                    std::optional<uint32_t> count) {
    Bytes out = U32(version);
    AppendU32(out, count.value_or(static_cast<uint32_t>(items.size())));
    for (const Bytes& item : items) {
        AppendU32(out, static_cast<uint32_t>(item.size()));
        Append(out, item);
    }
    return WithCrc(std::move(out));
}

std::vector<Bytes> SbfItems(const SbfSpec& s) {
    std::vector<Bytes> items = {U32(s.magic), U32(s.version),
                                U32(static_cast<uint32_t>(s.timTypes.size()))};
    for (uint32_t t : s.timTypes) items.push_back(U32(t));
    items.push_back(U32(s.timeLow));
    items.push_back(U32(s.timeHigh));
    for (const std::string* text : {&s.comment, &s.sourcePath, &s.info}) {
        items.push_back(U32(static_cast<uint32_t>(text->size())));
        items.push_back(Text(*text));
    }
    items.push_back(U32(static_cast<uint32_t>(s.dataItems.size())));
    for (const Bytes& item : s.dataItems) {
        items.push_back(U32(static_cast<uint32_t>(item.size())));
        items.push_back(item);
    }
    if (s.formatWord) items.push_back(U32(*s.formatWord));
    return items;
}

Bytes MakeSbfFile(const SbfSpec& spec) { return MakeStackFile(0, SbfItems(spec)); }

std::vector<Bytes> DataItems(const Bytes& compressed) {
    return {U32(static_cast<uint32_t>(compressed.size())), compressed};
}

std::optional<Bytes> DecompressZeroRuns(const Bytes& stream) {
    Bytes out;
    size_t i = 0;
    auto word = [&](size_t at) {
        return static_cast<int32_t>(stream[at] | stream[at + 1] << 8 | stream[at + 2] << 16 |
                                    static_cast<uint32_t>(stream[at + 3]) << 24);
    };
    while (i + 4 <= stream.size()) {
        const int32_t h = word(i);
        i += 4;
        if (h == 0) return i == stream.size() ? std::optional<Bytes>(out) : std::nullopt;
        if (h < 0) {
            out.resize(out.size() + 4 * static_cast<size_t>(-static_cast<int64_t>(h)), 0);
            continue;
        }
        const size_t bytes = 4 * static_cast<size_t>(h);
        if (stream.size() - i < bytes) return std::nullopt;
        out.insert(out.end(), stream.begin() + static_cast<std::ptrdiff_t>(i),
                   stream.begin() + static_cast<std::ptrdiff_t>(i + bytes));
        i += bytes;
    }
    return std::nullopt;
}

Bytes ReverseBits(Bytes bytes) {
    for (uint8_t& b : bytes) {
        uint8_t r = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (b & (1 << bit)) r = static_cast<uint8_t>(r | (0x80 >> bit));
        b = r;
    }
    return bytes;
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path.string());
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

ScratchDir::ScratchDir() {
    std::random_device seed;
    std::mt19937_64 rng(seed());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("qel-sbf-" + std::to_string(rng()));
        if (std::filesystem::create_directory(candidate)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace);
            path_ = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace qel::fixtures
