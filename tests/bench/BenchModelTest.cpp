// The hardware model's parts on their own: the description format, the walk
// over the flash chain and the COFF reader.
#include "Coff.h"
#include "Description.h"
#include "FlashChain.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qel::bench {
namespace {

TEST(Description, DefaultBenchCoversTheSampleTims) {
    std::string error;
    auto d = ParseDescription(DefaultDescriptionText(), error);
    ASSERT_TRUE(d) << error;
    ASSERT_EQ(d->boards.size(), 1u);
    std::vector<std::string> tims;
    size_t processors = 0;
    for (const auto& m : d->boards[0].modules) {
        tims.push_back(m.tim);
        processors += m.processors.size();
        EXPECT_TRUE(m.timing.IsOff()) << m.name;
        EXPECT_TRUE(m.processors[0].flashAccess) << m.name;
        for (size_t i = 1; i < m.processors.size(); ++i) EXPECT_FALSE(m.processors[i].flashAccess);
    }
    EXPECT_EQ(tims, (std::vector<std::string>{"QT-6201", "QT-6202C", "QT-6403", "QT-6415W",
                                              "QT-6710B", "QT-6100L", "QT-6300N", "QT-TEST10"}));
    EXPECT_EQ(processors, 10u);
    const ModuleDesc& m6403 = d->boards[0].modules[2];
    EXPECT_EQ(m6403.processors.size(), 3u);
    EXPECT_EQ(m6403.flashSize, 4u << 20);
    EXPECT_EQ(m6403.SectorCount(), 64u);
    EXPECT_EQ(m6403.processors[0].id, MakeProcessorId(7, 21, 1));
    const ModuleDesc& wide = d->boards[0].modules[3];
    EXPECT_EQ((wide.processors[0].id >> 10) & 0xFFF, 100u);
    EXPECT_EQ((wide.processors[0].id >> 3) & 0x7F, 0x37u);
    const ModuleDesc& mapped = d->boards[0].modules[4];
    EXPECT_EQ(mapped.boot, Boot::Mapped);
    EXPECT_EQ(mapped.flashAddress, 0xB0000000u);
    EXPECT_EQ(d->boards[0].modules[0].image, "board0-module0-QT-6201.img");
}

TEST(Description, ReadsEveryStatement) {
    std::string error;
    auto d = ParseDescription(R"(
# comment
bench "My bench"
timing realistic
board "Carrier One"   # trailing comment
module "Slot A" tim=QT-6201 type=0x11 image=a.img
flash size=1M sector=0x10000 address=0x90000000 boot=mapped copy=2K
timing bandwidth=1000 latency=2 erase=3 program=4
processor "CPU 1" id=0x01C05008
memory 0 256K INTERNAL
fault power-cut 3
fault refuse
processor CPU_2 family=7 subfamily=20 revision=1 flash=yes
memory 0x80000000 0x1000 SDRAM
module B tim=X
flash size=64K sector=4K address=0x90000000
processor C id=1
memory 0 4K RAM
)",
                              error);
    ASSERT_TRUE(d) << error;
    EXPECT_EQ(d->name, "My bench");
    EXPECT_EQ(d->boards[0].name, "Carrier One");
    const ModuleDesc& a = d->boards[0].modules[0];
    EXPECT_EQ(a.name, "Slot A");
    EXPECT_EQ(a.image, "a.img");
    EXPECT_EQ(a.timType, 0x11u);
    EXPECT_EQ(a.flashSize, 1u << 20);
    EXPECT_EQ(a.bootCopySize, 2048u);
    EXPECT_EQ(a.boot, Boot::Mapped);
    EXPECT_EQ(a.timing.bandwidth, 1000u);
    EXPECT_EQ(a.timing.latencyUs, 2u);
    EXPECT_EQ(a.timing.eraseMs, 3u);
    EXPECT_EQ(a.timing.programNsPerByte, 4u);
    EXPECT_EQ(a.processors[0].name, "CPU 1");
    EXPECT_EQ(a.processors[0].regions[0].size, 256u * 1024);
    ASSERT_EQ(a.processors[0].faults.size(), 2u);
    EXPECT_EQ(a.processors[0].faults[0].fault, Fault::PowerCut);
    EXPECT_EQ(a.processors[0].faults[0].count, 3u);
    EXPECT_EQ(a.processors[0].faults[1].count, 1u);
    EXPECT_TRUE(a.processors[1].flashAccess);
    // The bench-wide timing is every module's default.
    const ModuleDesc& b = d->boards[0].modules[1];
    EXPECT_EQ(b.timing.eraseMs, RealisticTiming().eraseMs);
    EXPECT_EQ(b.image, "board0-module1-X.img");
}

