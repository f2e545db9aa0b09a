#include "Server.h"
#include "ComportLink.h"

#include "Settings.h"

#include <cstring>
#include <filesystem>
#include <new>

namespace qel::bench {

namespace {

// Answered by the bench's own memory objects only: requests take memory
// objects of this bench, not look-alikes.
constexpr Guid kIidBenchMemory{
    0x51B0F8D1, 0x6E3A, 0x4C20, {0x9A, 0x51, 0x51, 0x45, 0x4C, 0x42, 0x01, 0x01}};

// Host copies are allocated whole; nothing the engine moves comes near this.
constexpr uint32_t kMaxMemoryObject = 256u << 20;

std::chrono::nanoseconds TransferTime(const Timing& t, uint64_t bytes) {
    std::chrono::nanoseconds d = std::chrono::microseconds(t.latencyUs);
    if (t.bandwidth > 0)
        d += std::chrono::nanoseconds(bytes * 1000000000ull / t.bandwidth);
    return d;
}

// ------------------------------------------------------------ values, memory

class Value final : public RefCounted<IDspValue> {
  public:
    Value(int32_t type, uint32_t value) : type_(type), value_(value) {}
    HResult GetValue(uint32_t* value) override {
        if (!value)
            return kPointer;
        *value = value_;
        return kOk;
    }
    HResult SetValue(uint32_t value) override {
        value_ = value;
        return kOk;
    }
    HResult Assign(IDspValue* source) override {
        if (!source)
            return kPointer;
        int32_t type = 0;
        uint32_t value = 0;
        HResult hr = source->GetType(&type);
        if (Succeeded(hr))
            hr = source->GetValue(&value);
        if (Failed(hr))
            return hr;
        type_ = type;
        value_ = value;
        return kOk;
    }
    HResult GetType(int32_t* type) override {
        if (!type)
            return kPointer;
        *type = type_;
        return kOk;
    }

  private:
    int32_t type_;
    uint32_t value_;
};

class Memory final : public RefCounted<IDspMemory> {
  public:
    Memory(uint32_t address, uint32_t size)
        : address_(address), size_(size), data_(new uint8_t[size ? size : 1]()) {}

    HResult QueryInterface(const Guid& iid, void** out) override {
        if (out && iid == kIidBenchMemory) {
            *out = this;
            AddRef();
            return kOk;
        }
        return RefCounted<IDspMemory>::QueryInterface(iid, out);
    }
    HResult SetValue(IDspValue* value, int32_t index) override {
        if (!value)
            return kPointer;
        uint32_t v = 0;
        const HResult hr = value->GetValue(&v);
        if (Failed(hr))
            return hr;
        if (index < 0 || uint64_t(index) * 4 + 4 > size_)
            return kInvalidArg;
        std::memcpy(data_.get() + uint64_t(index) * 4, &v, 4);
        return kOk;
    }
    HResult GetWord(uint32_t byteOffset, uint32_t* word) override {
        if (!word)
            return kPointer;
        if (uint64_t{byteOffset} + 4 > size_)
            return kInvalidArg;
        std::memcpy(word, data_.get() + byteOffset, 4);
        return kOk;
    }
    HResult Assign(IDspMemory* source) override {
        if (!source)
            return kPointer;
        void* p = nullptr;
        if (Failed(source->QueryInterface(kIidBenchMemory, &p)) || !p)
            return kInvalidArg;
        ComPtr<Memory> src = ComPtr<Memory>::Adopt(static_cast<Memory*>(p));
        if (src.Get() == this)
            return kOk;
        std::unique_ptr<uint8_t[]> copy;
        try {
            copy.reset(new uint8_t[src->size_ ? src->size_ : 1]);
        } catch (const std::bad_alloc&) {
            return kFail;
        }
        std::memcpy(copy.get(), src->data_.get(), src->size_);
        address_ = src->address_;
        size_ = src->size_;
        data_ = std::move(copy);
        return kOk;
    }
    HResult GetAddress(uint32_t* address) override {
        if (!address)
            return kPointer;
        *address = address_;
        return kOk;
    }
    HResult GetSize(uint32_t* size) override {
        if (!size)
            return kPointer;
        *size = size_;
        return kOk;
    }
    HResult ReadBytes(uint32_t offset, void* buffer, uint32_t length) override {
        if (!buffer && length)
            return kPointer;
        if (uint64_t{offset} + length > size_)
            return kInvalidArg;
        if (length)
            std::memcpy(buffer, data_.get() + offset, length);
        return kOk;
    }
    HResult WriteBytes(uint32_t offset, const void* buffer, uint32_t length) override {
        if (!buffer && length)
            return kPointer;
        if (uint64_t{offset} + length > size_)
            return kInvalidArg;
        if (length)
            std::memcpy(data_.get() + offset, buffer, length);
        return kOk;
    }
    HResult SetWord(uint32_t byteOffset, uint32_t word) override {
        if (uint64_t{byteOffset} + 4 > size_)
            return kInvalidArg;
        std::memcpy(data_.get() + byteOffset, &word, 4);
        return kOk;
    }

