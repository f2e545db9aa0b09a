// CObjectFile: reading with its checks, and the old and new comport images
// byte for byte, against TIM types of the test's own.
#include "ConverterTestSupport.h"

#include "QelDrvErrors.h"

#include <cstring>

namespace qel::converter_test {
namespace {

using fixtures::CoffBuilder;
using fixtures::CoffLayout;
using fixtures::CoffSectionSpec;

constexpr uint32_t kEntry = 0x80001230;
constexpr uint32_t kOld[6] = {0x3779, 0x3E39FFF0, 0x3E39FFF0, 1, kEntry, 0};

class ObjectFileTest : public ::testing::Test {
  protected:
    // TWO-REGION: the first "Memory" entry 0x0 (0x10000 bytes), the second
    // 0x80000 (0x20010 bytes). ADJACENT: 0x0 and 0x1000, 0x1000 bytes each.
    // BIG: 16 MiB at 0x80000000. TIGHT: exactly 0x100 bytes at 0x1000.
    ObjectFileTest()
        : tims_(temp_, {{"TWO-REGION", 0x11, {{0x0, 0x10000}, {0x80000, 0x20010}}},
                        {"ADJACENT", 0x19, {{0x0, 0x1000}, {0x1000, 0x1000}}},
                        {"BIG", 0x21, {{0x80000000, 0x1000000}}},
                        {"TIGHT", 0x29, {{0x1000, 0x100}}}}) {}

    static CoffBuilder Executable() {
        CoffBuilder coff;
        coff.SetEntryPoint(kEntry);
        return coff;
    }
    static CoffSectionSpec Section(uint32_t address, std::vector<uint8_t> data,
                                   uint32_t flags = 0x20) {
        CoffSectionSpec s;
        s.name = ".text";
        s.physicalAddress = address;
        s.data = std::move(data);
        s.flags = flags;
        return s;
    }
    static Bytes OldHeader() {
        Bytes b;
        for (uint32_t w : kOld) b.Words({w});
        return b;
    }