struct BadDescription {
    const char* what;
    const char* text;
    const char* error;
};
class DescriptionErrors : public ::testing::TestWithParam<BadDescription> {};

TEST_P(DescriptionErrors, SayWhereAndWhy) {
    std::string error;
    EXPECT_FALSE(ParseDescription(GetParam().text, error));
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

constexpr const char* kHead = "board B\nmodule M\nflash size=64K sector=4K address=0x90000000\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptionErrors,
    ::testing::Values(
        BadDescription{"empty", "", "no board"},
        BadDescription{"unknown", "board B\nfrobnicate\n",
                       "line 2: unknown statement 'frobnicate'"},
        BadDescription{"moduleOutside", "module M\n", "line 1: module outside a board"},
        BadDescription{"noFlash", "board B\nmodule M\nprocessor P id=1\nmemory 0 4K R\n",
                       "has no flash"},
        BadDescription{"sectorNotPowerOfTwo",
                       "board B\nmodule M\nflash size=64K sector=3K address=0\n", "power of two"},
        BadDescription{"flashNotMultiple",
                       "board B\nmodule M\nflash size=10K sector=4K address=0\n", "multiple"},
        BadDescription{"noProcessor", "board B\nmodule M\nflash size=64K sector=4K address=0\n",
                       "has no processor"},
        BadDescription{
            "noMemory",
            "board B\nmodule M\nflash size=64K sector=4K address=0x90000000\nprocessor P id=1\n",
            "has no memory"},
        BadDescription{
            "overlap",
            "board B\nmodule M\nflash size=64K sector=4K address=0x90000000\nprocessor P id=1\n"
            "memory 0 8K A\nmemory 4K 8K B\n",
            "A overlaps B"},
        BadDescription{
            "overlapsFlash",
            "board B\nmodule M\nflash size=64K sector=4K address=0x90000000\nprocessor P id=1\n"
            "memory 0x90008000 4K A\n",
            "overlaps"},
        BadDescription{"badNumber", "board B\nmodule M\nflash size=lots sector=4K address=0\n",
                       "line 3: bad number for size"},
        BadDescription{"badKey", "board B\nmodule M\nflash size=64K sector=4K address=0 speed=9\n",
                       "unknown key 'speed'"},
        BadDescription{"badFault",
                       "board B\nmodule M\nflash size=64K sector=4K address=0\nprocessor P id=1\n"
                       "fault explode\n",
                       "unknown fault 'explode'"},
        BadDescription{"quote", "board \"B\n", "line 1: unterminated quote"},
        // Image names stay inside the state folder.
        BadDescription{"imageUp", "board B\nmodule M image=../victim.txt\n",
                       "line 2: image must be a plain file name inside the state folder"},
        BadDescription{"imageAbsolute", "board B\nmodule M image=/tmp/victim.img\n",
                       "no absolute path): '/tmp/victim.img'"},
        BadDescription{"imageFolder", "board B\nmodule M image=sub/a.img\n", "plain file name"},
        BadDescription{"imageDotDot", "board B\nmodule M image=..\n", "plain file name"},
        BadDescription{"imageEmpty", "board B\nmodule M image=\n", "plain file name"},
        // Fault counts within what each kind takes.
        BadDescription{"missingEventsEight",
                       "board B\nmodule M\nflash size=64K sector=4K address=0\nprocessor P id=1\n"
                       "fault missing-events 8\n",
                       "line 5: missing-events takes an interface number 1 to 13"},
        BadDescription{"faultCountHuge",
                       "board B\nmodule M\nflash size=64K sector=4K address=0\nprocessor P id=1\n"
                       "fault refuse 4000000000\n",
                       "refuse takes a count from 0 to 1000000"},
        BadDescription{"pastAddressSpace",
                       "board B\nmodule M\nflash size=64K sector=4K address=0xFFFF0001\n",
                       "address space"},
        BadDescription{"familyRange",
                       "board B\nmodule M\nflash size=64K sector=4K address=0\n"
                       "processor P family=1024 subfamily=1 revision=1\n",
                       "out of range"}),
    [](const auto& p) { return std::string(p.param.what); });

