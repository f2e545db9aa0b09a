// Commits through libTelmar.so on the simulated bench:
// - with the "realistic" timing model: wall time against the physical minimum
//   the timing model charges for the same work;
// - with the timing model off: process CPU time per MiB and peak memory of a
//   16 MiB commit.
// Small operations with realistic timing (show, a 1 KiB commit, removing the
// first of 300 small blocks) report their floor: what the bench's timing
// model charges for the work itself, that is the link bytes / bandwidth, the
// requests x latency and the erase and programming of every sector whose
// bytes change. Requests that only found the programmer still busy are
// waiting, not work, and left out of the floor.
#include "EngineBench.h"
#include "engine/formats/SBFManage.h"
#include "tests/fixtures/BitstreamFixtures.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
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

// The realistic profile of bench/src/Description.cpp.
constexpr double kBandwidth = 2.0 * 1024 * 1024;
constexpr double kLatencySeconds = 500e-6;
constexpr double kEraseSeconds = 0.250;
constexpr double kProgramSecondsPerByte = 2000e-9;

// The product's polling intervals, not the tests' shortened ones.
void RealWaits() {
    static qel::platform::DynamicLibrary telmar("Telmar.dll");
    reinterpret_cast<void (*)(uint32_t, uint32_t)>(telmar.Symbol("TelmarSetPollIntervalsForTests"))(
        50, 200);
}

// Link use of one processor, as the bench counts it.
struct Link {
    uint64_t bytes = 0;
    uint64_t requests = 0;
    uint64_t busyPolls = 0;

    static Link Of(EngineBench& bench, int processor) {
        Link l;
        uint64_t to = 0, from = 0;
        bench.Control()->GetLinkTraffic(0, processor, &to, &from);
        bench.Control()->GetLinkRequests(0, processor, &l.requests, &l.busyPolls);
        l.bytes = to + from;
        return l;
    }
    Link operator-(const Link& o) const {
        return {bytes - o.bytes, requests - o.requests, busyPolls - o.busyPolls};
    }
};

// Sectors whose bytes differ between two images of one flash.
uint32_t ChangedSectors(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                        uint32_t sector) {
    const size_t size = std::max(a.size(), b.size());
    uint32_t changed = 0;
    for (size_t at = 0; at < size; at += sector) {
        for (size_t i = at; i < std::min(size, at + sector); ++i) {
            const uint8_t x = i < a.size() ? a[i] : 0xFF;
            const uint8_t y = i < b.size() ? b[i] : 0xFF;
            if (x != y) {
                ++changed;
                break;
            }
        }
    }
    return changed;
}

// What the timing model charges for the work: the busy polls' words and
// latency are left out.
double Floor(const Link& used, uint32_t changedSectors, uint32_t sector) {
    const double bytes = static_cast<double>(used.bytes - 4 * used.busyPolls);
    const double requests = static_cast<double>(used.requests - used.busyPolls);
    return bytes / kBandwidth + requests * kLatencySeconds +
           changedSectors * (kEraseSeconds + sector * kProgramSecondsPerByte);
}

