// Moving target memory through the blocking DSP user: 1 MiB read in memory
// objects of 8192 bytes (the piece size of the flash model), taken out word by
// word, and written back. The bench's timing model is off, so this measures
// the automation layer, the notification round trips and the bench itself.
#include "bench/include/QelBench.h"
#include "engine/ccs/CCSWrappers.h"
#include "engine/ccs/NewDspUser.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace qel::bench;

constexpr uint32_t kTotal = 1u << 20;
constexpr uint32_t kPiece = 8192;
constexpr uint32_t kAddress = 0x80000000;  // SDRAM of the first processor

// One bench with its flash images in a folder of its own, timing off.
class Bench {
  public:
    Bench() {
        std::random_device random;
        folder_ =
            std::filesystem::temp_directory_path() / ("qel-ccs-bench-" + std::to_string(random()));
        std::filesystem::create_directories(folder_);
        BenchOptions options;
        options.stateFolder = folder_.string();
        options.descriptionText = QelBenchDefaultDescription() + "\ntiming off\n";
        IApplication* raw = nullptr;
        if (Failed(QelBenchCreate(options, &raw)))
            throw std::runtime_error("no bench");
        app_ = CCApplication(raw, false);
        user = CNewDspUser(app_.GetDspBoards().Item(0).GetDspTasks().Item(0).GetDspUser());
    }
    ~Bench() {
        user.Abort();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    CNewDspUser user;

  private:
    std::filesystem::path folder_;
    CCApplication app_;
};

void BM_ReadAndWriteBack1MiB(benchmark::State& state) {
    std::unique_ptr<Bench> bench;
    try {
        bench = std::make_unique<Bench>();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    CNewDspUser& user = bench->user;
    std::vector<CCDspMemory> pieces;
    for (uint32_t offset = 0; offset < kTotal; offset += kPiece)
        pieces.emplace_back(user, CCDspAddr(user, kAddress + offset), kPiece);
    std::vector<uint32_t> words(kTotal / 4);

    for (auto _ : state) {
        uint32_t* out = words.data();
        for (const CCDspMemory& piece : pieces) {
            user.ReadMem(piece);
            for (uint32_t offset = 0; offset < kPiece; offset += 4) *out++ = piece.GetWord(offset);
        }
        for (const CCDspMemory& piece : pieces) user.WriteMem(piece);
        benchmark::DoNotOptimize(words.data());
    }
    // 1 MiB counted once although it crosses twice.
    state.SetBytesProcessed(int64_t(state.iterations()) * kTotal);
    state.counters["round_trips"] = benchmark::Counter(
        double(2 * pieces.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadAndWriteBack1MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
