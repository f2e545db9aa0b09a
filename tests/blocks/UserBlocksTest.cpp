#include "BlockTestUtil.h"
#include "FakeOwner.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockUserApp.h"
#include "engine/blocks/BlockUserData.h"
#include "engine/blocks/BlockUserExec.h"
#include "engine/blocks/Crc.h"
#include "engine/formats/Memory.h"
#include "tests/fixtures/ImageBuilders.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using blocktest::CodeOf;
using blocktest::DetailOf;
using blocktest::PutWord;
using blocktest::Record;
using blocktest::Word;
using qel::fixtures::CoffBuilder;
using qel::fixtures::CoffLayout;
using qel::fixtures::CoffSectionSpec;
using qel::fixtures::TestTempDir;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes out(words.size() * 4);
    size_t at = 0;
    for (uint32_t w : words) {
        PutWord(out, at, w);
        at += 4;
    }
    return out;
}

Bytes Swapped(Bytes bytes) {
    for (size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        std::swap(bytes[at], bytes[at + 3]);
        std::swap(bytes[at + 1], bytes[at + 2]);
    }
    return bytes;
}

// --- sizes and the record ----------------------------------------------------

struct NameCase {
    size_t nameLength;
    uint32_t extraSize;
};

class UserExtraHeaderTest : public testing::TestWithParam<NameCase> {};

TEST_P(UserExtraHeaderTest, OnFlashSizeFollowsTheName) {
    FakeOwner owner;
    CBlockUserData block(&owner, 0);
    const UserBlockRecord r = Record(std::string(GetParam().nameLength, 'n'));
    block.SetProperties(&r);
    EXPECT_EQ(block.GetExtraHeaderSize(), GetParam().extraSize);
    uint32_t size = 0;
    EXPECT_NE(block.GetExtraHeader(&size), nullptr);
    EXPECT_EQ(size, 1032u);
}

INSTANTIATE_TEST_SUITE_P(Names, UserExtraHeaderTest,
                         testing::Values(NameCase{0, 12}, NameCase{3, 12}, NameCase{4, 16},
                                         NameCase{5, 16}, NameCase{8, 20}, NameCase{1020, 1032},
                                         NameCase{1023, 1032}, NameCase{2000, 1032}));

TEST(UserBlockTest, NewBlockIsEmpty) {
    FakeOwner owner;
    CBlockUserData block(&owner, 0);
    EXPECT_EQ(block.GetHeader()->type, 0x00100005u);
    EXPECT_EQ(block.GetHeader()->dataOffset, 60u);
    EXPECT_EQ(block.GetTotalSize(), 128u);
    EXPECT_EQ(block.GetRecord().bootable, 0u);
    EXPECT_EQ(block.GetRecord().fileName[0], '\0');
}

TEST(UserBlockTest, FiveCharacterNameGivesDataOffset64And256Bytes) {
    FakeOwner owner;
    CBlockUserData block(&owner, 0);
    const UserBlockRecord r = Record("abcde");
    block.SetProperties(&r);
    // The name's size is the extra header's: the layout follows it.
    EXPECT_EQ(block.GetHeader()->dataOffset, 64u);
    EXPECT_EQ(block.GetTotalSize(), 128u);
    block.SetDataLength(100);
    EXPECT_EQ(block.GetHeader()->dataOffset, 64u);
    EXPECT_EQ(block.GetTotalSize(), 256u);
}

TEST(UserBlockTest, NameWithoutNulIsCutAtTheRecordEnd) {
    FakeOwner owner;
    CBlockUserData block(&owner, 0);
    UserBlockRecord r{};
    std::memset(r.fileName, 'x', sizeof(r.fileName));
    block.SetProperties(&r);
    EXPECT_EQ(std::strlen(block.GetRecord().fileName), 1023u);
    EXPECT_EQ(block.GetExtraHeaderSize(), 1032u);
}

TEST(UserBlockTest, SetBootableMarksOnlyAChange) {
    FakeOwner owner;
    CBlockUserData block(&owner, 0);
    const UserBlockRecord r = Record("f", false, true);
    block.SetProperties(&r);
    block.Write(false);
    ASSERT_FALSE(block.IsModified());
    block.SetBootable(true);
    EXPECT_FALSE(block.IsModified());
    block.SetBootable(false);
    EXPECT_TRUE(block.IsModified());
    EXPECT_EQ(block.GetRecord().bootable, 0u);
}