    uint32_t Address() const { return address_; }
    uint32_t Size() const { return size_; }
    uint8_t* Data() { return data_.get(); }

    static Memory* From(IDspMemory* m) {
        void* p = nullptr;
        if (!m || Failed(m->QueryInterface(kIidBenchMemory, &p)) || !p)
            return nullptr;
        auto* mem = static_cast<Memory*>(p);
        mem->Release();  // the caller holds its own reference
        return mem;
    }

  private:
    uint32_t address_;
    uint32_t size_;
    std::unique_ptr<uint8_t[]> data_;
};

}  // namespace

// ------------------------------------------------------------ DSP user

class DspUser final : public IDspUser, public IConnectionPointContainer {
  public:
    DspUser(std::shared_ptr<Core> core, Core::Slot& slot)
        : core_(std::move(core)),
          slot_(slot),
          proc_(*slot.processor),
          e1_(Self()),
          e2_(Self()),
          e3_(Self()),
          e4_(Self()),
          e5_(Self()),
          e6_(Self()),
          e7_(Self()),
          e9_(Self()),
          e10_(Self()),
          e11_(Self()),
          e12_(Self()),
          e13_(Self()) {}

    ~DspUser() override {
        std::lock_guard lock(slot_.userMu);
        if (slot_.user == this)
            slot_.user = nullptr;
    }

    std::atomic<uint32_t>& Refs() { return refs_; }

    HResult QueryInterface(const Guid& iid, void** out) override {
        if (!out)
            return kPointer;
        *out = nullptr;
        if (iid == IDspUser::kIid || iid == IUnknown::kIid)
            *out = static_cast<IDspUser*>(this);
        else if (iid == IConnectionPointContainer::kIid)
            *out = static_cast<IConnectionPointContainer*>(this);
        else
            return kNoInterface;
        AddRef();
        return kOk;
    }
    uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t Release() override {
        const uint32_t n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0)
            delete this;
        return n;
    }

    HResult FindConnectionPoint(const Guid& iid, IConnectionPoint** point) override {
        if (!point)
            return kPointer;
        *point = nullptr;
        const int32_t missing = proc_.MissingEvents();
        static constexpr int kNumbers[kUserEventsCount] = {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13};
        IConnectionPoint* cps[kUserEventsCount] = {&e1_, &e2_, &e3_,  &e4_,  &e5_,  &e6_,
                                                   &e7_, &e9_, &e10_, &e11_, &e12_, &e13_};
        for (int i = 0; i < kUserEventsCount; ++i) {
            if (iid == kUserEventsIids[i]) {
                if (kNumbers[i] == missing)
                    return kNoConnection;
                *point = cps[i];
                (*point)->AddRef();
                return kOk;
            }
        }
        return kNoConnection;
    }

