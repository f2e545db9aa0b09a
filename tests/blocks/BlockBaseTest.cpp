#include "BlockTestUtil.h"
#include "FakeOwner.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockAbsolute.h"
#include "engine/blocks/BlockAlign.h"
#include "engine/blocks/Crc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

// Minimal concrete blocks: the base classes with a payload setter.
class AlignBlock : public CBlockAlign {
  public:
    using CBlockAlign::CBlockAlign;
    void SetPayload(std::vector<uint8_t> bytes) {
        const auto length = static_cast<uint32_t>(bytes.size());
        bytes.resize((length + 3) & ~3u, 0);
        data_ = std::move(bytes);
        SetDataLength(length);
        SetModified(false);
    }
};

class AbsoluteBlock : public CBlockAbsolute {
  public:
    using CBlockAbsolute::CBlockAbsolute;
    void SetPayload(std::vector<uint8_t> bytes) {
        const auto length = static_cast<uint32_t>(bytes.size());
        data_ = std::move(bytes);
        SetDataLength(length);
    }
};

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 1) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// A block image as the flash holds it: header, then payload.
std::vector<uint8_t> BlockImage(const std::vector<uint8_t>& payload, uint32_t crc) {
    BlockHeader h{};
    h.type = 4;
    h.signature = BLOCK_SIGNATURE;
    h.dataOffset = 48;
    h.dataLength = static_cast<uint32_t>(payload.size());
    h.paddedLength = (h.dataLength + 3) & ~3u;
    h.totalSize = (48 + h.dataLength + 127) & ~127u;
    h.crc = crc;
    std::vector<uint8_t> image(h.totalSize, 0);
    memcpy(image.data(), &h, sizeof(h));
    memcpy(image.data() + 48, payload.data(), payload.size());
    return image;
}

using blocktest::CodeOf;

TEST(CrcTest, CheckValueAndEmptyInput) {
    EXPECT_EQ(CCrc::Of("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(CCrc::Of("123456789", 0), 0u);
    EXPECT_EQ(CCrc::Of(nullptr, 9), 0u);
}

struct SizeCase {
    uint32_t payload;
    uint32_t padded;
    uint32_t alignTotal;
    uint32_t absoluteTotal;
};

class BlockSizeTest : public testing::TestWithParam<SizeCase> {};

TEST_P(BlockSizeTest, SizeRules) {
    FakeOwner owner;
    AlignBlock align(&owner, 0);
    AbsoluteBlock absolute(&owner, 0);
    align.SetPayload(Bytes(GetParam().payload));
    absolute.SetPayload(Bytes(GetParam().payload));
    for (const CBlock* b :
         {static_cast<const CBlock*>(&align), static_cast<const CBlock*>(&absolute)}) {
        EXPECT_EQ(b->GetHeader()->dataOffset, 48u);
        EXPECT_EQ(b->GetHeader()->dataLength, GetParam().payload);
        EXPECT_EQ(b->GetHeader()->paddedLength, GetParam().padded);
    }
    EXPECT_EQ(align.GetTotalSize(), GetParam().alignTotal);
    EXPECT_EQ(absolute.GetTotalSize(), GetParam().absoluteTotal);
}

INSTANTIATE_TEST_SUITE_P(Payloads, BlockSizeTest,
                         testing::Values(SizeCase{0, 0, 128, 48}, SizeCase{10, 12, 128, 58},
                                         SizeCase{80, 80, 128, 128}, SizeCase{81, 84, 256, 129}));

TEST(BlockTest, NewBlockState) {
    FakeOwner owner;
    AlignBlock block(&owner, 0x400);
    block.ClearDataLength();
    const BlockHeader* h = block.GetHeader();
    EXPECT_EQ(h->signature, BLOCK_SIGNATURE);
    EXPECT_EQ(h->dataOffset, 48u);
    EXPECT_EQ(h->totalSize, 128u);
    EXPECT_EQ(h->crc, 0u);
    EXPECT_TRUE(block.IsModified());
    EXPECT_TRUE(block.IsDataLoaded());
    EXPECT_EQ(block.FlashOffset(), 0x400u);
    EXPECT_EQ(block.SavedImage(), 0u);
}

TEST(BlockTest, ReadHeaderRejectsNullAndEveryBadSignatureBit) {
    FakeOwner owner;
    AlignBlock block(&owner, 0);
    block.SetPayload(Bytes(8));
    const BlockHeader before = *block.GetHeader();
    EXPECT_EQ(CodeOf([&] { block.ReadHeader(nullptr); }), ERR_INVALID_PARAMETER);
    for (int bit = 0; bit < 32; ++bit) {
        std::vector<uint8_t> image = BlockImage(Bytes(20), 0);
        image[8 + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_EQ(CodeOf([&] { block.ReadHeader(image.data()); }), ERR_NO_BLOCK_SIGNATURE)
            << "bit " << bit;
    }
    EXPECT_EQ(memcmp(block.GetHeader(), &before, sizeof(before)), 0);
    EXPECT_TRUE(block.IsModified());
}

TEST(BlockTest, ReadHeaderLeavesPayloadOnFlash) {
    FakeOwner owner;
    AlignBlock block(&owner, 0x200);
    const std::vector<uint8_t> payload = Bytes(10);
    std::vector<uint8_t> image = BlockImage(payload, CCrc::Of(payload.data(), payload.size()));
    block.ReadHeader(image.data());
    EXPECT_FALSE(block.IsModified());
    EXPECT_FALSE(block.IsDataLoaded());
    EXPECT_EQ(block.GetHeader()->dataLength, 10u);
    EXPECT_EQ(owner.reads, 0);
}

class LoadDataTest : public testing::Test {
  protected:
    void SetUp() override {
        payload = Bytes(10);
        image = BlockImage(payload, CCrc::Of(payload.data(), payload.size()));
        owner.Put(0x1000, image.data(), image.size());
        block.ReadHeader(image.data());
    }
    FakeOwner owner;
    AlignBlock block{&owner, 0x1000};
    std::vector<uint8_t> payload;
    std::vector<uint8_t> image;
};

TEST_F(LoadDataTest, CountingPassNeverChecksThenRealPassReadsAgain) {
    owner.flash[0x1000 + 48] ^= 0xFF;  // the counting pass must not notice
    block.LoadData(true);
    EXPECT_EQ(owner.bytesCounted, 12u);
    EXPECT_FALSE(block.IsDataLoaded());
    owner.flash[0x1000 + 48] ^= 0xFF;
    block.LoadData(false);
    EXPECT_TRUE(block.IsDataLoaded());
    EXPECT_EQ(owner.reads, 2);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), block.Data().begin()));
}

