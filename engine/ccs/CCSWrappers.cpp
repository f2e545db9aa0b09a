#include "engine/ccs/CCSWrappers.h"

#include "engine/ccs/CCSEvents.h"

using namespace qel::bench;
using qel::ccs::Check;

// ---------------------------------------------------------------- boards and tasks

int32_t CCDspBoards::Count() const {
    int32_t count = 0;
    Check(Checked()->Count(&count));
    return count;
}

CCDspBoard CCDspBoards::Item(int32_t index) const {
    IDspBoard* board = nullptr;
    Check(Checked()->Item(index, &board));
    return CCDspBoard(board, false);
}

CCDspTasks CCDspBoard::GetDspTasks() const {
    IDspTasks* tasks = nullptr;
    Check(Checked()->GetDspTasks(&tasks));
    return CCDspTasks(tasks, false);
}

std::string CCDspBoard::GetName() const {
    std::string name;
    Check(Checked()->GetName(&name));
    return name;
}

int32_t CCDspTasks::Count() const {
    int32_t count = 0;
    Check(Checked()->Count(&count));
    return count;
}

CCDspTask CCDspTasks::Item(int32_t index) const {
    IDspTask* task = nullptr;
    Check(Checked()->Item(index, &task));
    return CCDspTask(task, false);
}

std::string CCDspTask::GetName() const {
    std::string name;
    Check(Checked()->GetName(&name));
    return name;
}

CCDspUser CCDspTask::GetDspUser() const {
    IDspUser* user = nullptr;
    Check(Checked()->GetDspUser(&user));
    return CCDspUser(user, false);
}

// ---------------------------------------------------------------- values and memory

CCDspValue::CCDspValue(const CCDspUser& user, int32_t typeCode, uint32_t value) : CCDspValue() {
    *this = user.CreateValue(typeCode, value);
}

CCDspValue& CCDspValue::operator=(const CCDspValue& other) {
    if (IsValid()) {
        IDspValue* target = Checked();
        IDspValue* source = other.Checked();
        if (source != target)
            Check(target->Assign(source));
    } else {
        ReplaceObject(other.Checked());
    }
    return *this;
}

uint32_t CCDspValue::GetValue() const {
    uint32_t value = 0;
    Check(Checked()->GetValue(&value));
    return value;
}

void CCDspValue::SetValue(uint32_t value) const {
    Check(Checked()->SetValue(value));
}

CCDspAddr::CCDspAddr(const CCDspUser& user, uint32_t address)
    : CCDspValue(user, CCS_TYPE_ADDRESS, address) {}

CCDspMemory::CCDspMemory(const CCDspUser& user, const CCDspValue& address, uint32_t size,
                         int32_t third)
    : CCDspMemory() {
    *this = user.CreateMemory(address, size, third);
}

CCDspMemory& CCDspMemory::operator=(const CCDspMemory& other) {
    if (IsValid()) {
        IDspMemory* target = Checked();
        IDspMemory* source = other.Checked();
        if (source != target)
            Check(target->Assign(source));
    } else {
        ReplaceObject(other.Checked());
    }
    return *this;
}

void CCDspMemory::SetValue(const CCDspValue& value, int32_t index) const {
    IDspMemory* memory = Checked();
    value.CheckValid();
    Check(memory->SetValue(value.GetInterface(), index));
}

uint32_t CCDspMemory::GetWord(uint32_t byteOffset) const {
    uint32_t word = 0;
    Check(Checked()->GetWord(byteOffset, &word));
    return word;
}

void CCDspMemory::ReadBytes(uint32_t offset, void* buffer, uint32_t length) const {
    Check(Checked()->ReadBytes(offset, buffer, length));
}

void CCDspMemory::WriteBytes(uint32_t offset, const void* buffer, uint32_t length) const {
    Check(Checked()->WriteBytes(offset, buffer, length));
}

void CCDspMemory::SetWord(uint32_t byteOffset, uint32_t word) const {
    Check(Checked()->SetWord(byteOffset, word));
}

namespace {

IDspMemory* MemoryOf(IDspRegister* reg) {
    IDspMemory* memory = nullptr;
    if (reg == nullptr ||
        Failed(reg->QueryInterface(IDspMemory::kIid, reinterpret_cast<void**>(&memory))))
        return nullptr;
    return memory;
}

}  // namespace

