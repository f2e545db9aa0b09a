// The bench's programmer model driven through the wrappers and the blocking
// DSP user, and the bench's fault switches against the DSP user's rules.
#include "BenchHost.h"
#include "engine/Exc.h"
#include "firmware/images/CoffBuilder.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using namespace ccs_test;
using namespace qel::bench;

constexpr uint32_t kSector = 0x10000;  // QT-6201 and QT-6403

class BenchTest : public testing::Test {
  protected:
    void SetUp() override {
        try {
            bench = std::make_unique<BenchHost>(dir.Path());
        } catch (const BenchUnavailable& e) {
            GTEST_SKIP() << e.what();
        }
    }

    qel::fixtures::TestTempDir dir;
    std::unique_ptr<BenchHost> bench;

    std::unique_ptr<ProgrammerHost> Host(const std::string& processorName,
                                         const TimFiles& tim = Qt6201()) {
        return std::make_unique<ProgrammerHost>(*bench, bench->ProcessorIndex(processorName), tim,
                                                dir.Path());
    }
    static std::vector<uint8_t> Erased(uint32_t length) {
        return std::vector<uint8_t>(length, 0xFF);
    }
};

// ---------------------------------------------------------------- enumeration

TEST_F(BenchTest, WrappersEnumerateBoardsAndProcessors) {
    EXPECT_EQ(bench->boards.Count(), 1);
    EXPECT_EQ(bench->board.GetName(), "QEL carrier board");
    EXPECT_EQ(bench->tasks.Item(0).GetName(), "CPU_1");
    EXPECT_EQ(bench->tasks.Item(bench->ProcessorIndex("CPU_3B")).GetName(), "CPU_3B");
    try {
        bench->boards.Item(5);
        FAIL();
    } catch (const CCException& e) {
        EXPECT_EQ(e.Code(), kBadIndex);
    }
    CCDspUser user = bench->User(0);
    EXPECT_TRUE(user.AllConnected());
    // family 7, sub-family 20, revision 1
    EXPECT_EQ(user.GetProcessorId(), (7u << 22) | (20u << 10) | (1u << 3));
}

// ---------------------------------------------------------------- programmer model

struct InitCase {
    const char* processor;
    uint32_t result;
};

class InitialisationTest : public BenchTest, public testing::WithParamInterface<InitCase> {};

TEST_P(InitialisationTest, OnlyTheFirstProcessorOfAModuleReachesTheFlash) {
    auto host = Host(GetParam().processor, Qt6403());
    EXPECT_EQ(host->LoadProgrammer(), GetParam().result);
    ProgrammerInfo info;
    ASSERT_EQ(bench->Control().GetProgrammerInfo(0, host->processor, &info), kOk);
    EXPECT_EQ(info.running, 1);
    EXPECT_EQ(info.timType, 0x21u);
    EXPECT_EQ(info.commandBlock, 0x800u);
}

INSTANTIATE_TEST_SUITE_P(Qt6403, InitialisationTest,
                         testing::Values(InitCase{"CPU_3A", 0}, InitCase{"CPU_3B", 1},
                                         InitCase{"CPU_3C", 1}));

TEST_F(BenchTest, SecondProcessorCannotUseTheFlashCommands) {
    auto second = Host("CPU_3B", Qt6403());
    ASSERT_EQ(second->LoadProgrammer(), 1u);
    EXPECT_NE(second->Command(2, {0, 64}), 0u);
    EXPECT_EQ(second->Command(9), 0u);
}

TEST_F(BenchTest, DirectoryOfAnErasedFlashIsEmpty) {
    auto host = Host("CPU_1");
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    EXPECT_EQ(host->Command(9), 0u);
    EXPECT_EQ(host->ReadFlash(0, 4096), Erased(4096));
}

TEST_F(BenchTest, WrittenRecordsReadBack) {
    auto host = Host("CPU_1");
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    // One record across a sector boundary, one of an odd length further on.
    const auto first = Pattern(12000, 1);
    const auto second = Pattern(333, 2);
    ASSERT_EQ(host->Program({{0, kSector - 5000, first}, {0, 3 * kSector + 7, second}}), 0u);
    EXPECT_EQ(host->ReadFlash(kSector - 5000, 12000), first);
    EXPECT_EQ(host->ReadFlash(3 * kSector + 7, 333), second);
    // Bytes no record covers stay erased, the sector's start included.
    EXPECT_EQ(host->ReadFlash(3 * kSector, 7), Erased(7));
    EXPECT_EQ(host->ReadFlash(3 * kSector + 340, 100), Erased(100));
}

