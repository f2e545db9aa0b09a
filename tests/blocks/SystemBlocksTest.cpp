#include "BlockTestUtil.h"
#include "FakeOwner.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockBootLoader.h"
#include "engine/blocks/BlockFDB.h"
#include "engine/blocks/BlockInit.h"
#include "engine/blocks/BlockTermination.h"
#include "engine/blocks/Crc.h"
#include "engine/formats/BootFile.h"

#include "tests/fixtures/ImageBuilders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using blocktest::CodeOf;
using blocktest::PutWord;
using blocktest::Word;

namespace {

constexpr uint32_t kTimType = 0x2A;
constexpr uint32_t kRegion = 0x80010000;

// An init image as a boot file holds it: the 56-byte header, then filler,
// fileBytes long in all (at least the header).
std::vector<uint8_t> InitImage(uint32_t size, uint32_t width, size_t fileBytes) {
    std::vector<uint8_t> image(std::max<size_t>(fileBytes, 56));
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(0xA0 + i);
    PutWord(image, 12, size);
    PutWord(image, 16, 0xDEADBEEF);
    PutWord(image, 20, CBlockInit::InitMagic);
    PutWord(image, 40, 0x77);
    PutWord(image, 44, width);
    return image;
}

struct OwnerWithTim : FakeOwner {
    OwnerWithTim() {
        timType = kTimType;
        largestRegion = kRegion;
    }
};

// --- init image -----------------------------------------------------------

struct InitCase {
    const char* name;
    uint32_t size;
    uint32_t width;
};

class InitContentsTest : public testing::TestWithParam<InitCase> {};

TEST_P(InitContentsTest, PayloadIsTheFlashCopyWithSizeAndTimType) {
    const InitCase c = GetParam();
    OwnerWithTim owner;
    CBlockInit block(&owner, 0);
    const std::vector<uint8_t> image = InitImage(c.size, c.width, c.size / c.width);
    block.SetContents(image.data());

    // The flash copy built by hand: the TIM type lands in word 40 of the
    // boot file's bytes before they are spread.
    std::vector<uint8_t> source = image;
    PutWord(source, 40, kTimType);
    std::vector<uint8_t> expected(c.size, 0);
    if (c.width == 2) {
        for (uint32_t i = 0; i < c.size / 2; ++i) expected[2 * i] = source[i];
    } else {
        std::memcpy(expected.data(), source.data(), c.size);
    }
    PutWord(expected, 16, c.size);

    EXPECT_EQ(block.Data(), expected);
    EXPECT_EQ(block.GetTotalSize(), c.size);
    EXPECT_TRUE(block.IsModified());
    EXPECT_EQ(std::vector<uint8_t>(block.Record().begin(), block.Record().end()),
              std::vector<uint8_t>(source.begin(), source.begin() + 56));
    // The boot file's own bytes stay as they were.
    EXPECT_EQ(image, InitImage(c.size, c.width, c.size / c.width));
}

INSTANTIATE_TEST_SUITE_P(Widths, InitContentsTest,
                         testing::Values(InitCase{"Width2Size24", 24, 2},
                                         InitCase{"Width1Size24", 24, 1},
                                         InitCase{"Width2OddSize", 25, 2},
                                         InitCase{"Width2Size20", 20, 2},
                                         InitCase{"Width1Size64StampsTim", 64, 1},
                                         InitCase{"Width2Size130StampsTim", 130, 2}),
                         blocktest::ByName());

TEST(InitBlockTest, Width2Size24SpreadsTwelveBytes) {
    FakeOwner owner;
    CBlockInit block(&owner, 0);
    std::vector<uint8_t> image = InitImage(24, 2, 12);
    block.SetContents(image.data());
    const std::vector<uint8_t>& p = block.Data();
    ASSERT_EQ(p.size(), 24u);
    EXPECT_EQ(p[0], image[0]);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[22], image[11]);
    EXPECT_EQ(p[23], 0);
    EXPECT_EQ(Word(p, 16), 24u);
}