    fixtures::TestTempDir temp_;
    TimFolder tims_;
};

TEST_F(ObjectFileTest, TenByteSectionIsOneRecordOfTwelveWithTheBytesThatFollowInTheFile) {
    // Twelve bytes in the file, ten of them the section's.
    CoffSectionSpec s = Section(0x100, Pattern(12, 0x40));
    s.size = 10;
    CoffLayout layout;
    const std::vector<uint8_t> coff = Executable().AddSection(s).Build(&layout);
    const uint8_t* data = coff.data() + layout.rawDataOffsets[0];

    EXPECT_EQ(
        Convert(coff, "TWO-REGION", true),
        Bytes().Words({0xBBBB0002, 0x9F000, 12, 0x100}).Raw(data, 12).Words({0, kEntry}).Get());
    EXPECT_EQ(Convert(coff, "TWO-REGION", false),
              OldHeader().Words({12, 0x100}).Raw(data, 12).Words({0}).Get());
}

TEST_F(ObjectFileTest, RoundingBytesPastTheEndOfTheFileAreZero) {
    CoffLayout layout;
    std::vector<uint8_t> coff = Executable().AddSection(Section(0x100, Pattern(10))).Build(&layout);
    coff.resize(layout.rawDataOffsets[0] + 10);
    std::vector<uint8_t> data = Pattern(10);
    data.resize(12, 0);

    EXPECT_EQ(Convert(coff, "TWO-REGION", false),
              OldHeader().Words({12, 0x100}).Raw(data).Words({0}).Get());
}

TEST_F(ObjectFileTest, LargeSectionIsSplitInTheNewFormatOnly) {
    const uint32_t a = 0x80000000;
    const std::vector<uint8_t> data = Pattern(0x80000);
    const std::vector<uint8_t> coff = Executable().AddSection(Section(a, data)).Build();

    Bytes expected;
    expected.Words({0xBBBB0002, 0x80FFEFE0});
    expected.Words({0x3FFFC, a}).Raw(data.data(), 0x3FFFC);
    expected.Words({0x3FFFC, a + 0x3FFFC}).Raw(data.data() + 0x3FFFC, 0x3FFFC);
    expected.Words({8, a + 0x7FFF8}).Raw(data.data() + 0x7FFF8, 8);
    expected.Words({0, kEntry});
    EXPECT_EQ(Convert(coff, "BIG", true), expected.Get());

    EXPECT_EQ(Convert(coff, "BIG", false),
              OldHeader().Words({0x80000, a}).Raw(data).Words({0}).Get());
}

TEST_F(ObjectFileTest, SectionsWithoutTargetBytesAreNeitherPlacedNorWritten) {
    // Each lies on top of the loaded section: placing it would fail.
    struct Case {
        const char* what;
        uint32_t flags;
        std::optional<uint32_t> size;
    };
    const Case cases[] = {{"dummy", 0x01, {}},
                          {"no load", 0x02, {}},
                          {"copy", 0x10, {}},
                          {"uninitialised", 0x80, {}},
                          {"size 0", 0x20, 0u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoffSectionSpec skipped = Section(0x200, Pattern(8, 9), c.flags);
        skipped.size = c.size;
        const std::vector<uint8_t> coff =
            Executable().AddSection(Section(0x200, Pattern(8))).AddSection(skipped).Build();
        const std::vector<uint8_t> data = Pattern(8);
        EXPECT_EQ(
            Convert(coff, "TWO-REGION", true),
            Bytes().Words({0xBBBB0002, 0x9F000, 8, 0x200}).Raw(data).Words({0, kEntry}).Get());
        EXPECT_EQ(Convert(coff, "TWO-REGION", false),
                  OldHeader().Words({8, 0x200}).Raw(data).Words({0}).Get());
    }
}

TEST_F(ObjectFileTest, SectionWithoutRawDataIsPlacedInTheOldFormatButNeverWritten) {
    CoffSectionSpec noData = Section(0x200, Pattern(8, 9));
    noData.noRawData = true;
    noData.size = 8;
    const std::vector<uint8_t> data = Pattern(8);
    const std::vector<uint8_t> alone = Executable().AddSection(noData).Build();
    EXPECT_EQ(Convert(alone, "TWO-REGION", false), OldHeader().Words({0}).Get());
    EXPECT_EQ(Convert(alone, "TWO-REGION", true),
              Bytes().Words({0xBBBB0002, 0x9F000, 0, kEntry}).Get());

    // On top of a loaded section: only the old format places it, and fails.
    const std::vector<uint8_t> clash =
        Executable().AddSection(Section(0x200, data)).AddSection(noData).Build();
    EXPECT_EQ(Convert(clash, "TWO-REGION", true),
              Bytes().Words({0xBBBB0002, 0x9F000, 8, 0x200}).Raw(data).Words({0, kEntry}).Get());
    EXPECT_EQ(Raised([&] { Convert(clash, "TWO-REGION", false); }).code, 0x30005u);
}

TEST_F(ObjectFileTest, BootLoaderGoesToTheTopOfTheFirstFreeRegionInTheList) {
    // The list holds the second "Memory" entry first: 0x80000 + 0x20010 -
    // 0x1020 = 0x9EFF0, rounded up to 32 bytes.
    const std::vector<uint8_t> coff = Executable()
                                          .AddSection(Section(0x0, Pattern(16)))
                                          .AddSection(Section(0x8000, Pattern(4)))
                                          .Build();
    const std::vector<uint8_t> image = Convert(coff, "TWO-REGION", true);
    ASSERT_GE(image.size(), 8u);
    EXPECT_EQ(firmware::PeekU32(image, 4), 0x9F000u);
}

TEST_F(ObjectFileTest, SectionsThatDoNotFitTheMemoryFail) {
    struct Case {
        const char* what;
        const char* tim;
        std::vector<std::pair<uint32_t, uint32_t>> sections;  // address, size
    };
    const Case cases[] = {
        {"overlap", "TWO-REGION", {{0x100, 0x100}, {0x180, 0x100}}},
        {"same place", "TWO-REGION", {{0x100, 0x10}, {0x100, 0x10}}},
        {"straddles two adjacent regions", "ADJACENT", {{0xF00, 0x200}}},
        {"outside every region", "TWO-REGION", {{0x40000, 4}}},
        {"past the end of a region", "TWO-REGION", {{0xFFFC, 8}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoffBuilder coff = Executable();
        for (const auto& [address, size] : c.sections)
            coff.AddSection(Section(address, Pattern(size)));
        const std::vector<uint8_t> bytes = coff.Build();
        for (bool newFormat : {false, true}) {
            const QELExc e = Raised([&] { Convert(bytes, c.tim, newFormat); });
            EXPECT_EQ(e.code, 0x30005u);
            EXPECT_STREQ(e.message,
                         "At least one of the sections specified in the .coff file \n"
                         "could not be placed in the DSP memory space.");
            EXPECT_STREQ(e.file, "qeldrv\\memory");
        }
    }
}

TEST_F(ObjectFileTest, NoRoomForTheBootLoaderFailsInTheNewFormatOnly) {
    const std::vector<uint8_t> coff =
        Executable().AddSection(Section(0x1000, Pattern(0x80))).Build();
    const QELExc e = Raised([&] { Convert(coff, "TIGHT", true); });
    EXPECT_EQ(e.code, 0x30007u);
    EXPECT_STREQ(e.message, "Could not re-locate the boot loader.");
    EXPECT_EQ(Convert(coff, "TIGHT", false),
              OldHeader().Words({0x80, 0x1000}).Raw(Pattern(0x80)).Words({0}).Get());
}

TEST_F(ObjectFileTest, ExecutableWithoutLoadableSections) {
    const std::vector<uint8_t> coff = Executable().Build();
    EXPECT_EQ(Convert(coff, "TWO-REGION", true),
              Bytes().Words({0xBBBB0002, 0x9F000, 0, kEntry}).Get());
    EXPECT_EQ(Convert(coff, "TWO-REGION", false), OldHeader().Words({0}).Get());
}

TEST_F(ObjectFileTest, WriterErrors) {
    const std::vector<uint8_t> plain = Executable().AddSection(Section(0x100, Pattern(4))).Build();
    const std::vector<uint8_t> notExecutable =
        Executable().SetExecutable(false).AddSection(Section(0x100, Pattern(4))).Build();
    struct Case {
        const char* what;
        const std::vector<uint8_t>& coff;
        const char* tim;
        uint32_t code;
        const char* text;
        const char* file;
    };
    const Case cases[] = {
        {"not executable", notExecutable, "TWO-REGION", 0x30004,
         "The .coff file is not executable.", "qeldrv\\objectfile"},
        {"unknown TIM", plain, "NOSUCH", 0x30008, "Unknown TIM type specified.", "qeldrv\\memory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool newFormat : {false, true}) {
            // Every check comes before the first byte.
            std::FILE* file = std::tmpfile();
            ASSERT_NE(file, nullptr);
            const CObjectFile object(c.coff);
            const QELExc e = Raised([&] {
                newFormat ? object.WriteNewFormat(c.tim, file) : object.WriteOldFormat(c.tim, file);
            });
            EXPECT_EQ(std::ftell(file), 0);
            std::fclose(file);
            EXPECT_EQ(e.code, c.code);
            EXPECT_STREQ(e.message, c.text);
            EXPECT_STREQ(e.file, c.file);
        }
    }
}

TEST_F(ObjectFileTest, ReadingErrors) {
    const std::vector<uint8_t> good = Executable().AddSection(Section(0x100, Pattern(16))).Build();
    CoffLayout layout;
    Executable().AddSection(Section(0x100, Pattern(16))).Build(&layout);
    const uint32_t rawField = layout.sectionTableOffset + 20;

    auto patched = [&](size_t offset, uint32_t value, int width) {
        std::vector<uint8_t> bytes = good;
        width == 2 ? firmware::PokeU16(bytes, offset, static_cast<uint16_t>(value))
                   : firmware::PokeU32(bytes, offset, value);
        return bytes;
    };
    std::vector<uint8_t> cut = good;
    cut.resize(layout.rawDataOffsets[0] + 15);

    struct Case {
        const char* what;
        std::vector<uint8_t> coff;
        uint32_t code;
        const char* text;
    };
    const char* wrongSize = "Not a valid .coff file format. (Wrong header size)";
    const char* outside = "Not a valid .coff file format. (Section data outside the file)";
    const Case cases[] = {
        {"no optional header", Executable().SetOptionalHeaderSize(0).Build(), 0x30003,
         "Not a valid .coff file format. (No optional header)"},
        {"optional header of 36", Executable().SetOptionalHeaderSize(36).Build(), 0x30002,
         wrongSize},
        {"empty file", {}, 0x30002, wrongSize},
        {"shorter than the file header", std::vector<uint8_t>(good.begin(), good.begin() + 21),
         0x30002, wrongSize},
        {"shorter than the optional header", std::vector<uint8_t>(good.begin(), good.begin() + 40),
         0x30002, wrongSize},
        {"section headers past the end", patched(2, 0xFFFF, 2), 0x30002, wrongSize},
        {"section data cut short", cut, 0x30006, outside},
        {"raw data offset past the end", patched(rawField, 0xFFFFFFF0, 4), 0x30006, outside},
        {"size wraps around", patched(rawField - 4, 0xFFFFFFFF, 4), 0x30006, outside},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QELExc e = Raised([&] { CObjectFile object(c.coff); });
        EXPECT_EQ(e.code, c.code);
        EXPECT_STREQ(e.message, c.text);
        EXPECT_STREQ(e.file, "qeldrv\\objectfile");
    }
}

TEST_F(ObjectFileTest, SectionOutsideTheFileNamesItsIndex) {
    CoffLayout layout;
    std::vector<uint8_t> coff = Executable()
                                    .AddSection(Section(0x100, Pattern(8)))
                                    .AddSection(Section(0x200, Pattern(8)))
                                    .Build(&layout);
    firmware::PokeU32(coff, layout.sectionTableOffset + 48 + 16, 0x10000);
    EXPECT_EQ(Raised([&] { CObjectFile object(coff); }).nAddition, 1u);

    // A section that is not loaded is never read, wherever it points.
    firmware::PokeU32(coff, layout.sectionTableOffset + 48 + 40, 0x80);
    EXPECT_EQ(Raised([&] { CObjectFile object(coff); }).code, 0u);
}

TEST_F(ObjectFileTest, FileThatCannotBeOpened) {
    for (const std::string& path : {temp_.File("missing.out"), temp_.Path()}) {
        SCOPED_TRACE(path);
        const QELExc e = Raised([&] { CObjectFile object(path.c_str()); });
        EXPECT_EQ(e.code, 0x30001u);
        EXPECT_STREQ(e.message, "Could not open the .coff file specified.");
    }
}

TEST_F(ObjectFileTest, ReadsTheFieldsTheImagesNeed) {
    CoffSectionSpec bss = Section(0x300, {}, 0x80);
    bss.size = 0x40;
    bss.noRawData = true;
    const std::string path = temp_.Write(
        "a.out", Executable().AddSection(Section(0x100, Pattern(8))).AddSection(bss).Build());
    const CObjectFile object(path.c_str());
    EXPECT_TRUE(object.IsExecutable());
    EXPECT_EQ(object.GetEntryPoint(), kEntry);
    ASSERT_EQ(object.GetSectionCount(), 2);
    EXPECT_TRUE(object.IsLoadable(0));
    EXPECT_FALSE(object.IsLoadable(1));
    const CObjectFile::Section s = object.GetSection(1);
    EXPECT_EQ(s.loadAddress, 0x300u);
    EXPECT_EQ(s.size, 0x40u);
    EXPECT_EQ(s.rawDataOffset, 0u);
    EXPECT_EQ(s.flags, 0x80u);
}

}  // namespace
}  // namespace qel::converter_test