    HResult CreateMemory(IDspValue* address, uint32_t size, int32_t, IDspMemory** memory) override {
        if (!address || !memory)
            return kPointer;
        *memory = nullptr;
        uint32_t a = 0;
        const HResult hr = address->GetValue(&a);
        if (Failed(hr))
            return hr;
        if (size > kMaxMemoryObject)
            return kInvalidArg;
        try {
            *memory = new Memory(a, size);
        } catch (const std::bad_alloc&) {
            return kFail;
        }
        return kOk;
    }
    HResult CreateValue(int32_t typeCode, uint32_t value, IDspValue** out) override {
        if (!out)
            return kPointer;
        *out = new Value(typeCode, value);
        return kOk;
    }
    HResult Run(const char*) override {
        if (proc_.TakeRefusal())
            return kRequestRefused;
        if (proc_.Dead())
            return kTargetDead;
        proc_.Run();
        return kOk;
    }
    HResult RunEx(const char* text, int32_t) override { return Run(text); }

    HResult Halt() override {
        HResult hr = Admit();
        if (Failed(hr))
            return hr;
        if (proc_.Dead())
            return kTargetDead;
        const RequestFaults f = proc_.TakeRequestFaults(false, false);
        Post([f](DspUser& u) {
            u.Before(f);
            u.proc_.Halt();
            u.Model(0);
            u.FireHalted();
        });
        return kOk;
    }
    HResult Reset() override {
        HResult hr = Admit();
        if (Failed(hr))
            return hr;
        const RequestFaults f = proc_.TakeRequestFaults(false, false);
        Post([f](DspUser& u) {
            u.Before(f);
            u.proc_.Reset();
            u.Model(0);
            u.e1_.Fire([](IDspUserEvents* s) { s->OnResetDone(0); });
        });
        return kOk;
    }
    HResult GetProcessorId(uint32_t* id) override {
        if (!id)
            return kPointer;
        *id = proc_.Id();
        return kOk;
    }
    HResult Load(const char* path, VariantBool) override {
        if (!path)
            return kPointer;
        HResult hr = Admit();
        if (Failed(hr))
            return hr;
        const RequestFaults f = proc_.TakeRequestFaults(false, true);
        Post([f, file = std::string(path)](DspUser& u) {
            u.Before(f);
            int32_t status = 1;
            std::string error;
            if (!f.fail && !u.proc_.Dead() && u.proc_.Load(file, error))
                status = 0;
            std::error_code ec;
            const auto bytes = std::filesystem::file_size(file, ec);
            u.Model(ec ? 0 : bytes);
            u.proc_.CountLink(true, ec ? 0 : bytes);
            u.e1_.Fire([status](IDspUserEvents* s) { s->OnProgramLoaded(status, kVariantFalse); });
        });
        return kOk;
    }
    HResult GetExecState(int32_t* state) override {
        if (!state)
            return kPointer;
        *state = proc_.ExecState();
        return kOk;
    }
    HResult ReadMem(IDspMemory* memory, VariantBool, VariantBool) override {
        return Transfer(memory, false);
    }
    HResult WriteMem(IDspMemory* memory, VariantBool, VariantBool) override {
        return Transfer(memory, true);
    }

    // Someone else acted on the target (bench control).
    void SomeoneElse(Unrequested event) {
        switch (event) {
            case Unrequested::Halt:
                proc_.Halt();
                FireHalted();
                break;
            case Unrequested::Reset:
                proc_.Reset();
                e1_.Fire([](IDspUserEvents* s) { s->OnResetDone(0); });
                break;
            case Unrequested::Address:
            case Unrequested::Address2: {
                ComPtr<Value> pc =
                    ComPtr<Value>::Adopt(new Value(kTypeAddress, proc_.ProgramCounter()));
                const bool second = event == Unrequested::Address2;
                e1_.Fire([&](IDspUserEvents* s) {
                    if (second)
                        s->OnStoppedAt(pc.Get());
                    else
                        s->OnPcChanged(pc.Get());
                });
                break;
            }
        }
    }