TEST(InitBlockTest, OddSizeWithWidth2LeavesLastByteZero) {
    FakeOwner owner;
    CBlockInit block(&owner, 0);
    std::vector<uint8_t> image = InitImage(25, 2, 56);
    block.SetContents(image.data());
    ASSERT_EQ(block.Data().size(), 25u);
    EXPECT_EQ(block.Data()[22], image[11]);
    EXPECT_EQ(block.Data()[24], 0);
}

struct InitRejectCase {
    const char* name;
    uint32_t size;
    uint32_t width;
    uint32_t magic;
    uint32_t flashSize;
    uint32_t code;
};

class InitRejectTest : public testing::TestWithParam<InitRejectCase> {};

TEST_P(InitRejectTest, RejectsAndLeavesTheBlockUnchanged) {
    const InitRejectCase c = GetParam();
    FakeOwner owner(c.flashSize);
    CBlockInit block(&owner, 0);
    std::vector<uint8_t> image = InitImage(c.size, c.width, 56);
    PutWord(image, 20, c.magic);
    EXPECT_EQ(CodeOf([&] { block.SetContents(image.data()); }), c.code);
    EXPECT_EQ(block.GetTotalSize(), 0u);
    EXPECT_TRUE(block.Data().empty());
    EXPECT_EQ(Word(std::vector<uint8_t>(block.Record().begin(), block.Record().end()), 20),
              CBlockInit::InitMagic);
}

INSTANTIATE_TEST_SUITE_P(
    BadImages, InitRejectTest,
    testing::Values(
        InitRejectCase{"WrongMagic", 64, 1, 0x19283747, 0x10000, ERR_NOT_VALID_INIT_BLOCK},
        InitRejectCase{"SizeBelow20", 19, 1, CBlockInit::InitMagic, 0x10000,
                       ERR_NOT_VALID_INIT_BLOCK},
        InitRejectCase{"SizeZero", 0, 2, CBlockInit::InitMagic, 0x10000, ERR_NOT_VALID_INIT_BLOCK},
        InitRejectCase{"Width0", 64, 0, CBlockInit::InitMagic, 0x10000, ERR_NOT_VALID_INIT_BLOCK},
        InitRejectCase{"Width4", 64, 4, CBlockInit::InitMagic, 0x10000, ERR_NOT_VALID_INIT_BLOCK},
        InitRejectCase{"DoesNotFit", 0x20000, 1, CBlockInit::InitMagic, 0x10000,
                       ERR_NOT_ENOUGH_SPACE}),
    blocktest::ByName());

TEST(InitBlockTest, NullImageIsInvalidParameter) {
    FakeOwner owner;
    CBlockInit block(&owner, 0);
    EXPECT_EQ(CodeOf([&] { block.SetContents(nullptr); }), ERR_INVALID_PARAMETER);
    EXPECT_EQ(CodeOf([&] { block.ReadHeader(nullptr); }), ERR_INVALID_PARAMETER);
}

TEST(InitBlockTest, ReadHeaderTakesTheSizeFromWord16AndWritesNothing) {
    FakeOwner owner;
    CBlockInit block(&owner, 0);
    std::vector<uint8_t> flashCopy = InitImage(0x400, 1, 56);
    PutWord(flashCopy, 12, 0x999);  // the flash copy's word 12 is not used
    PutWord(flashCopy, 16, 0x400);
    PutWord(flashCopy, 20, 0);  // no magic check either
    block.ReadHeader(flashCopy.data());
    EXPECT_EQ(block.GetTotalSize(), 0x400u);
    EXPECT_EQ(block.ComputeTotalSize(0x55), 0x400u);
    EXPECT_FALSE(block.IsModified());
    EXPECT_FALSE(block.IsDataLoaded());

    block.MoveTo(0, false, false);
    block.Write(true);
    block.Write(false);
    EXPECT_TRUE(owner.writes.empty());
}

