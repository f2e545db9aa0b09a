#include "engine/Exc.h"
#include "engine/formats/ObjFile.h"
#include "platform/TempFolder.h"
#include "tests/fixtures/ImageBuilders.h"
#include "tests/fixtures/TestTempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

using namespace qel::fixtures;
using ::testing::HasSubstr;

namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

void LoadBytes(CObjFile& obj, const std::vector<uint8_t>& image) {
    obj.LoadFromMemory(image.data(), image.size(), "test.out");
}

// Runs f and returns the engine error it raised (code 0 when none).
CExc Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const CExc& e) {
        return e;
    }
    return CExc();
}

// ---- names -----------------------------------------------------------------

struct NameCase {
    const char* label;
    std::string name;
    bool forceStringTable;
    bool expectInline;  // the 8-byte field holds the name itself
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.label;
}

class SectionNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SectionNameTest, ReadsTheNameWhereverItIsKept) {
    const NameCase& c = GetParam();
    CoffBuilder coff;
    coff.AddSection(".vectors", 0x100, Pattern(8, 1));
    CoffSectionSpec section;
    section.name = c.name;
    section.data = Pattern(12, 2);
    section.nameInStringTable = c.forceStringTable;
    coff.AddSection(section);
    coff.AddSymbol("main", 0x100);  // the string table then follows a symbol
    CoffLayout layout;
    const std::vector<uint8_t> image = coff.Build(&layout);

