// CRC-32 of block payloads against zlib's crc32 on the same 16 MiB buffer.
#include "engine/blocks/Crc.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

const std::vector<uint8_t>& Buffer() {
    static const std::vector<uint8_t> buffer = [] {
        std::vector<uint8_t> b(16u << 20);
        std::mt19937 random(1);
        for (auto& byte : b) byte = static_cast<uint8_t>(random());
        return b;
    }();
    return buffer;
}

void BM_CCrc(benchmark::State& state) {
    const auto& b = Buffer();
    for (auto _ : state) benchmark::DoNotOptimize(CCrc::Of(b.data(), b.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(b.size()));
}

void BM_ZlibCrc32(benchmark::State& state) {
    const auto& b = Buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(crc32(0, Z_NULL, 0), b.data(), static_cast<uInt>(b.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(b.size()));
}

BENCHMARK(BM_CCrc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
