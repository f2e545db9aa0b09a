#include "BlockTestUtil.h"
#include "FakeOwner.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockDynamics.h"
#include "engine/blocks/Crc.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using blocktest::CodeOf;
using blocktest::PutWord;
using blocktest::Word;

namespace {

using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

Pairs ListOf(CBlockDynamics& block) {
    Pairs out;
    for (uint32_t i = 0; i < block.GetDynamicCount(); ++i) {
        uint32_t a = 0;
        uint32_t v = 0;
        block.GetDynamic(i, &a, &v);
        out.emplace_back(a, v);
    }
    return out;
}

std::vector<uint8_t> PayloadOf(const Pairs& pairs) {
    std::vector<uint8_t> p(pairs.size() * 8);
    for (size_t i = 0; i < pairs.size(); ++i) {
        PutWord(p, 8 * i, pairs[i].first);
        PutWord(p, 8 * i + 4, pairs[i].second);
    }
    return p;
}

// Puts a dynamics block with this payload into the owner's flash at offset
// and returns a block read back from it by its header.
void PutOnFlash(FakeOwner& owner, uint32_t offset, const std::vector<uint8_t>& payload,
                uint32_t crc) {
    BlockHeader h{};
    h.type = 4;
    h.signature = BLOCK_SIGNATURE;
    h.dataOffset = 48;
    h.dataLength = static_cast<uint32_t>(payload.size());
    h.paddedLength = (h.dataLength + 3) & ~3u;
    h.totalSize = (48 + h.dataLength + 127) & ~127u;
    h.crc = crc;
    owner.Put(offset, &h, sizeof(h));
    if (!payload.empty())
        owner.Put(offset + 48, payload.data(), payload.size());
}

struct SizeStep {
    uint32_t values;
    uint32_t dataLength;
    uint32_t totalSize;
};

class DynamicsSizeTest : public testing::TestWithParam<SizeStep> {};

TEST_P(DynamicsSizeTest, PayloadAndTotalSize) {
    FakeOwner owner;
    CBlockDynamics block(&owner, 0);
    Pairs pairs;
    for (uint32_t i = 0; i < GetParam().values; ++i) {
        pairs.emplace_back(0x1000 + 4 * i, i * 3);
        block.AddDynamic(0x1000 + 4 * i, i * 3);
    }
    EXPECT_EQ(block.GetHeader()->dataLength, GetParam().dataLength);
    EXPECT_EQ(block.GetTotalSize(), GetParam().totalSize);
    EXPECT_EQ(block.Data(), PayloadOf(pairs));
    const std::vector<uint8_t> expected = PayloadOf(pairs);
    EXPECT_EQ(block.GetHeader()->crc, CCrc::Of(expected.data(), expected.size()));
}

INSTANTIATE_TEST_SUITE_P(Steps, DynamicsSizeTest,
                         testing::Values(SizeStep{0, 0, 128}, SizeStep{3, 24, 128},
                                         SizeStep{10, 80, 128}, SizeStep{11, 88, 256},
                                         SizeStep{26, 208, 256}, SizeStep{27, 216, 384}));

TEST(DynamicsTest, ValuesAreKeptExactlyAndInOrder) {
    FakeOwner owner;
    CBlockDynamics block(&owner, 0);
    const Pairs pairs{{0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}, {0x80000000, 1}};
    for (const auto& [a, v] : pairs) block.AddDynamic(a, v);
    EXPECT_EQ(ListOf(block), pairs);
    EXPECT_EQ(owner.notices, 3);
}

TEST(DynamicsTest, RemoveKeepsTheOrderOfTheRest) {
    FakeOwner owner;
    CBlockDynamics block(&owner, 0);
    block.AddDynamic(1, 10);
    block.AddDynamic(2, 20);
    block.AddDynamic(3, 30);
    block.RemoveDynamic(1);
    EXPECT_EQ(ListOf(block), (Pairs{{1, 10}, {3, 30}}));
    EXPECT_EQ(block.Data(), PayloadOf({{1, 10}, {3, 30}}));
    EXPECT_EQ(block.GetHeader()->dataLength, 16u);
}

TEST(DynamicsTest, IndexOutOfRange) {
    FakeOwner owner;
    CBlockDynamics block(&owner, 0);
    block.AddDynamic(1, 10);
    uint32_t a = 0;
    EXPECT_EQ(CodeOf([&] { block.GetDynamic(1, &a, &a); }), ERR_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(CodeOf([&] { block.SetDynamic(1, 2, 3); }), ERR_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(CodeOf([&] { block.RemoveDynamic(5); }), ERR_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(CodeOf([&] { block.RemoveDynamic(0xFFFFFFFF); }), ERR_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(ListOf(block), (Pairs{{1, 10}}));
}

TEST(DynamicsTest, SetWithTheSamePairStillMarksModified) {
    FakeOwner owner;
    PutOnFlash(owner, 0x200, PayloadOf({{5, 6}}), CCrc::Of(PayloadOf({{5, 6}}).data(), 8));
    CBlockDynamics block(&owner, 0x200);
    block.ReadHeader(owner.flash.data() + 0x200);
    ASSERT_FALSE(block.IsModified());
    block.SetDynamic(0, 5, 6);
    EXPECT_TRUE(block.IsModified());
    EXPECT_EQ(owner.notices, 1);
}

TEST(DynamicsTest, ClearOnEmptyBlockChangesNothing) {
    FakeOwner owner;
    PutOnFlash(owner, 0x80, {}, 0);
    CBlockDynamics block(&owner, 0x80);
    block.ReadHeader(owner.flash.data() + 0x80);
    block.ClearDynamics();
    EXPECT_FALSE(block.IsModified());
    EXPECT_EQ(owner.notices, 0);
}

TEST(DynamicsTest, ClearWithValuesEmptiesAndMarksModified) {
    FakeOwner owner;
    const std::vector<uint8_t> payload = PayloadOf({{1, 2}, {3, 4}});
    PutOnFlash(owner, 0x80, payload, CCrc::Of(payload.data(), payload.size()));
    CBlockDynamics block(&owner, 0x80);
    block.ReadHeader(owner.flash.data() + 0x80);
    block.ClearDynamics();
    EXPECT_TRUE(block.IsModified());
    EXPECT_EQ(block.GetDynamicCount(), 0u);
    EXPECT_EQ(block.GetHeader()->dataLength, 0u);
    EXPECT_EQ(block.GetHeader()->crc, 0u);
    EXPECT_EQ(block.GetTotalSize(), 128u);

    // Written: the header only; the stale buffer is not queued.
    block.Write(false);
    const auto writes = owner.RealWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].length, 48u);
}

TEST(DynamicsTest, ListIsBuiltFromTheFlashOnceAndThenIsTheTruth) {
    FakeOwner owner;
    const std::vector<uint8_t> payload = PayloadOf({{0x100, 1}, {0x104, 2}});
    PutOnFlash(owner, 0x400, payload, CCrc::Of(payload.data(), payload.size()));
    CBlockDynamics block(&owner, 0x400);
    block.ReadHeader(owner.flash.data() + 0x400);
    EXPECT_EQ(owner.reads, 0);
    EXPECT_EQ(ListOf(block), (Pairs{{0x100, 1}, {0x104, 2}}));
    EXPECT_EQ(owner.reads, 1);
    EXPECT_FALSE(block.IsModified());

    block.AddDynamic(0x108, 3);
    EXPECT_EQ(owner.reads, 1);
    block.Write(false);
    const auto writes = owner.RealWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].offset, 0x400u + 48);
    EXPECT_EQ(writes[1].bytes, PayloadOf({{0x100, 1}, {0x104, 2}, {0x108, 3}}));
}

TEST(DynamicsTest, BadCrcRaisesOnceThenTheListIsEmpty) {
    FakeOwner owner;
    const std::vector<uint8_t> payload = PayloadOf({{1, 2}});
    PutOnFlash(owner, 0x80, payload, 0x12345678);
    CBlockDynamics block(&owner, 0x80);
    block.ReadHeader(owner.flash.data() + 0x80);
    EXPECT_EQ(CodeOf([&] { block.GetDynamicCount(); }), ERR_NOT_VALID_BLOCK);
    EXPECT_EQ(block.GetDynamicCount(), 0u);
    block.AddDynamic(7, 8);
    EXPECT_EQ(ListOf(block), (Pairs{{7, 8}}));
}

TEST(DynamicsTest, PartialRecordOfADamagedPayloadIsDropped) {
    FakeOwner owner;
    std::vector<uint8_t> payload = PayloadOf({{1, 2}, {3, 4}});
    payload.resize(12);
    PutOnFlash(owner, 0x80, payload, CCrc::Of(payload.data(), payload.size()));
    CBlockDynamics block(&owner, 0x80);
    block.ReadHeader(owner.flash.data() + 0x80);
    EXPECT_EQ(ListOf(block), (Pairs{{1, 2}}));
}

TEST(DynamicsTest, AddChecksTheSpaceBeforeAnythingChanges) {
    FakeOwner owner(0x1000);
    owner.chainSize = 0x1000;  // the chain fills the flash, this block included
    CBlockDynamics block(&owner, 0);
    for (int i = 0; i < 10; ++i) block.AddDynamic(i, i);  // still 128 bytes
    EXPECT_EQ(CodeOf([&] { block.AddDynamic(99, 99); }), ERR_NOT_ENOUGH_SPACE);
    EXPECT_EQ(block.GetDynamicCount(), 10u);
    EXPECT_EQ(block.GetHeader()->dataLength, 80u);
}

}  // namespace
