// Memory traffic through the bench's automation interfaces with the timing
// model off: 1 MiB read through 8192-byte memory objects and written back,
// and the programmer model's write path.
#include "QelBench.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace qel::bench;

namespace {

// Completion is awaited by spinning on a flag, as a blocking client does.
class SpinSink final : public IDspUserEvents {
  public:
    std::atomic<int> done{0};
    std::atomic<int> failed{0};

    HResult QueryInterface(const Guid& iid, void** out) override {
        if (iid == IDspUserEvents::kIid || iid == IUnknown::kIid) {
            *out = static_cast<IDspUserEvents*>(this);
            return kOk;
        }
        *out = nullptr;
        return kNoInterface;
    }
    uint32_t AddRef() override { return 2; }
    uint32_t Release() override { return 1; }
    HResult OnTextRequest(std::string*) override { return kOk; }
    HResult OnRunning() override { return kOk; }
    HResult OnHalted(IDspValue*) override { return Done(); }
    HResult OnStepped() override { return kOk; }
    HResult OnMemoryDone(IDspMemory*, VariantBool f) override {
        if (f == kVariantTrue)
            failed.fetch_add(1);
        return Done();
    }
    HResult OnMemoryChanged(IDspMemory*, VariantBool) override { return kOk; }
    HResult OnRegisterDone(IDspRegister*, VariantBool) override { return kOk; }
    HResult OnBusyChanged(VariantBool) override { return kOk; }
    HResult OnPcChanged(IDspValue*) override { return kOk; }
    HResult OnStoppedAt(IDspValue*) override { return kOk; }
    HResult OnBreakpointSet(IDspValue*) override { return kOk; }
    HResult OnBreakpointCleared(IDspValue*) override { return kOk; }
    HResult OnProbePointSet(IDspValue*) override { return kOk; }
    HResult OnProbePointCleared(IDspValue*) override { return kOk; }
    HResult OnSymbolsChanged() override { return kOk; }
    HResult OnValueChanged(IDspValue*, int32_t, const char*) override { return kOk; }
    HResult OnProgramLoaded(int32_t, VariantBool) override { return Done(); }
    HResult OnResetDone(int32_t) override { return Done(); }
    HResult OnRestartDone(int32_t) override { return kOk; }

    void Wait() {
        while (done.load(std::memory_order_acquire) == 0) std::this_thread::yield();
        done.store(0, std::memory_order_relaxed);
    }

  private:
    HResult Done() {
        done.store(1, std::memory_order_release);
        return kOk;
    }
};

constexpr const char* kDescription = R"(
board B
module M tim=QT-6403 type=0x21
flash size=4M sector=64K address=0x90000000
processor P family=7 subfamily=21 revision=1
memory 0x00000000 0x40000 INTERNAL
memory 0x80000000 0x2000000 SDRAM
)";

struct Setup {
    std::string state;
    IApplication* app = nullptr;
    IDspUser* user = nullptr;
    SpinSink sink;
    IConnectionPoint* cp = nullptr;
    uint32_t cookie = 0;

    Setup() {
        state = (std::filesystem::temp_directory_path() /
                 ("qelbench-benchmark-" + std::to_string(std::random_device{}())))
                    .string();
        BenchOptions o;
        o.descriptionText = kDescription;
        o.stateFolder = state;
        QelBenchCreate(o, &app);
        IDspBoards* boards = nullptr;
        IDspBoard* board = nullptr;
        IDspTasks* tasks = nullptr;
        IDspTask* task = nullptr;
        app->GetDspBoards(&boards);
        boards->Item(0, &board);
        board->GetDspTasks(&tasks);
        tasks->Item(0, &task);
        task->GetDspUser(&user);
        task->Release();
        tasks->Release();
        board->Release();
        boards->Release();
        IConnectionPointContainer* cpc = nullptr;
        user->QueryInterface(IConnectionPointContainer::kIid, reinterpret_cast<void**>(&cpc));
        cpc->FindConnectionPoint(IDspUserEvents::kIid, &cp);
        cp->Advise(static_cast<IDspUserEvents*>(&sink), &cookie);
        cpc->Release();
    }
    ~Setup() {
        cp->Unadvise(cookie);
        cp->Release();
        user->Release();
        app->Release();
        std::error_code ec;
        std::filesystem::remove_all(state, ec);
    }
};

constexpr uint32_t kBase = 0x80000000;
constexpr uint32_t kTotal = 1 << 20;
constexpr uint32_t kPiece = 8192;

IDspMemory* MakeMemory(Setup& s, uint32_t address) {
    IDspValue* a = nullptr;
    IDspMemory* m = nullptr;
    s.user->CreateValue(kTypeAddress, address, &a);
    s.user->CreateMemory(a, kPiece, 0, &m);
    a->Release();
    return m;
}