TEST(UserBlockTest, SetPropertiesNeedsARecord) {
    FakeOwner owner;
    CBlockUserData block(&owner, 0);
    EXPECT_EQ(CodeOf([&] { block.SetProperties(nullptr); }), ERR_NO_FILENAME);
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(nullptr, 1, true); }), ERR_NO_FILENAME);
}

// --- raw data ----------------------------------------------------------------

struct DataCase {
    const char* name;
    Bytes file;
    bool bigEndian;
    Bytes payload;
};

class UserDataTest : public testing::TestWithParam<DataCase> {};

TEST_P(UserDataTest, PayloadIsTheFile) {
    const DataCase& c = GetParam();
    TestTempDir dir;
    FakeOwner owner;
    CBlockUserData block(&owner, 0x1000);
    const UserBlockRecord r = Record(dir.Write("data.bin", c.file), c.bigEndian);
    const uint32_t crc = block.SetFromFile(&r, 0xCAFE, true);

    const BlockHeader* h = block.GetHeader();
    EXPECT_EQ(h->dataLength, c.payload.size());
    EXPECT_EQ(h->id, 0xCAFEu);
    EXPECT_EQ(crc, CCrc::Of(c.payload.data(), c.payload.size()));
    EXPECT_EQ(h->crc, crc);
    EXPECT_EQ(h->dataOffset, 48 + ((std::strlen(r.fileName) + 12) & ~size_t{3}));
    Bytes padded = c.payload;
    padded.resize((padded.size() + 3) & ~size_t{3}, 0);
    EXPECT_EQ(block.Data(), padded);
    EXPECT_TRUE(block.IsModified());
}

INSTANTIATE_TEST_SUITE_P(
    Files, UserDataTest,
    testing::Values(DataCase{"Plain", {1, 2, 3, 4, 5, 6}, false, {1, 2, 3, 4, 5, 6}},
                    DataCase{"BigEndianSixBytes", {1, 2, 3, 4, 5, 6}, true, {4, 3, 2, 1, 5, 6}},
                    DataCase{"BigEndianThreeBytes", {1, 2, 3}, true, {1, 2, 3}},
                    DataCase{
                        "BigEndianWords", {1, 2, 3, 4, 5, 6, 7, 8}, true, {4, 3, 2, 1, 8, 7, 6, 5}},
                    DataCase{"Empty", {}, false, {}}),
    blocktest::ByName());

TEST(UserDataTest, UnreadableInputsGiveEngineErrors) {
    TestTempDir dir;
    FakeOwner owner;
    CBlockUserData block(&owner, 0);
    const UserBlockRecord missing = Record(dir.File("missing.bin"));
    const UserBlockRecord folder = Record(dir.Path());
    const UserBlockRecord empty = Record("");
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&missing, 1, true); }), ERR_CANNOT_OPEN_FILE);
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&folder, 1, true); }), ERR_CANNOT_OPEN_FILE);
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&empty, 1, true); }), ERR_CANNOT_OPEN_FILE);
    EXPECT_EQ(block.GetTotalSize(), 128u);  // the old header
}

TEST(UserDataTest, SpaceIsCheckedOnlyWhenAsked) {
    TestTempDir dir;
    FakeOwner owner(0x1000);
    CBlockUserData block(&owner, 0);
    const UserBlockRecord r = Record(dir.Write("big.bin", Bytes(0x1000, 7)));
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&r, 1, true); }), ERR_NOT_ENOUGH_SPACE);
    EXPECT_EQ(block.GetHeader()->dataLength, 0u);
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&r, 1, false); }), 0u);
    EXPECT_EQ(block.GetHeader()->dataLength, 0x1000u);
}

