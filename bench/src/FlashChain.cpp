#include "FlashChain.h"

#include <cstring>

namespace qel::bench {

namespace {

// Extra headers are small records (the largest known is 1536 bytes); a much
// larger data offset means the walk is reading garbage.
constexpr uint32_t kMaxExtra = 1024 * 1024;
constexpr size_t kMaxBlocks = 65536;

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

ChainWalk WalkChain(const FlashReader& reader, uint32_t flashSize) {
    ChainWalk w;
    if (flashSize < kInitHeaderSize || !reader(0, kInitHeaderSize, w.init)) {
        w.stop = "flash unreadable";
        return w;
    }
    if (U32(w.init + 20) != kInitMagic) {
        w.stop = "no init image";
        return w;
    }
    w.validInit = true;
    w.initSize = U32(w.init + 16);
    uint64_t offset = w.initSize;
    while (true) {
        if (w.blocks.size() >= kMaxBlocks) {
            w.stop = "too many blocks";
            return w;
        }
        if (offset + kBlockHeaderSize > flashSize) {
            w.stop = "chain runs past the end of the flash";
            return w;
        }
        ChainBlock b;
        b.offset = static_cast<uint32_t>(offset);
        uint8_t raw[kBlockHeaderSize];
        if (!reader(b.offset, kBlockHeaderSize, raw)) {
            w.stop = "flash unreadable";
            return w;
        }
        for (int i = 0; i < 12; ++i) b.header[i] = U32(raw + 4 * i);
        if (b.header[2] != kBlockSignature) {
            w.stop = "no block signature";
            return w;
        }
        const uint32_t dataOffset = b.DataOffset();
        if (dataOffset < kBlockHeaderSize || dataOffset - kBlockHeaderSize > kMaxExtra ||
            b.TotalSize() < dataOffset || offset + dataOffset > flashSize) {
            w.stop = "damaged block header";
            return w;
        }
        b.extra.resize(dataOffset - kBlockHeaderSize);
        if (!b.extra.empty() && !reader(b.offset + kBlockHeaderSize,
                                        static_cast<uint32_t>(b.extra.size()), b.extra.data())) {
            w.stop = "flash unreadable";
            return w;
        }
        const bool last = block::ClassOf(b.Type()) == block::kTypeTermination;
        const uint32_t total = b.TotalSize();
        w.blocks.push_back(std::move(b));
        if (last) {
            w.terminated = true;
            return w;
        }
        offset += total;
    }
}

std::vector<uint8_t> BuildDirectory(const ChainWalk& walk, uint32_t maxLength) {
    if (!walk.validInit)
        return {};
    const size_t headLength = 4 + kInitHeaderSize;
    if (maxLength < headLength)
        return {};
    size_t length = headLength;
    size_t entries = 0;
    for (const ChainBlock& b : walk.blocks) {
        const size_t entry = 4 + kBlockHeaderSize + b.extra.size();
        if (length + entry > maxLength)
            break;
        length += entry;
        ++entries;
    }
    std::vector<uint8_t> out(length);
    uint8_t* p = out.data();
    PutU32(p, static_cast<uint32_t>(entries));
    std::memcpy(p + 4, walk.init, kInitHeaderSize);
    p += headLength;
    for (size_t i = 0; i < entries; ++i) {
        const ChainBlock& b = walk.blocks[i];
        PutU32(p, b.offset);
        for (int w = 0; w < 12; ++w) PutU32(p + 4 + 4 * w, b.header[w]);
        if (!b.extra.empty())
            std::memcpy(p + 4 + kBlockHeaderSize, b.extra.data(), b.extra.size());
        p += 4 + kBlockHeaderSize + b.extra.size();
    }
    return out;
}

std::string BlockTypeName(uint32_t type) {
    switch (block::ClassOf(type)) {
        case block::kTypeInit:
            return "init";
        case block::kTypeBootLoader:
            return "boot loader";
        case block::kTypeFdb:
            return "FDB";
        case block::kTypeFpga:
            return "FPGA";
        case block::kTypeDynamics:
            return "dynamics";
        case block::kTypeTermination:
            return "termination";
        case block::kTypeUser:
            switch (block::SubTypeOf(type)) {
                case block::kSubTypeExec:
                    return "user (executable)";
                case block::kSubTypeApp:
                    return "user (application)";
                case block::kSubTypeData:
                    return "user (data)";
                case block::kSubTypeSRecord:
                    return "user (S-record)";
                default:
                    return "user (unknown sub-type)";
            }
        default:
            return "unknown";
    }
}

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc) {
    static const auto table = [] {
        struct T {
            uint32_t v[256];
        } t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t.v[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) crc = table.v[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace qel::bench