// ------------------------------------------------------------ chain walk

struct Flash {
    std::vector<uint8_t> bytes;
    explicit Flash(size_t n) : bytes(n, 0xFF) {}
    void U32(size_t at, uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); }
    void Init(uint32_t size) {
        U32(16, size);
        U32(20, kInitMagic);
    }
    void Block(uint32_t at, uint32_t type, uint32_t total, uint32_t extra) {
        U32(at, type);
        U32(at + 8, kBlockSignature);
        U32(at + 12, total);
        U32(at + 16, 48 + extra);
    }
    FlashReader Reader() {
        return [this](uint32_t off, uint32_t len, void* out) {
            if (uint64_t{off} + len > bytes.size())
                return false;
            std::memcpy(out, bytes.data() + off, len);
            return true;
        };
    }
};

TEST(Chain, ErasedFlashHasNoInitImage) {
    Flash f(0x10000);
    const auto w = WalkChain(f.Reader(), 0x10000);
    EXPECT_FALSE(w.validInit);
    EXPECT_TRUE(BuildDirectory(w, 0x10000).empty());
}

TEST(Chain, InitImageAloneGivesSixtyBytes) {
    Flash f(0x10000);
    f.Init(0x80);
    const auto w = WalkChain(f.Reader(), 0x10000);
    EXPECT_TRUE(w.validInit);
    EXPECT_FALSE(w.terminated);
    EXPECT_EQ(w.stop, "no block signature");
    EXPECT_EQ(BuildDirectory(w, 0x10000).size(), 60u);
}

struct Broken {
    const char* what;
    uint32_t dataOffset;
    uint32_t total;
    const char* stop;
};
class BrokenChain : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenChain, EndsTheWalkSafely) {
    Flash f(0x1000);
    f.Init(0x80);
    f.Block(0x80, 1, 0x100, 0);
    f.U32(0x80 + 12, GetParam().total);
    f.U32(0x80 + 16, GetParam().dataOffset);
    const auto w = WalkChain(f.Reader(), 0x1000);
    EXPECT_TRUE(w.blocks.empty());
    EXPECT_EQ(w.stop, GetParam().stop);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BrokenChain,
    ::testing::Values(Broken{"dataOffsetTooSmall", 40, 0x100, "damaged block header"},
                      Broken{"totalBelowDataOffset", 0x200, 0x100, "damaged block header"},
                      Broken{"extraPastFlash", 0x2000, 0x3000, "damaged block header"}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(Chain, StopsAtTheEndOfTheFlash) {
    Flash f(0x1000);
    f.Init(0x80);
    f.Block(0x80, 1, 0xF80, 0);  // ends exactly at the end, no termination
    const auto w = WalkChain(f.Reader(), 0x1000);
    EXPECT_EQ(w.blocks.size(), 1u);
    EXPECT_EQ(w.stop, "chain runs past the end of the flash");
}

TEST(Chain, DirectoryLeavesOutEntriesThatDoNotFit) {
    Flash f(0x1000);
    f.Init(0x80);
    f.Block(0x80, 1, 0x80, 8);
    f.Block(0x100, 0xFFFF, 0x80, 0);
    const auto w = WalkChain(f.Reader(), 0x1000);
    ASSERT_TRUE(w.terminated);
    EXPECT_EQ(BuildDirectory(w, 0x1000).size(), 60u + 60 + 52);
    const auto cut = BuildDirectory(w, 60 + 60 + 51);
    EXPECT_EQ(cut.size(), 120u);
    EXPECT_EQ(cut[0], 1);  // entry count in the first word
}

TEST(Chain, Crc32MatchesTheCheckValue) {
    const char* s = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(s), 9), 0xCBF43926u);
}