  private:
    IUnknown* Self() { return static_cast<IDspUser*>(this); }

    HResult Admit() {
        if (proc_.TakeRefusal())
            return kRequestRefused;
        return kOk;
    }

    template <class F>
    void Post(F f) {
        // The job holds the user (and through it the server) until it is gone.
        ComPtr<DspUser> self(this);
        slot_.worker->Post([self, f]() mutable {
            self.Get()->proc_.CountRequest();
            f(*self.Get());
        });
    }

    HResult Transfer(IDspMemory* memory, bool write) {
        if (!memory)
            return kPointer;
        Memory* mem = Memory::From(memory);
        if (!mem)
            return kInvalidArg;
        HResult hr = Admit();
        if (Failed(hr))
            return hr;
        const RequestFaults f = proc_.TakeRequestFaults(true, false);
        ComPtr<Memory> held(mem);
        Post([f, held, write](DspUser& u) {
            u.Before(f);
            Memory& m = *held.Get();
            bool ok = !f.fail && !u.proc_.Dead();
            if (ok && !write)
                u.proc_.CountBusyPoll(m.Address(), m.Size());
            if (ok)
                ok = write ? u.proc_.WriteMemory(m.Address(), m.Data(), m.Size())
                           : u.proc_.ReadMemory(m.Address(), m.Data(), m.Size());
            u.Model(m.Size());
            u.proc_.CountLink(write, m.Size());
            const VariantBool failed = ok ? kVariantFalse : kVariantTrue;
            u.e1_.Fire([&](IDspUserEvents* s) { s->OnMemoryDone(held.Get(), failed); });
        });
        return kOk;
    }

    // What a request brings along before its own completion.
    void Before(const RequestFaults& f) {
        if (f.restartFailure)
            e1_.Fire([](IDspUserEvents* s) { s->OnRestartDone(1); });
        if (f.halt)
            SomeoneElse(Unrequested::Halt);
        if (f.reset)
            SomeoneElse(Unrequested::Reset);
        if (f.address)
            SomeoneElse(Unrequested::Address);
    }

    void FireHalted() {
        ComPtr<Value> pc = ComPtr<Value>::Adopt(new Value(kTypeAddress, proc_.ProgramCounter()));
        e1_.Fire([&](IDspUserEvents* s) { s->OnHalted(pc.Get()); });
    }

    void Model(uint64_t bytes) {
        const Timing& t = proc_.GetTiming();
        if (!t.IsOff())
            slot_.worker->Sleep(TransferTime(t, bytes));
    }

    const std::shared_ptr<Core> core_;  // first: released last
    Core::Slot& slot_;
    Processor& proc_;
    std::atomic<uint32_t> refs_{1};
    ConnectionPoint<IDspUserEvents> e1_;
    ConnectionPoint<IDspUserEvents2> e2_;
    ConnectionPoint<IDspUserEvents3> e3_;
    ConnectionPoint<IDspUserEvents4> e4_;
    ConnectionPoint<IDspUserEvents5> e5_;
    ConnectionPoint<IDspUserEvents6> e6_;
    ConnectionPoint<IDspUserEvents7> e7_;
    ConnectionPoint<IDspUserEvents9> e9_;
    ConnectionPoint<IDspUserEvents10> e10_;
    ConnectionPoint<IDspUserEvents11> e11_;
    ConnectionPoint<IDspUserEvents12> e12_;
    ConnectionPoint<IDspUserEvents13> e13_;
};

namespace {

// ------------------------------------------------------------ collections

class Task final : public RefCounted<IDspTask> {
  public:
    Task(std::shared_ptr<Core> core, Core::Slot& slot) : core_(std::move(core)), slot_(slot) {}
    HResult GetName(std::string* name) override {
        if (!name)
            return kPointer;
        *name = slot_.processor->Desc().name;
        return kOk;
    }
    HResult GetDspUser(IDspUser** user) override {
        if (!user)
            return kPointer;
        *user = core_->GetUser(core_, slot_).Detach();
        return kOk;
    }

