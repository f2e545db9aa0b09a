#include "BenchClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace benchtest {

// ------------------------------------------------------------ files

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "bench";
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.')
            c = '_';
    path_ = (std::filesystem::temp_directory_path() /
             ("qelbench-" + name + "-" + std::to_string(rd()) + "-" + std::to_string(counter++)))
                .string();
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string p = File(name);
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return p;
}

std::string TempDir::WriteText(const std::string& name, const std::string& text) const {
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void PutU32(std::vector<uint8_t>& v, size_t at, uint32_t value) {
    if (v.size() < at + 4)
        v.resize(at + 4);
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const std::vector<uint8_t>& v, size_t at) {
    uint32_t x = 0;
    for (int i = 0; i < 4; ++i) x |= static_cast<uint32_t>(v.at(at + i)) << (8 * i);
    return x;
}

namespace {
void PutU16(std::vector<uint8_t>& v, size_t at, uint16_t value) {
    if (v.size() < at + 2)
        v.resize(at + 2);
    v[at] = static_cast<uint8_t>(value);
    v[at + 1] = static_cast<uint8_t>(value >> 8);
}
}  // namespace

std::vector<uint8_t> MakeCoff(const std::vector<CoffSection>& sections, uint32_t entry,
                              bool withOptional) {
    const size_t opt = withOptional ? 28 : 0;
    const size_t headers = 22 + opt + 48 * sections.size();
    std::vector<uint8_t> f(headers, 0);
    PutU16(f, 0, 0x00C2);
    PutU16(f, 2, static_cast<uint16_t>(sections.size()));
    PutU16(f, 16, static_cast<uint16_t>(opt));
    PutU16(f, 18, 0x0002);
    PutU16(f, 20, 0x0099);
    if (withOptional) {
        PutU16(f, 22, 0x0108);
        PutU32(f, 22 + 16, entry);
    }
    size_t data = headers;
    for (size_t i = 0; i < sections.size(); ++i) {
        const size_t h = 22 + opt + 48 * i;
        const CoffSection& s = sections[i];
        std::memcpy(f.data() + h, s.name.data(), std::min<size_t>(8, s.name.size()));
        PutU32(f, h + 8, s.address);
        PutU32(f, h + 12, s.address);
        PutU32(f, h + 16, static_cast<uint32_t>(s.data.size()));
        PutU32(f, h + 20, s.data.empty() ? 0 : static_cast<uint32_t>(data));
        PutU32(f, h + 40, s.flags);
        data += s.data.size();
    }
    for (const auto& s : sections) f.insert(f.end(), s.data.begin(), s.data.end());
    return f;
}

std::vector<uint8_t> MakeProgrammer(uint32_t at, uint32_t commandBlock, uint32_t timType) {
    std::vector<uint8_t> code = {'Q', 'E', 'L', 'F', 'P', 'R', 'O', 'G'};
    PutU32(code, 8, 1);
    PutU32(code, 12, commandBlock);
    PutU32(code, 16, timType);
    for (int i = 0; i < 44; ++i) code.push_back(static_cast<uint8_t>(0xA0 + i));
    return MakeCoff({{".fprog", at, code}}, at);
}

std::vector<uint8_t> MakeFdbPayload(uint32_t timType) {
    std::vector<uint8_t> p = {'Q', 'E', 'L', 'F', 'D', 'B', '0', '1'};
    PutU32(p, 8, timType);
    p.resize(64, 0);
    return p;
}

// ------------------------------------------------------------ sink

HResult Sink::QueryInterface(const Guid& iid, void** out) {
    if (!out)
        return kPointer;
    *out = nullptr;
    if (iid == IUnknown::kIid || iid == IDspUserEvents::kIid)
        *out = static_cast<IDspUserEvents*>(this);
    else if (iid == IDspUserEvents2::kIid)
        *out = static_cast<IDspUserEvents2*>(this);
    else if (iid == IDspUserEvents3::kIid)
        *out = static_cast<IDspUserEvents3*>(this);
    else if (iid == IDspUserEvents4::kIid)
        *out = static_cast<IDspUserEvents4*>(this);
    else if (iid == IDspUserEvents5::kIid)
        *out = static_cast<IDspUserEvents5*>(this);
    else if (iid == IDspUserEvents6::kIid)
        *out = static_cast<IDspUserEvents6*>(this);
    else if (iid == IDspUserEvents7::kIid)
        *out = static_cast<IDspUserEvents7*>(this);
    else if (iid == IDspUserEvents9::kIid)
        *out = static_cast<IDspUserEvents9*>(this);
    else if (iid == IDspUserEvents10::kIid)
        *out = static_cast<IDspUserEvents10*>(this);
    else if (iid == IDspUserEvents11::kIid)
        *out = static_cast<IDspUserEvents11*>(this);
    else if (iid == IDspUserEvents12::kIid)
        *out = static_cast<IDspUserEvents12*>(this);
    else if (iid == IDspUserEvents13::kIid)
        *out = static_cast<IDspUserEvents13*>(this);
    else
        return kNoInterface;
    AddRef();
    return kOk;
}

uint32_t Sink::AddRef() {
    return ++refs_;
}
uint32_t Sink::Release() {
    const uint32_t n = --refs_;
    if (n == 0)
        delete this;
    return n;
}

void Sink::Add(Event e) {
    if (onEvent)
        onEvent(e);
    std::lock_guard lock(mu_);
    events_.push_back(e);
    cv_.notify_all();
}

size_t Sink::Count() const {
    std::lock_guard lock(mu_);
    return events_.size();
}

std::vector<Event> Sink::Events() const {
    std::lock_guard lock(mu_);
    return events_;
}

Event Sink::At(size_t index) const {
    std::lock_guard lock(mu_);
    return events_.at(index);
}

size_t Sink::WaitFor(Event::Kind kind, size_t from) {
    std::unique_lock lock(mu_);
    size_t found = 0;
    cv_.wait(lock, [&] {
        for (size_t i = from; i < events_.size(); ++i)
            if (events_[i].kind == kind) {
                found = i;
                return true;
            }
        return false;
    });
    return found;
}

HResult Sink::OnTextRequest(std::string* text) {
    if (text)
        text->clear();
    return kOk;
}

namespace {
uint32_t ValueOf(IDspValue* v) {
    uint32_t x = 0;
    if (v)
        v->GetValue(&x);
    return x;
}
}  // namespace

HResult Sink::OnHalted(IDspValue* address) {
    Add({Event::Halted, 0, 0, nullptr, ValueOf(address)});
    return kOk;
}
HResult Sink::OnMemoryDone(IDspMemory* memory, VariantBool failed) {
    Add({Event::MemoryDone, 0, failed, memory, 0});
    return kOk;
}
HResult Sink::OnPcChanged(IDspValue* address) {
    Add({Event::PcChanged, 0, 0, nullptr, ValueOf(address)});
    return kOk;
}
HResult Sink::OnStoppedAt(IDspValue* address) {
    Add({Event::StoppedAt, 0, 0, nullptr, ValueOf(address)});
    return kOk;
}
HResult Sink::OnProgramLoaded(int32_t status, VariantBool flag) {
    Add({Event::ProgramLoaded, status, flag, nullptr, 0});
    return kOk;
}
HResult Sink::OnResetDone(int32_t status) {
    Add({Event::ResetDone, status, 0, nullptr, 0});
    return kOk;
}
HResult Sink::OnRestartDone(int32_t status) {
    Add({Event::RestartDone, status, 0, nullptr, 0});
    return kOk;
}

// ------------------------------------------------------------ client

IApplication* CreateBench(const std::string& description, const std::string& state) {
    BenchOptions o;
    o.descriptionText = description;
    o.stateFolder = state;
    IApplication* app = nullptr;
    EXPECT_EQ(QelBenchCreate(o, &app), kOk);
    return app;
}

Client::Client(IApplication* app, int board, int processor) {
    IDspBoards* boards = nullptr;
    IDspBoard* b = nullptr;
    IDspTasks* tasks = nullptr;
    IDspTask* task = nullptr;
    EXPECT_EQ(app->GetDspBoards(&boards), kOk);
    EXPECT_EQ(boards->Item(board, &b), kOk);
    EXPECT_EQ(b->GetDspTasks(&tasks), kOk);
    EXPECT_EQ(tasks->Item(processor, &task), kOk);
    EXPECT_EQ(task->GetDspUser(&user_), kOk);
    task->Release();
    tasks->Release();
    b->Release();
    boards->Release();
    sink_ = new Sink();
    IConnectionPointContainer* cpc = nullptr;
    EXPECT_EQ(
        user_->QueryInterface(IConnectionPointContainer::kIid, reinterpret_cast<void**>(&cpc)),
        kOk);
    for (const Guid& iid : kUserEventsIids) {
        IConnectionPoint* cp = nullptr;
        if (Failed(cpc->FindConnectionPoint(iid, &cp)))
            continue;
        uint32_t cookie = 0;
        if (Succeeded(cp->Advise(static_cast<IDspUserEvents*>(sink_), &cookie))) {
            cookies_.push_back({cp, cookie});
            ++connected_;
        } else {
            cp->Release();
        }
    }
    cpc->Release();
}

Client::~Client() {
    for (auto& [cp, cookie] : cookies_) {
        cp->Unadvise(cookie);
        cp->Release();
    }
    sink_->Release();
    user_->Release();
}

bool Client::Read(uint32_t address, void* buffer, uint32_t length) {
    IDspValue* a = nullptr;
    IDspMemory* m = nullptr;
    EXPECT_EQ(user_->CreateValue(kTypeAddress, address, &a), kOk);
    EXPECT_EQ(user_->CreateMemory(a, length, 0, &m), kOk);
    const size_t from = sink_->Count();
    const HResult hr = user_->ReadMem(m, kVariantFalse, kVariantFalse);
    bool ok = false;
    if (Succeeded(hr)) {
        const Event e = sink_->At(sink_->WaitFor(Event::MemoryDone, from));
        EXPECT_EQ(e.memory, m);
        ok = e.flag != kVariantTrue;
        if (ok) {
            EXPECT_EQ(m->ReadBytes(0, buffer, length), kOk);
        }
    }
    m->Release();
    a->Release();
    return ok;
}

bool Client::Write(uint32_t address, const void* buffer, uint32_t length) {
    IDspValue* a = nullptr;
    IDspMemory* m = nullptr;
    EXPECT_EQ(user_->CreateValue(kTypeAddress, address, &a), kOk);
    EXPECT_EQ(user_->CreateMemory(a, length, 0, &m), kOk);
    EXPECT_EQ(m->WriteBytes(0, buffer, length), kOk);
    const size_t from = sink_->Count();
    const HResult hr = user_->WriteMem(m, kVariantTrue, kVariantFalse);
    bool ok = false;
    if (Succeeded(hr))
        ok = sink_->At(sink_->WaitFor(Event::MemoryDone, from)).flag != kVariantTrue;
    m->Release();
    a->Release();
    return ok;
}

std::vector<uint8_t> Client::Read(uint32_t address, uint32_t length) {
    std::vector<uint8_t> out(length);
    EXPECT_TRUE(Read(address, out.data(), length)) << std::hex << address;
    return out;
}

bool Client::Write(uint32_t address, const std::vector<uint8_t>& bytes) {
    return Write(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

uint32_t Client::Word(uint32_t address) {
    uint32_t w = 0;
    EXPECT_TRUE(Read(address, &w, 4)) << std::hex << address;
    return w;
}

bool Client::SetWord(uint32_t address, uint32_t value) {
    return Write(address, &value, 4);
}

int32_t Client::Load(const std::string& path) {
    const size_t from = sink_->Count();
    EXPECT_EQ(user_->Load(path.c_str(), kVariantFalse), kOk);
    return sink_->At(sink_->WaitFor(Event::ProgramLoaded, from)).status;
}

int32_t Client::Reset() {
    const size_t from = sink_->Count();
    EXPECT_EQ(user_->Reset(), kOk);
    return sink_->At(sink_->WaitFor(Event::ResetDone, from)).status;
}

void Client::Halt() {
    const size_t from = sink_->Count();
    EXPECT_EQ(user_->Halt(), kOk);
    sink_->WaitFor(Event::Halted, from);
}

HResult Client::Run() {
    return user_->Run(nullptr);
}

int32_t Client::ExecState() {
    int32_t s = -1;
    EXPECT_EQ(user_->GetExecState(&s), kOk);
    return s;
}

void Client::StartCommand(uint32_t cb, uint32_t code, const std::vector<uint32_t>& args) {
    EXPECT_TRUE(SetWord(cb + 40, 1));
    uint32_t status = 0;
    while (Read(cb + 36, &status, 4) && status != 2) {
    }
    for (size_t i = 0; i < args.size(); ++i)
        EXPECT_TRUE(SetWord(cb + 4 + 4 * static_cast<uint32_t>(i), args[i]));
    EXPECT_TRUE(SetWord(cb, code));
    EXPECT_TRUE(SetWord(cb + 40, 2));
}

uint32_t Client::FinishCommand(uint32_t cb) {
    uint32_t status = 0;
    while (Read(cb + 36, &status, 4) && status != 3) {
    }
    if (status != 3) {
        ADD_FAILURE() << "the command block became unreadable";
        return 0xDEADBEEF;
    }
    return Word(cb + 4);
}

uint32_t Client::Command(uint32_t cb, uint32_t code, const std::vector<uint32_t>& args) {
    StartCommand(cb, code, args);
    return FinishCommand(cb);
}

}  // namespace benchtest
