// How commands end: the last progress notice of a commit and of an erase,
// and each caller getting its own command's result while the callback is
// registered or cleared under a running command.
#include "EngineBench.h"

#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace qel::e2e {
namespace {

using qel::bench::Fault;
using Notices = std::vector<NoticeLog::Notice>;

// Whatever the programmer showed on the way, the last notice is the whole
// of what the command had to do. The polls are spaced out so that the
// programmer may well finish before the engine first looks.
TEST(FinalProgressTest, CommitEndsWithThePlansTotalAndEraseWithItsOwn) {
    EngineBench bench;
    bench.SetPollIntervals(30, 0);
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    const UserBlockRecord record = UserRecord(bench.WriteData("small.bin", 1024, 3));
    flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);
    NoticeLog log;
    ASSERT_EQ(EngineBench::Run(flash, log, [&] { return flash->Commit(); }), 0)
        << Describe(flash->GetLastError());
    Notices progress = NoticeLog::OfKind(log.Take(), 1);
    ASSERT_FALSE(progress.empty());
    uint32_t used = 0;
    flash->GetUsedSize(&used);
    const int sector = 0x10000;  // QT-6201's
    EXPECT_EQ(progress.back().a, sector * ((static_cast<int>(used) + sector - 1) / sector));
    EXPECT_EQ(progress.back().b, progress.back().a);

    // Nothing to write: (0, 0).
    ASSERT_EQ(EngineBench::Run(flash, log, [&] { return flash->Commit(); }), 0);
    progress = NoticeLog::OfKind(log.Take(), 1);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().a, 0);
    EXPECT_EQ(progress.back().b, 0);

    ASSERT_EQ(EngineBench::Run(flash, log, [&] { return flash->Erase(); }), 0);
    progress = NoticeLog::OfKind(log.Take(), 1);
    uint32_t size = 0;
    flash->GetFlashSize(&size);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().a, static_cast<int>(size));
    EXPECT_EQ(progress.back().b, static_cast<intptr_t>(size));
}

// A callback registered while a synchronous erase runs: the caller still
// gets its result. The programmer steps in lock step with the host's reads
// of its progress, which the engine makes only for a callback, so the erase
// is held until the callback is there.
TEST(CallbackChangeTest, CallbackRegisteredDuringASynchronousCommand) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    ASSERT_EQ(bench.Control()->SetFault(0, 0, Fault::ProgressLockstep, 1), qel::bench::kOk);
    auto erase = std::async(std::launch::async, [&] { return flash->Erase(); });
    qel::bench::ProgrammerInfo info;
    do {
        std::this_thread::yield();
        bench.Control()->GetProgrammerInfo(0, 0, &info);
    } while (!(info.busy && info.lastCommand == 5));
    NoticeLog log;
    flash->SetCallback(&NoticeLog::Callback, reinterpret_cast<uintptr_t>(&log));
    // A generous bound, so that a caller left waiting fails the test instead
    // of hanging it.
    ASSERT_EQ(erase.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(erase.get(), 0) << Describe(flash->GetLastError());
    flash->SetCallback(nullptr, 0);
}

// The callback clears itself while answering a question of an asynchronous
// select: the synchronous connect after it returns its own result, not the
// select's.
TEST(CallbackChangeTest, CallbackClearedDuringAnAsynchronousCommand) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    bench.Close();
    flash = bench.Flash(0, 0);
    ASSERT_EQ(flash->Connect(), 0);  // detects the QT-6201
    ASSERT_EQ(flash->SelectTimType("QT-6201", nullptr), 0) << Describe(flash->GetLastError());

    struct Context {
        IFFlash* flash;
        std::atomic<bool> asked{false};
    } context{flash};
    flash->SetCallback(
        [](int kind, int, intptr_t, uintptr_t c) {
            auto* ctx = reinterpret_cast<Context*>(c);
            if (kind != 3)
                return 0;
            ctx->flash->SetCallback(nullptr, 0);
            ctx->asked = true;
            return 1;  // cancel the select
        },
        reinterpret_cast<uintptr_t>(&context));
    ASSERT_EQ(flash->SelectTimType("QT-6202C", nullptr), -1);
    while (!context.asked) std::this_thread::yield();
    // The connect waits for the select to end (the lock), then runs itself.
    EXPECT_EQ(flash->Connect(), 0) << Describe(flash->GetLastError());
    uint32_t state = 0;
    flash->GetDetectState(&state);
    EXPECT_EQ(state, 1u);
    uint32_t code = 0;
    flash->GetTimType(&code);
    EXPECT_EQ(code, 0x11u);  // the cancelled select changed nothing
}

}  // namespace
}  // namespace qel::e2e