TEST(UserDataTest, WritesHeaderNameAndPaddedPayload) {
    TestTempDir dir;
    FakeOwner owner;
    CBlockUserData block(&owner, 0x2000);
    const UserBlockRecord r = Record(dir.Write("d.bin", {9, 8, 7, 6, 5}), false, true);
    block.SetFromFile(&r, 3, true);
    block.Write(false);
    const auto writes = owner.RealWrites();
    ASSERT_EQ(writes.size(), 3u);
    const uint32_t extra = block.GetExtraHeaderSize();
    EXPECT_EQ(writes[1].offset, 0x2000u + 48);
    EXPECT_EQ(writes[1].length, extra);
    EXPECT_EQ(Word(writes[1].bytes, 0), 1u);  // bootable
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(writes[1].bytes.data()) + 8), r.fileName);
    EXPECT_EQ(writes[2].offset, 0x2000u + 48 + extra);
    EXPECT_EQ(writes[2].bytes, (Bytes{9, 8, 7, 6, 5, 0, 0, 0}));
}

// --- Diamond applications ----------------------------------------------------

struct AppCase {
    const char* name;
    Bytes file;
    bool bigEndian;
    uint32_t code;
    Bytes payload;
};

class UserAppTest : public testing::TestWithParam<AppCase> {};

TEST_P(UserAppTest, ImageAndErrors) {
    const AppCase& c = GetParam();
    TestTempDir dir;
    FakeOwner owner;
    CBlockUserApp block(&owner, 0);
    EXPECT_EQ(block.GetHeader()->type, 0x00020005u);
    const UserBlockRecord r = Record(dir.Write("app.app", c.file), c.bigEndian);
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&r, 1, true); }), c.code);
    if (c.code == 0) {
        EXPECT_EQ(block.GetHeader()->dataLength, c.payload.size());
        EXPECT_EQ(block.Data(), c.payload);
    } else {
        EXPECT_EQ(block.GetHeader()->dataLength, 0u);
    }
}

const Bytes kImage = Words({0xBBBB0001, 0x100, 0, 0x11223344});

