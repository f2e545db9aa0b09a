// Commits through libTelmar.so on the simulated bench:
// - with the "realistic" timing model: wall time against the physical minimum
//   the timing model charges for the same work;
// - with the timing model off: process CPU time per MiB and peak memory of a
//   16 MiB commit.
#include "EngineBench.h"
#include "engine/formats/SBFManage.h"
#include "tests/fixtures/BitstreamFixtures.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

namespace {

using qel::e2e::EngineBench;
using qel::e2e::NoticeLog;

// Board 0 of the default bench: QT-6403 is slot 2 (processor index 2),
// QT-6415W slot 3 (processor index 5).
constexpr int kQt6403 = 2;
constexpr int kQt6415W = 5;

UserBlockRecord Record(const std::string& file) {
    UserBlockRecord r{};
    strncpy(r.fileName, file.c_str(), sizeof(r.fileName) - 1);
    return r;
}

// A bitstream of about `bytes` for one TIM type, as an SBF file.
std::string MakeSbf(EngineBench& bench, uint32_t timType, size_t bytes) {
    using namespace qel::fixtures;
    const std::string bit = bench.Temp().File("big.bit");
    WriteFile(bit, MakeBitFile(BitHeader{}, MakeBitstreamBody(bytes, 7)));
    const std::string sbf = bench.Temp().File("big_32_.sbf");
    CSBFManage builder;
    if (builder.BuildFromBit(bit.c_str(), sbf.c_str(), 0x00010000, {timType}, "benchmark") != 0) {
        throw std::runtime_error("cannot build the benchmark bitstream");
    }
    return sbf;
}

void Check(IFFlash* flash, int result, const char* what) {
    if (result != 0) {
        throw std::runtime_error(std::string(what) + ": " +
                                 qel::e2e::Describe(flash->GetLastError()));
    }
}

// Boot loader, bitstream and data user blocks up to `fill` bytes of the flash.
void FillChain(EngineBench& bench, IFFlash* flash, uint32_t timType, size_t bitstream,
               uint32_t fill) {
    flash->SetBootLoader(nullptr);
    flash->SetBitstream(MakeSbf(bench, timType, bitstream).c_str());
    uint32_t used = 0;
    flash->GetUsedSize(&used);
    for (int n = 0; used + 0x1000 < fill; ++n) {
        const uint32_t size = std::min<uint32_t>(1u << 20, fill - used - 0x1000);
        const UserBlockRecord r =
            Record(bench.WriteData("block" + std::to_string(n) + ".bin", size, uint8_t(n)));
        flash->AddUserBlock(0x10, &r, 100 + n, 1, 0, -1);
        flash->GetUsedSize(&used);
    }
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_CommitRealistic(benchmark::State& state) {
    // The model of bench/src/Description.cpp's realistic profile.
    constexpr double kBandwidth = 2.0 * 1024 * 1024;
    constexpr double kEraseSeconds = 0.250;
    constexpr double kProgramSecondsPerByte = 2000e-9;
    for (auto _ : state) {
        EngineBench bench;
        setenv("QEL4410_BENCH_TIMING", "realistic", 1);
        // The product's polling intervals, not the tests' shortened ones.
        qel::platform::DynamicLibrary telmar("Telmar.dll");
        reinterpret_cast<void (*)(uint32_t, uint32_t)>(
            telmar.Symbol("TelmarSetPollIntervalsForTests"))(50, 200);
        IFFlash* flash = bench.Flash(0, kQt6403);
        bench.ConnectAndSelect(flash, "QT-6403");
        uint32_t flashSize = 0;
        flash->GetFlashSize(&flashSize);
        FillChain(bench, flash, 0x21, 1u << 20, flashSize);

        NoticeLog log;
        flash->SetCallback(&NoticeLog::Callback, reinterpret_cast<uintptr_t>(&log));
        const auto start = std::chrono::steady_clock::now();
        flash->Commit();
        const int result = log.WaitFinished();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        flash->SetCallback(nullptr, 0);
        Check(flash, result, "commit");
        state.SetIterationTime(wall);

        uint32_t used = 0;
        flash->GetUsedSize(&used);
        const double sectors = std::ceil(used / 65536.0);
        const double minimum =
            used / kBandwidth + sectors * kEraseSeconds + used * kProgramSecondsPerByte;
        int loads = 0;
        for (const auto& notice : log.Take()) {
            if (notice.text == "Loading data to DSP ...")
                ++loads;
        }
        state.counters["bytes"] = used;
        state.counters["wall_s"] = wall;
        state.counters["minimum_s"] = minimum;
        state.counters["ratio"] = wall / minimum;
        state.counters["staging_loads"] = loads;
        unsetenv("QEL4410_BENCH_TIMING");
    }
}
BENCHMARK(BM_CommitRealistic)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_CommitTimingOff16MiB(benchmark::State& state) {
    for (auto _ : state) {
        EngineBench bench;
        IFFlash* flash = bench.Flash(0, kQt6415W);
        bench.ConnectAndSelect(flash, "QT-6415W");
        uint32_t flashSize = 0;
        flash->GetFlashSize(&flashSize);
        FillChain(bench, flash, 0x29, 1u << 20, flashSize);
        uint32_t used = 0;
        flash->GetUsedSize(&used);

        const long rssBefore = PeakRssKiB();
        const double cpuBefore = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        Check(flash, flash->Commit(), "commit");
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = CpuSeconds() - cpuBefore;
        state.SetIterationTime(wall);
        const double mib = used / 1048576.0;
        state.counters["MiB"] = mib;
        state.counters["cpu_ms_per_MiB"] = cpu * 1000 / mib;
        state.counters["peak_rss_MiB"] = PeakRssKiB() / 1024.0;
        state.counters["peak_rss_growth_MiB"] = (PeakRssKiB() - rssBefore) / 1024.0;
    }
}
BENCHMARK(BM_CommitTimingOff16MiB)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// Bytes sent to the target when the first of several large user blocks is
// removed, against the bytes of the blocks that move.
void BM_ReorderLinkEfficiency(benchmark::State& state) {
    constexpr uint32_t kBlock = 768u << 10;
    for (auto _ : state) {
        EngineBench bench;
        IFFlash* flash = bench.Flash(0, kQt6403);
        bench.ConnectAndSelect(flash, "QT-6403");
        flash->SetBootLoader(nullptr);
        flash->SetBitstream(nullptr);
        for (int n = 0; n < 4; ++n) {
            const UserBlockRecord r =
                Record(bench.WriteData("block" + std::to_string(n) + ".bin", kBlock, uint8_t(n)));
            flash->AddUserBlock(0x10, &r, 100 + n, 1, 0, -1);
        }
        Check(flash, flash->Commit(), "first commit");
        // A chain read back from the flash: the payloads stay on the module.
        bench.Close();
        flash = bench.Flash(0, kQt6403);
        bench.ConnectAndSelect(flash, "QT-6403");
        uint64_t moved = 0;
        for (uint32_t i = 1; i < 4; ++i) {
            BlockHeader header;
            flash->GetUserBlock(i, &header, nullptr);
            moved += header.totalSize;
        }
        BlockHeader termination;
        uint32_t count = 0;
        flash->GetBlockCount(&count);
        flash->GetBlock(count - 1, &termination, nullptr, 0);
        moved += termination.totalSize;

        uint64_t toBefore = 0, fromBefore = 0, toAfter = 0, fromAfter = 0;
        bench.Control()->GetLinkTraffic(0, kQt6403, &toBefore, &fromBefore);
        flash->RemoveUserBlock(0);
        const auto start = std::chrono::steady_clock::now();
        Check(flash, flash->Commit(), "reorder commit");
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        bench.Control()->GetLinkTraffic(0, kQt6403, &toAfter, &fromAfter);
        state.counters["moved_bytes"] = static_cast<double>(moved);
        state.counters["sent_bytes"] = static_cast<double>(toAfter - toBefore);
        state.counters["received_bytes"] = static_cast<double>(fromAfter - fromBefore);
        state.counters["sent_per_moved"] = static_cast<double>(toAfter - toBefore) / moved;
    }
}
BENCHMARK(BM_ReorderLinkEfficiency)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