void Report(benchmark::State& state, double wall, const Link& used, double floor) {
    state.SetIterationTime(wall);
    state.counters["wall_s"] = wall;
    state.counters["floor_s"] = floor;
    state.counters["ratio"] = wall / floor;
    state.counters["link_bytes"] = static_cast<double>(used.bytes);
    state.counters["requests"] = static_cast<double>(used.requests);
    state.counters["busy_polls"] = static_cast<double>(used.busyPolls);
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Commits on board 0 processor 0 (QT-6201, 64 KiB sectors) and reports the
// time against the floor of the link traffic and the sectors it changed.
void MeasureCommit(benchmark::State& state, EngineBench& bench, IFFlash* flash) {
    const std::vector<uint8_t> imageBefore = bench.FlashImage(0, 0);
    const Link before = Link::Of(bench, 0);
    const auto start = std::chrono::steady_clock::now();
    Check(flash, flash->Commit(), "commit");
    const double wall = Since(start);
    const Link used = Link::Of(bench, 0) - before;
    const uint32_t sectors = ChangedSectors(imageBefore, bench.FlashImage(0, 0), 0x10000);
    Report(state, wall, used, Floor(used, sectors, 0x10000));
    state.counters["sectors"] = sectors;
    unsetenv("QEL4410_BENCH_TIMING");
}

// Board 0 processor 0 (QT-6201) programmed as the README's demonstration
// does, with the timing model off; then a bench with realistic timing on the
// same flash image.
void ProgrammedQt6201(EngineBench& bench, const std::function<void(IFFlash*)>& more = {}) {
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    flash->SetBitstream(nullptr);
    const UserBlockRecord r = qel::e2e::UserRecord(bench.Firmware("samples", "hello.out"), true);
    flash->AddUserBlock(1, &r, 1, 1, 0, -1);
    flash->AddDynamic(0x200, 1);
    flash->AddDynamic(0x204, 2);
    if (more)
        more(flash);
    Check(flash, flash->Commit(), "programming");
    bench.Close();
    setenv("QEL4410_BENCH_TIMING", "realistic", 1);
    RealWaits();
}

void BM_ShowRealistic(benchmark::State& state) {
    for (auto _ : state) {
        EngineBench bench;
        ProgrammedQt6201(bench);
        IFFlash* flash = bench.Flash(0, 0);
        const Link before = Link::Of(bench, 0);
        const auto start = std::chrono::steady_clock::now();
        Check(flash, flash->Connect(), "connect");
        uint32_t detail = 0;
        Check(flash, flash->SelectTimType("QT-6201", &detail), "select");
        const std::vector<qel::e2e::ChainEntry> chain = qel::e2e::ReadChain(flash);
        const double wall = Since(start);
        const Link used = Link::Of(bench, 0) - before;
        Report(state, wall, used, Floor(used, 0, 0x10000));
        state.counters["blocks"] = static_cast<double>(chain.size());
        unsetenv("QEL4410_BENCH_TIMING");
    }
}
// A few milliseconds long: the median of several runs tells more than one.
BENCHMARK(BM_ShowRealistic)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

void BM_CommitOneKiBRealistic(benchmark::State& state) {
    for (auto _ : state) {
        EngineBench bench;
        ProgrammedQt6201(bench);
        IFFlash* flash = bench.Flash(0, 0);
        bench.ConnectAndSelect(flash, "QT-6201");
        const UserBlockRecord r = Record(bench.WriteData("small.bin", 1024, 5));
        flash->AddUserBlock(0x10, &r, 2, 1, 0, -1);
        MeasureCommit(state, bench, flash);
    }
}
BENCHMARK(BM_CommitOneKiBRealistic)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_RemoveFirstOf300Realistic(benchmark::State& state) {
    for (auto _ : state) {
        EngineBench bench;
        ProgrammedQt6201(bench, [&](IFFlash* flash) {
            for (int n = 0; n < 300; ++n) {
                const UserBlockRecord r =
                    Record(bench.WriteData("small" + std::to_string(n) + ".bin", 1024, uint8_t(n)));
                flash->AddUserBlock(0x10, &r, 100 + n, 1, 0, -1);
            }
        });
        IFFlash* flash = bench.Flash(0, 0);
        bench.ConnectAndSelect(flash, "QT-6201");
        flash->RemoveUserBlock(0);
        MeasureCommit(state, bench, flash);
    }
}
BENCHMARK(BM_RemoveFirstOf300Realistic)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_CommitRealistic(benchmark::State& state) {
    for (auto _ : state) {
        EngineBench bench;
        setenv("QEL4410_BENCH_TIMING", "realistic", 1);
        RealWaits();
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

// A value of /proc/self/status in KiB ("VmRSS", "VmHWM").
long StatusKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

// Peak resident memory that a commit of one 15 MiB data block adds to the
// process (engine and in-process bench together), per byte committed. The
// peak is reset just before the commit, so what adding the block took does
// not hide it.
void BM_PeakRss15MiBBlock(benchmark::State& state) {
    constexpr uint32_t kData = 15u << 20;
    for (auto _ : state) {
        EngineBench bench;
        IFFlash* flash = bench.Flash(0, kQt6415W);
        bench.ConnectAndSelect(flash, "QT-6415W");
        const UserBlockRecord r = Record(bench.WriteData("big.bin", kData, 3));
        flash->AddUserBlock(0x10, &r, 1, 1, 0, -1);

        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = StatusKiB("VmRSS");
        const auto start = std::chrono::steady_clock::now();
        Check(flash, flash->Commit(), "commit");
        state.SetIterationTime(Since(start));
        const long peak = StatusKiB("VmHWM");
        state.counters["data_MiB"] = kData / 1048576.0;
        state.counters["rss_before_MiB"] = before / 1024.0;
        state.counters["peak_growth_MiB"] = (peak - before) / 1024.0;
        state.counters["growth_per_data"] = (peak - before) * 1024.0 / kData;
    }
}
BENCHMARK(BM_PeakRss15MiBBlock)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

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
