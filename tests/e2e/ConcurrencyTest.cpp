// Processors of different modules worked on at the same time: each flash
// object's commands run on its own worker, callers on threads of their own.
#include "EngineBench.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace qel::e2e {
namespace {

struct Target {
    int processor;
    const char* tim;
};

// One processor of each of five modules (the default bench's slot order).
const Target kTargets[] = {
    {0, "QT-6201"}, {1, "QT-6202C"}, {5, "QT-6415W"}, {6, "QT-6710B"}, {8, "QT-6300N"},
};

TEST(ConcurrencyTest, ProcessorsOfDifferentModulesCommitAtTheSameTime) {
    EngineBench bench;
    bench.Open();
    constexpr size_t kCount = std::size(kTargets);
    IFFlash* flashes[kCount];
    std::string files[kCount];
    for (size_t i = 0; i < kCount; ++i) {
        flashes[i] = bench.Flash(0, kTargets[i].processor);
        files[i] = bench.WriteData("user" + std::to_string(i) + ".bin", 20000 + 5000 * i,
                                   static_cast<uint8_t>(i));
    }

    // Each caller thread connects, selects and edits its own processor.
    {
        std::vector<std::thread> callers;
        for (size_t i = 0; i < kCount; ++i) {
            callers.emplace_back([&, i] {
                IFFlash* flash = flashes[i];
                bench.ConnectAndSelect(flash, kTargets[i].tim);
                flash->SetBootLoader(nullptr);
                flash->SetBitstream(nullptr);
                const UserBlockRecord record = UserRecord(files[i]);
                flash->AddUserBlock(0x10, &record, static_cast<uint32_t>(i + 1), 1, 0, -1);
                flash->AddDynamic(0x80000000, static_cast<uint32_t>(i));
            });
        }
        for (auto& t : callers) t.join();
    }

    // All commits at once, followed through their callbacks.
    std::unique_ptr<NoticeLog> logs[kCount];
    for (size_t i = 0; i < kCount; ++i) {
        logs[i] = std::make_unique<NoticeLog>();
        flashes[i]->SetCallback(&NoticeLog::Callback, reinterpret_cast<uintptr_t>(logs[i].get()));
    }
    for (size_t i = 0; i < kCount; ++i) ASSERT_EQ(flashes[i]->Commit(), -1);
    for (size_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(logs[i]->WaitFinished(), 0) << Describe(flashes[i]->GetLastError());
        flashes[i]->SetCallback(nullptr, 0);
    }

    for (size_t i = 0; i < kCount; ++i) {
        const ImageChain chain = WalkImage(bench.FlashImage(0, kTargets[i].processor));
        EXPECT_TRUE(chain.terminated) << kTargets[i].tim;
        ASSERT_EQ(chain.blocks.size(), 6u) << kTargets[i].tim;
        for (const ImageBlock& b : chain.blocks) EXPECT_TRUE(b.payloadIntact) << kTargets[i].tim;
        EXPECT_EQ(chain.blocks[4].header.id, i + 1);
        EXPECT_NE(chain.blocks[2].header.dataLength, 0u) << kTargets[i].tim;  // the bitstream
    }

    // A new engine reads every module back, again from threads of their own.
    bench.Close();
    bench.Open();
    std::vector<std::thread> readers;
    for (size_t i = 0; i < kCount; ++i) {
        IFFlash* flash = bench.Flash(0, kTargets[i].processor);
        readers.emplace_back([&, flash, i] {
            bench.ConnectAndSelect(flash, kTargets[i].tim);
            uint32_t state = 0, users = 0, value = 99, address = 0;
            flash->GetDetectState(&state);
            EXPECT_EQ(state, 1u);
            flash->GetUserBlockCount(&users);
            EXPECT_EQ(users, 1u);
            EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(0, files[i].c_str()); }), 0u);
            flash->GetDynamic(0, &address, &value);
            EXPECT_EQ(value, i);
        });
    }
    for (auto& t : readers) t.join();
}

}  // namespace
}  // namespace qel::e2e