TEST_F(BenchTest, WriteOverUnerasedBytesComesOutRight) {
    auto host = Host("CPU_1");
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    const auto before = Pattern(2 * kSector, 3);
    ASSERT_EQ(host->Program({{0, 0, before}}), 0u);
    // 0 -> 1 bit changes need an erase: the model erases each sector it programs.
    const auto after = Pattern(1000, 4);
    ASSERT_EQ(host->Program({{0, kSector + 100, after}}), 0u);
    auto expected = before;
    std::copy(after.begin(), after.end(), expected.begin() + kSector + 100);
    EXPECT_EQ(host->ReadFlash(0, 2 * kSector), expected);
}

TEST_F(BenchTest, DirectoryListsAWrittenChain) {
    auto host = Host("CPU_1");
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    // An init image (56-byte header, magic at 20, size at 16) and a termination block.
    std::vector<uint8_t> init(256, 0);
    auto put = [](std::vector<uint8_t>& v, size_t at, uint32_t x) {
        for (int b = 0; b < 4; ++b) v[at + b] = uint8_t(x >> (8 * b));
    };
    put(init, 12, 256);
    put(init, 16, 256);
    put(init, 20, 0x19283746);
    std::vector<uint8_t> term(48, 0);
    put(term, 0, 0xFFFF);
    put(term, 8, 0x12341234);
    put(term, 12, 48);
    put(term, 16, 48);
    ASSERT_EQ(host->Program({{0, 0, init}, {0, 256, term}}), 0u);
    const uint32_t length = host->Command(9);
    ASSERT_EQ(length, 4u + 56 + 4 + 48);
    const auto listing = host->ReadTarget(host->buffers.transfer, length);
    EXPECT_EQ(listing[0], 1);  // one block entry
    EXPECT_TRUE(std::equal(init.begin(), init.begin() + 56, listing.begin() + 4));
    EXPECT_EQ(listing[60] | listing[61] << 8, 256);  // its flash offset
    EXPECT_TRUE(std::equal(term.begin(), term.end(), listing.begin() + 64));
}

TEST_F(BenchTest, KeptImagesSurviveAReload) {
    auto host = Host("CPU_1");
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    const auto image = Pattern(5000, 5);
    ASSERT_EQ(host->Program({{0, 2 * kSector, image}}), 0u);
    const uint32_t handle = host->Command(8, {2 * kSector, 5000});
    ASSERT_NE(handle, 0u);
    // The programmer is loaded anew before each write (the staging load
    // overwrote its transfer buffer); the kept image lives in the save area.
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    ASSERT_EQ(host->Program({{0, 2 * kSector, Pattern(5000, 6)},
                             {handle, 9 * kSector + 4, std::vector<uint8_t>(5000)}}),
              0u);
    EXPECT_EQ(host->ReadFlash(9 * kSector + 4, 5000), image);
    EXPECT_EQ(host->ReadFlash(2 * kSector, 5000), Pattern(5000, 6));
}

TEST_F(BenchTest, EraseProgressCountsSectors) {
    auto host = Host("CPU_1");
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    ASSERT_EQ(host->Program({{0, 31 * kSector + 10, Pattern(64, 7)}, {0, 0, Pattern(64, 8)}}), 0u);
    ASSERT_EQ(host->Command(5), 0u);
    EXPECT_EQ(host->Word(kWordProgress), 32u);
    EXPECT_EQ(host->ReadFlash(0, 64), Erased(64));
    EXPECT_EQ(host->ReadFlash(31 * kSector + 10, 64), Erased(64));
}

TEST_F(BenchTest, ChipEraseErasesWithoutProgress) {
    auto host = Host("CPU_1");
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    ASSERT_EQ(host->Program({{0, 17 * kSector, Pattern(4096, 9)}}), 0u);
    ASSERT_EQ(host->Command(10), 0u);
    EXPECT_EQ(host->Word(kWordProgress), 0u);
    EXPECT_EQ(host->ReadFlash(17 * kSector, 4096), Erased(4096));
}

