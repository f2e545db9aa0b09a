#include "engine/BlockChain.h"
#include "engine/Exc.h"
#include "engine/FlashDirectory.h"
#include "engine/blocks/BlockAlign.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint64_t kFlash = 0x100000;

class TestBlock : public CBlockAlign {
  public:
    TestBlock(uint32_t tag) : CBlockAlign(nullptr, 0) { header_.id = tag; }
};

uint32_t Tag(const CBlock* b) {
    return b->GetHeader()->id;
}

TEST(BlockChainTest, InsertUnlinkAndPositions) {
    CBlockChain chain;
    chain.Insert(std::make_unique<TestBlock>(1));
    chain.Insert(std::make_unique<TestBlock>(3));
    chain.Insert(std::make_unique<TestBlock>(2), 1);
    chain.Insert(std::make_unique<TestBlock>(4), CBlockChain::Append);
    chain.Insert(std::make_unique<TestBlock>(5), 99);
    ASSERT_EQ(chain.Count(), 5u);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(Tag(chain.At(i)), i + 1);
    EXPECT_EQ(chain.UserBlockCount(), 0u);

    auto unlinked = chain.Unlink(0);
    ASSERT_NE(unlinked, nullptr);
    EXPECT_EQ(Tag(unlinked.get()), 1u);
    EXPECT_EQ(chain.Unlink(4), nullptr);
    try {
        chain.At(4);
        FAIL();
    } catch (const CFlashExc& e) {
        EXPECT_EQ(e.code, ERR_CANNOT_FIND_BLOCK);
    }
}

// Builds a directory: 4 unused bytes, 56 init bytes, then entries.
class DirectoryBuilder {
  public:
    DirectoryBuilder() : bytes_(60, 0) {}
    DirectoryBuilder& Entry(uint32_t offset, uint32_t type, uint32_t extra,
                            uint32_t signature = BLOCK_SIGNATURE) {
        BlockHeader h{};
        h.type = type;
        h.signature = signature;
        h.dataOffset = 48 + extra;
        h.totalSize = (48 + extra + 127) & ~127u;
        Append(&offset, 4);
        Append(&h, sizeof(h));
        bytes_.resize(bytes_.size() + extra, 0xEE);
        return *this;
    }
    std::vector<uint8_t>& Bytes() { return bytes_; }

  private:
    void Append(const void* p, size_t n) {
        auto b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    std::vector<uint8_t> bytes_;
};

TEST(FlashDirectoryTest, EntriesInDirectoryOrder) {
    DirectoryBuilder b;
    b.Entry(0x400, 5 | (2u << 16), 12).Entry(0x200, 1, 72).Entry(0x100, 0xFFFF, 0);
    const FlashDirectory d =
        ParseFlashDirectory(b.Bytes().data(), static_cast<uint32_t>(b.Bytes().size()), kFlash);
    ASSERT_EQ(d.entries.size(), 3u);
    EXPECT_EQ(d.entries[0].flashOffset, 0x400u);
    EXPECT_EQ(d.entries[1].flashOffset, 0x200u);
    EXPECT_EQ(d.entries[2].flashOffset, 0x100u);
    EXPECT_EQ(d.initImage, b.Bytes().data() + 4);
}

TEST(FlashDirectoryTest, SixtyBytesHoldOnlyTheInitImage) {
    std::vector<uint8_t> bytes(60, 0);
    EXPECT_TRUE(ParseFlashDirectory(bytes.data(), 60, kFlash).entries.empty());
}

TEST(FlashDirectoryTest, DamagedDirectoriesAreRejected) {
    std::vector<std::vector<uint8_t>> cases;
    cases.push_back(std::vector<uint8_t>(59, 0));                            // too short
    cases.push_back(DirectoryBuilder().Entry(0, 1, 0, 0x12341235).Bytes());  // signature
    {
        auto b = DirectoryBuilder().Entry(0, 5 | (1u << 16), 40).Bytes();
        b.resize(b.size() - 1);  // extra header cut short
        cases.push_back(b);
    }
    {
        auto b = DirectoryBuilder().Entry(0, 4, 0).Bytes();
        b.resize(b.size() + 20, 0);  // trailing bytes too short for an entry
        cases.push_back(b);
    }
    {
        auto b = DirectoryBuilder().Entry(0, 4, 0).Bytes();
        const uint32_t tiny = 8;  // data offset below the header size would loop
        memcpy(b.data() + 60 + 4 + 16, &tiny, 4);
        cases.push_back(b);
    }
    {
        auto b = DirectoryBuilder().Entry(0xFFF80, 4, 0).Bytes();  // 128 bytes from the end: fits
        cases.push_back(DirectoryBuilder().Entry(0xFFF81, 4, 0).Bytes());  // one byte too far
        const uint32_t huge = 0x7FFFFFF0;  // a payload larger than the flash
        auto c = DirectoryBuilder().Entry(0, 5 | (0x10u << 16), 12).Bytes();
        memcpy(c.data() + 60 + 4 + 20, &huge, 4);
        cases.push_back(c);
        EXPECT_EQ(
            ParseFlashDirectory(b.data(), static_cast<uint32_t>(b.size()), kFlash).entries.size(),
            1u);
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        try {
            ParseFlashDirectory(cases[i].data(), static_cast<uint32_t>(cases[i].size()), kFlash);
            ADD_FAILURE() << "case " << i << " accepted";
        } catch (const CFlashExc& e) {
            EXPECT_EQ(e.code, ERR_NOT_VALID_BLOCK) << "case " << i;
        }
    }
}

}  // namespace
