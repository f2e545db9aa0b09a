#include "EngineBench.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qel::e2e {
namespace {

TEST(ProgrammingTest, ErasedModuleRevertsToDefaultChain) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    ASSERT_EQ(flash->Connect(), 0) << Describe(flash->GetLastError());
    uint32_t state = 0;
    flash->GetDetectState(&state);
    EXPECT_EQ(state, 2u);

    NoticeLog log;
    flash->SetCallback(&NoticeLog::Callback, reinterpret_cast<uintptr_t>(&log));
    EXPECT_EQ(flash->SelectTimType("QT-6201", nullptr), -1);
    EXPECT_EQ(log.WaitFinished(), 0) << Describe(flash->GetLastError());
    bool reverted = false;
    for (const auto& n : log.Take()) {
        if (n.text == "Flash contents inconcistent. Reverting to default")
            reverted = true;
    }
    EXPECT_TRUE(reverted);
    uint32_t count = 0;
    flash->GetBlockCount(&count);
    EXPECT_EQ(count, 6u);
    flash->SetCallback(nullptr, 0);
}

TEST(ProgrammingTest, CommittedChainReadsBackInANewEngine) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    flash->SetBitstream(nullptr);
    const UserBlockRecord exec =
        UserRecord(bench.WriteExecutable("app.out", 0x80001000, 3000, 1), true);
    flash->AddUserBlock(1, &exec, 0x42, 1, 2, -1);
    const UserBlockRecord data = UserRecord(bench.WriteData("table.bin", 10000, 5));
    flash->AddUserBlock(0x10, &data, 0x43, 0, 1, -1);
    flash->AddDynamic(0x80000000, 0x1234);
    flash->AddDynamic(0x80000004, 0x5678);
    ASSERT_TRUE(flash->IsModified());
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    EXPECT_FALSE(flash->IsModified());
    const std::vector<ChainEntry> written = ReadChain(flash);

    bench.Close();
    IFFlash* again = bench.Flash(0, 0);
    ASSERT_EQ(again->Connect(), 0) << Describe(again->GetLastError());
    uint32_t state = 0, code = 0;
    again->GetDetectState(&state);
    EXPECT_EQ(state, 1u);
    ASSERT_EQ(again->SelectTimType("QT-6201", nullptr), 0) << Describe(again->GetLastError());
    again->GetTimType(&code);
    EXPECT_EQ(code, 0x11u);
    const std::vector<ChainEntry> read = ReadChain(again);
    ASSERT_EQ(read.size(), written.size());
    // The init image has no header on flash: only its size comes back.
    EXPECT_EQ(read[0].header.totalSize, written[0].header.totalSize);
    for (size_t i = 1; i < read.size(); ++i) {
        EXPECT_EQ(memcmp(&read[i].header, &written[i].header, sizeof(BlockHeader)), 0)
            << "block " << i;
        EXPECT_EQ(read[i].extra, written[i].extra) << "block " << i;
    }
    uint32_t dynamics = 0, address = 0, value = 0;
    again->GetDynamicCount(&dynamics);
    ASSERT_EQ(dynamics, 2u);
    again->GetDynamic(1, &address, &value);
    EXPECT_EQ(address, 0x80000004u);
    EXPECT_EQ(value, 0x5678u);
    BlockHeader header;
    UserBlockRecord record;
    again->GetUserBlock(0, &header, &record);
    EXPECT_EQ(header.id, 0x42u);
    EXPECT_EQ(header.version, 0x00010002u);
    EXPECT_EQ(record.bootable, 1u);
    EXPECT_STREQ(record.fileName, exec.fileName);
    again->VerifyUserBlock(0, exec.fileName);
    again->VerifyUserBlock(1, data.fileName);

    // The flash itself: a complete chain, every payload matching its CRC.
    const ImageChain image = WalkImage(bench.FlashImage(0, 0));
    EXPECT_TRUE(image.terminated);
    EXPECT_EQ(image.blocks.size() + 1, read.size());
    for (const ImageBlock& b : image.blocks) EXPECT_TRUE(b.payloadIntact) << b.offset;
}

}  // namespace
}  // namespace qel::e2e
