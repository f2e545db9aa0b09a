// Zero-run compression and CRC-16 of stack files on 4 MiB inputs.
#include "engine/formats/SBFCrc16.h"
#include "engine/formats/SBFManage.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr size_t kSize = 4u << 20;

void PutWord(std::vector<uint8_t>& out, uint32_t w) {
    const size_t at = out.size();
    out.resize(at + 4);
    std::memcpy(out.data() + at, &w, 4);
}

// Frames of dense literal words (a few isolated zeros among them) between zero
// runs; zeroPercent of the words are in runs.
std::vector<uint8_t> Bitstream(unsigned zeroPercent, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(kSize + 65536);
    while (out.size() < kSize) {
        const size_t literals = 32 + rng() % 600;
        for (size_t i = 0; i < literals; ++i) {
            const uint32_t r = rng();
            PutWord(out, r % 24 == 0 ? 0u : (r | 1u));
        }
        if (zeroPercent > 0) {
            const size_t zeros = literals * zeroPercent / (100 - zeroPercent);
            out.resize(out.size() + 4 * (zeros < 3 ? 3 : zeros), 0);
        }
    }
    out.resize(kSize);
    return out;
}

void BM_CompressZeroRuns(benchmark::State& state) {
    const auto data = Bitstream(static_cast<unsigned>(state.range(0)), 1);
    size_t packed = 0;
    for (auto _ : state) {
        auto out = CSBFManage::CompressZeroRuns(data.data(), data.size());
        packed = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
    state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(kSize);
}

// A 4 MiB SBF stack file: descriptor items around a 4 MiB data item.
const std::vector<uint8_t>& StackFile() {
    static const std::vector<uint8_t> file = [] {
        SbfDescriptor d;
        d.magic = SBF_MAGIC;
        d.version = 0x00010000;
        d.timTypes = {0x11, 0x19};
        d.comment = "benchmark";
        d.sourcePath = "top.bit";
        auto data = Bitstream(0, 2);
        data.resize(kSize - 160);
        d.dataItems.PushU32(static_cast<uint32_t>(data.size()));
        d.dataItems.Push(std::move(data));
        return CSBFManage::SerializeStack(CSBFManage::EncodeSbf(d, SBF_FORMAT_WORD), 0);
    }();
    return file;
}

void BM_Crc16StackFile(benchmark::State& state) {
    const auto& file = StackFile();
    for (auto _ : state) benchmark::DoNotOptimize(CCrc16::Of(file.data(), file.size() - 2));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(file.size() - 2));
}

// The one-table loop, byte by byte, for comparison.
void BM_Crc16ByteLoop(benchmark::State& state) {
    const auto& file = StackFile();
    for (auto _ : state) {
        unsigned crc = 0xFFFF;
        for (size_t i = 0; i + 2 < file.size(); ++i)
            crc = ((crc << 8) & 0xFFFF) ^
                  CCrc16::TableEntry(static_cast<uint8_t>((crc >> 8) ^ file[i]));
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(file.size() - 2));
}

void BM_ParseStack(benchmark::State& state) {
    const auto& file = StackFile();
    for (auto _ : state) {
        auto stack = CSBFManage::ParseStack(0, file.data(), file.size());
        benchmark::DoNotOptimize(stack.Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(file.size()));
}

// Percent of the words in zero runs: a dense design, a typical one, a small one.
BENCHMARK(BM_CompressZeroRuns)->Arg(10)->Arg(50)->Arg(90)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc16StackFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Crc16ByteLoop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseStack)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