TEST_F(LoadDataTest, BadCrcRaisesWithOffsetAndKeepsBytes) {
    owner.flash[0x1000 + 50] ^= 0x01;
    try {
        block.LoadData(false);
        FAIL() << "no error";
    } catch (const CFlashExc& e) {
        EXPECT_EQ(e.code, ERR_NOT_VALID_BLOCK);
        EXPECT_STREQ(e.detail, "Block at flash offset 0x00001000 has incorrect CRC value");
        EXPECT_STREQ(e.source, "BlockAlign");
    }
    EXPECT_FALSE(block.IsDataLoaded());
    EXPECT_EQ(block.Data().size(), 12u);
    EXPECT_EQ(block.Data()[2], payload[2] ^ 0x01);
}

TEST_F(LoadDataTest, MoveToOwnOffsetOrMarkOnlyKeepsPlace) {
    EXPECT_FALSE(block.MoveTo(0x1000, false, false));
    EXPECT_FALSE(block.IsModified());
    EXPECT_FALSE(block.MoveTo(0x2000, false, true));
    EXPECT_TRUE(block.IsModified());
    EXPECT_EQ(block.FlashOffset(), 0x1000u);
    EXPECT_TRUE(owner.preserved.empty());
}

TEST_F(LoadDataTest, MovePreservesImageWhenTheProgrammerCanKeepIt) {
    owner.nextHandle = 7;
    EXPECT_TRUE(block.MoveTo(0x3000, true, false));
    EXPECT_EQ(block.FlashOffset(), 0x1000u);  // the counting pass does not move
    EXPECT_TRUE(block.MoveTo(0x3000, false, false));
    EXPECT_EQ(block.FlashOffset(), 0x3000u);
    ASSERT_EQ(owner.preserved.size(), 1u);
    EXPECT_EQ(owner.preserved[0], std::make_pair(0x1000u, 128u));
    EXPECT_EQ(block.SavedImage(), 7u);
    EXPECT_EQ(owner.reads, 0);

    block.Write(false);
    // The kept image, then the current header over its old one.
    ASSERT_EQ(owner.writes.size(), 2u);
    EXPECT_EQ(owner.writes[0].savedImage, 7u);
    EXPECT_EQ(owner.writes[0].offset, 0x3000u);
    EXPECT_EQ(owner.writes[0].length, 128u);
    EXPECT_EQ(owner.writes[1].savedImage, 0u);
    EXPECT_EQ(owner.writes[1].offset, 0x3000u);
    EXPECT_EQ(owner.writes[1].length, 48u);
    EXPECT_EQ(memcmp(owner.writes[1].bytes.data(), block.GetHeader(), 48), 0);
}

