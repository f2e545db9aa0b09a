// Fault switches, set through the control interface and from the description.
#include "TestBench.h"

namespace benchtest {
namespace {

using Faults = BenchTest;

TEST_F(Faults, FailMemoryFailsExactlyTheNextRequests) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::FailMemory, 2), kOk);
    ASSERT_FALSE(c.Write(0x80000000, {1, 2, 3, 4}));
    uint32_t w = 0;
    EXPECT_FALSE(c.Read(0x80000000, &w, 4));
    EXPECT_TRUE(c.Read(0x80000000, &w, 4));
    EXPECT_EQ(w, 0u);  // the failed write changed nothing
}

TEST_F(Faults, FailLoadFailsTheNextLoadOnly) {
    Client& c = Proc(0, 0);
    const std::string path =
        dir_.Write("a.out", MakeCoff({{".text", 0x2000, Pattern(16, 1)}}, 0x2000));
    ASSERT_EQ(control_->SetFault(0, 0, Fault::FailLoad, 1), kOk);
    EXPECT_NE(c.Load(path), 0);
    EXPECT_EQ(c.Read(0x2000, 16), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(c.Load(path), 0);
    EXPECT_EQ(c.Read(0x2000, 16), Pattern(16, 1));
}

struct Preceding {
    const char* what;
    Fault fault;
    Event::Kind first;
    int32_t status;
};
class PrecedingEvent : public BenchTest, public ::testing::WithParamInterface<Preceding> {};

// The notification comes before the request's own completion, which still
// arrives.
TEST_P(PrecedingEvent, ArrivesBeforeTheCompletion) {
    const Preceding& p = GetParam();
    Client& c = Proc(0, 0);
    ASSERT_EQ(control_->SetFault(0, 0, p.fault, 1), kOk);
    const size_t from = c.Events().Count();
    uint32_t w = 0;
    EXPECT_TRUE(c.Read(0x80000000, &w, 4));
    const auto events = c.Events().Events();
    ASSERT_EQ(events.size(), from + 2);
    EXPECT_EQ(events[from].kind, p.first);
    EXPECT_EQ(events[from].status, p.status);
    EXPECT_EQ(events[from + 1].kind, Event::MemoryDone);
    // Only once.
    EXPECT_TRUE(c.Read(0x80000000, &w, 4));
    EXPECT_EQ(c.Events().Count(), from + 3);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PrecedingEvent,
    ::testing::Values(Preceding{"restart", Fault::RestartFailure, Event::RestartDone, 1},
                      Preceding{"halt", Fault::UnrequestedHalt, Event::Halted, 0},
                      Preceding{"reset", Fault::UnrequestedReset, Event::ResetDone, 0},
                      Preceding{"address", Fault::UnrequestedAddress, Event::PcChanged, 0}),
    [](const auto& p) { return std::string(p.param.what); });

TEST_F(Faults, UnrequestedResetReallyResetsTheTarget) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::UnrequestedReset, 1), kOk);
    c.Word(0x80000000);
    ProgrammerInfo info;
    ASSERT_EQ(control_->GetProgrammerInfo(0, 0, &info), kOk);
    EXPECT_EQ(info.running, 0);
    EXPECT_EQ(c.ExecState(), kExecHalted);
}

TEST_F(Faults, RaisedEventsReachTheSinkInTurn) {
    Client& c = Proc(0, 0);
    const size_t from = c.Events().Count();
    for (auto e :
         {Unrequested::Address, Unrequested::Address2, Unrequested::Halt, Unrequested::Reset})
        ASSERT_EQ(control_->RaiseUnrequested(0, 0, e), kOk);
    ASSERT_EQ(control_->WaitIdle(), kOk);
    const auto events = c.Events().Events();
    ASSERT_EQ(events.size(), from + 4);
    EXPECT_EQ(events[from].kind, Event::PcChanged);
    EXPECT_EQ(events[from + 1].kind, Event::StoppedAt);
    EXPECT_EQ(events[from + 2].kind, Event::Halted);
    EXPECT_EQ(events[from + 3].kind, Event::ResetDone);
    EXPECT_EQ(control_->RaiseUnrequested(0, 9, Unrequested::Halt), kBadIndex);
}

TEST_F(Faults, MissingEventsLeavesElevenInterfaces) {
    ASSERT_EQ(control_->SetFault(0, 0, Fault::MissingEvents, 5), kOk);
    Client& c = Proc(0, 0);
    EXPECT_EQ(c.Connected(), 11);
    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(
        c.User()->QueryInterface(IConnectionPointContainer::kIid, reinterpret_cast<void**>(&cpc)),
        kOk);
    IConnectionPoint* cp = nullptr;
    EXPECT_EQ(cpc->FindConnectionPoint(IDspUserEvents5::kIid, &cp), kNoConnection);
    EXPECT_EQ(cp, nullptr);
    cpc->Release();
    EXPECT_EQ(Proc(0, 1).Connected(), 12);
}

TEST_F(Faults, RefusedRequestsReturnAFailureAtOnce) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::RefuseRequest, 3), kOk);
    const size_t from = c.Events().Count();
    EXPECT_EQ(c.User()->Halt(), kRequestRefused);
    EXPECT_EQ(c.User()->Reset(), kRequestRefused);
    EXPECT_EQ(c.User()->Run(nullptr), kRequestRefused);
    ASSERT_EQ(control_->WaitIdle(), kOk);
    EXPECT_EQ(c.Events().Count(), from);
    EXPECT_EQ(c.Reset(), 0);
}

TEST_F(Faults, HungProgrammerNeverCompletesUntilReset) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::ProgrammerHang, 1), kOk);
    c.StartCommand(kCommandBlock, 9, {});
    ASSERT_EQ(control_->WaitProgrammerIdle(0, 0), kOk);
    ProgrammerInfo info;
    ASSERT_EQ(control_->GetProgrammerInfo(0, 0, &info), kOk);
    EXPECT_EQ(info.hung, 1);
    EXPECT_EQ(c.Word(kCommandBlock + 36), 1u);
    EXPECT_EQ(c.ExecState(), kExecRunning);
    EXPECT_EQ(c.Reset(), 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    EXPECT_EQ(c.Command(kCommandBlock, 9, {}), 0u);
}

TEST_F(Faults, ClearFaultsDisarmsEverything) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::FailMemory, 5), kOk);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::RefuseRequest, 5), kOk);
    ASSERT_EQ(control_->ClearFaults(0, 0), kOk);
    EXPECT_TRUE(c.Write(0x80000000, {1}));
    EXPECT_EQ(control_->SetFault(0, 0, static_cast<Fault>(0), 1), kInvalidArg);
    EXPECT_EQ(control_->SetFault(5, 0, Fault::FailMemory, 1), kBadIndex);
}

TEST_F(Faults, DescriptionArmsFaults) {
    Close();
    std::string text = kTestDescription;
    const std::string at = "processor P1 family=7 subfamily=20 revision=1\n";
    text.insert(text.find(at) + at.size(), "fault fail-memory 1\nfault missing-events 13\n");
    Open(text);
    Client& c = Proc(0, 1);
    EXPECT_EQ(c.Connected(), 11);
    uint32_t w = 0;
    EXPECT_FALSE(c.Read(0x80000000, &w, 4));
    EXPECT_TRUE(c.Read(0x80000000, &w, 4));
}

}  // namespace
}  // namespace benchtest