    CObjFile obj;
    LoadBytes(obj, image);
    ASSERT_EQ(obj.GetSectionCount(), 2);
    EXPECT_EQ(obj.GetSectionName(0), ".vectors");
    EXPECT_EQ(obj.GetSectionName(1), c.name);
    EXPECT_EQ(obj.FindSection(c.name.c_str()), 1);
    const char* field = obj.GetSectionHeader(1)->name;
    if (c.expectInline) {
        EXPECT_EQ(0, memcmp(field, c.name.data(), c.name.size()));
    } else {
        EXPECT_EQ(field[0], 0);
        EXPECT_EQ(layout.nameOffsets[1], 4u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, SectionNameTest,
    ::testing::Values(NameCase{"Short", ".text", false, true},
                      NameCase{"OneCharacter", "d", false, true},
                      NameCase{"ExactlyEightWithoutNul", ".fprog01", false, true},
                      NameCase{"LongInStringTable", ".debug_frame", false, false},
                      NameCase{"ShortInStringTable", ".data", true, false}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST(ObjFileNames, StringTableOffsetsCountFromTheTableStart) {
    CoffBuilder coff;
    coff.AddSection("first_long_name", 0, Pattern(4, 0));   // offset 4, 16 bytes with NUL
    coff.AddSection("second_long_name", 0, Pattern(4, 0));  // offset 20
    CoffLayout layout;
    const std::vector<uint8_t> image = coff.Build(&layout);
    ASSERT_EQ(layout.nameOffsets, (std::vector<uint32_t>{4, 20}));

    CObjFile obj;
    LoadBytes(obj, image);
    EXPECT_EQ(obj.GetSectionName(0), "first_long_name");
    EXPECT_EQ(obj.GetSectionName(1), "second_long_name");
}

TEST(ObjFileNames, AllZeroNameFieldIsEmpty) {
    CoffBuilder coff;
    coff.AddSection("", 0x40, Pattern(4, 0));
    CObjFile obj;
    LoadBytes(obj, coff.Build());
    EXPECT_EQ(obj.GetSectionName(0), "");
}

// ---- optional header -------------------------------------------------------

struct OptionalHeaderCase {
    uint16_t size;
    uint32_t loadError;  // 0: loads
};

void PrintTo(const OptionalHeaderCase& c, std::ostream* os) {
    *os << c.size;
}

class OptionalHeaderTest : public ::testing::TestWithParam<OptionalHeaderCase> {};

TEST_P(OptionalHeaderTest, OnlyNoneOrTwentyEightBytesLoad) {
    const OptionalHeaderCase& c = GetParam();
    CoffBuilder coff;
    coff.SetOptionalHeaderSize(c.size).SetEntryPoint(0x1234);
    coff.AddSection(".text", 0x1000, Pattern(16, 3));
    CoffLayout layout;
    const std::vector<uint8_t> image = coff.Build(&layout);

    CObjFile obj;
    const CExc e = Raised([&] { LoadBytes(obj, image); });
    EXPECT_EQ(e.code, c.loadError);
    if (c.loadError != 0) {
        EXPECT_STREQ(e.source, "ObjFile");
        EXPECT_FALSE(obj.IsLoaded());
        EXPECT_EQ(obj.GetSectionCount(), 0);
        return;
    }
    // Section headers follow whatever optional header there is.
    ASSERT_EQ(obj.GetSectionCount(), 1);
    EXPECT_EQ(layout.sectionTableOffset, 22u + c.size);
    EXPECT_EQ(obj.GetSectionHeader(0)->physicalAddress, 0x1000u);
    EXPECT_EQ(0, memcmp(obj.GetSectionData(0), Pattern(16, 3).data(), 16));
    if (c.size == 28) {
        EXPECT_EQ(obj.GetEntryPoint(), 0x1234u);
    } else {
        EXPECT_EQ(obj.GetOptionalHeader(), nullptr);
        const CExc missing = Raised([&] { obj.GetEntryPoint(); });
        EXPECT_EQ(missing.code, ERR_NO_OPTIONAL_HEADER);
        EXPECT_STREQ(missing.GetMessage(), "Coff optional header not found");
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, OptionalHeaderTest,
                         ::testing::Values(OptionalHeaderCase{0, 0}, OptionalHeaderCase{28, 0},
                                           OptionalHeaderCase{36, ERR_WRONG_OPTIONAL_HEADER},
                                           OptionalHeaderCase{24, ERR_WRONG_OPTIONAL_HEADER},
                                           OptionalHeaderCase{2, ERR_WRONG_OPTIONAL_HEADER}),
                         [](const auto& tp) { return "Size" + std::to_string(tp.param.size); });

// ---- sections, symbols, files ---------------------------------------------

TEST(ObjFile, ReadsSectionsFlagsAndAddresses) {
    CoffBuilder coff;
    coff.SetEntryPoint(0x2000);
    coff.AddSection(".text", 0x2000, Pattern(100, 1), COFF_SECTION_CODE);
    CoffSectionSpec data;
    data.name = ".cinit";
    data.physicalAddress = 0x90000000;
    data.virtualAddress = 0x10000;
    data.data = Pattern(6, 9);
    data.flags = COFF_SECTION_DATA;
    data.page = 1;
    coff.AddSection(data);
    CoffSectionSpec bss;
    bss.name = ".bss";
    bss.physicalAddress = 0x80000000;
    bss.size = 0x40000000;  // far larger than the file: it has no bytes there
    bss.flags = COFF_SECTION_UNINITIALISED;
    bss.noRawData = true;
    coff.AddSection(bss);

    CObjFile obj;
    LoadBytes(obj, coff.Build());
    EXPECT_TRUE(obj.IsExecutable());
    ASSERT_EQ(obj.GetSectionCount(), 3);
    EXPECT_EQ(obj.GetEntryPoint(), 0x2000u);

    const CoffSectionHeader* text = obj.GetSectionHeader(0);
    EXPECT_EQ(text->size, 100u);
    EXPECT_EQ(text->flags, COFF_SECTION_CODE);
    EXPECT_EQ(0, memcmp(obj.GetSectionData(0), Pattern(100, 1).data(), 100));

    const CoffSectionHeader* cinit = obj.GetSectionHeader(1);
    EXPECT_EQ(cinit->physicalAddress, 0x90000000u);
    EXPECT_EQ(cinit->virtualAddress, 0x10000u);
    EXPECT_EQ(cinit->page, 1);
    EXPECT_EQ(cinit->flags, COFF_SECTION_DATA);

    EXPECT_EQ(obj.GetSectionHeader(2)->size, 0x40000000u);
    EXPECT_EQ(obj.GetSectionHeader(2)->rawDataOffset, 0u);
}

TEST(ObjFile, ExecutableFlagAndEmptyState) {
    CObjFile obj;
    EXPECT_FALSE(obj.IsExecutable());
    EXPECT_EQ(obj.GetSectionCount(), 0);
    EXPECT_EQ(obj.GetFileHeader(), nullptr);
    EXPECT_EQ(Raised([&] { obj.GetEntryPoint(); }).code, ERR_NO_OPTIONAL_HEADER);

    CoffBuilder coff;
    coff.SetExecutable(false).AddSection(".data", 0, Pattern(4, 0), COFF_SECTION_DATA);
    LoadBytes(obj, coff.Build());
    EXPECT_FALSE(obj.IsExecutable());
    obj.Close();
    EXPECT_FALSE(obj.IsLoaded());
    EXPECT_EQ(obj.GetName(), "");
}

TEST(ObjFile, SectionIndexOutsideTheTableIsAnError) {
    CoffBuilder coff;
    coff.AddSection(".text", 0, Pattern(4, 0));
    CObjFile obj;
    LoadBytes(obj, coff.Build());
    EXPECT_EQ(Raised([&] { obj.GetSectionHeader(1); }).code, ERR_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(Raised([&] { obj.GetSectionName(-1); }).code, ERR_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(Raised([&] { obj.GetSectionData(7); }).code, ERR_INDEX_OUT_OF_RANGE);
}

TEST(ObjFile, SectionDataIsCheckedAgainstTheHeaderAsItStandsNow) {
    CoffBuilder coff;
    coff.AddSection(".text", 0, Pattern(10, 4));
    CObjFile obj;
    LoadBytes(obj, coff.Build());
    obj.GetSectionHeader(0)->size = 0x10000;
    const CExc e = Raised([&] { obj.GetSectionData(0); });
    EXPECT_EQ(e.code, ERR_CANNOT_READ_FILE);
    EXPECT_THAT(e.detail, HasSubstr("test.out"));
}

TEST(ObjFile, SectionBytesPastTheFileEndAreZero) {
    // The last section ends the file; a copy padded to whole words reads 2
    // bytes beyond it.
    CoffBuilder coff;
    coff.AddSection(".data", 0, Pattern(6, 5), COFF_SECTION_DATA);
    CObjFile obj;
    LoadBytes(obj, coff.Build());
    std::vector<uint8_t> out(8, 0xEE);
    obj.GetSectionBytes(0, 8, out.data());
    std::vector<uint8_t> expected = Pattern(6, 5);
    expected.resize(8, 0);
    EXPECT_EQ(out, expected);
}

TEST(ObjFile, FindsSymbolsShortLongAndAfterAuxiliaryEntries) {
    CoffBuilder coff;
    coff.AddSection(".text", 0, Pattern(4, 0));
    CoffSymbolSpec withAux;
    withAux.name = ".file";
    withAux.value = 1;
    withAux.auxCount = 1;
    coff.AddSymbol(withAux);
    coff.AddSymbol("_c_int00", 0x1000);
    coff.AddSymbol("_a_long_symbol_name", 0x2000);
    CObjFile obj;
    LoadBytes(obj, coff.Build());

    uint32_t value = 0;
    EXPECT_TRUE(obj.FindSymbol("_c_int00", &value));
    EXPECT_EQ(value, 0x1000u);
    EXPECT_TRUE(obj.FindSymbol("_a_long_symbol_name", &value));
    EXPECT_EQ(value, 0x2000u);
    EXPECT_FALSE(obj.FindSymbol("_missing", &value));
    EXPECT_FALSE(obj.FindSymbol("", &value));  // the aux entry's zero name is not a symbol
}

TEST(ObjFile, LoadsFromAFileAndKeepsItsName) {
    TestTempDir dir;
    CoffBuilder coff;
    coff.SetEntryPoint(0x80).AddSection(".text", 0x80, Pattern(32, 6));
    const std::string path = dir.Write("prog.out", coff.Build());
    CObjFile obj;
    obj.Load(path.c_str());
    EXPECT_EQ(obj.GetName(), path);
    EXPECT_EQ(obj.GetEntryPoint(), 0x80u);
    EXPECT_EQ(0, memcmp(obj.GetSectionData(0), Pattern(32, 6).data(), 32));
}

TEST(ObjFile, MissingFileRaisesCouldNotOpenWithThePath) {
    TestTempDir dir;
    const std::string path = dir.File("absent.out");
    CObjFile obj;
    const CExc e = Raised([&] { obj.Load(path.c_str()); });
    EXPECT_EQ(e.code, ERR_CANNOT_OPEN_OBJ);
    EXPECT_STREQ(e.GetMessage(), "Could not open obj file");
    EXPECT_STREQ(e.source, "ObjFile");
    EXPECT_THAT(e.detail, HasSubstr("absent.out"));
    EXPECT_EQ(Raised([&] { obj.Load(dir.Path().c_str()); }).code, ERR_CANNOT_OPEN_OBJ);
}

// ---- damaged files ---------------------------------------------------------

// A valid file to damage: optional header 28, ".text" and a long-named
// section, one symbol, so it has a string table.
struct Sample {
    std::vector<uint8_t> image;
    CoffLayout layout;
};

Sample MakeSample() {
    CoffBuilder coff;
    coff.SetEntryPoint(0x100);
    coff.AddSection(".text", 0x100, Pattern(40, 1));
    coff.AddSection(".long_section_name", 0x200, Pattern(24, 2), COFF_SECTION_DATA);
    coff.AddSymbol("_main", 0x100);
    Sample s;
    s.image = coff.Build(&s.layout);
    return s;
}

constexpr size_t kSection0 = 22 + 28;
constexpr size_t kSection1 = kSection0 + 48;

struct DamageCase {
    const char* label;
    std::function<void(Sample&)> damage;
    const char* detail;  // expected in the error's detail text
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.label;
}

class DamagedCoffTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedCoffTest, IsRefusedWithAClearError) {
    Sample s = MakeSample();
    GetParam().damage(s);
    CObjFile obj;
    const CExc e = Raised([&] { obj.LoadFromMemory(s.image.data(), s.image.size(), "bad.out"); });
    EXPECT_EQ(e.code, ERR_CANNOT_READ_FILE);
    EXPECT_STREQ(e.GetMessage(), "Could not read file");
    EXPECT_STREQ(e.source, "ObjFile");
    EXPECT_THAT(e.detail, HasSubstr("bad.out: "));
    EXPECT_THAT(e.detail, HasSubstr(GetParam().detail));
    EXPECT_FALSE(obj.IsLoaded());
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedCoffTest,
    ::testing::Values(
        DamageCase{"Empty", [](Sample& s) { s.image.clear(); }, "too short"},
        DamageCase{"ShorterThanFileHeader", [](Sample& s) { s.image.resize(21); }, "too short"},
        DamageCase{"OptionalHeaderCut", [](Sample& s) { s.image.resize(30); }, "headers of 2"},
        DamageCase{"SectionCountTooLarge", [](Sample& s) { PokeU16(s.image, 2, 0xFFFF); },
                   "headers of 65535"},
        DamageCase{"SectionTableCut", [](Sample& s) { s.image.resize(kSection1 + 20); },
                   "headers of 2"},
        DamageCase{"RawDataPastEnd",
                   [](Sample& s) {
                       PokeU32(s.image, kSection0 + 20, static_cast<uint32_t>(s.image.size()));
                   },
                   "section 0 (.text) data"},
        DamageCase{"RawSizePastEnd",
                   [](Sample& s) { PokeU32(s.image, kSection0 + 16, 0xFFFFFFF0); },
                   "section 0 (.text) data"},
        DamageCase{"RawRangeWrapsAround",
                   [](Sample& s) {
                       PokeU32(s.image, kSection0 + 20, 0xFFFFFF00);
                       PokeU32(s.image, kSection0 + 16, 0x200);
                   },
                   "outside the file"},
        DamageCase{"StringTablePastEnd",
                   [](Sample& s) { PokeU32(s.image, 8, static_cast<uint32_t>(s.image.size())); },
                   "section 1: string table"},
        DamageCase{"SymbolCountMovesStringTableOut",
                   [](Sample& s) { PokeU32(s.image, 12, 0x10000000); }, "string table"},
        DamageCase{"LongNameOffsetPastEnd",
                   [](Sample& s) { PokeU32(s.image, kSection1 + 4, 0x7FFFFFFF); },
                   "name offset 2147483647 outside"},
        DamageCase{"LongNameOffsetInLengthWord",
                   [](Sample& s) { PokeU32(s.image, kSection1 + 4, 2); }, "string table length"},
        DamageCase{"LongNameNotTerminated",
                   [](Sample& s) { s.image.pop_back(); },  // drops the name's NUL
                   "not terminated"}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST(ObjFile, FailedLoadLeavesNoTraceOfTheEarlierFile) {
    CObjFile obj;
    Sample good = MakeSample();
    LoadBytes(obj, good.image);
    ASSERT_EQ(obj.GetSectionCount(), 2);
    Sample bad = MakeSample();
    bad.image.resize(21);
    EXPECT_EQ(Raised([&] { LoadBytes(obj, bad.image); }).code, ERR_CANNOT_READ_FILE);
    EXPECT_EQ(obj.GetSectionCount(), 0);
    EXPECT_EQ(obj.GetFileHeader(), nullptr);
}

TEST(ObjFile, SymbolTableOutsideTheFileIsRefusedWhenSearched) {
    CoffBuilder coff;
    coff.AddSection(".text", 0, Pattern(4, 0));
    coff.AddSymbol("_main", 0);
    std::vector<uint8_t> image = coff.Build();
    // Without long names the string table is never needed, so Load accepts
    // the file; the symbol search must not read past its end.
    PokeU32(image, 12, 0x01000000);
    CObjFile obj;
    LoadBytes(obj, image);
    const CExc e = Raised([&] { obj.FindSymbol("_main", nullptr); });
    EXPECT_EQ(e.code, ERR_CANNOT_READ_FILE);
    EXPECT_THAT(e.detail, HasSubstr("symbol table"));
}

// ---- temporary one-section files ------------------------------------------

TEST(WriteTempCoff, WritesTheOneSectionLayout) {
    const std::vector<uint8_t> payload = Pattern(16, 0x30);
    CObjFile obj;
    const std::string path = obj.WriteTempCoff(16, payload.data(), 0x80010000, 4242);
    EXPECT_EQ(path, qel::platform::PrivateTempPath("__temp4242.out"));
    EXPECT_EQ(obj.GetName(), path);
    EXPECT_FALSE(obj.IsLoaded());

    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    ASSERT_EQ(file.size(), 114u);
    std::vector<uint8_t> expected;
    auto u16 = [&](uint16_t v) { qel::firmware::PutU16(expected, v); };
    auto u32 = [&](uint32_t v) { qel::firmware::PutU32(expected, v); };
    u16(0x00C2), u16(1), u32(0), u32(0), u32(0), u16(28), u16(0x010D), u16(0x0099);
    u16(0x0108), u16(0x01A4), u32(16), u32(0), u32(0), u32(0x80010000), u32(0x80010000), u32(0);
    u32(0), u32(0), u32(0x80010000), u32(0x80010000), u32(16), u32(98);
    u32(0), u32(0), u32(0), u32(0), u32(0), u16(0), u16(0);
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(file, expected);

    // Read back as the bench does: one section of 16 bytes at the address.
    CObjFile back;
    back.Load(path.c_str());
    EXPECT_FALSE(back.IsExecutable());
    ASSERT_EQ(back.GetSectionCount(), 1);
    EXPECT_EQ(back.GetSectionName(0), "");
    EXPECT_EQ(back.GetSectionHeader(0)->rawDataOffset, 98u);
    EXPECT_EQ(back.GetEntryPoint(), 0x80010000u);
    EXPECT_EQ(0, memcmp(back.GetSectionData(0), payload.data(), 16));
    std::filesystem::remove(path);
}

TEST(WriteTempCoff, SameNumberOverwritesAndEmptiesTheObject) {
    CObjFile obj;
    CoffBuilder coff;
    coff.AddSection(".text", 0, Pattern(4, 0));
    LoadBytes(obj, coff.Build());
    const std::vector<uint8_t> big = Pattern(64, 1);
    const std::string first = obj.WriteTempCoff(64, big.data(), 0, 4243);
    EXPECT_EQ(obj.GetSectionCount(), 0);
    const uint8_t small[4] = {1, 2, 3, 4};
    const std::string second = obj.WriteTempCoff(4, small, 0x200, 4243);
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::filesystem::file_size(second), 102u);
    std::filesystem::remove(second);
}

TEST(WriteTempCoff, UnwritableTargetRaisesCouldNotCreateTempFile) {
    // A folder in the file's place cannot be opened for writing.
    const std::string path = qel::platform::PrivateTempPath("__temp4244.out");
    std::filesystem::create_directory(path);
    const uint8_t byte = 0;
    CObjFile obj;
    const CExc e = Raised([&] { obj.WriteTempCoff(1, &byte, 0, 4244); });
    std::filesystem::remove(path);
    EXPECT_EQ(e.code, ERR_CREATE_TEMP_FILE);
    EXPECT_STREQ(e.GetMessage(), "Could not create temp file");
    EXPECT_STREQ(e.source, "ObjFile");
    EXPECT_THAT(e.detail, HasSubstr("__temp4244.out"));
}

}  // namespace