// An id edit of a block whose payload is still on the flash must not pass
// the block off as loaded: a move then keeps or reads the payload.
TEST_F(LoadDataTest, HeaderEditOfUnloadedBlockStillFetchesPayloadOnMove) {
    block.SetId(0x55);
    EXPECT_TRUE(block.IsModified());
    EXPECT_FALSE(block.IsDataLoaded());
    owner.nextHandle = 0;
    EXPECT_TRUE(block.MoveTo(0x3000, false, false));
    EXPECT_TRUE(block.IsDataLoaded());
    block.Write(false);
    const auto writes = owner.RealWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), writes[1].bytes.begin()));
}

TEST_F(LoadDataTest, MoveReadsPayloadWhenNothingCanBeKept) {
    owner.nextHandle = 0;
    EXPECT_TRUE(block.MoveTo(0x3000, false, false));
    EXPECT_TRUE(block.IsDataLoaded());
    block.Write(false);
    const auto writes = owner.RealWrites();
    ASSERT_EQ(writes.size(), 2u);  // header, then payload
    EXPECT_EQ(writes[0].offset, 0x3000u);
    EXPECT_EQ(writes[1].offset, 0x3000u + 48);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), writes[1].bytes.begin()));
}

TEST(BlockTest, TwoPassWriteWritesOnceAndStampsTime) {
    FakeOwner owner;
    AlignBlock block(&owner, 0x80);
    block.SetPayload(Bytes(10));
    block.Write(true);
    const uint32_t firstStamp = block.GetHeader()->writeTimeHigh;
    EXPECT_NE(firstStamp, 0u);
    EXPECT_TRUE(block.IsModified());
    EXPECT_TRUE(owner.RealWrites().empty());
    block.Write(false);
    EXPECT_FALSE(block.IsModified());
    EXPECT_EQ(owner.RealWrites().size(), 2u);
    block.Write(false);
    EXPECT_EQ(owner.RealWrites().size(), 2u);
    // The queued header carries the write time.
    BlockHeader written;
    memcpy(&written, owner.flash.data() + 0x80, sizeof(written));
    EXPECT_EQ(written.writeTimeHigh, block.GetHeader()->writeTimeHigh);
    EXPECT_EQ(written.crc, block.GetHeader()->crc);
}

TEST(BlockTest, SettersMarkModifiedAndNotify) {
    FakeOwner owner;
    AlignBlock block(&owner, 0);
    block.SetPayload(Bytes(4));
    block.Write(false);
    block.SetId(0x55);
    block.SetVersion(0x00020003);
    EXPECT_TRUE(block.IsModified());
    EXPECT_EQ(owner.notices, 2);
    EXPECT_EQ(block.GetHeader()->id, 0x55u);
    EXPECT_EQ(block.GetHeader()->version, 0x00020003u);
}

TEST(BlockTest, CheckSpaceCountsTheRestOfTheChain) {
    FakeOwner owner(1024);
    AlignBlock block(&owner, 0);
    block.SetPayload(Bytes(10));  // 128 bytes
    owner.chainSize = 1024;       // the chain includes this block
    EXPECT_NO_THROW(block.CheckSpace(128));
    EXPECT_EQ(CodeOf([&] { block.CheckSpace(256); }), ERR_NOT_ENOUGH_SPACE);
}

TEST(BlockAbsoluteTest, SetContentsReplacesWrongCrcAndPads) {
    FakeOwner owner;
    AbsoluteBlock block(&owner, 0x100);
    const std::vector<uint8_t> payload = Bytes(10);
    std::vector<uint8_t> image = BlockImage(payload, 0xDEADBEEF);
    block.SetContents(image.data());
    EXPECT_EQ(block.GetHeader()->crc, CCrc::Of(payload.data(), payload.size()));
    EXPECT_EQ(block.Data().size(), 12u);
    EXPECT_EQ(block.Data()[10], 0);
    EXPECT_EQ(block.Data()[11], 0);
    EXPECT_TRUE(block.IsModified());
    EXPECT_EQ(owner.notices, 0);
    EXPECT_FALSE(block.MoveTo(0x200, false, false));
    EXPECT_EQ(block.FlashOffset(), 0x200u);
}

TEST(BlockAbsoluteTest, SetContentsFailuresLeaveBlockUnchanged) {
    FakeOwner owner(64);
    AbsoluteBlock block(&owner, 0);
    block.SetPayload(Bytes(4));
    const BlockHeader before = *block.GetHeader();
    std::vector<uint8_t> image = BlockImage(Bytes(40), 0);
    EXPECT_EQ(CodeOf([&] { block.SetContents(nullptr); }), ERR_INVALID_PARAMETER);
    EXPECT_EQ(CodeOf([&] { block.SetContents(image.data()); }), ERR_NOT_ENOUGH_SPACE);
    image[8] = 0;
    EXPECT_EQ(CodeOf([&] { block.SetContents(image.data()); }), ERR_NO_BLOCK_SIGNATURE);
    EXPECT_EQ(memcmp(block.GetHeader(), &before, sizeof(before)), 0);
}

}  // namespace