TEST(InitBlockTest, WritesItsImageWholeAtOffsetZeroWithoutHeader) {
    FakeOwner owner;
    CBlockInit block(&owner, 0);
    std::vector<uint8_t> image = InitImage(58, 1, 58);  // not a multiple of 4
    block.SetContents(image.data());
    block.Write(false);
    ASSERT_EQ(owner.writes.size(), 1u);
    EXPECT_EQ(owner.writes[0].offset, 0u);
    EXPECT_EQ(owner.writes[0].length, 58u);
    EXPECT_EQ(owner.writes[0].bytes, block.Data());
    EXPECT_EQ(block.GetHeader()->type, 0u);
}

// --- new blocks ------------------------------------------------------------

struct NewBlockCase {
    const char* name;
    std::unique_ptr<CBlock> (*make)(CBlockOwner*);
    uint32_t type;
    uint32_t totalSize;
    uint32_t dataOffset;
};

class NewSystemBlockTest : public testing::TestWithParam<NewBlockCase> {};

TEST_P(NewSystemBlockTest, SizeAndType) {
    FakeOwner owner;
    std::unique_ptr<CBlock> block = GetParam().make(&owner);
    EXPECT_EQ(block->GetTotalSize(), GetParam().totalSize);
    EXPECT_EQ(block->GetHeader()->type, GetParam().type);
    EXPECT_EQ(block->GetHeader()->dataOffset, GetParam().dataOffset);
    EXPECT_EQ(block->GetHeader()->crc, 0u);
    EXPECT_TRUE(block->IsModified());
}

INSTANTIATE_TEST_SUITE_P(
    Types, NewSystemBlockTest,
    testing::Values(NewBlockCase{"Termination",
                                 [](CBlockOwner* o) -> std::unique_ptr<CBlock> {
                                     return std::make_unique<CBlockTermination>(o, 0);
                                 },
                                 0xFFFF, 128, 48},
                    NewBlockCase{"Fdb",
                                 [](CBlockOwner* o) -> std::unique_ptr<CBlock> {
                                     return std::make_unique<CBlockFDB>(o, 0);
                                 },
                                 2, 48, 48},
                    NewBlockCase{"BootLoader",
                                 [](CBlockOwner* o) -> std::unique_ptr<CBlock> {
                                     return std::make_unique<CBlockBootLoader>(o, 0);
                                 },
                                 1, 120, 120},
                    NewBlockCase{"Init",
                                 [](CBlockOwner* o) -> std::unique_ptr<CBlock> {
                                     return std::make_unique<CBlockInit>(o, 0);
                                 },
                                 0, 0, 48}),
    blocktest::ByName());

// --- boot loader ------------------------------------------------------------

// A boot loader block image: header, 72-byte record, payload.
std::vector<uint8_t> LoaderImage(const std::vector<uint8_t>& payload, const char* name) {
    std::vector<uint8_t> image(120 + payload.size(), 0);
    BlockHeader h{};
    h.type = 1;
    h.id = 0x1234;
    h.signature = BLOCK_SIGNATURE;
    h.totalSize = 120 + static_cast<uint32_t>(payload.size());
    h.dataOffset = 120;
    h.dataLength = static_cast<uint32_t>(payload.size());
    h.paddedLength = (h.dataLength + 3) & ~3u;
    h.version = 0x00020001;
    h.crc = 0xBAD;  // recomputed, not checked
    std::memcpy(image.data(), &h, sizeof(h));
    PutWord(image, 48, 0x192);
    PutWord(image, 52, 0x8000);
    PutWord(image, 56, 0x11);    // TIM type of the file: replaced
    PutWord(image, 60, 0x1000);  // region of the file: replaced
    PutWord(image, 64, 0);       // bootEnabled: set
    for (int i = 0; i < 36; ++i) image[68 + i] = static_cast<uint8_t>(i + 1);
    std::memcpy(image.data() + 104, name, std::min<size_t>(16, std::strlen(name)));
    std::copy(payload.begin(), payload.end(), image.begin() + 120);
    return image;
}

