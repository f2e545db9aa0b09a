// Test-side helpers for driving the bench through its automation interfaces
// only: a sink that records every notification, a blocking client for one
// processor, a tiny COFF writer, the programmer and FDB images, and private
// folders.
#pragma once

#include "QelBench.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace benchtest {

using namespace qel::bench;

// ------------------------------------------------------------ files

// A folder of its own, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::string WriteText(const std::string& name, const std::string& text) const;

  private:
    std::string path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);

struct CoffSection {
    std::string name;
    uint32_t address = 0;
    std::vector<uint8_t> data;
    uint32_t flags = 0x20;  // code
};
// withOptional: 28-byte optional header carrying the entry point.
std::vector<uint8_t> MakeCoff(const std::vector<CoffSection>& sections, uint32_t entry,
                              bool withOptional = true);

// Programmer image: signature "QELFPROG", version 1, command block address,
// TIM type, at `at` (the entry point), then some code bytes.
std::vector<uint8_t> MakeProgrammer(uint32_t at, uint32_t commandBlock, uint32_t timType);
// "QELFDB01" + TIM type + padding.
std::vector<uint8_t> MakeFdbPayload(uint32_t timType);

void PutU32(std::vector<uint8_t>& v, size_t at, uint32_t value);
uint32_t GetU32(const std::vector<uint8_t>& v, size_t at);

// ------------------------------------------------------------ notifications

struct Event {
    enum Kind { Halted, MemoryDone, ProgramLoaded, ResetDone, RestartDone, PcChanged, StoppedAt };
    Kind kind;
    int32_t status = 0;
    VariantBool flag = 0;
    IDspMemory* memory = nullptr;  // identity only
    uint32_t address = 0;
};

class Sink final : public IDspUserEvents,
                   public IDspUserEvents2,
                   public IDspUserEvents3,
                   public IDspUserEvents4,
                   public IDspUserEvents5,
                   public IDspUserEvents6,
                   public IDspUserEvents7,
                   public IDspUserEvents9,
                   public IDspUserEvents10,
                   public IDspUserEvents11,
                   public IDspUserEvents12,
                   public IDspUserEvents13 {
  public:
    Sink() = default;

    HResult QueryInterface(const Guid& iid, void** out) override;
    uint32_t AddRef() override;
    uint32_t Release() override;
    uint32_t Refs() const { return refs_; }

    size_t Count() const;
    std::vector<Event> Events() const;
    // Waits until an event of that kind sits at index >= from; its index.
    size_t WaitFor(Event::Kind kind, size_t from);
    Event At(size_t index) const;
    // Runs on the bench's thread for each event, before it is recorded. Set
    // it before the requests whose events it should see.
    std::function<void(const Event&)> onEvent;

    HResult OnTextRequest(std::string* text) override;
    HResult OnRunning() override { return kOk; }
    HResult OnHalted(IDspValue* address) override;
    HResult OnStepped() override { return kOk; }
    HResult OnMemoryDone(IDspMemory* memory, VariantBool failed) override;
    HResult OnMemoryChanged(IDspMemory*, VariantBool) override { return kOk; }
    HResult OnRegisterDone(IDspRegister*, VariantBool) override { return kOk; }
    HResult OnBusyChanged(VariantBool) override { return kOk; }
    HResult OnPcChanged(IDspValue* address) override;
    HResult OnStoppedAt(IDspValue* address) override;
    HResult OnBreakpointSet(IDspValue*) override { return kOk; }
    HResult OnBreakpointCleared(IDspValue*) override { return kOk; }
    HResult OnProbePointSet(IDspValue*) override { return kOk; }
    HResult OnProbePointCleared(IDspValue*) override { return kOk; }
    HResult OnSymbolsChanged() override { return kOk; }
    HResult OnValueChanged(IDspValue*, int32_t, const char*) override { return kOk; }
    HResult OnProgramLoaded(int32_t status, VariantBool flag) override;
    HResult OnResetDone(int32_t status) override;
    HResult OnRestartDone(int32_t status) override;
    HResult OnLValueChanged(ILValue*, int32_t, VariantBool, const char*) override { return kOk; }
    HResult OnWatchesCleared() override { return kOk; }
    HResult OnConfigChanged() override { return kOk; }
    HResult OnBuildStarted() override { return kOk; }
    HResult OnBuildFinished() override { return kOk; }
    HResult OnBuildCancelled() override { return kOk; }
    HResult OnRealtimeChanged(VariantBool) override { return kOk; }
    HResult OnProjectChanged() override { return kOk; }
    HResult OnTargetConnecting() override { return kOk; }
    HResult OnTargetConnected(VariantBool) override { return kOk; }
    HResult OnDebugSessionChanged() override { return kOk; }
    HResult OnSymbolsLoaded() override { return kOk; }
    HResult OnGelReloaded() override { return kOk; }
    HResult OnClockChanged(VariantBool) override { return kOk; }
    HResult OnMemoryMapChanged() override { return kOk; }
    HResult OnProfilingChanged(VariantBool) override { return kOk; }
    HResult OnCpuReset() override { return kOk; }
    HResult OnCpuStarted() override { return kOk; }

  private:
    void Add(Event e);
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Event> events_;
    std::atomic<uint32_t> refs_{1};
};

// ------------------------------------------------------------ a blocking client

IApplication* CreateBench(const std::string& description, const std::string& state);

class Client {
  public:
    Client(IApplication* app, int board, int processor);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    IDspUser* User() const { return user_; }
    Sink& Events() { return *sink_; }
    // How many of the twelve notification interfaces connected.
    int Connected() const { return connected_; }

    // Blocking requests; false when the completion reports failure.
    bool Read(uint32_t address, void* buffer, uint32_t length);
    bool Write(uint32_t address, const void* buffer, uint32_t length);
    std::vector<uint8_t> Read(uint32_t address, uint32_t length);
    bool Write(uint32_t address, const std::vector<uint8_t>& bytes);
    uint32_t Word(uint32_t address);
    bool SetWord(uint32_t address, uint32_t value);
    int32_t Load(const std::string& path);
    int32_t Reset();
    void Halt();
    HResult Run();
    int32_t ExecState();

    // Host side of the programmer protocol; returns word 1.
    uint32_t Command(uint32_t commandBlock, uint32_t code, const std::vector<uint32_t>& args);
    // Announces, writes args and code and starts, without waiting for the end.
    void StartCommand(uint32_t commandBlock, uint32_t code, const std::vector<uint32_t>& args);
    // Polls the status word until the command is complete; word 1.
    uint32_t FinishCommand(uint32_t commandBlock);

  private:
    IDspUser* user_ = nullptr;
    Sink* sink_ = nullptr;
    std::vector<std::pair<IConnectionPoint*, uint32_t>> cookies_;
    int connected_ = 0;
};

}  // namespace benchtest