TEST_F(BenchTest, PowerCutLeavesAPartlyWrittenImageThatANewBenchReadsBack) {
    const auto before = Pattern(4 * kSector, 10);
    const auto after = Pattern(4 * kSector, 11);
    {
        auto host = Host("CPU_1");
        ASSERT_EQ(host->LoadProgrammer(), 0u);
        ASSERT_EQ(host->Program({{0, 0, before}}), 0u);
        ASSERT_EQ(bench->Control().SetFault(0, host->processor, Fault::PowerCut, 2), kOk);
        host->Stage({{0, 0, after}});
        host->StartCommand(4);
        // Returns once the power failed: the command never completes.
        ASSERT_EQ(bench->Control().WaitProgrammerIdle(0, host->processor), kOk);
        // The target is dead until reset: memory requests fail.
        try {
            host->Word(kWordStatus);
            ADD_FAILURE() << "a dead target answered";
        } catch (const CExc& e) {
            EXPECT_EQ(e.code, ERR_CCS_MEMORY_ABORTED);
        }
        host.reset();
        bench.reset();
    }
    bench = std::make_unique<BenchHost>(dir.Path());
    auto host = Host("CPU_1");
    ASSERT_EQ(host->LoadProgrammer(), 0u);
    auto expected = after;
    std::copy(before.begin() + 2 * kSector, before.end(), expected.begin() + 2 * kSector);
    EXPECT_EQ(host->ReadFlash(0, 4 * kSector), expected);
}

// ---------------------------------------------------------------- fault switches

// Observes the notifications of a processor with all twelve interfaces.
class Observer : public CCDspUser {
  public:
    explicit Observer(const CCDspUser& user) : CCDspUser(NoConnect{}, user.GetInterface(), true) {
        ConnectAllEvents(true);
    }
    ~Observer() override { DisconnectForDestruction(); }
    void OnMemoryDone(const CCDspMemory&, bool) override {
        std::lock_guard<std::mutex> lock(mutex);
        ++memoryDone;
        cv.notify_all();
    }
    void WaitForMemoryDone(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return memoryDone >= count; });
    }
    std::mutex mutex;
    std::condition_variable cv;
    int memoryDone = 0;
};

class FaultTest : public BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        if (IsSkipped())
            return;
        index = bench->ProcessorIndex("CPU_1");
        user = CNewDspUser(bench->User(index));
        user.SetOwner(&owner);
        memory = CCDspMemory(user, CCDspAddr(user, 0x80000000), 64);
    }
    void TearDown() override { user.Abort(); }
    void Arm(Fault fault, uint32_t count = 1) {
        ASSERT_EQ(bench->Control().SetFault(0, index, fault, count), kOk);
    }
    uint32_t CodeOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const CExc& e) {
            EXPECT_STREQ(e.source, "NewDspUser");
            return e.code;
        }
        return 0;
    }

    struct Owner : CDspUserOwner {
        void DspStateChanged() override { ++changes; }
        std::atomic<int> changes{0};
    } owner;
    int index = 0;
    CNewDspUser user;
    CCDspMemory memory;
};

TEST_F(FaultTest, AbortBeforeAnOperationMakesNoRequest) {
    Arm(Fault::RefuseRequest);
    user.Abort();
    EXPECT_EQ(CodeOf([&] { user.Halt(); }), ERR_DSP_USER_ABORTED);
    EXPECT_EQ(CodeOf([&] { user.ReadMem(memory); }), ERR_DSP_USER_ABORTED);
    // The refusal is still armed: nothing reached the bench.
    CNewDspUser other(bench->User(index));
    EXPECT_THROW(other.Halt(), CCException);
    other.Halt();
}

TEST_F(FaultTest, AbortDuringAWaitThatCanNeverEnd) {
    Observer observer(bench->User(index));
    // A user without the first interface never hears a completion.
    Arm(Fault::MissingEvents, 1);
    CNewDspUser deaf(bench->User(index));
    EXPECT_FALSE(deaf.AllConnected());
    EXPECT_FALSE(deaf.IsConnected(IDspUserEvents::kIid));
    std::atomic<bool> returned{false};
    std::atomic<uint32_t> raised{0};
    std::thread worker([&] {
        raised = CodeOf([&] { deaf.ReadMem(memory); });
        returned = true;
    });
    observer.WaitForMemoryDone(1);  // the request went out and was completed
    EXPECT_STREQ(deaf.PendingOperation(), "ReadMem");
    EXPECT_FALSE(returned);
    deaf.Abort();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(raised, ERR_DSP_USER_ABORTED);  // the user never heard the completion
    EXPECT_STREQ(deaf.PendingOperation(), "");
}

