#include "firmware/tool/Bitstreams.h"

#include "engine/formats/SBFManage.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace qel::firmware {

namespace {

using Bytes = std::vector<uint8_t>;

void PutBe32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Dummy and sync words, then frames of literal words between zero runs, as a
// configuration body looks on the wire. Deterministic for a seed.
Bytes ConfigurationBody(size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    PutBe32(out, 0xFFFFFFFF);
    PutBe32(out, 0xAA995566);
    while (out.size() < bytes) {
        for (size_t n = 8 + rng() % 300; n > 0; --n) {
            const uint32_t r = rng();
            PutBe32(out, r % 20 == 0 ? 0u : r);
        }
        out.resize(out.size() + 4 * (3 + rng() % 700), 0);
    }
    out.resize(bytes);
    return out;
}

void Field(Bytes& out, char key, const std::string& text) {
    out.push_back(static_cast<uint8_t>(key));
    const size_t length = text.size() + 1;
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

Bytes BitFile(const std::string& design, const std::string& part, const Bytes& body) {
    Bytes out = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
    Field(out, 'a', design + ";UserID=0xFFFFFFFF");
    Field(out, 'b', part);
    Field(out, 'c', "2026/01/15");
    Field(out, 'd', "10:00:00");
    out.push_back('e');
    PutBe32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void Write(const fs::path& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path.string());
}

// A fixed source time, so that the stack files come out the same on every build.
void StampFixedTime(const fs::path& path) {
    using namespace std::chrono;
    const system_clock::time_point when = sys_days{2026y / 1 / 15} + hours{10};
    fs::last_write_time(path, file_clock::from_sys(when));
}

struct SampleBitstream {
    const char* name;  // file name without extension
    const char* part;
    uint32_t version;  // major << 16 | minor
    std::vector<uint32_t> timTypes;
    const char* comment;
    uint32_t seed;
};

// QT-6201 has three versions: the search takes the "_32_" file over the
// "_16_" one and both over the plain 1.0.
const std::vector<SampleBitstream>& Samples() {
    static const std::vector<SampleBitstream> samples = {
        {"qt6201_v1p0", "2v1000fg456", 0x00010000, {0x11}, "QT-6201 first release", 1},
        {"qt6201_16_v1p2", "2v1000fg456", 0x00010002, {0x11}, "QT-6201 16-bit bus", 2},
        {"qt6201_32_v2p0", "2v1000fg456", 0x00020000, {0x11}, "QT-6201 32-bit bus", 3},
        {"qt6202c_qt6403_v1p0", "2v2000ff896", 0x00010000, {0x19, 0x21}, "QT-6202C and QT-6403", 4},
        {"qt6415w_v1p0", "4vlx25ff668", 0x00010000, {0x29}, "QT-6415W", 5},
        {"qt6710b_v1p0", "3s400pq208", 0x00010000, {0x31}, "QT-6710B", 6},
        {"qt6100l_v1p0", "2v500fg256", 0x00010000, {0x39}, "QT-6100L", 7},
        {"qt6300n_v1p0", "2v1000fg456", 0x00010000, {0x41}, "QT-6300N", 8},
    };
    return samples;
}

}  // namespace

void WriteBitstreams(const fs::path& folder) {
    fs::create_directories(folder);
    for (const SampleBitstream& s : Samples()) {
        const fs::path bit = folder / (std::string(s.name) + ".bit");
        Write(bit, BitFile(s.name, s.part, ConfigurationBody(48 * 1024, s.seed)));
        StampFixedTime(bit);
        const fs::path sbf = folder / (std::string(s.name) + ".sbf");
        CSBFManage manage;
        const int result = manage.BuildFromBit(bit.string().c_str(), sbf.string().c_str(),
                                               s.version, s.timTypes, s.comment);
        if (result != SBF_OK)
            throw std::runtime_error("cannot build " + sbf.string() + " (" +
                                     std::to_string(result) + ")");
    }
    // A .dat file: the body, a 4-byte gap, and the trailer that names version 2.7.
    Bytes dat = ConfigurationBody(16 * 1024, 9);
    dat.resize(dat.size() + 4, 0);
    const std::string trailer = "QT-6201 design top 2.7 built 2026/01/15";
    dat.insert(dat.end(), trailer.begin(), trailer.end());
    dat.resize(dat.size() + 4, 0);
    Write(folder / "qt6201_v2p7.dat", dat);
}

}  // namespace qel::firmware