  private:
    std::shared_ptr<Core> core_;
    Core::Slot& slot_;
};

class Tasks final : public RefCounted<IDspTasks> {
  public:
    Tasks(std::shared_ptr<Core> core, int board) : core_(std::move(core)), board_(board) {}
    HResult Count(int32_t* count) override {
        if (!count)
            return kPointer;
        *count = core_->ProcessorCount(board_);
        return kOk;
    }
    HResult Item(int32_t index, IDspTask** task) override {
        if (!task)
            return kPointer;
        *task = nullptr;
        Core::Slot* slot = core_->Find(board_, index);
        if (!slot)
            return kBadIndex;
        *task = new Task(core_, *slot);
        return kOk;
    }

  private:
    std::shared_ptr<Core> core_;
    int board_;
};

class Board final : public RefCounted<IDspBoard> {
  public:
    Board(std::shared_ptr<Core> core, int board) : core_(std::move(core)), board_(board) {}
    HResult GetDspTasks(IDspTasks** tasks) override {
        if (!tasks)
            return kPointer;
        *tasks = new Tasks(core_, board_);
        return kOk;
    }
    HResult GetName(std::string* name) override {
        if (!name)
            return kPointer;
        *name = core_->BoardName(board_);
        return kOk;
    }

  private:
    std::shared_ptr<Core> core_;
    int board_;
};

class Boards final : public RefCounted<IDspBoards> {
  public:
    explicit Boards(std::shared_ptr<Core> core) : core_(std::move(core)) {}
    HResult Count(int32_t* count) override {
        if (!count)
            return kPointer;
        *count = core_->BoardCount();
        return kOk;
    }
    HResult Item(int32_t index, IDspBoard** board) override {
        if (!board)
            return kPointer;
        *board = nullptr;
        if (index < 0 || index >= core_->BoardCount())
            return kBadIndex;
        *board = new Board(core_, index);
        return kOk;
    }

  private:
    std::shared_ptr<Core> core_;
};

// ------------------------------------------------------------ application

class Application;
std::mutex gActiveMu;
Application* gActive = nullptr;

class Application final : public IApplication,
                          public IConnectionPointContainer,
                          public IBenchControl {
  public:
    Application(std::shared_ptr<Core> core) : core_(std::move(core)), events_(Self()) {}

    bool RegisterActive() {
        std::lock_guard lock(gActiveMu);
        if (gActive)
            return false;
        gActive = this;
        return true;
    }
    static IUnknown* Active() {
        std::lock_guard lock(gActiveMu);
        if (gActive && TryAddRef(gActive->refs_))
            return gActive->Self();
        return nullptr;
    }

    HResult QueryInterface(const Guid& iid, void** out) override {
        if (!out)
            return kPointer;
        *out = nullptr;
        if (iid == IApplication::kIid || iid == IUnknown::kIid)
            *out = static_cast<IApplication*>(this);
        else if (iid == IConnectionPointContainer::kIid)
            *out = static_cast<IConnectionPointContainer*>(this);
        else if (iid == IBenchControl::kIid)
            *out = static_cast<IBenchControl*>(this);
        else if (iid == IComportLink::kIid)
            return CreateComportLink(core_, out);
        else
            return kNoInterface;
        AddRef();
        return kOk;
    }
    uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t Release() override {
        const uint32_t n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0) {
            {
                std::lock_guard lock(gActiveMu);
                if (gActive == this)
                    gActive = nullptr;
            }
            delete this;
        }
        return n;
    }

    HResult GetDspBoards(IDspBoards** boards) override {
        if (!boards)
            return kPointer;
        *boards = new Boards(core_);
        return kOk;
    }

