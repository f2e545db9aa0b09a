// The automation objects' rules and the entry points.
#include "TestBench.h"

#include <cstdlib>

namespace benchtest {
namespace {

using Interfaces = BenchTest;

TEST_F(Interfaces, EnumeratesBoardsAndProcessors) {
    IDspBoards* boards = nullptr;
    ASSERT_EQ(app_->GetDspBoards(&boards), kOk);
    int32_t n = 0;
    ASSERT_EQ(boards->Count(&n), kOk);
    EXPECT_EQ(n, 2);
    IDspBoard* board = nullptr;
    EXPECT_EQ(boards->Item(2, &board), kBadIndex);
    EXPECT_EQ(boards->Item(-1, &board), kBadIndex);
    const std::vector<std::vector<std::string>> names = {{"P0", "P1", "P2"}, {"Q0"}};
    const std::vector<std::string> boardNames = {"Board A", "Board B"};
    for (int b = 0; b < 2; ++b) {
        ASSERT_EQ(boards->Item(b, &board), kOk);
        std::string name;
        ASSERT_EQ(board->GetName(&name), kOk);
        EXPECT_EQ(name, boardNames[b]);
        IDspTasks* tasks = nullptr;
        ASSERT_EQ(board->GetDspTasks(&tasks), kOk);
        ASSERT_EQ(tasks->Count(&n), kOk);
        ASSERT_EQ(n, static_cast<int32_t>(names[b].size()));
        for (int p = 0; p < n; ++p) {
            IDspTask* task = nullptr;
            ASSERT_EQ(tasks->Item(p, &task), kOk);
            ASSERT_EQ(task->GetName(&name), kOk);
            EXPECT_EQ(name, names[b][p]);
            task->Release();
        }
        IDspTask* task = nullptr;
        EXPECT_EQ(tasks->Item(n, &task), kBadIndex);
        tasks->Release();
        board->Release();
    }
    boards->Release();
}

TEST_F(Interfaces, ATaskHandsOutOneDspUser) {
    Client& a = Proc(0, 1);
    Client& b = Proc(0, 1);
    EXPECT_EQ(a.User(), b.User());
    EXPECT_NE(a.User(), Proc(0, 0).User());
}

TEST_F(Interfaces, QueryInterfaceFollowsTheRules) {
    void* p = nullptr;
    EXPECT_EQ(app_->QueryInterface(IDspUser::kIid, &p), kNoInterface);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(app_->QueryInterface(IApplication::kIid, nullptr), kPointer);
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    ASSERT_EQ(app_->QueryInterface(IUnknown::kIid, reinterpret_cast<void**>(&a)), kOk);
    ASSERT_EQ(control_->QueryInterface(IUnknown::kIid, reinterpret_cast<void**>(&b)), kOk);
    EXPECT_EQ(a, b);  // one identity
    a->Release();
    b->Release();
    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(app_->QueryInterface(IConnectionPointContainer::kIid, reinterpret_cast<void**>(&cpc)),
              kOk);
    IConnectionPoint* cp = nullptr;
    EXPECT_EQ(cpc->FindConnectionPoint(ICodeComposerAppEvents::kIid, &cp), kOk);
    Guid g{};
    EXPECT_EQ(cp->GetConnectionInterface(&g), kOk);
    EXPECT_TRUE(g == ICodeComposerAppEvents::kIid);
    cp->Release();
    EXPECT_EQ(cpc->FindConnectionPoint(IDspUserEvents::kIid, &cp), kNoConnection);
    cpc->Release();
}

TEST_F(Interfaces, ConnectionPointsTakeAndReleaseSinks) {
    Client& c = Proc(0, 0);
    EXPECT_EQ(c.Connected(), 12);
    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(
        c.User()->QueryInterface(IConnectionPointContainer::kIid, reinterpret_cast<void**>(&cpc)),
        kOk);
    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(cpc->FindConnectionPoint(IDspUserEvents13::kIid, &cp), kOk);
    Sink* sink = new Sink();
    uint32_t cookie = 0;
    ASSERT_EQ(cp->Advise(static_cast<IDspUserEvents*>(sink), &cookie), kOk);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(sink->Refs(), 2u);
    EXPECT_EQ(cp->Unadvise(cookie), kOk);
    EXPECT_EQ(sink->Refs(), 1u);
    EXPECT_EQ(cp->Unadvise(cookie), kNotConnected);
    cp->Release();
    sink->Release();
    cpc->Release();
}

// A sink that answers nothing but IUnknown.
class Mute final : public IUnknown {
  public:
    HResult QueryInterface(const Guid& iid, void** out) override {
        *out = nullptr;
        if (!(iid == IUnknown::kIid))
            return kNoInterface;
        *out = this;
        return kOk;
    }
    uint32_t AddRef() override { return 2; }
    uint32_t Release() override { return 1; }
};

TEST_F(Interfaces, AdviseRefusesASinkWithoutTheEventsInterface) {
    Client& c = Proc(0, 0);
    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(
        c.User()->QueryInterface(IConnectionPointContainer::kIid, reinterpret_cast<void**>(&cpc)),
        kOk);
    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(cpc->FindConnectionPoint(IDspUserEvents::kIid, &cp), kOk);
    Mute mute;
    uint32_t cookie = 7;
    EXPECT_EQ(cp->Advise(&mute, &cookie), kCannotConnect);
    EXPECT_EQ(cookie, 0u);
    cp->Release();
    cpc->Release();
}

TEST_F(Interfaces, NotificationsGoToEverySink) {
    Client& a = Proc(0, 0);
    Client& b = Proc(0, 0);
    a.Word(0x80000000);
    ASSERT_EQ(control_->WaitIdle(), kOk);
    EXPECT_EQ(b.Events().Count(), 1u);
}

TEST_F(Interfaces, ObjectsOutliveTheApplication) {
    Client& c = Proc(0, 0);
    control_->Release();
    control_ = nullptr;
    app_->Release();
    app_ = nullptr;
    // The DSP user keeps the server alive.
    EXPECT_TRUE(c.Write(0x80000000, {9, 8, 7}));
    EXPECT_EQ(c.Read(0x80000000, 3), (std::vector<uint8_t>{9, 8, 7}));
}

TEST_F(Interfaces, ValuesAndMemoryObjectsCopy) {
    Client& c = Proc(0, 0);
    IDspValue* v = nullptr;
    IDspValue* w = nullptr;
    ASSERT_EQ(c.User()->CreateValue(kTypeData32, 0xCAFEBABE, &v), kOk);
    ASSERT_EQ(c.User()->CreateValue(kTypeAddress, 0x80000010, &w), kOk);
    IDspMemory* m = nullptr;
    IDspMemory* n = nullptr;
    ASSERT_EQ(c.User()->CreateMemory(w, 8, 0, &m), kOk);
    EXPECT_EQ(m->SetValue(v, 1), kOk);
    EXPECT_EQ(m->SetValue(v, 2), kInvalidArg);
    ASSERT_EQ(c.User()->CreateMemory(v, 4, 0, &n), kOk);
    EXPECT_EQ(n->Assign(m), kOk);
    uint32_t x = 0;
    EXPECT_EQ(n->GetAddress(&x), kOk);
    EXPECT_EQ(x, 0x80000010u);
    EXPECT_EQ(n->GetWord(4, &x), kOk);
    EXPECT_EQ(x, 0xCAFEBABEu);
    IDspMemory* huge = nullptr;
    EXPECT_EQ(c.User()->CreateMemory(w, 0xFFFFFFF0u, 0, &huge), kInvalidArg);
    EXPECT_EQ(huge, nullptr);
    EXPECT_EQ(w->Assign(v), kOk);
    int32_t type = 0;
    EXPECT_EQ(w->GetType(&type), kOk);
    EXPECT_EQ(type, kTypeData32);
    const size_t from = c.Events().Count();
    ASSERT_EQ(c.User()->WriteMem(n, kVariantTrue, kVariantFalse), kOk);
    c.Events().WaitFor(Event::MemoryDone, from);
    EXPECT_EQ(c.Word(0x80000014), 0xCAFEBABEu);
    n->Release();
    m->Release();
    w->Release();
    v->Release();
}

// ------------------------------------------------------------ entry points

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old, had_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

class EntryPoints : public ::testing::Test {
  protected:
    TempDir dir_;
    ScopedEnv state_{"QEL4410_BENCH_STATE", dir_.Path() + "/state"};
    ScopedEnv registry_{"QEL4410_REGISTRY", dir_.Path() + "/registry"};
    ScopedEnv bench_{"QEL4410_BENCH", dir_.WriteText("bench.txt", kTestDescription)};
};

TEST_F(EntryPoints, CreateRegistersTheActiveServerUntilItsLastRelease) {
    IUnknown* active = nullptr;
    EXPECT_EQ(QelBenchGetActiveObject(kClsidApplication, &active), kUnavailable);
    EXPECT_EQ(QelBenchGetActiveObject(IApplication::kIid, &active), kClassNotRegistered);
    EXPECT_FALSE(QelBenchNamedLockExists(QelBenchLockName()));

    IUnknown* created = nullptr;
    ASSERT_EQ(QelBenchCreateInstance(kClsidApplication, IUnknown::kIid,
                                     reinterpret_cast<void**>(&created)),
              kOk);
    EXPECT_EQ(QelBenchRun(created), kOk);
    ASSERT_EQ(QelBenchGetActiveObject(kClsidApplication, &active), kOk);
    EXPECT_EQ(active, created);
    EXPECT_TRUE(QelBenchNamedLockExists(QelBenchLockName()));
    EXPECT_FALSE(QelBenchNamedLockExists("SomeOtherMutex"));

    // The description came from QEL4410_BENCH.
    IApplication* app = nullptr;
    ASSERT_EQ(active->QueryInterface(IApplication::kIid, reinterpret_cast<void**>(&app)), kOk);
    IDspBoards* boards = nullptr;
    ASSERT_EQ(app->GetDspBoards(&boards), kOk);
    int32_t n = 0;
    EXPECT_EQ(boards->Count(&n), kOk);
    EXPECT_EQ(n, 2);
    boards->Release();
    app->Release();

    // A second creation while one is active stays private.
    IUnknown* second = nullptr;
    ASSERT_EQ(QelBenchCreateInstance(kClsidApplication, IUnknown::kIid,
                                     reinterpret_cast<void**>(&second)),
              kOk);
    EXPECT_NE(second, created);
    second->Release();

    active->Release();
    created->Release();
    EXPECT_EQ(QelBenchGetActiveObject(kClsidApplication, &active), kUnavailable);
    EXPECT_FALSE(QelBenchNamedLockExists(QelBenchLockName()));
}

TEST_F(EntryPoints, CreateOfAnotherClassFails) {
    void* p = nullptr;
    EXPECT_EQ(QelBenchCreateInstance(IApplication::kIid, IUnknown::kIid, &p), kClassNotRegistered);
    EXPECT_EQ(p, nullptr);
}

TEST_F(EntryPoints, AnUnreadableDescriptionFailsTheCreation) {
    ScopedEnv bad("QEL4410_BENCH", dir_.WriteText("bad.txt", "board B\nmodule M\nflash size=3\n"));
    void* p = nullptr;
    EXPECT_EQ(QelBenchCreateInstance(kClsidApplication, IUnknown::kIid, &p), kBadDescription);
    ScopedEnv missing("QEL4410_BENCH", dir_.File("nothing.txt"));
    EXPECT_EQ(QelBenchCreateInstance(kClsidApplication, IUnknown::kIid, &p), kBadDescription);
}

TEST_F(EntryPoints, WithoutADescriptionTheDefaultBenchServes) {
    unsetenv("QEL4410_BENCH");
    IApplication* app = nullptr;
    ASSERT_EQ(QelBenchCreate(BenchOptions{}, &app), kOk);
    IDspBoards* boards = nullptr;
    ASSERT_EQ(app->GetDspBoards(&boards), kOk);
    IDspBoard* board = nullptr;
    ASSERT_EQ(boards->Item(0, &board), kOk);
    IDspTasks* tasks = nullptr;
    ASSERT_EQ(board->GetDspTasks(&tasks), kOk);
    int32_t n = 0;
    EXPECT_EQ(tasks->Count(&n), kOk);
    EXPECT_EQ(n, 10);
    tasks->Release();
    board->Release();
    boards->Release();
    app->Release();
}

TEST_F(EntryPoints, RealtimeStartIsReadFromTheUserSettings) {
    IApplication* app = nullptr;
    IBenchControl* control = nullptr;
    VariantBool rt = 5;
    ASSERT_EQ(QelBenchCreate(BenchOptions{}, &app), kOk);
    ASSERT_EQ(app->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control)), kOk);
    EXPECT_EQ(control->GetRealtime(&rt), kOk);
    EXPECT_EQ(rt, kVariantFalse);
    control->Release();
    app->Release();

