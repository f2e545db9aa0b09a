// The blocking DSP user against a hand-driven user object: the test decides
// which notification comes, when, and on which thread.
#include "FakeAutomation.h"
#include "engine/Exc.h"
#include "engine/ccs/NewDspUser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using namespace ccs_test;

class CountingOwner : public CDspUserOwner {
  public:
    void DspStateChanged() override { ++changes; }
    std::atomic<int> changes{0};
};

// One of the five operations, run on a user.
struct Operation {
    const char* name;
    std::function<void(CNewDspUser&, const CCDspMemory&)> run;
    const char* request;  // the fake's log entry
};

const Operation kHalt{"Halt", [](CNewDspUser& u, const CCDspMemory&) { u.Halt(); }, "Halt"};
const Operation kLoad{"Load", [](CNewDspUser& u, const CCDspMemory&) { u.Load("/p.out"); },
                      "Load:/p.out:0"};
const Operation kReadMem{"ReadMem", [](CNewDspUser& u, const CCDspMemory& m) { u.ReadMem(m); },
                         "ReadMem:0:0"};
const Operation kWriteMem{"WriteMem", [](CNewDspUser& u, const CCDspMemory& m) { u.WriteMem(m); },
                          "WriteMem:-1:0"};
const Operation kReset{"Reset", [](CNewDspUser& u, const CCDspMemory&) { u.Reset(); }, "Reset"};

class DspUserFixture {
  public:
    DspUserFixture() : user(CCDspUser(&fake, true)) {
        user.SetOwner(&owner);
        CCDspUser plain(&fake, true);
        memory = CCDspMemory(plain, CCDspAddr(plain, 0x80000000), 16);
    }

    // Delivers to every connected sink of the events interface.
    template <class Events>
    void Send(const std::function<HResult(Events*)>& call) {
        fake.source.Fire<Events>(call);
    }
    void SendMemoryDone(VariantBool failed) {
        Send<IDspUserEvents>([&](IDspUserEvents* s) {
            return s->OnMemoryDone(static_cast<IDspMemory*>(memory.GetInterface()), failed);
        });
    }
    void SendHalted() {
        FakeValue pc;
        Send<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnHalted(&pc); });
    }
    // The completion of an operation, as the server sends it.
    void Complete(const std::string& request) {
        if (request == "Halt")
            SendHalted();
        if (request.rfind("Load", 0) == 0)
            Send<IDspUserEvents>(
                [](IDspUserEvents* s) { return s->OnProgramLoaded(0, kVariantFalse); });
        if (request.rfind("ReadMem", 0) == 0 || request.rfind("WriteMem", 0) == 0)
            SendMemoryDone(kVariantFalse);
        if (request == "Reset")
            Send<IDspUserEvents>([](IDspUserEvents* s) { return s->OnResetDone(0); });
    }
    // Completes every request inside the request call itself.
    void CompleteAtOnce() {
        fake.onRequest = [this](const std::string& request) { Complete(request); };
    }
    // Starts op on its own thread; returns once the request was made.
    void StartAndWaitForRequest(const Operation& op) {
        fake.onRequest = [this](const std::string&) {
            std::lock_guard<std::mutex> lock(mutex);
            requested = true;
            cv.notify_all();
        };
        worker = std::thread([this, &op] {
            try {
                op.run(user, memory);
            } catch (const CExc& e) {
                raised = e.code;
            }
            returned = true;
        });
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [this] { return requested; });
    }

    FakeUser fake;
    CountingOwner owner;
    CNewDspUser user;
    CCDspMemory memory;
    std::thread worker;
    std::mutex mutex;
    std::condition_variable cv;
    bool requested = false;
    std::atomic<uint32_t> raised{0};
    std::atomic<bool> returned{false};
};

class DspUserTest : public testing::Test, public DspUserFixture {
  protected:
    ~DspUserTest() override {
        if (worker.joinable()) {
            user.Abort();
            worker.join();
        }
    }
};

uint32_t CodeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const CExc& e) {
        EXPECT_STREQ(e.source, "NewDspUser");
        return e.code;
    }
    return 0;
}

// ---------------------------------------------------------------- abort

class OperationTest : public testing::TestWithParam<Operation>, public DspUserFixture {};

TEST_P(OperationTest, RaisesWithoutCallingTheServer) {
    user.Abort();
    EXPECT_EQ(CodeOf([&] { GetParam().run(user, memory); }), ERR_DSP_USER_ABORTED);
    EXPECT_EQ(CodeOf([&] { GetParam().run(user, memory); }), ERR_DSP_USER_ABORTED);
    for (const std::string& call : fake.Calls()) EXPECT_NE(call, GetParam().request);
}

TEST_P(OperationTest, IssuesTheRequestWithItsFlags) {
    CompleteAtOnce();
    GetParam().run(user, memory);
    EXPECT_EQ(fake.Calls().back(), GetParam().request);
    EXPECT_STREQ(user.PendingOperation(), "");
}

INSTANTIATE_TEST_SUITE_P(All, OperationTest,
                         testing::Values(kHalt, kLoad, kReadMem, kWriteMem, kReset),
                         [](const testing::TestParamInfo<Operation>& p) { return p.param.name; });

