#include "BlockTestUtil.h"
#include "FakeOwner.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockBootLoader.h"
#include "engine/blocks/BlockDynamics.h"
#include "engine/blocks/BlockFDB.h"
#include "engine/blocks/BlockFactory.h"
#include "engine/blocks/BlockFpga.h"
#include "engine/blocks/BlockInit.h"
#include "engine/blocks/BlockTermination.h"
#include "engine/blocks/BlockUserApp.h"
#include "engine/blocks/BlockUserData.h"
#include "engine/blocks/BlockUserExec.h"
#include "engine/blocks/BlockUserSRecord.h"
#include "engine/formats/Memory.h"
#include "tests/fixtures/BitstreamFixtures.h"
#include "tests/fixtures/ImageBuilders.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

using blocktest::CodeOf;
using blocktest::PutWord;
using blocktest::Record;
using qel::fixtures::TestTempDir;

namespace {

using Bytes = std::vector<uint8_t>;

// --- the factory rule ------------------------------------------------------------

struct FactoryCase {
    const char* name;
    uint32_t type;
    const std::type_info* made;  // null: no block
    uint32_t code;               // error raised instead
};

class FactoryTest : public testing::TestWithParam<FactoryCase> {};

TEST_P(FactoryTest, TypeCodeSelectsTheClass) {
    const FactoryCase& c = GetParam();
    FakeOwner owner;
    std::unique_ptr<CBlock> block;
    EXPECT_EQ(CodeOf([&] { block = CreateBlock(&owner, c.type, 0x1234); }), c.code);
    if (c.made) {
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(typeid(*block), *c.made);
        EXPECT_EQ(block->FlashOffset(), 0x1234u);
        EXPECT_TRUE(block->IsModified());
    } else {
        EXPECT_EQ(block, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FactoryTest,
    testing::Values(FactoryCase{"Termination", 0xFFFF, &typeid(CBlockTermination), 0},
                    FactoryCase{"TerminationAnyHighHalf", 0xABCDFFFF, &typeid(CBlockTermination),
                                0},
                    FactoryCase{"BootLoader", 1, &typeid(CBlockBootLoader), 0},
                    FactoryCase{"BootLoaderAnyHighHalf", 0x00070001, &typeid(CBlockBootLoader), 0},
                    FactoryCase{"Fdb", 2, &typeid(CBlockFDB), 0},
                    FactoryCase{"Fpga", 3, &typeid(CBlockFpga), 0},
                    FactoryCase{"Dynamics", 4, &typeid(CBlockDynamics), 0},
                    FactoryCase{"UserExec", 0x00010005, &typeid(CBlockUserExec), 0},
                    FactoryCase{"UserApp", 0x00020005, &typeid(CBlockUserApp), 0},
                    FactoryCase{"UserData", 0x00100005, &typeid(CBlockUserData), 0},
                    FactoryCase{"UserSRecord", 0x00110005, &typeid(CBlockUserSRecord), 0},
                    FactoryCase{"UserSubTypeZero", 0x00000005, nullptr, 0},
                    FactoryCase{"UserSubTypeThree", 0x00030005, nullptr, 0},
                    FactoryCase{"UserSubTypeHigh", 0xFFFF0005, nullptr, 0},
                    FactoryCase{"InitIsNeverMade", 0, nullptr, ERR_CANNOT_CREATE_BLOCK},
                    FactoryCase{"Six", 6, nullptr, ERR_CANNOT_CREATE_BLOCK},
                    FactoryCase{"FFFE", 0xFFFE, nullptr, ERR_CANNOT_CREATE_BLOCK},
                    FactoryCase{"HighHalfOnly", 0x00010000, nullptr, ERR_CANNOT_CREATE_BLOCK}),
    blocktest::ByName());

TEST(FactoryTest, NewBlocksCarryTheirTypeCode) {
    FakeOwner owner;
    for (uint32_t type : {0xFFFFu, 1u, 2u, 3u, 4u, 0x10005u, 0x20005u, 0x100005u, 0x110005u}) {
        EXPECT_EQ(CreateBlock(&owner, type, 0)->GetHeader()->type, type);
    }
}

// --- reading each type back from a flash image ---------------------------------------

// Gives a new block of the type its content; files go into dir.
using Filler = std::function<void(CBlock&, FakeOwner&, const TestTempDir&)>;

struct ReadBackCase {
    const char* name;
    uint32_t type;
    Filler fill;
    bool absolute;  // payload stays on flash: LoadData reads nothing
};

Bytes LoaderImage() {
    Bytes image(120 + 10, 0);
    BlockHeader h{};
    h.type = 1;
    h.signature = BLOCK_SIGNATURE;
    h.totalSize = 130;
    h.dataOffset = 120;
    h.dataLength = 10;
    h.paddedLength = 12;
    h.version = 0x00010002;
    std::memcpy(image.data(), &h, sizeof(h));
    std::memcpy(image.data() + 104, "LOADER", 6);
    for (int i = 0; i < 10; ++i) image[120 + i] = static_cast<uint8_t>(i + 1);
    return image;
}

void FillUser(CBlock& block, const TestTempDir& dir, const std::string& name, const Bytes& content,
              bool bigEndian = false) {
    const UserBlockRecord r = Record(dir.Write(name, content), bigEndian, true);
    dynamic_cast<CBlockUser&>(block).SetFromFile(&r, 0x77, true);
    block.SetVersion(0x00020003);
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class ReadBackTest : public testing::TestWithParam<ReadBackCase> {};

TEST_P(ReadBackTest, HeaderExtraHeaderAndPayloadComeBack) {
    const ReadBackCase& c = GetParam();
    TestTempDir dir;
    memory map;
    map.AddRegion(0x10000, 0);
    FakeOwner owner;
    owner.timType = 0x31;
    owner.memoryMap = &map;
    const uint32_t offset = 0x3000;

    std::unique_ptr<CBlock> written = CreateBlock(&owner, c.type, offset);
    c.fill(*written, owner, dir);
    written->Write(true);
    written->Write(false);
    ASSERT_FALSE(written->IsModified());

    // A directory entry holds header and extra header, nothing more.
    const uint32_t dataOffset = written->GetHeader()->dataOffset;
    const Bytes entry(owner.flash.begin() + offset, owner.flash.begin() + offset + dataOffset);
    std::unique_ptr<CBlock> read = CreateBlock(&owner, c.type, offset);
    read->ReadHeader(entry.data());
    EXPECT_FALSE(read->IsModified());
    EXPECT_EQ(std::memcmp(read->GetHeader(), written->GetHeader(), sizeof(BlockHeader)), 0);

    uint32_t writtenSize = 0;
    uint32_t readSize = 0;
    const uint8_t* writtenExtra = written->GetExtraHeader(&writtenSize);
    const uint8_t* readExtra = read->GetExtraHeader(&readSize);
    ASSERT_EQ(readSize, writtenSize);
    const uint32_t onFlash = written->GetExtraHeaderSize();
    EXPECT_EQ(read->GetExtraHeaderSize(), onFlash);
    if (onFlash) {
        EXPECT_EQ(std::memcmp(readExtra, writtenExtra, onFlash), 0);
    }

    read->LoadData(true);
    EXPECT_FALSE(read->IsDataLoaded() && !c.absolute && read->GetHeader()->dataLength != 0);
    read->LoadData(false);
    if (!c.absolute) {
        EXPECT_TRUE(read->IsDataLoaded());
        EXPECT_EQ(read->Data(), written->Data());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Types, ReadBackTest,
    testing::Values(
        ReadBackCase{"Termination", 0xFFFF, [](CBlock&, FakeOwner&, const TestTempDir&) {}, false},
        ReadBackCase{"BootLoader", 1,
                     [](CBlock& b, FakeOwner&, const TestTempDir&) {
                         const Bytes image = LoaderImage();
                         dynamic_cast<CBlockBootLoader&>(b).SetContents(image.data());
                     },
                     true},
        ReadBackCase{"Fdb", 2,
                     [](CBlock& b, FakeOwner&, const TestTempDir&) {
                         Bytes image = LoaderImage();
                         PutWord(image, 0, 2);
                         PutWord(image, 16, 48);
                         dynamic_cast<CBlockFDB&>(b).SetContents(image.data());
                     },
                     true},
        ReadBackCase{"Fpga", 3,
                     [](CBlock& b, FakeOwner&, const TestTempDir& dir) {
                         namespace fx = qel::fixtures;
                         fx::SbfSpec layout;
                         layout.timTypes = {0x31};
                         layout.dataItems = fx::DataItems(fx::Words({2, 5, 6, -9, 0}));
                         const std::string path = dir.Write("b.sbf", fx::MakeSbfFile(layout));
                         dynamic_cast<CBlockFpga&>(b).SetBitstream(path.c_str());
                     },
                     false},
        ReadBackCase{"Dynamics", 4,
                     [](CBlock& b, FakeOwner&, const TestTempDir&) {
                         auto& d = dynamic_cast<CBlockDynamics&>(b);
                         d.AddDynamic(0x100, 1);
                         d.AddDynamic(0x104, 0xFFFFFFFF);
                     },
                     false},
        ReadBackCase{"UserData", 0x100005,
                     [](CBlock& b, FakeOwner&, const TestTempDir& dir) {
                         FillUser(b, dir, "data.bin", {1, 2, 3, 4, 5, 6, 7}, true);
                     },
                     false},
        ReadBackCase{"UserApp", 0x20005,
                     [](CBlock& b, FakeOwner&, const TestTempDir& dir) {
                         FillUser(b, dir, "a.app",
                                  {0x01, 0x00, 0xBB, 0xBB, 4, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9});
                     },
                     false},
        ReadBackCase{"UserExec", 0x10005,
                     [](CBlock& b, FakeOwner&, const TestTempDir& dir) {
                         qel::fixtures::CoffBuilder coff;
                         coff.AddSection(".text", 0x100, Bytes(30, 0x5A), 0x20);
                         FillUser(b, dir, "p.out", coff.Build());
                     },
                     false},
        ReadBackCase{"UserSRecord", 0x110005,
                     [](CBlock& b, FakeOwner&, const TestTempDir& dir) {
                         FillUser(b, dir, "s.s3",
                                  Text("S00600004844521B\nS30900001000010203"
                                       "04DC\nS70500001000EA\n "));
                     },
                     false}),
    blocktest::ByName());

TEST(ReadBackTest, InitBlockTakesItsSizeFromTheDirectory) {
    FakeOwner owner;
    std::unique_ptr<CBlock> init = std::make_unique<CBlockInit>(&owner, 0);
    Bytes first56(56, 0);
    PutWord(first56, 16, 0x300);
    init->ReadHeader(first56.data());
    EXPECT_EQ(init->GetTotalSize(), 0x300u);
    init->LoadData(false);
    EXPECT_TRUE(init->Data().empty());
}

// --- user extra headers from a damaged flash ------------------------------------------

struct UserExtraCase {
    const char* name;
    uint32_t dataOffset;
    bool nameTerminated;
    bool valid;
};

class UserDamagedExtraTest : public testing::TestWithParam<UserExtraCase> {};

TEST_P(UserDamagedExtraTest, NeverCopiesMoreThanTheRecord) {
    const UserExtraCase& c = GetParam();
    Bytes entry(std::clamp<uint32_t>(c.dataOffset, 48, 2048), 'f');
    BlockHeader h{};
    h.type = 0x100005;
    h.signature = BLOCK_SIGNATURE;
    h.dataOffset = c.dataOffset;
    h.totalSize = 0x1000;
    std::memcpy(entry.data(), &h, sizeof(h));
    if (c.nameTerminated && entry.size() > 56)
        entry.back() = 0;
    FakeOwner owner;
    for (uint32_t type : {0x10005u, 0x20005u, 0x100005u, 0x110005u}) {
        std::unique_ptr<CBlock> block = CreateBlock(&owner, type, 0x100);
        EXPECT_EQ(CodeOf([&] { block->ReadHeader(entry.data()); }),
                  c.valid ? 0u : ERR_NOT_VALID_BLOCK)
            << type;
        if (c.valid) {
            EXPECT_EQ(48 + block->GetExtraHeaderSize(), c.dataOffset);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, UserDamagedExtraTest,
                         testing::Values(UserExtraCase{"EmptyName", 60, true, true},
                                         UserExtraCase{"LongestName", 1080, true, true},
                                         UserExtraCase{"NoExtraHeader", 48, true, false},
                                         UserExtraCase{"BelowHeader", 4, true, false},
                                         UserExtraCase{"WordsOnly", 56, true, false},
                                         UserExtraCase{"BeyondRecord", 1084, true, false},
                                         UserExtraCase{"Huge", 0xFFFFFF00, true, false},
                                         UserExtraCase{"NameWithoutNul", 200, false, false}),
                         blocktest::ByName());

}  // namespace

namespace {

TEST(DamagedHeaderTest, PaddedLengthBelowDataLengthIsNotAValidBlock) {
    FakeOwner owner;
    for (uint32_t type : {3u, 4u, 0xFFFFu, 0x100005u}) {
        BlockHeader h{};
        h.type = type;
        h.signature = BLOCK_SIGNATURE;
        h.dataOffset = type == 3 ? 564 : type == 0x100005 ? 60 : 48;
        h.dataLength = 0x10000;
        h.paddedLength = 0x10;
        h.totalSize = 0x20000;
        Bytes entry(h.dataOffset, 0);
        std::memcpy(entry.data(), &h, sizeof(h));
        std::unique_ptr<CBlock> block = CreateBlock(&owner, type, 0x100);
        block->ReadHeader(entry.data());
        EXPECT_EQ(CodeOf([&] { block->LoadData(false); }), ERR_NOT_VALID_BLOCK) << type;
        EXPECT_FALSE(block->IsDataLoaded());
    }
}

}  // namespace
