// Conversion of a COFF executable with 16 MiB of sections to both comport
// image formats, as Quillon does it (read the file, check it against the TIM
// memory map, write the image file), beside `cp` copying the same file.
// Prints MB/s and the ratio to `cp` at the end.
#include "converter/ObjectFile.h"
#include "firmware/images/CoffBuilder.h"
#include "platform/TempFolder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kSectionBytes = 4u << 20;
constexpr int kSections = 4;
// 32 MiB of SDRAM at 0x80000000 in the sample TIM descriptions.
constexpr const char* kTim = "QT-6403";

struct Input {
    std::string path;
    uint64_t bytes = 0;
};

const Input& TheInput() {
    static const Input input = [] {
        Input in;
        in.path = qel::platform::PrivateTempPath("sixteen.out");
        qel::firmware::CoffBuilder coff;
        coff.SetEntryPoint(0x80000000);
        std::mt19937 random(7);
        for (int i = 0; i < kSections; ++i) {
            std::vector<uint8_t> data(kSectionBytes);
            for (uint8_t& b : data) b = static_cast<uint8_t>(random());
            coff.AddSection(".s" + std::to_string(i), 0x80000000 + i * kSectionBytes,
                            std::move(data));
        }
        coff.WriteTo(in.path);
        in.bytes = std::filesystem::file_size(in.path);
        return in;
    }();
    return input;
}

void Convert(benchmark::State& state, bool newFormat) {
    const Input& in = TheInput();
    const std::string out = qel::platform::PrivateTempPath(newFormat ? "new.bin" : "old.bin");
    for (auto _ : state) {
        const CObjectFile object(in.path.c_str());
        std::FILE* file = std::fopen(out.c_str(), "wb");
        if (!file)
            return state.SkipWithError("cannot create the output");
        const bool written =
            newFormat ? object.WriteNewFormat(kTim, file) : object.WriteOldFormat(kTim, file);
        if (std::fclose(file) != 0 || !written)
            return state.SkipWithError("cannot write the output");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.bytes));
}

void BM_ConvertOldFormat(benchmark::State& state) {
    Convert(state, false);
}

void BM_ConvertNewFormat(benchmark::State& state) {
    Convert(state, true);
}

void BM_Cp(benchmark::State& state) {
    const Input& in = TheInput();
    const std::string command =
        "cp '" + in.path + "' '" + qel::platform::PrivateTempPath("copy.out") + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            return state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.bytes));
}

BENCHMARK(BM_ConvertOldFormat)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_ConvertNewFormat)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

// Keeps the real time per iteration of every run for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                times[run.benchmark_name()] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto find = [&](const std::string& prefix) {
        for (const auto& [name, seconds] : reporter.times) {
            if (name.rfind(prefix, 0) == 0)
                return seconds;
        }
        return 0.0;
    };
    const double mb = static_cast<double>(TheInput().bytes) / 1e6;
    const double cp = find("BM_Cp");
    std::printf("\nCOFF input: %.1f MB, %d sections of %u bytes, TIM type %s\n", mb, kSections,
                kSectionBytes, kTim);
    for (const char* name : {"BM_ConvertOldFormat", "BM_ConvertNewFormat", "BM_Cp"}) {
        const double seconds = find(name);
        if (seconds > 0) {
            std::printf("%-20s %8.1f ms %9.0f MB/s", name, seconds * 1e3, mb / seconds);
            if (cp > 0)
                std::printf("   ratio (time / cp) %.2f", seconds / cp);
            std::printf("\n");
        }
    }
    benchmark::Shutdown();
    return 0;
}
