// S-record reading of a 16 MiB image (S3 records made by srec_cat from
// random bytes at start-up) against srec_cat converting the same file to
// binary. Prints the ratio of the two at the end.
#include "engine/blocks/BlockUserSRecord.h"
#include "platform/TempFolder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kImageBytes = 16u << 20;

struct Files {
    std::string binary;
    std::string records;  // srec_cat's output
    std::string padded;   // the same, padded with blanks to a multiple of 4
    std::vector<uint8_t> text;
    bool ready = false;
};

Files& Inputs() {
    static Files files = [] {
        Files f;
        f.binary = qel::platform::PrivateTempPath("image.bin");
        f.records = qel::platform::PrivateTempPath("image.s3");
        f.padded = qel::platform::PrivateTempPath("image_padded.s3");
        std::vector<char> bytes(kImageBytes);
        std::mt19937 random(7);
        for (char& b : bytes) b = static_cast<char>(random());
        std::ofstream(f.binary, std::ios::binary).write(bytes.data(), bytes.size());
        const std::string command = "srec_cat '" + f.binary +
                                    "' -binary -execution-start-address=0 -o '" + f.records +
                                    "' -motorola -address-length=4";
        if (std::system(command.c_str()) != 0)
            return f;
        std::ifstream in(f.records, std::ios::binary);
        f.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        // The block reads files whose size is a multiple of 4; text after the
        // end record is never looked at.
        std::vector<uint8_t> padded = f.text;
        while (padded.size() % 4 != 0) padded.push_back('\n');
        std::ofstream(f.padded, std::ios::binary)
            .write(reinterpret_cast<const char*>(padded.data()), padded.size());
        f.ready = true;
        return f;
    }();
    return files;
}

void BM_ParseText(benchmark::State& state) {
    Files& f = Inputs();
    if (!f.ready)
        return state.SkipWithError("srec_cat could not make the input");
    CBlockUserSRecord block(nullptr, 0);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.ParseText(f.text.data(), f.text.size(), &out));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
}

// File to payload, as a user block is built: read, parse, CRC.
void BM_BlockFromFile(benchmark::State& state) {
    Files& f = Inputs();
    if (!f.ready)
        return state.SkipWithError("srec_cat could not make the input");
    CBlockUserSRecord block(nullptr, 0);
    UserBlockRecord record{};
    f.padded.copy(record.fileName, sizeof(record.fileName) - 1);
    for (auto _ : state) benchmark::DoNotOptimize(block.SetFromFile(&record, 1, false));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
}

// srec_cat reading the records and writing the binary image.
void BM_SrecCat(benchmark::State& state) {
    Files& f = Inputs();
    if (!f.ready)
        return state.SkipWithError("srec_cat could not make the input");
    const std::string out = qel::platform::PrivateTempPath("srec_cat_out.bin");
    const std::string command = "srec_cat '" + f.records + "' -motorola -o '" + out + "' -binary";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            return state.SkipWithError("srec_cat failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.text.size()));
}

BENCHMARK(BM_ParseText)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_BlockFromFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SrecCat)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

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
    const double cat = find("BM_SrecCat");
    if (cat > 0) {
        std::printf("\nS-record input: %zu bytes of text for a %zu-byte image\n",
                    Inputs().text.size(), kImageBytes);
        for (const char* name : {"BM_ParseText", "BM_BlockFromFile"}) {
            const double ours = find(name);
            if (ours > 0) {
                std::printf("%-18s %8.1f ms   srec_cat %8.1f ms   ratio (ours / srec_cat) %.3f\n",
                            name, ours * 1e3, cat * 1e3, ours / cat);
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