INSTANTIATE_TEST_SUITE_P(
    Files, UserAppTest,
    testing::Values(
        AppCase{"Standalone", kImage, false, 0, kImage},
        AppCase{"PrefixSkipped", Words({0xCC000000, 0x5, 0xBBBB0001, 0x100, 0, 0x11223344}), false,
                0, kImage},
        AppCase{"BigEndianFile", Swapped(kImage), true, 0, kImage},
        AppCase{"PrefixMarkerOnThirdWord",
                Words({0xCC000000, 0x5, 0xBBBA0001, 0x100, 0, 1}),
                false,
                ERR_DIAMOND_FORMAT,
                {}},
        AppCase{"WrongMarker", Words({0xBBBA0001, 0x100, 0, 1}), false, ERR_DIAMOND_FORMAT, {}},
        AppCase{"NotStandalone", Words({0xBBBB0001, 0x100, 1, 1}), false, ERR_NOT_STANDALONE, {}},
        AppCase{"SizeNotFactorOfFour",
                Bytes{0x01, 0x00, 0xBB, 0xBB, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                false,
                ERR_FILE_SIZE_NOT_FACTOR_4,
                {}},
        AppCase{"EmptyFile", {}, false, ERR_DIAMOND_FORMAT, {}},
        AppCase{"MarkerOnly", Words({0xBBBB0001}), false, ERR_DIAMOND_FORMAT, {}},
        AppCase{"PrefixOnly", Words({0xCC000000}), false, ERR_DIAMOND_FORMAT, {}},
        AppCase{"PrefixAndMarkerOnly",
                Words({0xCC000000, 0, 0xBBBB0001, 0}),
                false,
                ERR_DIAMOND_FORMAT,
                {}}),
    blocktest::ByName());

// --- executables -------------------------------------------------------------

class UserExecTest : public testing::Test {
  protected:
    UserExecTest() {
        map.AddRegion(0x8000, 0x00000000);
        map.AddRegion(0x10000, 0x00010000);
        owner.memoryMap = &map;
    }

    // Writes the executable and builds the block from it.
    uint32_t Build(const CoffBuilder& coff, CoffLayout* layout = nullptr) {
        file = coff.Build(layout);
        const UserBlockRecord r = Record(dir.Write("prog.out", file));
        return CodeOf([&] { block.SetFromFile(&r, 1, true); });
    }

    TestTempDir dir;
    memory map;
    FakeOwner owner;
    CBlockUserExec block{&owner, 0};
    Bytes file;
};

Bytes Sequence(size_t n, uint8_t first) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

TEST_F(UserExecTest, DataRecordCarriesTheBytesThatFollowTheSection) {
    CoffBuilder coff;
    coff.SetEntryPoint(0x40);
    coff.AddSection(".text", 0x00000000, Sequence(100, 1), 0x20);
    coff.AddSection(".data", 0x00010000, Sequence(6, 0x80), 0x40);
    coff.AddSection(".tail", 0x00012000, Sequence(8, 0xC0), 0x40);  // what follows .data
    CoffLayout layout;
    ASSERT_EQ(Build(coff, &layout), 0u);
    EXPECT_EQ(block.GetHeader()->type, 0x00010005u);
    // The third section gives a third record: leave it out of the count.
    const Bytes& p = block.Data();
    ASSERT_EQ(block.GetHeader()->dataLength, 8u + (8 + 100) + (8 + 8) + (8 + 8) + 8);
    EXPECT_EQ(Word(p, 0), 0xBBBB0002u);
    EXPECT_EQ(Word(p, 4), 0x80u);  // 100 bytes taken from [0, 0x8000): 100 rounded to 32
    EXPECT_EQ(Word(p, 8), 100u);
    EXPECT_EQ(Word(p, 12), 0u);
    EXPECT_EQ(Bytes(p.begin() + 16, p.begin() + 116), Sequence(100, 1));
    EXPECT_EQ(Word(p, 116), 8u);
    EXPECT_EQ(Word(p, 120), 0x10000u);
    // Six bytes of the section and the two that follow them in the file.
    const uint32_t raw = layout.rawDataOffsets[1];
    EXPECT_EQ(Bytes(p.begin() + 124, p.begin() + 132),
              Bytes(file.begin() + raw, file.begin() + raw + 8));
    EXPECT_EQ(Word(p, 148), 0u);
    EXPECT_EQ(Word(p, 152), 0x40u);
}

TEST_F(UserExecTest, TwoLoadableSectionsMakeA140ByteImage) {
    CoffBuilder coff;
    coff.SetEntryPoint(0x20);
    coff.AddSection(".text", 0x00000000, Sequence(100, 1), 0x20);
    coff.AddSection(".data", 0x00010000, Sequence(6, 0x80), 0x40);
    ASSERT_EQ(Build(coff), 0u);
    EXPECT_EQ(block.GetHeader()->dataLength, 140u);
    EXPECT_EQ(Word(block.Data(), 116), 8u);
    EXPECT_EQ(Word(block.Data(), 132), 0u);
    EXPECT_EQ(Word(block.Data(), 136), 0x20u);
}

TEST_F(UserExecTest, SkippedSectionsAddNothingAndReserveNothing) {
    CoffBuilder coff;
    coff.AddSection(".text", 0x00000000, Sequence(16, 1), 0x20);
    for (uint32_t flags : {0x80u, 0x01u | 0x20u, 0x08u | 0x40u, 0x10u | 0x20u}) {
        CoffSectionSpec s;
        s.name = ".skip";
        s.physicalAddress = 0;  // overlaps .text: no reservation may happen
        s.size = 0x100000;
        s.flags = flags;
        s.noRawData = true;
        coff.AddSection(s);
    }
    ASSERT_EQ(Build(coff), 0u);
    EXPECT_EQ(block.GetHeader()->dataLength, 8u + 8 + 16 + 8);
}

TEST_F(UserExecTest, BigSectionGivesOneRecord) {
    CoffBuilder coff;
    coff.AddSection(".big", 0x00010000, Bytes(0x8000, 0x5A), 0x40);
    ASSERT_EQ(Build(coff), 0u);
    EXPECT_EQ(block.GetHeader()->dataLength, 8u + 8 + 0x8000 + 8);
    EXPECT_EQ(Word(block.Data(), 8), 0x8000u);
    EXPECT_EQ(Word(block.Data(), 16 + 0x8000), 0u);
}

TEST_F(UserExecTest, DebugFrameIsCountedButNotWritten) {
    CoffBuilder coff;
    coff.SetEntryPoint(0x99);
    coff.AddSection(".debug_frame", 0x00011000, Sequence(12, 1), 0x40);
    coff.AddSection(".text", 0x00000000, Sequence(8, 1), 0x20);
    ASSERT_EQ(Build(coff), 0u);
    const Bytes& p = block.Data();
    ASSERT_EQ(block.GetHeader()->dataLength, 8u + (8 + 12) + (8 + 8) + 8);
    EXPECT_EQ(Word(p, 8), 8u);  // .text comes first
    EXPECT_EQ(Word(p, 24), 0u);
    EXPECT_EQ(Word(p, 28), 0x99u);
    EXPECT_EQ(Bytes(p.begin() + 32, p.end()), Bytes(20, 0));
}

TEST_F(UserExecTest, OverlappingSectionsCannotBeAllocated) {
    CoffBuilder coff;
    coff.AddSection(".text", 0x00000100, Sequence(0x40, 1), 0x20);
    coff.AddSection(".text2", 0x00000120, Sequence(0x40, 1), 0x20);
    file = coff.Build();
    const UserBlockRecord r = Record(dir.Write("prog.out", file));
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&r, 1, true); }), ERR_CANNOT_ALLOCATE_SECTION);
    EXPECT_EQ(DetailOf([&] { block.SetFromFile(&r, 1, true); }),
              "Could not allocate memory for section .text2");
}