TEST_F(FaultTest, MemoryFailureDuringReadMemThenACleanRead) {
    Arm(Fault::FailMemory);
    EXPECT_EQ(CodeOf([&] { user.ReadMem(memory); }), ERR_CCS_MEMORY_ABORTED);
    EXPECT_EQ(CodeOf([&] { user.ReadMem(memory); }), 0u);
    EXPECT_EQ(owner.changes, 0);
}

TEST_F(FaultTest, ResetNotificationDuringHaltTellsTheOwner) {
    Arm(Fault::UnrequestedReset);
    EXPECT_EQ(CodeOf([&] { user.Halt(); }), 0u);
    EXPECT_EQ(owner.changes, 1);
}

TEST_F(FaultTest, UnrequestedHaltDuringReadIsIgnoredAndAddressIsReported) {
    Arm(Fault::UnrequestedHalt);
    EXPECT_EQ(CodeOf([&] { user.ReadMem(memory); }), 0u);
    EXPECT_EQ(owner.changes, 0);
    Arm(Fault::UnrequestedAddress);
    EXPECT_EQ(CodeOf([&] { user.ReadMem(memory); }), 0u);
    EXPECT_EQ(owner.changes, 1);
}

TEST_F(FaultTest, RestartFailureDuringLoadLetsTheLoadFinish) {
    const std::string path = dir.Path() + "/prog.out";
    qel::firmware::CoffBuilder coff;
    coff.AddSection(".text", 0x80000100, {1, 2, 3, 4, 5, 6, 7, 8});
    coff.SetEntryPoint(0x80000100);
    coff.WriteTo(path);
    Arm(Fault::RestartFailure);
    EXPECT_EQ(CodeOf([&] { user.Load(path.c_str()); }), ERR_CCS_RESTART_FAILED);
    uint8_t loaded[8] = {};
    ASSERT_EQ(bench->Control().PeekMemory(0, index, 0x80000100, loaded, 8), kOk);
    EXPECT_EQ(loaded[7], 8);
    Arm(Fault::FailLoad);
    EXPECT_EQ(CodeOf([&] { user.Load(path.c_str()); }), ERR_CCS_LOAD_FAILED);
    EXPECT_EQ(CodeOf([&] { user.Load(path.c_str()); }), 0u);
}

TEST_F(FaultTest, RefusedRequestThrowsTheBenchCode) {
    Arm(Fault::RefuseRequest);
    try {
        user.WriteMem(memory);
        FAIL();
    } catch (const CCException& e) {
        EXPECT_EQ(e.Code(), kRequestRefused);
    }
    EXPECT_STREQ(user.PendingOperation(), "");
    EXPECT_EQ(CodeOf([&] { user.WriteMem(memory); }), 0u);
}

class MissingEventsTest : public FaultTest, public testing::WithParamInterface<int> {};

TEST_P(MissingEventsTest, ElevenOfTwelveConnect) {
    const int number = GetParam();
    Arm(Fault::MissingEvents, uint32_t(number));
    CNewDspUser partial(bench->User(index));
    int connected = 0;
    for (const Guid& iid : kUserEventsIids) connected += partial.IsConnected(iid) ? 1 : 0;
    EXPECT_EQ(connected, 11);
    EXPECT_FALSE(partial.AllConnected());
    // Assigning it carries no connection over.
    user = partial;
    for (const Guid& iid : kUserEventsIids) EXPECT_FALSE(user.IsConnected(iid));
    Arm(Fault::MissingEvents, 0);
    user = CNewDspUser(bench->User(index));
    EXPECT_TRUE(user.AllConnected());
    EXPECT_EQ(CodeOf([&] { user.ReadMem(memory); }), 0u);
}

INSTANTIATE_TEST_SUITE_P(EachInterface, MissingEventsTest,
                         testing::Values(1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13));

}  // namespace
