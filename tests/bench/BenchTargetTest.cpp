// The target model through the automation interfaces: memory, reset, load,
// execution state and the order of notifications.
#include "TestBench.h"

#include <chrono>

namespace benchtest {
namespace {

using Target = BenchTest;

TEST_F(Target, MemoryRoundTripsInEveryRegion) {
    Client& c = Proc(0, 0);
    const auto bytes = Pattern(8192, 3);
    for (uint32_t address : {0x00000100u, 0x0003E000u, 0x80000000u, 0x800FE000u}) {
        ASSERT_TRUE(c.Write(address, bytes)) << std::hex << address;
        EXPECT_EQ(c.Read(address, 8192), bytes) << std::hex << address;
    }
}

TEST_F(Target, UntouchedMemoryReadsZero) {
    Client& c = Proc(0, 0);
    EXPECT_EQ(c.Read(0x80080000, 64), std::vector<uint8_t>(64, 0));
}

TEST_F(Target, GetWordSeesWordsInAddressOrder) {
    Client& c = Proc(0, 0);
    ASSERT_TRUE(c.Write(0x80000000, {1, 0, 0, 0, 0x78, 0x56, 0x34, 0x12}));
    IDspValue* a = nullptr;
    IDspMemory* m = nullptr;
    ASSERT_EQ(c.User()->CreateValue(kTypeAddress, 0x80000000, &a), kOk);
    ASSERT_EQ(c.User()->CreateMemory(a, 8, 0, &m), kOk);
    const size_t from = c.Events().Count();
    ASSERT_EQ(c.User()->ReadMem(m, kVariantFalse, kVariantFalse), kOk);
    c.Events().WaitFor(Event::MemoryDone, from);
    uint32_t w0 = 0, w1 = 0;
    EXPECT_EQ(m->GetWord(0, &w0), kOk);
    EXPECT_EQ(m->GetWord(4, &w1), kOk);
    EXPECT_EQ(w0, 1u);
    EXPECT_EQ(w1, 0x12345678u);
    EXPECT_EQ(m->GetWord(6, &w1), kInvalidArg);
    m->Release();
    a->Release();
}

struct BadRange {
    const char* what;
    uint32_t address;
    uint32_t length;
    bool write;
};
class OutOfRegion : public BenchTest, public ::testing::WithParamInterface<BadRange> {};

TEST_P(OutOfRegion, CompletesWithTheFailureFlag) {
    Client& c = Proc(0, 0);
    const BadRange& r = GetParam();
    std::vector<uint8_t> bytes(r.length, 0x5A);
    const size_t from = c.Events().Count();
    const bool ok = r.write ? c.Write(r.address, bytes) : c.Read(r.address, bytes.data(), r.length);
    EXPECT_FALSE(ok);
    // The flag is exactly VARIANT_TRUE.
    EXPECT_EQ(c.Events().At(c.Events().WaitFor(Event::MemoryDone, from)).flag, kVariantTrue);
    // Nothing of a failed write landed.
    if (r.write && r.address < 0x00040000) {
        std::vector<uint8_t> zero(0x00040000 - r.address, 0);
        EXPECT_EQ(c.Read(r.address, static_cast<uint32_t>(zero.size())), zero);
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, OutOfRegion,
                         ::testing::Values(BadRange{"gap", 0x40000000, 16, false},
                                           BadRange{"gapWrite", 0x40000000, 16, true},
                                           BadRange{"straddlesEnd", 0x0003FFF0, 32, true},
                                           BadRange{"straddlesEndRead", 0x800FFFF0, 32, false},
                                           BadRange{"flashWrite", 0x90000000, 4, true},
                                           BadRange{"pastFlash", 0x9000FFFC, 8, false},
                                           BadRange{"wraps", 0xFFFFFFFC, 8, false}),
                         [](const auto& p) { return std::string(p.param.what); });

TEST_F(Target, SecondProcessorDoesNotSeeTheFlash) {
    Client& c = Proc(0, 1);
    uint32_t w = 0;
    EXPECT_FALSE(c.Read(0x90000000, &w, 4));
}

TEST_F(Target, FlashReadsAsErasedAndIsReadOnly) {
    Client& c = Proc(0, 0);
    EXPECT_EQ(c.Read(0x90000000, 256), std::vector<uint8_t>(256, 0xFF));
    EXPECT_FALSE(c.Write(0x90000000, std::vector<uint8_t>(4, 0)));
}

// Flash bytes for the start of a module: an init image head with a TIM type.
std::vector<uint8_t> BootBytes(uint32_t timType) {
    std::vector<uint8_t> b(kFlashSize, 0xFF);
    for (size_t i = 0; i < 512; ++i) b[i] = static_cast<uint8_t>(i * 3);
    PutU32(b, 16, 0x100);
    PutU32(b, 20, 0x19283746);
    PutU32(b, 40, timType);
    return b;
}

TEST_F(Target, ResetCopiesTheStartOfTheFlashToAddressZero) {
    Close();
    const auto flash = BootBytes(0x11);
    dir_.Write("state/board0-module0-QT-6201.img", flash);
    Open();
    for (int p : {0, 1}) {
        Client& c = Proc(0, p);
        ASSERT_TRUE(c.Write(0, std::vector<uint8_t>(512, 0xEE)));
        EXPECT_EQ(c.Reset(), 0);
        const auto seen = c.Read(0, 512);
        // "copy=256": the first 256 bytes come from the flash, the rest stays.
        EXPECT_TRUE(std::equal(seen.begin(), seen.begin() + 256, flash.begin())) << p;
        EXPECT_EQ(std::vector<uint8_t>(seen.begin() + 256, seen.end()),
                  std::vector<uint8_t>(256, 0xEE));
        EXPECT_EQ(GetU32(c.Read(0, 72), 40), 0x11u);
    }
}

TEST_F(Target, MappedFamilyIsDetectedWhereTheFlashIsMapped) {
    Close();
    const auto flash = BootBytes(0x31);
    dir_.Write("state/board0-module1-QT-6710B.img", flash);
    Open();
    Client& c = Proc(0, 2);
    EXPECT_EQ(c.Reset(), 0);
    EXPECT_EQ(GetU32(c.Read(0, 72), 40), 0u);  // nothing copied
    EXPECT_EQ(GetU32(c.Read(0xB0000000, 72), 40), 0x31u);
}

TEST_F(Target, LoadWritesEverySectionAndKeepsTheEntryPoint) {
    Client& c = Proc(0, 0);
    const auto text = Pattern(100, 1);
    const auto data = Pattern(6, 9);
    CoffSection bss{".bss", 0x80002000, {}, 0x80};
    const std::string path = dir_.Write(
        "app.out",
        MakeCoff({{".text", 0x2000, text}, {".data", 0x80001000, data, 0x40}, bss}, 0x2000));
    EXPECT_EQ(c.Load(path), 0);
    EXPECT_EQ(c.Read(0x2000, 100), text);
    EXPECT_EQ(c.Read(0x80001000, 6), data);
    EXPECT_EQ(c.ExecState(), kExecHalted);
    c.Halt();
    const auto events = c.Events().Events();
    EXPECT_EQ(events.back().kind, Event::Halted);
    EXPECT_EQ(events.back().address, 0x2000u);
}

TEST_F(Target, LoadWithoutOptionalHeaderLoads) {
    Client& c = Proc(0, 0);
    const std::string path =
        dir_.Write("raw.out", MakeCoff({{".text", 0x3000, Pattern(16, 4)}}, 0, false));
    EXPECT_EQ(c.Load(path), 0);
    EXPECT_EQ(c.Read(0x3000, 16), Pattern(16, 4));
}

struct BadLoad {
    const char* what;
    std::vector<uint8_t> file;  // empty: no file at all
};
class LoadFailure : public BenchTest, public ::testing::WithParamInterface<BadLoad> {};

TEST_P(LoadFailure, CompletesWithNonZeroStatusAndWritesNothing) {
    Client& c = Proc(0, 0);
    const BadLoad& b = GetParam();
    const std::string path =
        b.file.empty() ? dir_.File("missing.out") : dir_.Write("bad.out", b.file);
    EXPECT_NE(c.Load(path), 0);
    EXPECT_EQ(c.Read(0x2000, 16), std::vector<uint8_t>(16, 0));
}

std::vector<uint8_t> Truncated() {
    auto f = MakeCoff({{".text", 0x2000, Pattern(64, 1)}}, 0x2000);
    f.resize(f.size() - 10);
    return f;
}
std::vector<uint8_t> WrongOptionalSize() {
    auto f = MakeCoff({{".text", 0x2000, Pattern(16, 1)}}, 0x2000);
    f[16] = 36;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadFailure,
    ::testing::Values(
        BadLoad{"missing", {}}, BadLoad{"tiny", {1, 2, 3}}, BadLoad{"truncated", Truncated()},
        BadLoad{"optionalHeader", WrongOptionalSize()},
        BadLoad{"intoTheFlash",
                MakeCoff({{".text", 0x2000, Pattern(16, 1)}, {".x", 0x90000000, {1, 2}}}, 0)},
        BadLoad{"outsideRegions",
                MakeCoff({{".text", 0x2000, Pattern(16, 1)}, {".x", 0x50000000, {1}}}, 0)}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(Target, RunAndHaltChangeTheExecutionState) {
    Client& c = Proc(0, 0);
    EXPECT_EQ(c.ExecState(), kExecHalted);
    EXPECT_EQ(c.Run(), kOk);
    EXPECT_EQ(c.ExecState(), kExecRunning);
    c.Halt();
    EXPECT_EQ(c.ExecState(), kExecHalted);
    EXPECT_EQ(c.Run(), kOk);
    EXPECT_EQ(c.Reset(), 0);
    EXPECT_EQ(c.ExecState(), kExecHalted);
}

TEST_F(Target, ProcessorIdsComeFromTheDescription) {
    uint32_t id = 0;
    EXPECT_EQ(Proc(0, 0).User()->GetProcessorId(&id), kOk);
    EXPECT_EQ(id, (7u << 22) | (20u << 10) | (1u << 3));
    EXPECT_EQ(Proc(0, 2).User()->GetProcessorId(&id), kOk);
    EXPECT_EQ(id, (9u << 22) | (30u << 10) | (1u << 3));
}

TEST_F(Target, CompletionsArriveInRequestOrder) {
    Client& c = Proc(0, 0);
    IDspValue* a = nullptr;
    ASSERT_EQ(c.User()->CreateValue(kTypeAddress, 0x80000000, &a), kOk);
    std::vector<IDspMemory*> mems(20);
    for (auto& m : mems) ASSERT_EQ(c.User()->CreateMemory(a, 64, 0, &m), kOk);
    const size_t from = c.Events().Count();
    for (size_t i = 0; i < mems.size(); ++i) {
        if (i % 2)
            ASSERT_EQ(c.User()->ReadMem(mems[i], kVariantFalse, kVariantFalse), kOk);
        else
            ASSERT_EQ(c.User()->WriteMem(mems[i], kVariantTrue, kVariantFalse), kOk);
    }
    ASSERT_EQ(control_->WaitIdle(), kOk);
    const auto events = c.Events().Events();
    ASSERT_EQ(events.size(), from + mems.size());
    for (size_t i = 0; i < mems.size(); ++i) EXPECT_EQ(events[from + i].memory, mems[i]);
    for (auto* m : mems) m->Release();
    a->Release();
}

TEST_F(Target, BoardsRunTheirRequestsIndependently) {
    Client& a = Proc(0, 0);
    Client& b = Proc(1, 0);
    const auto x = Pattern(4096, 1);
    const auto y = Pattern(4096, 2);
    ASSERT_TRUE(a.Write(0x1000, x));
    ASSERT_TRUE(b.Write(0x1000, y));
    EXPECT_EQ(a.Read(0x1000, 4096), x);
    EXPECT_EQ(b.Read(0x1000, 4096), y);
}

TEST_F(Target, TimingModelDelaysCompletions) {
    Close();
    std::string text = kTestDescription;
    text.replace(text.find("module M0 tim=QT-6201 type=0x11\n"), 32,
                 "module M0 tim=QT-6201 type=0x11\ntiming latency=30000\n");
    Open(text);
    Client& c = Proc(0, 0);
    const auto start = std::chrono::steady_clock::now();
    c.Word(0x80000000);
    // A lower bound: sleeping never ends early.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace benchtest
