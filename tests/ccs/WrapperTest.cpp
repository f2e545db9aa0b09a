// The wrapper layer against hand-driven fakes: checks, failure codes,
// reference counts, assignment and connection rules.
#include "FakeAutomation.h"
#include "engine/ccs/CCSEvents.h"
#include "engine/ccs/CCSWrappers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using namespace ccs_test;

std::string ErrorText(const CCException& e) {
    char text[300];
    e.GetErrorMessage(text, sizeof(text));
    return text;
}

// ---------------------------------------------------------------- empty wrappers

struct EmptyCase {
    const char* name;
    const char* className;
    std::function<void()> call;
};

class EmptyWrapperTest : public testing::TestWithParam<EmptyCase> {};

TEST_P(EmptyWrapperTest, ThrowsInvalidWrapperBeforeAnyCall) {
    try {
        GetParam().call();
        FAIL() << "no exception";
    } catch (const CCException& e) {
        EXPECT_EQ(e.Code(), CCS_E_INVALID_WRAPPER);
        EXPECT_EQ(ErrorText(e),
                  std::string(GetParam().className) + ": COM wrapper object is not valid\r\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, EmptyWrapperTest,
    testing::Values(
        EmptyCase{"GetDspBoards", "CCApplication", [] { CCApplication().GetDspBoards(); }},
        EmptyCase{"BoardsCount", "CCDspBoards", [] { CCDspBoards().Count(); }},
        EmptyCase{"BoardsItem", "CCDspBoards", [] { CCDspBoards().Item(0); }},
        EmptyCase{"BoardName", "CCDspBoard", [] { CCDspBoard().GetName(); }},
        EmptyCase{"BoardTasks", "CCDspBoard", [] { CCDspBoard().GetDspTasks(); }},
        EmptyCase{"TasksItem", "CCDspTasks", [] { CCDspTasks().Item(0); }},
        EmptyCase{"TaskUser", "CCDspTask", [] { CCDspTask().GetDspUser(); }},
        EmptyCase{"UserRun", "CCDspUser", [] { CCDspUser().Run(); }},
        EmptyCase{"UserReadMem", "CCDspUser",
                  [] { CCDspUser().ReadMem(CCDspMemory(), false, false); }},
        EmptyCase{"MemoryGetWord", "CCDspMemory", [] { CCDspMemory().GetWord(0); }},
        EmptyCase{"ValueGet", "CCDspValue", [] { CCDspValue().GetValue(); }},
        EmptyCase{"AddrGet", "CCDspValue", [] { CCDspAddr().GetValue(); }},
        EmptyCase{"RegisterName", "CCDspRegister", [] { CCDspRegister().GetName(); }},
        EmptyCase{"RegisterAsMemory", "CCDspRegister", [] { CCDspRegister().GetWord(0); }},
        EmptyCase{"LValue", "CCLValue", [] { CCLValue().GetValue(); }}),
    [](const testing::TestParamInfo<EmptyCase>& p) { return p.param.name; });

class ArgumentCheckTest : public testing::Test {
  protected:
    FakeUser fake;
};

TEST_F(ArgumentCheckTest, EmptyArgumentIsCheckedAfterTheWrapperAndNothingIsCalled) {
    CCDspUser user(&fake, true);
    try {
        user.ReadMem(CCDspMemory(), false, false);
        FAIL();
    } catch (const CCException& e) {
        EXPECT_EQ(ErrorText(e), "CCDspMemory: COM wrapper object is not valid\r\n");
    }
    try {
        user.CreateMemory(CCDspValue(), 4);
        FAIL();
    } catch (const CCException& e) {
        EXPECT_EQ(ErrorText(e), "CCDspValue: COM wrapper object is not valid\r\n");
    }
    try {
        CCDspUser().CreateMemory(CCDspValue(), 4);
        FAIL();
    } catch (const CCException& e) {
        EXPECT_EQ(ErrorText(e), "CCDspUser: COM wrapper object is not valid\r\n");
    }
    EXPECT_TRUE(fake.Calls().empty());
}

// ---------------------------------------------------------------- failures and messages

class FakeBoards : public FakeObject<IDspBoards> {
  public:
    HResult Count(int32_t* count) override {
        *count = 3;
        return kOk;
    }
    HResult Item(int32_t index, IDspBoard** board) override {
        *board = nullptr;
        return index >= 0 && index < 3 ? kNotImplemented : kBadIndex;
    }
};

TEST(WrapperFailureTest, FailureCodeBecomesExceptionWithThatCodeAndNoText) {
    FakeBoards boards;
    CCDspBoards wrapper(&boards, true);
    EXPECT_EQ(wrapper.Count(), 3);
    try {
        wrapper.Item(5);
        FAIL();
    } catch (const CCException& e) {
        EXPECT_EQ(e.Code(), kBadIndex);
        EXPECT_STREQ(e.Message(), "");
        EXPECT_EQ(ErrorText(e), "Invalid index.\r\n");
    }
}

struct MessageCase {
    int32_t code;
    const char* message;
    const char* shown;
};

class CCExceptionMessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(CCExceptionMessageTest, ShowsOwnTextOrSystemText) {
    const MessageCase& c = GetParam();
    CCException e(c.code, c.message);
    EXPECT_EQ(ErrorText(e), c.shown);
    EXPECT_STREQ(e.what(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CCExceptionMessageTest,
    testing::Values(MessageCase{0, "plain text", "plain text"},
                    MessageCase{int32_t(0x80004005u), "own text", "Unspecified error\r\n"},
                    MessageCase{int32_t(0x80040200u), "own text", "own text"},
                    MessageCase{int32_t(0x80041001u), "own text", "own text"},
                    MessageCase{int32_t(0x800401FFu), "own text", "Unknown error 0x800401FF\r\n"},
                    MessageCase{int32_t(0x80040200u), "", "Invalid connection\r\n"},
                    MessageCase{int32_t(0x80070057u), "", "The parameter is incorrect.\r\n"}));

TEST(CCExceptionTest, TextIsCutToTheCallersBuffer) {
    CCException e("0123456789");
    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_TRUE(e.GetErrorMessage(small, sizeof(small)));
    EXPECT_STREQ(small, "0123");
    EXPECT_FALSE(e.GetErrorMessage(small, 0));
}

// ---------------------------------------------------------------- references and assignment

TEST(WrapperReferenceTest, CopiesAndAssignmentsKeepTheCountBalanced) {
    FakeValue a, b;
    {
        CComWrapper<IDspValue> first(&a, true, "X");
        EXPECT_EQ(a.refs, 2);
        CComWrapper<IDspValue> second(first);
        EXPECT_EQ(a.refs, 3);
        CComWrapper<IDspValue> third(&b, true, "X");
        third = second;
        EXPECT_EQ(a.refs, 4);
        EXPECT_EQ(b.refs, 1);
        third = first;  // same object: nothing changes
        EXPECT_EQ(a.refs, 4);
    }
    EXPECT_EQ(a.refs, 1);
    EXPECT_EQ(b.refs, 1);
}

TEST(WrapperReferenceTest, TakesOverTheCallersReferenceWithoutAddingOne) {
    FakeValue a;
    a.AddRef();  // the reference an out-pointer carries
    { CCDspValue value(&a, false); }
    EXPECT_EQ(a.refs, 1);
}

TEST(ValueAssignmentTest, HoldingTargetCopiesIntoItsOwnObject) {
    FakeValue target, source;
    source.number = 77;
    CCDspValue t(&target, true), s(&source, true);
    t = s;
    EXPECT_EQ(t.GetInterface(), &target);
    EXPECT_EQ(target.assigns, 1);
    EXPECT_EQ(target.number, 77u);
    EXPECT_EQ(source.refs, 2);
}

TEST(ValueAssignmentTest, EmptyTargetTakesAReferenceAndEmptySourceThrows) {
    FakeValue source;
    CCDspValue t, s(&source, true);
    t = s;
    EXPECT_EQ(t.GetInterface(), &source);
    EXPECT_EQ(source.refs, 3);
    CCDspValue empty;
    EXPECT_THROW(t = empty, CCException);
}

TEST(MemoryAssignmentTest, HoldingTargetTakesOverAddressAndContents) {
    FakeMemory target, source;
    source.address = 0x800;
    source.bytes = {1, 2, 3, 4, 5, 6, 7, 8};
    CCDspMemory t(&target, true), s(&source, true);
    t = s;
    EXPECT_EQ(t.GetInterface(), &target);
    EXPECT_EQ(target.assigns, 1);
    EXPECT_EQ(t.GetWord(4), 0x08070605u);
    CCDspMemory empty;
    EXPECT_THROW(t = empty, CCException);
    CCDspMemory fresh;
    fresh = t;
    EXPECT_EQ(fresh.GetInterface(), &target);
}

TEST(MemoryAssignmentTest, ConvenienceConstructorsFillNewWrappers) {
    FakeUser fake;
    CCDspUser user(&fake, true);
    CCDspAddr address(user, 0x1234);
    CCDspMemory memory(user, address, 8);
    ASSERT_EQ(fake.created.size(), 1u);
    EXPECT_EQ(memory.GetInterface(), fake.created[0]);
    EXPECT_EQ(fake.created[0]->address, 0x1234u);
    EXPECT_EQ(fake.values[0]->type, kTypeAddress);
    memory.SetValue(CCDspValue(user, CCS_TYPE_DATA32, 0xCAFEF00D), 1);
    EXPECT_EQ(memory.GetWord(4), 0xCAFEF00Du);
}

// ---------------------------------------------------------------- call conversions

TEST(UserCallTest, ArgumentsAreConvertedAsTheServerExpects) {
    FakeUser fake;
    CCDspUser user(&fake, true);
    CCDspMemory memory(user, CCDspAddr(user, 0), 4);
    user.Run();
    user.Run("main", 3);
    user.Load("/x.out", true);
    user.Load("/y.out", false);
    user.ReadMem(memory, false, false);
    user.WriteMem(memory, true, false);
    const std::vector<std::string> expected = {
        "CreateValue",    "CreateMemory",  "Run:",        "RunEx:main:3",
        "Load:/x.out:-1", "Load:/y.out:0", "ReadMem:0:0", "WriteMem:-1:0"};
    EXPECT_EQ(fake.Calls(), expected);
    EXPECT_EQ(user.GetExecState(), CCS_EXEC_RUNNING);
}

// ---------------------------------------------------------------- connections

class ConnectionTest : public testing::Test {
  protected:
    size_t Advised() {
        size_t n = 0;
        for (FakeConnectionPoint* p : fake.source.points) n += p->Count();
        return n;
    }
    FakeUser fake;
};

TEST_F(ConnectionTest, ConstructionAndCopyConnectAllTwelve) {
    CCDspUser user(&fake, true);
    EXPECT_TRUE(user.AllConnected());
    EXPECT_EQ(Advised(), 12u);
    CCDspUser copy(user);
    EXPECT_TRUE(copy.AllConnected());
    EXPECT_EQ(Advised(), 24u);
}

TEST_F(ConnectionTest, DestructionUnregistersEverySink) {
    { CCDspUser user(&fake, true); }
    EXPECT_EQ(Advised(), 0u);
    EXPECT_EQ(fake.refs, 1);
}

TEST_F(ConnectionTest, ForeignIdentifierChangesNothing) {
    CCDspUser user(&fake, true);
    user.ConnectEvents(false, ICodeComposerAppEvents::kIid);
    user.ConnectEvents(false, IDspMemory::kIid);
    EXPECT_TRUE(user.AllConnected());
    EXPECT_FALSE(user.IsConnected(ICodeComposerAppEvents::kIid));
}

TEST_F(ConnectionTest, OffThenOnReusesTheSinkAndRegistersAgain) {
    CCDspUser user(&fake, true);
    FakeConnectionPoint* point = fake.source.Find(IDspUserEvents4::kIid);
    const auto before = point->SinkPointers();
    ASSERT_EQ(before.size(), 1u);
    user.ConnectEvents(false, IDspUserEvents4::kIid);
    EXPECT_FALSE(user.IsConnected(IDspUserEvents4::kIid));
    EXPECT_FALSE(user.AllConnected());
    EXPECT_EQ(point->Count(), 0u);
    user.ConnectEvents(true, IDspUserEvents4::kIid);
    EXPECT_TRUE(user.IsConnected(IDspUserEvents4::kIid));
    EXPECT_EQ(point->SinkPointers(), before);
    EXPECT_EQ(point->advises, 2);
}

TEST_F(ConnectionTest, RefusedRegistrationLeavesOnlyThatInterfaceDisconnected) {
    fake.source.Find(IDspUserEvents7::kIid)->refuseAdvise = true;
    CCDspUser user(&fake, true);
    EXPECT_FALSE(user.IsConnected(IDspUserEvents7::kIid));
    EXPECT_TRUE(user.IsConnected(IDspUserEvents9::kIid));
    EXPECT_FALSE(user.AllConnected());
}

TEST(ConnectionAssignTest, PartlyConnectedSourceLeavesTargetWithNone) {
    std::vector<Guid> eleven(std::begin(kUserEventsIids), std::end(kUserEventsIids));
    eleven.erase(eleven.begin() + 5);
    FakeUser partial(eleven), full;
    CCDspUser source(&partial, true);
    EXPECT_FALSE(source.AllConnected());
    CCDspUser target(&full, true);
    EXPECT_TRUE(target.AllConnected());
    target = source;
    EXPECT_EQ(target.GetInterface(), &partial);
    for (const Guid& iid : kUserEventsIids) EXPECT_FALSE(target.IsConnected(iid));
    CCDspUser again(&full, true);
    target = again;
    EXPECT_TRUE(target.AllConnected());
}

TEST(ConnectionAssignTest, ApplicationCarriesItsSingleConnectionOver) {
    class FakeApp : public FakeObject<IApplication, IConnectionPointContainer> {
      public:
        HResult GetDspBoards(IDspBoards**) override { return kNotImplemented; }
        HResult FindConnectionPoint(const Guid& iid, IConnectionPoint** point) override {
            FakeConnectionPoint* p = source.Find(iid);
            if (p == nullptr || !offer)
                return kNoConnection;
            p->AddRef();
            *point = p;
            return kOk;
        }
        FakeEventsSource source{{ICodeComposerAppEvents::kIid}};
        bool offer = true;
    };
    FakeApp connected, unconnected;
    unconnected.offer = false;
    CCApplication a(&connected, true), b(&unconnected, true);
    EXPECT_TRUE(a.AllConnected());
    EXPECT_FALSE(b.AllConnected());
    a = b;
    EXPECT_FALSE(a.IsConnected(ICodeComposerAppEvents::kIid));
    EXPECT_EQ(connected.source.points[0]->Count(), 0u);
    unconnected.offer = true;
    CCApplication c(&connected, true);
    a = c;
    EXPECT_TRUE(a.AllConnected());
}

// ---------------------------------------------------------------- sinks

TEST(SinkTest, AnswersOnlyItsEventsInterfaceDispatchAndUnknown) {
    auto* sink = new qel::ccs::CCDspUserEvents(nullptr);
    sink->AddRef();
    void* out = nullptr;
    for (const Guid& iid : {IDspUserEvents::kIid, qel::ccs::kIidDispatch, IUnknown::kIid}) {
        EXPECT_EQ(sink->QueryInterface(iid, &out), kOk);
        EXPECT_EQ(out, static_cast<IDspUserEvents*>(sink));
        sink->Release();
    }
    for (const Guid& iid : {IDspUserEvents2::kIid, IDspUser::kIid}) {
        EXPECT_EQ(sink->QueryInterface(iid, &out), kNoInterface);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(sink->Release(), 0u);  // deletes it
}

TEST(SinkTest, ReleaseAtZeroReturnsZeroAndDeletesNothing) {
    auto* sink = new qel::ccs::CCDspUserEvents(nullptr);
    EXPECT_EQ(sink->Release(), 0u);
    EXPECT_EQ(sink->Release(), 0u);
    EXPECT_EQ(sink->AddRef(), 1u);  // still alive
    EXPECT_EQ(sink->Release(), 0u);
}

// Records what the handlers receive.
class RecordingUser : public CCDspUser {
  public:
    explicit RecordingUser(IDspUser* object) : CCDspUser(NoConnect{}, object, true) {
        ConnectAllEvents(true);
    }
    ~RecordingUser() override { DisconnectForDestruction(); }

    void OnMemoryDone(const CCDspMemory& memory, bool failed) override {
        memoryFlags.push_back(failed);
        lastMemory = memory.GetInterface();
    }
    void OnRealtimeChanged(bool on) override { realtimeFlags.push_back(on); }
    void OnBusyChanged(bool busy) override { busyFlags.push_back(busy); }
    void OnHalted(const CCDspAddr& address) override { halts.push_back(address.GetValue()); }
    void OnResetDone(int32_t) override { throw CCException(kFail); }
    std::string OnTextRequest() override { return "answer"; }

    std::vector<bool> memoryFlags, realtimeFlags, busyFlags;
    std::vector<uint32_t> halts;
    IDspMemory* lastMemory = nullptr;
};

class DeliveryTest : public testing::Test {
  protected:
    template <class Events>
    HResult FireOne(const std::function<HResult(Events*)>& call) {
        const auto results = fake.source.Fire<Events>(call);
        EXPECT_EQ(results.size(), 1u);
        return results.empty() ? kUnexpected : results[0];
    }
    FakeUser fake;
    FakeMemory memory;
    FakeValue address;
};

TEST_F(DeliveryTest, OnlyVariantTrueCountsWhereTheTableSaysSo) {
    RecordingUser user(&fake);
    for (VariantBool v : {kVariantTrue, VariantBool(1), kVariantFalse}) {
        EXPECT_EQ(
            FireOne<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnMemoryDone(&memory, v); }),
            kOk);
        FireOne<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnBusyChanged(v); });
        FireOne<IDspUserEvents4>([&](IDspUserEvents4* s) { return s->OnRealtimeChanged(v); });
    }
    EXPECT_EQ(user.memoryFlags, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(user.busyFlags, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(user.realtimeFlags, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(user.lastMemory, &memory);
    EXPECT_EQ(memory.refs, 1) << "the handler's wrapper is released after the call";
}

TEST_F(DeliveryTest, MissingOrRefusedObjectSkipsTheHandler) {
    RecordingUser user(&fake);
    EXPECT_EQ(FireOne<IDspUserEvents>(
                  [&](IDspUserEvents* s) { return s->OnMemoryDone(nullptr, kVariantTrue); }),
              kFail);
    memory.refuseAll = true;
    EXPECT_EQ(FireOne<IDspUserEvents>(
                  [&](IDspUserEvents* s) { return s->OnMemoryDone(&memory, kVariantTrue); }),
              kNoInterface);
    EXPECT_TRUE(user.memoryFlags.empty());
    address.number = 0x400;
    EXPECT_EQ(FireOne<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnHalted(&address); }),
              kOk);
    EXPECT_EQ(user.halts, (std::vector<uint32_t>{0x400}));
}

TEST_F(DeliveryTest, HandlerExceptionAnswersFailureAndTextIsReturned) {
    RecordingUser user(&fake);
    EXPECT_EQ(FireOne<IDspUserEvents>([](IDspUserEvents* s) { return s->OnResetDone(0); }), kFail);
    std::string text;
    EXPECT_EQ(FireOne<IDspUserEvents>([&](IDspUserEvents* s) { return s->OnTextRequest(&text); }),
              kOk);
    EXPECT_EQ(text, "answer");
}

TEST_F(DeliveryTest, NothingReachesADisconnectedOwner) {
    RecordingUser user(&fake);
    // The server may still hold the sink after Unadvise; a late call finds no owner.
    FakeConnectionPoint* point = fake.source.Find(IDspUserEvents::kIid);
    IDspUserEvents* sink = point->Sinks<IDspUserEvents>().at(0);
    user.ConnectEvents(false, IDspUserEvents::kIid);
    EXPECT_EQ(sink->OnMemoryDone(&memory, kVariantTrue), kOk);
    EXPECT_TRUE(user.memoryFlags.empty());
    sink->Release();
}

}  // namespace