TEST(Chain, TypeNames) {
    EXPECT_EQ(BlockTypeName(0x00110005), "user (S-record)");
    EXPECT_EQ(BlockTypeName(0x1234FFFF), "termination");
    EXPECT_EQ(BlockTypeName(9), "unknown");
}

// ------------------------------------------------------------ COFF

std::vector<uint8_t> Coff(uint16_t sections, uint16_t opt) {
    std::vector<uint8_t> f(22 + opt + 48 * sections, 0);
    f[2] = static_cast<uint8_t>(sections);
    f[16] = static_cast<uint8_t>(opt);
    return f;
}

TEST(CoffReader, ChecksEveryOffsetAgainstTheFile) {
    CoffImage img;
    std::string error;
    auto f = Coff(1, 28);
    f[22 + 16] = 0x34;  // entry
    const size_t h = 50;
    std::memcpy(f.data() + h, ".text", 5);
    f[h + 16] = 8;    // size
    f[h + 20] = 200;  // raw data offset past the end
    EXPECT_FALSE(ParseCoff(f, img, error));
    EXPECT_NE(error.find("past the end of the file"), std::string::npos);
    f.resize(208, 0xAB);
    ASSERT_TRUE(ParseCoff(f, img, error)) << error;
    ASSERT_EQ(img.sections.size(), 1u);
    EXPECT_EQ(img.sections[0].name, ".text");
    EXPECT_TRUE(img.hasEntry);
    EXPECT_EQ(img.entry, 0x34u);
    EXPECT_EQ(img.Data(img.sections[0])[0], 0xAB);
}

TEST(CoffReader, SkipsSectionsWithoutBytes) {
    CoffImage img;
    std::string error;
    auto f = Coff(4, 0);
    const uint32_t flags[4] = {0x01, 0x02, 0x80, 0x20};
    for (int i = 0; i < 4; ++i) {
        const size_t h = 22 + 48 * i;
        f[h + 16] = 4;
        f[h + 20] = 22 + 48 * 4;
        f[h + 40] = static_cast<uint8_t>(flags[i]);
    }
    f.resize(f.size() + 4, 1);
    ASSERT_TRUE(ParseCoff(f, img, error)) << error;
    EXPECT_EQ(img.sections.size(), 1u);
    EXPECT_FALSE(img.hasEntry);
}

TEST(CoffReader, RejectsBadHeaders) {
    CoffImage img;
    std::string error;
    EXPECT_FALSE(ParseCoff({1, 2}, img, error));
    EXPECT_FALSE(ParseCoff(Coff(0, 36), img, error));
    auto f = Coff(0, 0);
    f[2] = 9;  // nine sections announced, none there
    EXPECT_FALSE(ParseCoff(f, img, error));
}

TEST(CoffReader, ReadsLongNamesFromTheStringTable) {
    CoffImage img;
    std::string error;
    auto f = Coff(1, 0);
    const size_t h = 22;
    f[h + 4] = 4;  // string table offset 4
    f[h + 16] = 2;
    f[h + 20] = 70;
    f.resize(72, 0);  // data at 70..71
    f[8] = 72;        // symbol table at 72, no symbols: strings at 72
    const char names[] = "\x14\0\0\0.longname";
    f.insert(f.end(), names, names + sizeof(names));
    ASSERT_TRUE(ParseCoff(f, img, error)) << error;
    EXPECT_EQ(img.sections[0].name, ".longname");
}

}  // namespace
}  // namespace qel::bench