    HResult FindConnectionPoint(const Guid& iid, IConnectionPoint** point) override {
        if (!point)
            return kPointer;
        *point = nullptr;
        if (!(iid == ICodeComposerAppEvents::kIid))
            return kNoConnection;
        *point = &events_;
        events_.AddRef();
        return kOk;
    }

    // Bench control.
    HResult SetFault(int32_t board, int32_t processor, Fault fault, uint32_t count) override {
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        if (static_cast<int32_t>(fault) < 1 || static_cast<int32_t>(fault) > 11)
            return kInvalidArg;
        slot->processor->SetFault(fault, count);
        return kOk;
    }
    HResult ClearFaults(int32_t board, int32_t processor) override {
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        slot->processor->ClearFaults();
        return kOk;
    }
    HResult RaiseUnrequested(int32_t board, int32_t processor, Unrequested event) override {
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        if (static_cast<int32_t>(event) < 1 || static_cast<int32_t>(event) > 4)
            return kInvalidArg;
        std::shared_ptr<Core> core = core_;
        slot->worker->Post([core, slot, event] {
            ComPtr<DspUser> user = Core::CurrentUser(*slot);
            if (user) {
                user->SomeoneElse(event);
            } else if (event == Unrequested::Halt) {
                slot->processor->Halt();
            } else if (event == Unrequested::Reset) {
                slot->processor->Reset();
            }
        });
        return kOk;
    }
    HResult WaitIdle() override {
        if (Worker::OnAnyWorker())
            return kWrongThread;
        core_->DrainAll();
        return kOk;
    }
    HResult WaitProgrammerIdle(int32_t board, int32_t processor) override {
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        if (Worker::OnAnyWorker())
            return kWrongThread;
        slot->worker->Drain();
        slot->processor->WaitProgrammerIdle();
        return kOk;
    }
    HResult GetProgrammerInfo(int32_t board, int32_t processor, ProgrammerInfo* info) override {
        if (!info)
            return kPointer;
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        *info = slot->processor->GetProgrammerInfo();
        return kOk;
    }
    HResult GetLinkTraffic(int32_t board, int32_t processor, uint64_t* toTarget,
                           uint64_t* fromTarget) override {
        if (!toTarget || !fromTarget)
            return kPointer;
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        *toTarget = slot->processor->LinkToTarget();
        *fromTarget = slot->processor->LinkFromTarget();
        return kOk;
    }
    HResult GetLinkRequests(int32_t board, int32_t processor, uint64_t* requests,
                            uint64_t* busyPolls) override {
        if (!requests || !busyPolls)
            return kPointer;
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        *requests = slot->processor->LinkRequests();
        *busyPolls = slot->processor->BusyPolls();
        return kOk;
    }
    HResult PeekMemory(int32_t board, int32_t processor, uint32_t address, void* buffer,
                       uint32_t length) override {
        if (!buffer && length)
            return kPointer;
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        return slot->processor->ReadMemory(address, buffer, length) ? kOk : kInvalidArg;
    }
    HResult PokeMemory(int32_t board, int32_t processor, uint32_t address, const void* buffer,
                       uint32_t length) override {
        if (!buffer && length)
            return kPointer;
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        return slot->processor->WriteMemory(address, buffer, length) ? kOk : kInvalidArg;
    }
    HResult GetFlashImagePath(int32_t board, int32_t processor, std::string* path) override {
        if (!path)
            return kPointer;
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        *path = slot->processor->GetModule().image.Path();
        return kOk;
    }
    HResult GetRealtime(VariantBool* realtime) override {
        if (!realtime)
            return kPointer;
        *realtime = core_->Realtime() ? kVariantTrue : kVariantFalse;
        return kOk;
    }

  private:
    IUnknown* Self() { return static_cast<IApplication*>(this); }

    std::shared_ptr<Core> core_;
    std::atomic<uint32_t> refs_{1};
    ConnectionPoint<ICodeComposerAppEvents> events_;
};

}  // namespace