CCDspRegister::CCDspRegister()
    : RegisterBase("CCDspRegister"), CCDspMemory(nullptr, false, "CCDspRegister") {}

CCDspRegister::CCDspRegister(IDspRegister* object, bool addRef)
    : RegisterBase(object, addRef, "CCDspRegister"),
      CCDspMemory(MemoryOf(object), false, "CCDspRegister") {}

std::string CCDspRegister::GetName() const {
    std::string name;
    Check(RegisterBase::Checked()->GetName(&name));
    return name;
}

uint32_t CCDspRegister::GetRegisterValue() const {
    uint32_t value = 0;
    Check(RegisterBase::Checked()->GetValue(&value));
    return value;
}

std::string CCLValue::GetName() const {
    std::string name;
    Check(Checked()->GetName(&name));
    return name;
}

uint32_t CCLValue::GetValue() const {
    uint32_t value = 0;
    Check(Checked()->GetValue(&value));
    return value;
}

// ---------------------------------------------------------------- DSP user

namespace {

VariantBool ToVariant(bool value) {
    return value ? kVariantTrue : kVariantFalse;
}

qel::ccs::CEventSink* NewUserSink(CCDspUser* owner, int index) {
    using namespace qel::ccs;
    switch (index) {
        case 0:
            return new CCDspUserEvents(owner);
        case 1:
            return new CCDspUserEvents2(owner);
        case 2:
            return new CCDspUserEvents3(owner);
        case 3:
            return new CCDspUserEvents4(owner);
        case 4:
            return new CCDspUserEvents5(owner);
        case 5:
            return new CCDspUserEvents6(owner);
        case 6:
            return new CCDspUserEvents7(owner);
        case 7:
            return new CCDspUserEvents9(owner);
        case 8:
            return new CCDspUserEvents10(owner);
        case 9:
            return new CCDspUserEvents11(owner);
        case 10:
            return new CCDspUserEvents12(owner);
        default:
            return new CCDspUserEvents13(owner);
    }
}

int UserEventsIndex(const Guid& events) {
    for (int i = 0; i < kUserEventsCount; ++i) {
        if (kUserEventsIids[i] == events)
            return i;
    }
    return -1;
}

// Connects (creating the sink on first use) or disconnects one sink.
template <class Factory>
void ConnectSink(qel::ccs::CEventSink*& sink, bool on, IUnknown* source, Factory&& make) {
    if (source == nullptr)
        return;
    if (sink == nullptr) {
        if (!on)
            return;
        sink = make();
        sink->AddSinkRef();
    }
    if (on) {
        sink->Connect(source);
    } else {
        sink->Disconnect();
    }
}

void DropSink(qel::ccs::CEventSink*& sink) {
    if (sink == nullptr)
        return;
    sink->Detach();
    sink->ReleaseSinkRef();
    sink = nullptr;
}

}  // namespace

CCDspUser::CCDspUser() : CComWrapper("CCDspUser") {}

CCDspUser::CCDspUser(IDspUser* object, bool addRef) : CComWrapper(object, addRef, "CCDspUser") {
    ConnectAllEvents(true);
}

CCDspUser::CCDspUser(NoConnect, IDspUser* object, bool addRef)
    : CComWrapper(object, addRef, "CCDspUser") {}

CCDspUser::CCDspUser(const CCDspUser& other) : CComWrapper(other) {
    ConnectAllEvents(true);
}

CCDspUser& CCDspUser::operator=(const CCDspUser& other) {
    if (this == &other)
        return *this;
    const bool connect = other.AllConnected();
    ConnectAllEvents(false);
    ReplaceObject(other.GetInterface());
    if (connect)
        ConnectAllEvents(true);
    return *this;
}

CCDspUser::~CCDspUser() {
    DisconnectForDestruction();
}

void CCDspUser::DisconnectForDestruction() {
    for (qel::ccs::CEventSink*& sink : sinks_) DropSink(sink);
}

void CCDspUser::ConnectEvents(bool on, const Guid& events) {
    const int index = UserEventsIndex(events);
    if (index < 0)
        return;
    ConnectSink(sinks_[index], on, GetInterface(),
                [this, index] { return NewUserSink(this, index); });
}

bool CCDspUser::IsConnected(const Guid& events) const {
    const int index = UserEventsIndex(events);
    return index >= 0 && sinks_[index] != nullptr && sinks_[index]->IsConnected();
}