TEST_F(DspUserTest, AbortDuringTheWaitEndsItAndTheOperationFails) {
    StartAndWaitForRequest(kReadMem);
    EXPECT_STREQ(user.PendingOperation(), "ReadMem");
    user.Abort();
    worker.join();
    EXPECT_TRUE(returned);
    // Not a success: the read never completed.
    EXPECT_EQ(raised, ERR_DSP_USER_ABORTED);
    EXPECT_STREQ(user.PendingOperation(), "");
    EXPECT_EQ(CodeOf([&] { user.Halt(); }), ERR_DSP_USER_ABORTED);
}

TEST_F(DspUserTest, AbortAfterAReportedFailureRaisesThatFailure) {
    StartAndWaitForRequest(kHalt);
    SendMemoryDone(kVariantTrue);  // not the halt's completion, but a failure
    user.Abort();
    worker.join();
    EXPECT_EQ(raised, ERR_CCS_MEMORY_ABORTED);
    EXPECT_EQ(owner.changes, 1);
}

// ---------------------------------------------------------------- completions and failures

struct FailureCase {
    const char* name;
    Operation op;
    std::function<void(DspUserFixture&)> notifications;
    uint32_t code;
};

class CompletionTest : public testing::TestWithParam<FailureCase>, public DspUserFixture {};

TEST_P(CompletionTest, RaisesWhatTheNotificationsReported) {
    fake.onRequest = [this](const std::string&) { GetParam().notifications(*this); };
    EXPECT_EQ(CodeOf([&] { GetParam().op.run(user, memory); }), GetParam().code);
    EXPECT_STREQ(user.PendingOperation(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompletionTest,
    testing::Values(FailureCase{"ReadMemFails", kReadMem,
                                [](DspUserFixture& f) { f.SendMemoryDone(kVariantTrue); },
                                ERR_CCS_MEMORY_ABORTED},
                    FailureCase{"WriteMemFails", kWriteMem,
                                [](DspUserFixture& f) { f.SendMemoryDone(kVariantTrue); },
                                ERR_CCS_MEMORY_ABORTED},
                    FailureCase{"FlagOneIsNoFailure", kReadMem,
                                [](DspUserFixture& f) { f.SendMemoryDone(VariantBool(1)); }, 0},
                    FailureCase{"LoadFails", kLoad,
                                [](DspUserFixture& f) {
                                    f.Send<IDspUserEvents>([](IDspUserEvents* s) {
                                        return s->OnProgramLoaded(3, kVariantFalse);
                                    });
                                },
                                ERR_CCS_LOAD_FAILED},
                    FailureCase{"LoadStatusZero", kLoad,
                                [](DspUserFixture& f) {
                                    f.Send<IDspUserEvents>([](IDspUserEvents* s) {
                                        return s->OnProgramLoaded(0, kVariantTrue);
                                    });
                                },
                                0},
                    FailureCase{"ResetFails", kReset,
                                [](DspUserFixture& f) {
                                    f.Send<IDspUserEvents>(
                                        [](IDspUserEvents* s) { return s->OnResetDone(2); });
                                },
                                ERR_CCS_RESET_FAILED},
                    FailureCase{"RestartFailureDuringLoad", kLoad,
                                [](DspUserFixture& f) {
                                    f.Send<IDspUserEvents>(
                                        [](IDspUserEvents* s) { return s->OnRestartDone(1); });
                                    f.Send<IDspUserEvents>([](IDspUserEvents* s) {
                                        return s->OnProgramLoaded(0, kVariantFalse);
                                    });
                                },
                                ERR_CCS_RESTART_FAILED},
                    FailureCase{"MemoryFailureDuringHalt", kHalt,
                                [](DspUserFixture& f) {
                                    f.SendMemoryDone(kVariantTrue);
                                    f.SendHalted();
                                },
                                ERR_CCS_MEMORY_ABORTED}),
    [](const testing::TestParamInfo<FailureCase>& p) { return p.param.name; });

TEST_F(DspUserTest, NextOperationStartsWithAClearErrorState) {
    fake.onRequest = [this](const std::string&) { SendMemoryDone(kVariantTrue); };
    EXPECT_EQ(CodeOf([&] { user.ReadMem(memory); }), ERR_CCS_MEMORY_ABORTED);
    EXPECT_EQ(user.GetErrorState(), CNewDspUser::MemoryFailed);
    CompleteAtOnce();
    EXPECT_EQ(CodeOf([&] { user.ReadMem(memory); }), 0u);
    EXPECT_EQ(user.GetErrorState(), CNewDspUser::NoError);
}

TEST_F(DspUserTest, ResetDuringHaltTellsTheOwnerAndTheHaltStillWaitsForItsOwnCompletion) {
    StartAndWaitForRequest(kHalt);
    Send<IDspUserEvents>([](IDspUserEvents* s) { return s->OnResetDone(0); });
    EXPECT_EQ(owner.changes, 1);
    EXPECT_FALSE(returned) << "a reset must not complete a halt";
    SendHalted();
    worker.join();
    EXPECT_EQ(raised, 0u);
}

TEST_F(DspUserTest, UnaskedEventsWhileIdleReachTheOwnerButHaltDoesNot) {
    SendHalted();
    EXPECT_EQ(owner.changes, 0);
    EXPECT_EQ(user.GetErrorState(), CNewDspUser::NoError);
    SendMemoryDone(kVariantFalse);
    Send<IDspUserEvents>([](IDspUserEvents* s) { return s->OnResetDone(0); });
    Send<IDspUserEvents>([](IDspUserEvents* s) { return s->OnProgramLoaded(0, kVariantFalse); });
    Send<IDspUserEvents>([](IDspUserEvents* s) { return s->OnRestartDone(0); });
    EXPECT_EQ(owner.changes, 3);
    FakeValue pc;
    Send<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnPcChanged(&pc); });
    Send<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnStoppedAt(&pc); });
    EXPECT_EQ(owner.changes, 5);
}