TEST_F(UserExecTest, SectionOutsideTheMapCannotBeAllocated) {
    CoffBuilder coff;
    coff.AddSection(".far", 0x90000000, Sequence(4, 1), 0x20);
    EXPECT_EQ(Build(coff), ERR_CANNOT_ALLOCATE_SECTION);
}

TEST_F(UserExecTest, NoSafePlaceLeft) {
    CoffBuilder coff;
    coff.AddSection(".a", 0x00000000, Bytes(0x8000 - 600, 1), 0x20);
    coff.AddSection(".b", 0x00010000, Bytes(0x10000 - 639, 1), 0x40);
    EXPECT_EQ(Build(coff), ERR_NO_SAFE_BOOTLOADER_PLACE);
}

// The 640 bytes are taken from the aligned address: a gap of exactly 640
// bytes that starts off a 32-byte boundary cannot hold them.
TEST_F(UserExecTest, SafePlaceIsAlignedInsideItsFreeRange) {
    CoffBuilder coff;
    coff.AddSection(".a", 0x00000000, Sequence(0x104, 1), 0x20);
    coff.AddSection(".b", 0x00000384, Sequence(16, 1), 0x20);
    ASSERT_EQ(Build(coff), 0u);
    const uint32_t place = Word(block.Data(), 4);
    EXPECT_EQ(place % 32, 0u);
    EXPECT_EQ(place, 0x3A0u);
    for (const auto& [start, end] : {std::pair{0x0u, 0x104u}, std::pair{0x384u, 0x394u}}) {
        EXPECT_TRUE(place + 640 <= start || place >= end) << std::hex << place;
    }
}

TEST_F(UserExecTest, MapIsResetForEveryFile) {
    CoffBuilder coff;
    coff.AddSection(".text", 0x00000000, Sequence(16, 1), 0x20);
    ASSERT_EQ(Build(coff), 0u);
    ASSERT_EQ(Build(coff), 0u);
}

TEST_F(UserExecTest, NotExecutable) {
    CoffBuilder coff;
    coff.SetExecutable(false);
    coff.AddSection(".text", 0x00000000, Sequence(16, 1), 0x20);
    EXPECT_EQ(Build(coff), ERR_NOT_EXECUTABLE);
}

TEST_F(UserExecTest, MissingFileAndNoTim) {
    const UserBlockRecord r = Record(dir.File("missing.out"));
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&r, 1, true); }), ERR_CANNOT_OPEN_OBJ);
    owner.memoryMap = nullptr;
    CoffBuilder coff;
    coff.AddSection(".text", 0x00000000, Sequence(16, 1), 0x20);
    EXPECT_EQ(Build(coff), ERR_NO_TIM_SELECTED);
}

}  // namespace