void CCDspUser::ConnectAllEvents(bool on) {
    for (const Guid& events : kUserEventsIids) ConnectEvents(on, events);
}

bool CCDspUser::AllConnected() const {
    for (const Guid& events : kUserEventsIids) {
        if (!IsConnected(events))
            return false;
    }
    return true;
}

CCDspMemory CCDspUser::CreateMemory(const CCDspValue& address, uint32_t size, int32_t third) const {
    IDspUser* user = Checked();
    address.CheckValid();
    IDspMemory* memory = nullptr;
    Check(user->CreateMemory(address.GetInterface(), size, third, &memory));
    return CCDspMemory(memory, false);
}

CCDspValue CCDspUser::CreateValue(int32_t typeCode, uint32_t value) const {
    IDspValue* result = nullptr;
    Check(Checked()->CreateValue(typeCode, value, &result));
    return CCDspValue(result, false);
}

void CCDspUser::Run(const char* text, int32_t count) const {
    IDspUser* user = Checked();
    const char* argument = text != nullptr ? text : "";
    Check(count == 0 ? user->Run(argument) : user->RunEx(argument, count));
}

void CCDspUser::Halt() const {
    Check(Checked()->Halt());
}

void CCDspUser::Reset() const {
    Check(Checked()->Reset());
}

uint32_t CCDspUser::GetProcessorId() const {
    uint32_t id = 0;
    Check(Checked()->GetProcessorId(&id));
    return id;
}

void CCDspUser::Load(const char* path, bool flag) const {
    IDspUser* user = Checked();
    Check(user->Load(path != nullptr ? path : "", ToVariant(flag)));
}

int32_t CCDspUser::GetExecState() const {
    int32_t state = 0;
    Check(Checked()->GetExecState(&state));
    return state;
}

void CCDspUser::ReadMem(const CCDspMemory& memory, bool flag1, bool flag2) const {
    IDspUser* user = Checked();
    memory.CheckValid();
    Check(user->ReadMem(memory.GetInterface(), ToVariant(flag1), ToVariant(flag2)));
}

void CCDspUser::WriteMem(const CCDspMemory& memory, bool flag1, bool flag2) const {
    IDspUser* user = Checked();
    memory.CheckValid();
    Check(user->WriteMem(memory.GetInterface(), ToVariant(flag1), ToVariant(flag2)));
}

// ---------------------------------------------------------------- application

CCApplication::CCApplication() : CComWrapper("CCApplication") {}

CCApplication::CCApplication(IApplication* object, bool addRef)
    : CComWrapper(object, addRef, "CCApplication") {
    ConnectAllEvents(true);
}

CCApplication::CCApplication(NoConnect, IApplication* object, bool addRef)
    : CComWrapper(object, addRef, "CCApplication") {}

CCApplication::CCApplication(const CCApplication& other) : CComWrapper(other) {
    if (other.AllConnected())
        ConnectAllEvents(true);
}

CCApplication& CCApplication::operator=(const CCApplication& other) {
    if (this == &other)
        return *this;
    const bool connect = other.AllConnected();
    ConnectAllEvents(false);
    ReplaceObject(other.GetInterface());
    if (connect)
        ConnectAllEvents(true);
    return *this;
}

CCApplication::~CCApplication() {
    DisconnectForDestruction();
}

void CCApplication::DisconnectForDestruction() {
    DropSink(sink_);
}

void CCApplication::ConnectEvents(bool on, const Guid& events) {
    if (!(events == ICodeComposerAppEvents::kIid))
        return;
    ConnectSink(sink_, on, GetInterface(),
                [this] { return new qel::ccs::CCApplicationEvents(this); });
}

bool CCApplication::IsConnected(const Guid& events) const {
    return events == ICodeComposerAppEvents::kIid && sink_ != nullptr && sink_->IsConnected();
}

void CCApplication::ConnectAllEvents(bool on) {
    ConnectEvents(on, ICodeComposerAppEvents::kIid);
}

bool CCApplication::AllConnected() const {
    return IsConnected(ICodeComposerAppEvents::kIid);
}

CCDspBoards CCApplication::GetDspBoards() const {
    IDspBoards* boards = nullptr;
    Check(Checked()->GetDspBoards(&boards));
    return CCDspBoards(boards, false);
}