    dir_.WriteText("registry/HKEY_CURRENT_USER.reg",
                   "Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_CURRENT_USER\\Software\\GODSP\\Code Composer\\Settings]\n"
                   "\"RealtimeStart\"=hex:01\n");
    ASSERT_EQ(QelBenchCreate(BenchOptions{}, &app), kOk);
    ASSERT_EQ(app->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control)), kOk);
    EXPECT_EQ(control->GetRealtime(&rt), kOk);
    EXPECT_EQ(rt, kVariantTrue);
    control->Release();
    app->Release();
}

TEST(Guids, PrintInRegistryForm) {
    EXPECT_EQ(GuidToString(kClsidApplication), "{DE4FA3E7-B47F-11D1-B009-0040055C1953}");
    EXPECT_EQ(QelBenchLockName(), "TiGoCodeComposerMutex{DE4FA3E7-B47F-11D1-B009-0040055C1953}");
}

TEST_F(Interfaces, WaitsAskedFromANotificationAreRefused) {
    Client& c = Proc(0, 0);
    std::vector<HResult> answers;  // written on the bench's thread
    c.Events().onEvent = [&](const Event&) {
        answers.push_back(control_->WaitIdle());
        answers.push_back(control_->WaitProgrammerIdle(0, 0));
    };
    c.Halt();
    // From the test's own thread the wait is served, and afterwards no
    // notification is on its way.
    ASSERT_EQ(control_->WaitIdle(), kOk);
    c.Events().onEvent = nullptr;
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], kWrongThread);
    EXPECT_EQ(answers[1], kWrongThread);
}

}  // namespace
}  // namespace benchtest