// ------------------------------------------------------------ core

HResult Core::Create(const BenchOptions& options, std::shared_ptr<Core>& out, std::string& error) {
    std::string source;
    auto desc = LoadDescription(options.descriptionText, options.descriptionPath, source, error);
    if (!desc)
        return kBadDescription;
    std::shared_ptr<Core> core(new Core());
    core->desc_ = std::move(*desc);
    core->stateFolder_ = ResolveStateFolder(options.stateFolder);
    if (!platform::MakeFolders(core->stateFolder_ + "/locks")) {
        error = "cannot create the bench state folder '" + core->stateFolder_ + "'";
        return kBadDescription;
    }
    // Held for the server's life: the stand-in of the debugger's named mutex.
    const std::string lock = core->stateFolder_ + "/locks/" + QelBenchLockName() + ".lock";
    if (core->namedLock_.Open(lock, true))
        core->namedLock_.Lock(platform::LockedFile::Mode::Shared);
    core->realtime_ = RealtimeRequested();

    for (size_t b = 0; b < core->desc_.boards.size(); ++b) {
        const BoardDesc& board = core->desc_.boards[b];
        core->workers_.push_back(Worker::Start());
        core->boards_.emplace_back();
        int index = 0;
        for (const ModuleDesc& m : board.modules) {
            const std::string path = ImagePath(core->stateFolder_, m);
            platform::MakeFolders(std::filesystem::path(path).parent_path().string());
            core->modules_.push_back(std::make_unique<Module>(m, path));
            Module& module = *core->modules_.back();
            for (const ProcessorDesc& p : module.desc.processors) {
                auto slot = std::make_unique<Slot>();
                slot->processor =
                    std::make_unique<Processor>(p, module, static_cast<int>(b), index++);
                slot->worker = core->workers_.back();
                core->boards_.back().push_back(std::move(slot));
            }
        }
    }
    for (const StoredFault& f : ReadStoredFaults(core->stateFolder_))
        if (Slot* slot = core->Find(f.board, f.processor))
            slot->processor->SetFault(f.setting.fault, f.setting.count);
    out = std::move(core);
    return kOk;
}

Core::~Core() {
    for (auto& w : workers_) w->Shutdown();
    boards_.clear();  // stops the programmer models before their modules go
}

int Core::ProcessorCount(int board) const {
    if (board < 0 || board >= BoardCount())
        return 0;
    return static_cast<int>(boards_[board].size());
}

Core::Slot* Core::Find(int board, int processor) {
    if (board < 0 || board >= BoardCount())
        return nullptr;
    if (processor < 0 || processor >= static_cast<int>(boards_[board].size()))
        return nullptr;
    return boards_[board][processor].get();
}

ComPtr<DspUser> Core::GetUser(const std::shared_ptr<Core>& self, Slot& slot) {
    std::lock_guard lock(slot.userMu);
    if (slot.user && TryAddRef(slot.user->Refs()))
        return ComPtr<DspUser>::Adopt(slot.user);
    auto* user = new DspUser(self, slot);
    slot.user = user;
    return ComPtr<DspUser>::Adopt(user);
}

ComPtr<DspUser> Core::CurrentUser(Slot& slot) {
    std::lock_guard lock(slot.userMu);
    if (slot.user && TryAddRef(slot.user->Refs()))
        return ComPtr<DspUser>::Adopt(slot.user);
    return {};
}

void Core::DrainAll() {
    for (auto& w : workers_) w->Drain();
}

HResult CreateApplication(const std::shared_ptr<Core>& core, bool registerActive,
                          IApplication** out) {
    if (!out)
        return kPointer;
    auto* app = new Application(core);
    if (registerActive)
        app->RegisterActive();
    *out = app;
    return kOk;
}

IUnknown* ActiveApplication() {
    return Application::Active();
}

}  // namespace qel::bench