TEST(BootLoaderTest, ConstructorStampsTheSelectedTim) {
    OwnerWithTim owner;
    CBlockBootLoader block(&owner, 0x100);
    EXPECT_EQ(block.GetRecord().word0, 0x192u);
    EXPECT_EQ(block.GetRecord().word4, 0x8000u);
    EXPECT_EQ(block.GetRecord().timType, kTimType);
    EXPECT_EQ(block.GetRecord().largestRegion, kRegion);
    EXPECT_FALSE(block.IsBoot());
    FakeOwner noTim;
    CBlockBootLoader bare(&noTim, 0);
    EXPECT_EQ(bare.GetRecord().timType, 0u);
    EXPECT_EQ(bare.GetRecord().largestRegion, 0u);
}

TEST(BootLoaderTest, SetContentsStampsTimRegionAndEnablesBoot) {
    OwnerWithTim owner;
    CBlockBootLoader block(&owner, 0x100);
    const std::vector<uint8_t> payload{1, 2, 3, 4, 5, 6, 7};
    const std::vector<uint8_t> image = LoaderImage(payload, "QT BOOT");
    block.SetContents(image.data());

    const CBlockBootLoader::Record& r = block.GetRecord();
    EXPECT_EQ(r.timType, kTimType);
    EXPECT_EQ(r.largestRegion, kRegion);
    EXPECT_EQ(r.bootEnabled, 1u);
    EXPECT_TRUE(block.IsBoot());
    EXPECT_EQ(r.word0, 0x192u);
    EXPECT_EQ(r.carried[35], 36);
    EXPECT_EQ(block.GetLoaderName(), "QT BOOT");
    EXPECT_EQ(block.GetHeader()->version, 0x00020001u);
    EXPECT_EQ(block.GetHeader()->id, 0x1234u);
    EXPECT_EQ(block.GetHeader()->crc, CCrc::Of(payload.data(), payload.size()));
    EXPECT_EQ(block.GetTotalSize(), 127u);
    uint32_t size = 0;
    EXPECT_EQ(block.GetExtraHeader(&size), reinterpret_cast<const uint8_t*>(&r));
    EXPECT_EQ(size, 72u);

    // Written: header, the stamped record, the payload; no fill past the
    // block's 127 bytes, where the next block starts.
    block.Write(false);
    const auto writes = owner.RealWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[1].offset, 0x100u + 48);
    EXPECT_EQ(writes[1].length, 72u);
    EXPECT_EQ(Word(writes[1].bytes, 8), kTimType);
    EXPECT_EQ(Word(writes[1].bytes, 16), 1u);
    EXPECT_EQ(writes[2].offset, 0x100u + 120);
    EXPECT_EQ(writes[2].bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
}

TEST(BootLoaderTest, NameMayFillAllSixteenBytes) {
    FakeOwner owner;
    CBlockBootLoader block(&owner, 0);
    const std::vector<uint8_t> image = LoaderImage({}, "0123456789ABCDEFGH");
    block.SetContents(image.data());
    EXPECT_EQ(block.GetLoaderName(), "0123456789ABCDEF");
}

TEST(BootLoaderTest, RejectedImagesLeaveTheBlockUnchanged) {
    FakeOwner owner(0x100);
    CBlockBootLoader block(&owner, 0);
    std::vector<uint8_t> noSignature = LoaderImage({1, 2}, "x");
    PutWord(noSignature, 8, 0x12341235);
    std::vector<uint8_t> movedPayload = LoaderImage({1, 2}, "x");
    PutWord(movedPayload, 16, 100);
    std::vector<uint8_t> tooBig = LoaderImage(std::vector<uint8_t>(0x200), "x");

    EXPECT_EQ(CodeOf([&] { block.SetContents(nullptr); }), ERR_INVALID_PARAMETER);
    EXPECT_EQ(CodeOf([&] { block.SetContents(noSignature.data()); }), ERR_NO_BLOCK_SIGNATURE);
    EXPECT_EQ(CodeOf([&] { block.SetContents(movedPayload.data()); }), ERR_NOT_VALID_BLOCK);
    EXPECT_EQ(CodeOf([&] { block.SetContents(tooBig.data()); }), ERR_NOT_ENOUGH_SPACE);
    EXPECT_EQ(block.GetTotalSize(), 120u);
    EXPECT_FALSE(block.IsBoot());
    EXPECT_TRUE(block.Data().empty());
}