// Each piece read, taken out word by word, written back from a fresh object.
void BM_ReadWriteBack1MiBWordByWord(benchmark::State& state) {
    Setup s;
    std::vector<uint32_t> words(kPiece / 4);
    for (auto _ : state) {
        for (uint32_t at = 0; at < kTotal; at += kPiece) {
            IDspMemory* m = MakeMemory(s, kBase + at);
            s.user->ReadMem(m, kVariantFalse, kVariantFalse);
            s.sink.Wait();
            for (uint32_t i = 0; i < kPiece / 4; ++i) m->GetWord(4 * i, &words[i]);
            m->Release();
            IDspMemory* w = MakeMemory(s, kBase + at);
            w->WriteBytes(0, words.data(), kPiece);
            s.user->WriteMem(w, kVariantTrue, kVariantFalse);
            s.sink.Wait();
            w->Release();
        }
    }
    if (s.sink.failed.load())
        state.SkipWithError("a memory request failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * kTotal);
}
BENCHMARK(BM_ReadWriteBack1MiBWordByWord)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with bulk copies out of and into the memory objects.
void BM_ReadWriteBack1MiBBulk(benchmark::State& state) {
    Setup s;
    std::vector<uint8_t> bytes(kPiece);
    for (auto _ : state) {
        for (uint32_t at = 0; at < kTotal; at += kPiece) {
            IDspMemory* m = MakeMemory(s, kBase + at);
            s.user->ReadMem(m, kVariantFalse, kVariantFalse);
            s.sink.Wait();
            m->ReadBytes(0, bytes.data(), kPiece);
            s.user->WriteMem(m, kVariantTrue, kVariantFalse);
            s.sink.Wait();
            m->Release();
        }
    }
    if (s.sink.failed.load())
        state.SkipWithError("a memory request failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * kTotal);
}
BENCHMARK(BM_ReadWriteBack1MiBBulk)->Unit(benchmark::kMillisecond)->UseRealTime();

// Programmer command 4 over 1 MiB of inline records (16 sectors), the image
// file synced at the end as every command does.
void BM_ProgramOneMiB(benchmark::State& state) {
    Setup s;
    IBenchControl* control = nullptr;
    s.app->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control));
    auto poke = [&](uint32_t address, const void* data, uint32_t length) {
        control->PokeMemory(0, 0, address, data, length);
    };
    auto word = [&](uint32_t address) {
        uint32_t w = 0;
        control->PeekMemory(0, 0, address, &w, 4);
        return w;
    };
    // FDB payload at the programmer base, programmer at base + 0x1000.
    const char fdb[12] = {'Q', 'E', 'L', 'F', 'D', 'B', '0', '1', 0x21, 0, 0, 0};
    poke(0, fdb, sizeof(fdb));
    const std::string prog = s.state + "/fprog.out";
    {
        std::vector<uint8_t> f(22 + 28 + 48, 0);
        auto put = [&](size_t at, uint32_t v, int n) {
            for (int i = 0; i < n; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
        };
        put(2, 1, 2);
        put(16, 28, 2);
        put(22 + 16, 0x1000, 4);
        put(50 + 8, 0x1000, 4);
        put(50 + 16, 20, 4);
        put(50 + 20, 98, 4);
        const char sig[8] = {'Q', 'E', 'L', 'F', 'P', 'R', 'O', 'G'};
        f.insert(f.end(), sig, sig + 8);
        f.resize(f.size() + 12, 0);
        put(98 + 8, 1, 4);
        put(98 + 12, 0x800, 4);
        put(98 + 16, 0x21, 4);
        std::filesystem::create_directories(s.state);
        FILE* out = std::fopen(prog.c_str(), "wb");
        std::fwrite(f.data(), 1, f.size(), out);
        std::fclose(out);
    }
    s.user->Load(prog.c_str(), kVariantFalse);
    s.sink.Wait();
    s.user->Run(nullptr);
    const uint32_t cb = 0x800, transfer = 0x80010000, transferSize = 0x200000;
    auto command = [&](uint32_t code, std::vector<uint32_t> args) {
        uint32_t one = 1, two = 2;
        poke(cb + 40, &one, 4);
        for (size_t i = 0; i < args.size(); ++i) poke(cb + 4 + 4 * uint32_t(i), &args[i], 4);
        poke(cb, &code, 4);
        poke(cb + 40, &two, 4);
        control->WaitProgrammerIdle(0, 0);
        return word(cb + 4);
    };
    command(1, {0, 0, transfer, transferSize, 0x80000000, 0x80400000, 0x100000});
    std::vector<uint8_t> records(12 + (1 << 20) + 12, 0x5A);
    const uint32_t head[3] = {0, 0, 1 << 20};
    std::memcpy(records.data(), head, 12);
    std::memset(records.data() + 12 + (1 << 20), 0, 12);
    poke(transfer, records.data(), static_cast<uint32_t>(records.size()));
    for (auto _ : state)
        if (command(4, {}) != 0)
            state.SkipWithError("command 4 failed");
    state.SetBytesProcessed(int64_t(state.iterations()) << 20);
    control->Release();
}
BENCHMARK(BM_ProgramOneMiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
