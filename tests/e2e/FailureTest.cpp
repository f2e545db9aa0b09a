// Failures of worker commands: result 2 and the matching last-error record,
// the flash object staying usable; a programmer that never answers.
#include "EngineBench.h"

#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <ostream>

#include <functional>

namespace qel::e2e {
namespace {

using qel::bench::Fault;

struct FailureCase {
    const char* name;
    int processor;
    const char* tim;  // selected before the fault is armed; null: connect only
    std::function<void(qel::bench::IBenchControl*, int processor)> arm;
    std::function<int(IFFlash*)> command;
    uint32_t code;
    bool detail;  // the record carries a detail text
};

// Test descriptions show the case by name.
void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

const FailureCase kFailureCases[] = {
    {"UnknownTimName", 0, nullptr, [](auto*, int) {},
     [](IFFlash* f) { return f->SelectTimType("QT-9999", nullptr); }, ERR_UNKNOWN_TIM_TYPE, false},
    {"MemoryFailureDuringRead", 0, nullptr,
     [](auto* bench, int p) { bench->SetFault(0, p, Fault::FailMemory, 1); },
     [](IFFlash* f) { return f->Connect(); }, ERR_CCS_MEMORY_ABORTED, false},
    // The module is reset behind the engine's back: the programmer must be
    // loaded again, and that load fails.
    {"ProgrammerLoadFailure", 0, "QT-6201",
     [](auto* bench, int p) {
         bench->RaiseUnrequested(0, p, qel::bench::Unrequested::Reset);
         bench->WaitIdle();
         bench->SetFault(0, p, Fault::FailLoad, 1);
     },
     [](IFFlash* f) { return f->Erase(); }, ERR_LOAD_FPROG, false},
    // QT-6403's second processor cannot reach the flash.
    {"NoFlashAccess", 3, "QT-6403", [](auto*, int) {}, [](IFFlash* f) { return f->Erase(); },
     ERR_NO_FLASH_ACCESS, false},
    {"RefusedRequest", 0, nullptr,
     [](auto* bench, int p) { bench->SetFault(0, p, Fault::RefuseRequest, 1); },
     [](IFFlash* f) { return f->Connect(); }, ERR_CCS_EXCEPTION, true},
};

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, CommandFailsWithItsErrorAndTheObjectStaysUsable) {
    const FailureCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, c.processor);
    if (c.tim) {
        bench.ConnectAndSelect(flash, c.tim);
    } else {
        ASSERT_EQ(flash->Connect(), 0) << Describe(flash->GetLastError());
    }
    c.arm(bench.Control(), c.processor);

    // Without a callback the result comes back from the call ...
    ASSERT_EQ(c.command(flash), 2);
    const CFlashExc* error = flash->GetLastError();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, c.code) << Describe(error);
    if (c.detail) {
        EXPECT_STRNE(error->detail, "") << Describe(error);
    }

    // ... with one, as the finish notice; the object is still usable.
    bench.Control()->ClearFaults(0, c.processor);
    NoticeLog log;
    EXPECT_EQ(EngineBench::Run(flash, log, [&] { return flash->Connect(); }), 0)
        << Describe(flash->GetLastError());
    if (c.tim) {
        EXPECT_EQ(
            EngineBench::Run(flash, log, [&] { return flash->SelectTimType(c.tim, nullptr); }), 0)
            << Describe(flash->GetLastError());
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, FailureTest, ::testing::ValuesIn(kFailureCases), CaseName());

// Dynamic values are read from the flash on the caller's thread when first
// asked for: a refused request reaches the caller as the engine's error, and
// the values are still there once the module answers again.
TEST(DynamicsReadTest, FailedReadIsAnEngineErrorAndLosesNoValue) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->AddDynamic(0x80000000, 1);
    flash->AddDynamic(0x80000004, 2);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    bench.Close();

    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    uint32_t count = 0;
    bench.Control()->SetFault(0, 0, Fault::RefuseRequest, 1);
    EXPECT_EQ(ErrorOf([&] { flash->GetDynamicCount(&count); }), ERR_CCS_EXCEPTION);
    bench.Control()->ClearFaults(0, 0);
    bench.Control()->SetFault(0, 0, Fault::FailMemory, 1);
    EXPECT_EQ(ErrorOf([&] { flash->GetDynamicCount(&count); }), ERR_CCS_MEMORY_ABORTED);
    bench.Control()->ClearFaults(0, 0);

    flash->AddDynamic(0x80000008, 3);
    flash->GetDynamicCount(&count);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    bench.Close();
    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->GetDynamicCount(&count);
    ASSERT_EQ(count, 3u);
    uint32_t address = 0, value = 0;
    flash->GetDynamic(0, &address, &value);
    EXPECT_EQ(value, 1u);
}

TEST(HungProgrammerTest, CloseReturnsWhileTheWorkerWaitsForTheProgrammer) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    bench.Control()->SetFault(0, 0, Fault::ProgrammerHang, 1);

    NoticeLog log;
    flash->SetCallback(&NoticeLog::Callback, reinterpret_cast<uintptr_t>(&log));
    ASSERT_EQ(flash->Erase(), -1);
    qel::bench::ProgrammerInfo info{};
    do {
        bench.Control()->WaitIdle();
        bench.Control()->GetProgrammerInfo(0, 0, &info);
    } while (!info.hung);

    // The destructor aborts the DSP user's wait; the worker's command ends
    // without a notice, the callback being gone.
    bench.Close();
    for (const auto& n : log.Take()) EXPECT_NE(n.kind, 0);
}

}  // namespace
}  // namespace qel::e2e
