// The tool on the default bench with the timing model off, offscreen:
// - Start: from the dialog's start to the tree filled and the first
//   processor's pages enabled, once with the engine's product polling
//   intervals and once with them at zero; the difference is the share the
//   engine spends waiting between its polls.
// - Commit16MiB: a 16 MiB commit on the QT-6415W; the counter MaxUiGapMs is
//   the longest gap between two ticks of the user-interface event loop.
#include "tests/tool/KovraDlgFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr int kWaitMs = 600000;
constexpr int kQt6415W = 5;  // processor index on board 0

// The fixture's steps outside GoogleTest.
class Session : public KovraDlgFixture {
  public:
    void TestBody() override {}
    void Prepare() {
        SetUp();
        ProgramFirstModule();
    }
    void Start() {
        dlg_ = CreateKovraDlg(prompts_);
        dlg_->show();
        dlg_->Initialise();
    }
    // The tree filled, the first processor selected, read and its pages enabled.
    bool FirstPagesEnabled() {
        if (!dlg_->Core().Enumerated() || dlg_->Core().Records().empty())
            return false;
        CpuRecord* first = dlg_->Core().Records().front();
        bool read;
        {
            const qel::platform::CriticalSectionLock guard(first->lock);
            read = first->dataRead && first->state == CpuState::Ready;
        }
        return read && dlg_->Core().Current() == first &&
               Find<QWidget>("comboTimType")->isEnabled();
    }
    void Stop() { TearDown(); }
    using KovraDlgFixture::bench_;
    using KovraDlgFixture::dlg_;
    using KovraDlgFixture::Record;
    using KovraDlgFixture::WaitUntilAllReady;
};

// The product's polling intervals (50 ms, 200 ms more while writing) or none.
void SetPolling(bool product) {
    auto poll = reinterpret_cast<void (*)(uint32_t, uint32_t)>(
        qel::platform::DynamicLibrary("Telmar.dll").Symbol("TelmarSetPollIntervalsForTests"));
    if (poll)
        product ? poll(50, 200) : poll(0, 0);
}

void BM_Start(benchmark::State& state) {
    const bool product = state.range(0) != 0;
    for (auto _ : state) {
        Session session;
        // Module 0 programmed: its start includes detection, the automatic
        // TIM selection and the read of its flash.
        session.Prepare();
        SetPolling(product);
        const auto begin = std::chrono::steady_clock::now();
        session.Start();
        if (!QTest::qWaitFor([&] { return session.FirstPagesEnabled(); }, kWaitMs)) {
            state.SkipWithError("the first processor never became ready");
            break;
        }
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        session.WaitUntilAllReady();
        session.Stop();
        SetPolling(false);
    }
}
BENCHMARK(BM_Start)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("productPolling")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_Commit16MiB(benchmark::State& state) {
    double worstGap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Session session;
        session.Prepare();
        session.Start();
        session.WaitUntilAllReady();
        CpuRecord& record = session.Record(kQt6415W);
        session.dlg_->findChild<QTreeWidget*>("treeCpus")
            ->setCurrentItem(session.dlg_->findChild<QTreeWidget*>("treeCpus")
                                 ->topLevelItem(0)
                                 ->child(kQt6415W));
        record.flash->SelectTimType("QT-6415W", nullptr);
        {
            const qel::platform::CriticalSectionLock guard(record.lock);
            record.state = CpuState::SelectingTim;
        }
        session.WaitUntilAllReady();
        record.flash->SetBootLoader(nullptr);
        uint32_t used = 0;
        record.flash->GetUsedSize(&used);
        const uint32_t target = 16u << 20;
        for (int n = 0; used + 0x2000 < target - 0x40000; ++n) {
            const uint32_t size = std::min<uint32_t>(1u << 20, target - 0x40000 - used - 0x2000);
            const UserBlockRecord r = qel::e2e::UserRecord(
                session.bench_.WriteData("block" + std::to_string(n) + ".bin", size, uint8_t(n)));
            record.flash->AddUserBlock(0x10, &r, 100 + n, 1, 0, -1);
            record.flash->GetUsedSize(&used);
        }
        QApplication::processEvents();
        state.counters["UsedMiB"] = used / 1048576.0;

        QElapsedTimer clock;
        qint64 last = 0;
        qint64 gap = 0;
        QTimer ticker;
        ticker.setInterval(0);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            gap = std::max(gap, now - last);
            last = now;
        });
        state.ResumeTiming();
        clock.start();
        ticker.start();
        session.dlg_->findChild<QPushButton*>("buttonCommit")->click();
        const bool done = QTest::qWaitFor(
            [&] {
                const qel::platform::CriticalSectionLock guard(record.lock);
                return record.state == CpuState::Ready && !record.modified;
            },
            kWaitMs);
        ticker.stop();
        state.PauseTiming();
        if (!done) {
            state.SkipWithError("the commit did not finish");
            break;
        }
        worstGap = std::max(worstGap, gap / 1e6);
        session.Stop();
        state.ResumeTiming();
    }
    state.counters["MaxUiGapMs"] = worstGap;
}
BENCHMARK(BM_Commit16MiB)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}