struct SetBootCase {
    const char* name;
    uint32_t bootEnabled;  // as read from the flash
    bool on;
    bool modified;
};

class SetBootTest : public testing::TestWithParam<SetBootCase> {};

TEST_P(SetBootTest, MarksModifiedOnlyOnChange) {
    const SetBootCase c = GetParam();
    FakeOwner owner;
    CBlockBootLoader block(&owner, 0);
    std::vector<uint8_t> image = LoaderImage({}, "x");
    PutWord(image, 64, c.bootEnabled);
    block.ReadHeader(image.data());
    ASSERT_FALSE(block.IsModified());

    block.SetBoot(c.on);
    EXPECT_EQ(block.IsModified(), c.modified);
    EXPECT_EQ(block.IsBoot(), c.on);
    EXPECT_EQ(owner.notices, c.modified ? 1 : 0);
    if (c.modified) {
        EXPECT_EQ(block.GetRecord().bootEnabled, c.on ? 1u : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(States, SetBootTest,
                         testing::Values(SetBootCase{"OnWhenOn", 1, true, false},
                                         SetBootCase{"OnWhenAnyNonZero", 7, true, false},
                                         SetBootCase{"OffWhenOff", 0, false, false},
                                         SetBootCase{"OnWhenOff", 0, true, true},
                                         SetBootCase{"OffWhenOn", 1, false, true}),
                         blocktest::ByName());

TEST(BootLoaderTest, DamagedDataOffsetFromTheFlashIsNotAValidBlock) {
    FakeOwner owner;
    for (uint32_t dataOffset : {48u, 100u, 119u, 121u, 0u, 0xFFFFFFFFu}) {
        CBlockBootLoader block(&owner, 0);
        std::vector<uint8_t> image = LoaderImage({}, "x");
        PutWord(image, 16, dataOffset);
        EXPECT_EQ(CodeOf([&] { block.ReadHeader(image.data()); }), ERR_NOT_VALID_BLOCK)
            << dataOffset;
    }
}

// The three images of a real boot loader file, as the flash object hands them
// over after loading it.
TEST(BootFileTest, ImagesOfALoadedBootFileFillTheSystemBlocks) {
    using qel::fixtures::BootFileBuilder;
    BootFileBuilder builder;
    builder.SetInitSize(0x200).SetInitWidth(2).SetLoaderName("QT6201 BOOT v2.1");
    const std::vector<uint8_t> file = builder.Build();
    CBootFile boot;
    boot.LoadFromMemory(file.data(), file.size(), "boot.out");
    ASSERT_NE(boot.GetInitImage(), nullptr);
    EXPECT_LE(CBlockInit::SourceLength(boot.GetInitImage()), boot.GetInitImageSize());

    OwnerWithTim owner;
    CBlockInit init(&owner, 0);
    CBlockBootLoader loader(&owner, 0);
    CBlockFDB fdb(&owner, 0);
    init.SetContents(boot.GetInitImage());
    loader.SetContents(boot.GetLoaderImage());
    fdb.SetContents(boot.GetFdbImage());

    EXPECT_EQ(init.GetTotalSize(), 0x200u);
    EXPECT_EQ(Word(init.Data(), 16), 0x200u);
    EXPECT_EQ(init.Data()[2 * 40], kTimType);  // word 40 spread over even bytes
    EXPECT_EQ(init.Data()[2 * 40 + 1], 0);
    EXPECT_EQ(loader.GetLoaderName(), "QT6201 BOOT v2.1");
    EXPECT_EQ(loader.GetRecord().timType, kTimType);
    EXPECT_TRUE(loader.IsBoot());
    EXPECT_EQ(loader.GetHeader()->version, 0x00020001u);
    EXPECT_EQ(fdb.GetHeader()->dataLength, boot.GetFdbPayloadSize());
    EXPECT_EQ(0, std::memcmp(fdb.Data().data(), boot.GetFdbPayload(), boot.GetFdbPayloadSize()));
}

}  // namespace
