#include "engine/Exc.h"
#include "engine/formats/BootFile.h"
#include "tests/fixtures/ImageBuilders.h"
#include "tests/fixtures/TestTempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace qel::fixtures;
using ::testing::HasSubstr;

namespace {

uint32_t Word(const uint8_t* p, uint32_t offset) {
    uint32_t v;
    memcpy(&v, p + offset, 4);
    return v;
}

CExc Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const CExc& e) {
        return e;
    }
    return CExc();
}

void LoadBytes(CBootFile& boot, const std::vector<uint8_t>& image) {
    boot.LoadFromMemory(image.data(), image.size(), "boot.out");
}

// ---- well-formed files -----------------------------------------------------

struct BootCase {
    const char* label;
    uint32_t initSize;
    uint32_t width;
    uint32_t fdbPayloadSize;
};

void PrintTo(const BootCase& c, std::ostream* os) {
    *os << c.label;
}

class BootFileReadTest : public ::testing::TestWithParam<BootCase> {};

TEST_P(BootFileReadTest, FindsTheThreePartsBackToBack) {
    const BootCase& c = GetParam();
    BootFileBuilder builder;
    builder.SetInitSize(c.initSize)
        .SetInitWidth(c.width)
        .SetTimType(0x29)
        .SetGeometry(0x40000, 64)
        .SetLoaderName("QT6415W BOOT 2.1")
        .SetLoaderVersion(0x00020001)
        .SetFdbPayload(MakeFdbPayload(0x29, c.fdbPayloadSize));
    // Another section before ".bootl" must not matter.
    CoffBuilder coff;
    coff.AddSection(".text", 0, std::vector<uint8_t>(12, 0xAA));
    coff.AddSection(".bootl", 0, builder.BootlSection(), COFF_SECTION_DATA);

    CBootFile boot;
    LoadBytes(boot, coff.Build());
    const uint32_t initBytes = c.initSize / c.width;
    ASSERT_NE(boot.GetInitImage(), nullptr);
    EXPECT_EQ(boot.GetInitImage(), boot.GetObjFile().GetSectionData(1));
    EXPECT_EQ(boot.GetLoaderImage(), boot.GetInitImage() + initBytes);
    EXPECT_EQ(boot.GetFdbImage(), boot.GetLoaderImage() + boot.GetLoaderImageSize());

    EXPECT_EQ(boot.GetInitImageSize(), initBytes);
    EXPECT_EQ(boot.GetInitSize(), c.initSize);
    EXPECT_EQ(boot.GetInitWidth(), c.width);
    EXPECT_EQ(Word(boot.GetInitImage(), INIT_WORD_MAGIC), INIT_MAGIC);
    EXPECT_EQ(Word(boot.GetInitImage(), INIT_WORD_TIM_TYPE), 0x29u);
    EXPECT_EQ(boot.GetSectorSize(), 0x40000u);
    EXPECT_EQ(boot.GetSectorCount(), 64u);

    EXPECT_EQ(Word(boot.GetLoaderImage(), 0), 1u);
    EXPECT_EQ(boot.GetLoaderImageSize(), builder.LoaderImage().size());
    EXPECT_EQ(boot.GetLoaderName(), "QT6415W BOOT 2.1");  // 16 characters, no NUL
    EXPECT_EQ(boot.GetLoaderVersion(), 0x00020001u);

    EXPECT_EQ(Word(boot.GetFdbImage(), 0), 2u);
    EXPECT_EQ(boot.GetFdbImageSize(), 48 + c.fdbPayloadSize);
    ASSERT_EQ(boot.GetFdbPayloadSize(), c.fdbPayloadSize);
    EXPECT_EQ(0, memcmp(boot.GetFdbPayload(), "QELFDB01", 8));
    EXPECT_EQ(Word(boot.GetFdbPayload(), 8), 0x29u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, BootFileReadTest,
                         ::testing::Values(BootCase{"Width1", 256, 1, 64},
                                           BootCase{"Width2", 512, 2, 64},
                                           BootCase{"Width2OddSize", 513, 2, 16},
                                           BootCase{"SmallestHeader", 56, 1, 12}),
                         [](const auto& tp) { return std::string(tp.param.label); });

TEST(BootFile, FirstOfTwoBootSectionsIsUsed) {
    CoffBuilder coff;
    coff.AddSection(".bootl", 0, BootFileBuilder().SetTimType(0x11).BootlSection());
    coff.AddSection(".bootl", 0, BootFileBuilder().SetTimType(0x19).BootlSection());
    CBootFile boot;
    LoadBytes(boot, coff.Build());
    EXPECT_EQ(boot.GetInitImage(), boot.GetObjFile().GetSectionData(0));
    EXPECT_EQ(Word(boot.GetInitImage(), INIT_WORD_TIM_TYPE), 0x11u);
}

TEST(BootFile, NameMustMatchExactly) {
    CoffBuilder coff;
    coff.AddSection(".bootl2", 0, BootFileBuilder().BootlSection());
    coff.AddSection(".boot", 0, BootFileBuilder().BootlSection());
    CBootFile boot;
    LoadBytes(boot, coff.Build());
    EXPECT_EQ(boot.GetInitImage(), nullptr);
}

TEST(BootFile, WithoutBootSectionTheImagesAreNullEvenAfterAnEarlierFile) {
    CBootFile boot;
    LoadBytes(boot, BootFileBuilder().Build());
    ASSERT_NE(boot.GetInitImage(), nullptr);

    CoffBuilder coff;
    coff.AddSection(".text", 0, std::vector<uint8_t>(64, 1));
    LoadBytes(boot, coff.Build());
    EXPECT_EQ(boot.GetInitImage(), nullptr);
    EXPECT_EQ(boot.GetLoaderImage(), nullptr);
    EXPECT_EQ(boot.GetFdbImage(), nullptr);
    EXPECT_EQ(boot.GetFdbPayload(), nullptr);
    EXPECT_EQ(boot.GetSectorSize(), 0u);
    EXPECT_EQ(boot.GetLoaderName(), "");
}

TEST(BootFile, LoadsFromAFile) {
    TestTempDir dir;
    const std::string path = dir.Write("bl.out", BootFileBuilder().SetTimType(0x31).Build());
    CBootFile boot;
    boot.Load(path.c_str());
    EXPECT_EQ(boot.GetObjFile().GetName(), path);
    EXPECT_EQ(Word(boot.GetInitImage(), INIT_WORD_TIM_TYPE), 0x31u);
    const CExc e = Raised([&] { boot.Load(dir.File("none.out").c_str()); });
    EXPECT_EQ(e.code, ERR_CANNOT_OPEN_OBJ);
    EXPECT_EQ(boot.GetInitImage(), nullptr);
}

TEST(BootFile, StampingTheImagesLeavesTheirSizesAlone) {
    CBootFile boot;
    LoadBytes(boot, BootFileBuilder().Build());
    const uint32_t initBytes = boot.GetInitImageSize();
    memset(boot.GetInitImage() + INIT_WORD_WIDTH, 0, 4);
    EXPECT_EQ(boot.GetInitImageSize(), initBytes);
}

// ---- damaged files ---------------------------------------------------------

// Offsets inside ".bootl" of the default builder's parts.
struct Parts {
    uint32_t init = 0;
    uint32_t loader = 0;
    uint32_t fdb = 0;
    uint32_t end = 0;
};

Parts DefaultParts() {
    BootFileBuilder b;
    Parts p;
    p.loader = static_cast<uint32_t>(b.InitImage().size());
    p.fdb = p.loader + static_cast<uint32_t>(b.LoaderImage().size());
    p.end = p.fdb + static_cast<uint32_t>(b.FdbImage().size());
    return p;
}

struct BootDamage {
    const char* label;
    // Changes the ".bootl" section's bytes.
    std::function<void(std::vector<uint8_t>&, const Parts&)> damage;
    uint32_t code;
    const char* detail;
};

void PrintTo(const BootDamage& c, std::ostream* os) {
    *os << c.label;
}

class DamagedBootFileTest : public ::testing::TestWithParam<BootDamage> {};

TEST_P(DamagedBootFileTest, IsRefused) {
    const BootDamage& c = GetParam();
    std::vector<uint8_t> section = BootFileBuilder().BootlSection();
    c.damage(section, DefaultParts());
    CoffBuilder coff;
    coff.AddSection(".bootl", 0, section, COFF_SECTION_DATA);

    CBootFile boot;
    LoadBytes(boot, BootFileBuilder().Build());  // a good file first
    const CExc e = Raised([&] { LoadBytes(boot, coff.Build()); });
    EXPECT_EQ(e.code, c.code);
    EXPECT_STREQ(e.source, "ObjFile");
    EXPECT_THAT(e.detail, HasSubstr("boot.out: "));
    EXPECT_THAT(e.detail, HasSubstr(c.detail));
    EXPECT_EQ(boot.GetInitImage(), nullptr);
    EXPECT_EQ(boot.GetLoaderImage(), nullptr);
    EXPECT_EQ(boot.GetFdbImage(), nullptr);
    EXPECT_FALSE(boot.GetObjFile().IsLoaded());
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedBootFileTest,
    ::testing::Values(
        BootDamage{"InitWidthZero", [](auto& s, const Parts&) { PokeU32(s, INIT_WORD_WIDTH, 0); },
                   ERR_NOT_VALID_INIT_BLOCK, "width 0"},
        BootDamage{"InitWidthThree", [](auto& s, const Parts&) { PokeU32(s, INIT_WORD_WIDTH, 3); },
                   ERR_NOT_VALID_INIT_BLOCK, "width 3"},
        BootDamage{"InitSizeBelow20", [](auto& s, const Parts&) { PokeU32(s, INIT_WORD_SIZE, 19); },
                   ERR_NOT_VALID_INIT_BLOCK, "size 19 below 20"},
        BootDamage{"SectionShorterThanInitHeader", [](auto& s, const Parts&) { s.resize(55); },
                   ERR_CANNOT_READ_FILE, "no init header"},
        BootDamage{"InitSizePastSection",
                   [](auto& s, const Parts& p) { PokeU32(s, INIT_WORD_SIZE, p.end + 1); },
                   ERR_CANNOT_READ_FILE, "init image of"},
        BootDamage{"InitSizeHuge",
                   [](auto& s, const Parts&) { PokeU32(s, INIT_WORD_SIZE, 0xFFFFFFFF); },
                   ERR_CANNOT_READ_FILE, "init image of"},
        BootDamage{"LoaderHeaderPastSection",
                   [](auto& s, const Parts& p) { PokeU32(s, INIT_WORD_SIZE, p.end - 40); },
                   ERR_CANNOT_READ_FILE, "boot loader header"},
        BootDamage{"LoaderWithoutSignature",
                   [](auto& s, const Parts& p) { PokeU32(s, p.loader + 8, 0x12341235); },
                   ERR_NO_BLOCK_SIGNATURE, "boot loader image"},
        BootDamage{"LoaderTotalSizePastSection",
                   [](auto& s, const Parts& p) { PokeU32(s, p.loader + 12, 0xFFFFFF00); },
                   ERR_CANNOT_READ_FILE, "boot loader image of 0xFFFFFF00"},
        BootDamage{"LoaderWithoutExtraHeader",
                   [](auto& s, const Parts& p) { PokeU32(s, p.loader + 12, 48); },
                   ERR_CANNOT_READ_FILE, "boot loader image of 0x30"},
        BootDamage{"LoaderPayloadPastBlock",
                   [](auto& s, const Parts& p) { PokeU32(s, p.loader + 24, 0x10000); },
                   ERR_CANNOT_READ_FILE, "boot loader payload"},
        BootDamage{"LoaderPaddedLengthShort",
                   [](auto& s, const Parts& p) { PokeU32(s, p.loader + 20, 4); },
                   ERR_CANNOT_READ_FILE, "boot loader payload"},
        BootDamage{"FdbHeaderCut", [](auto& s, const Parts& p) { s.resize(p.fdb + 47); },
                   ERR_CANNOT_READ_FILE, "FDB header"},
        BootDamage{"FdbWithoutSignature", [](auto& s, const Parts& p) { PokeU32(s, p.fdb + 8, 0); },
                   ERR_NO_BLOCK_SIGNATURE, "FDB image"},
        BootDamage{"FdbCut", [](auto& s, const Parts& p) { s.resize(p.end - 1); },
                   ERR_CANNOT_READ_FILE, "FDB image of"},
        BootDamage{"FdbPayloadOffsetInHeader",
                   [](auto& s, const Parts& p) { PokeU32(s, p.fdb + 16, 8); }, ERR_CANNOT_READ_FILE,
                   "FDB payload"},
        BootDamage{"FdbPayloadPastBlock",
                   [](auto& s, const Parts& p) { PokeU32(s, p.fdb + 24, 0xFFFFFFFF); },
                   ERR_CANNOT_READ_FILE, "FDB payload"}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST(BootFile, BootSectionDataOutsideTheFileIsRefused) {
    CoffBuilder coff;
    coff.AddSection(".bootl", 0, BootFileBuilder().BootlSection(), COFF_SECTION_DATA);
    std::vector<uint8_t> image = coff.Build();
    image.resize(image.size() - 1);
    CBootFile boot;
    EXPECT_EQ(Raised([&] { LoadBytes(boot, image); }).code, ERR_CANNOT_READ_FILE);
    EXPECT_EQ(boot.GetInitImage(), nullptr);
}

}  // namespace