TEST_F(DspUserTest, AddressNotificationsReachTheOwnerEvenWhileBusy) {
    fake.onRequest = [this](const std::string& request) {
        FakeValue pc;
        Send<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnPcChanged(&pc); });
        Complete(request);
    };
    user.ReadMem(memory);
    EXPECT_EQ(owner.changes, 1);
}

// ---------------------------------------------------------------- refusals

TEST_F(DspUserTest, RefusedRequestThrowsTheCodeAndLeavesTheUserIdle) {
    fake.refuse = kRequestRefused;
    try {
        user.Halt();
        FAIL();
    } catch (const CCException& e) {
        EXPECT_EQ(e.Code(), kRequestRefused);
    }
    EXPECT_STREQ(user.PendingOperation(), "");
    // An unasked halt now is no completion of anything ...
    SendHalted();
    EXPECT_EQ(owner.changes, 0);
    // ... and must not end the wait of the next operation early.
    fake.refuse = kOk;
    StartAndWaitForRequest(kReadMem);
    EXPECT_FALSE(returned);
    SendMemoryDone(kVariantFalse);
    worker.join();
    EXPECT_EQ(raised, 0u);
}

// ---------------------------------------------------------------- threads

TEST_F(DspUserTest, CompletionFromAnotherThreadEndsTheWait) {
    // One deliverer thread, as the server has one per board.
    std::mutex queueMutex;
    std::condition_variable queueCv;
    std::vector<std::string> queue;
    bool stop = false;
    std::thread deliverer([&] {
        std::unique_lock<std::mutex> lock(queueMutex);
        for (;;) {
            queueCv.wait(lock, [&] { return stop || !queue.empty(); });
            if (queue.empty())
                return;
            const std::string request = queue.front();
            queue.erase(queue.begin());
            lock.unlock();
            Complete(request);
            lock.lock();
        }
    });
    fake.onRequest = [&](const std::string& request) {
        std::lock_guard<std::mutex> lock(queueMutex);
        queue.push_back(request);
        queueCv.notify_all();
    };
    for (int i = 0; i < 50; ++i) {
        user.ReadMem(memory);
        user.WriteMem(memory);
        user.Halt();
        user.Load("/p.out");
        user.Reset();
    }
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        stop = true;
        queueCv.notify_all();
    }
    deliverer.join();
    EXPECT_EQ(owner.changes, 0);
}

TEST(DspUserLifetimeTest, DestructionWhileNotificationsArriveIsSafe) {
    FakeUser fake;
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        FakeValue pc;
        while (!stop) {
            fake.source.Fire<IDspUserEvents>(
                [&](IDspUserEvents* s) { return s->OnPcChanged(&pc); });
            std::this_thread::yield();
        }
    });
    CountingOwner owner;
    for (int i = 0; i < 100; ++i) {
        CNewDspUser user{CCDspUser(&fake, true)};
        user.SetOwner(&owner);
    }
    stop = true;
    sender.join();
    EXPECT_EQ(fake.refs, 1);
}

TEST(DspUserAssignTest, AssignmentTakesOnlyTheObjectAndConnections) {
    std::vector<Guid> eleven(std::begin(kUserEventsIids), std::end(kUserEventsIids));
    eleven.erase(eleven.begin() + 3);
    FakeUser partial(eleven), full;
    CountingOwner owner;
    CNewDspUser member;
    member.SetOwner(&owner);
    member.Abort();
    member = CNewDspUser(CCDspUser(&partial, true));
    EXPECT_EQ(member.GetInterface(), &partial);
    EXPECT_FALSE(member.AllConnected());
    for (const Guid& iid : kUserEventsIids) EXPECT_FALSE(member.IsConnected(iid));
    EXPECT_TRUE(member.IsAborted()) << "flags stay with the target";
    member = CNewDspUser(CCDspUser(&full, true));
    EXPECT_TRUE(member.AllConnected());
    FakeValue pc;
    full.source.Fire<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnPcChanged(&pc); });
    EXPECT_EQ(owner.changes, 1) << "the owner stays with the target";
}

}  // namespace
