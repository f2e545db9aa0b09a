// Wrappers of the debugger's automation objects. Every operation checks the
// wrapper (an empty one throws the "COM wrapper object is not valid"
// CCException), makes the call, and throws CCException(code) on a failure
// code. Results that are objects come back as wrappers that own the returned
// reference.
#pragma once

#include "engine/ccs/ComWrapper.h"

#include <cstdint>
#include <string>

namespace qel::ccs {
class CEventSink;
}

class CCApplication;
class CCDspBoards;
class CCDspBoard;
class CCDspTasks;
class CCDspTask;
class CCDspUser;
class CCDspMemory;
class CCDspValue;

// Type codes of values the engine creates.
constexpr int32_t CCS_TYPE_DATA32 = 7;
constexpr int32_t CCS_TYPE_UNUSED = 9;
constexpr int32_t CCS_TYPE_ADDRESS = 27;
// GetExecState while the target runs.
constexpr int32_t CCS_EXEC_RUNNING = 1;

// ---------------------------------------------------------------- start hooks

namespace qel::ccs {

// The debugger's own settings key under HKEY_CURRENT_USER as Start uses it.
class CStartSettings {
  public:
    virtual ~CStartSettings() = default;
    // Opens the existing key for setting values; false when it cannot.
    virtual bool Open() = 0;
    virtual void DeleteRealtimeStart() = 0;
    // "RealtimeStart" as a one-byte binary 1, flushed.
    virtual void SetRealtimeStart() = 0;
    virtual void Close() = 0;
};

// Shows a message to the user (caption, text); the platform has no message
// boxes, so the default writes to standard error.
using MessageBoxFn = void (*)(const char* caption, const char* text);

// Replace the settings or the message output of Start (tests, tools). Null
// restores the default. Not thread-safe: set them before any Start.
void SetStartSettings(CStartSettings* settings);
void SetMessageBox(MessageBoxFn messageBox);

}  // namespace qel::ccs

// ---------------------------------------------------------------- application

class CCApplication : public CComWrapper<qel::bench::IApplication> {
  public:
    CCApplication();
    // Takes over (addRef false) or adds a reference; connects the
    // application notifications.
    CCApplication(qel::bench::IApplication* object, bool addRef);
    CCApplication(const CCApplication& other);
    // Carries the source's connection state over (see ConnectEvents).
    CCApplication& operator=(const CCApplication& other);
    ~CCApplication() override;

    // Attaches to the bench server running in this process or creates one.
    static CCApplication Start(bool realtime);

    CCDspBoards GetDspBoards() const;

    void ConnectEvents(bool on, const qel::bench::Guid& events) override;
    bool IsConnected(const qel::bench::Guid& events) const override;
    void ConnectAllEvents(bool on) override;
    bool AllConnected() const override;

    // Notification handlers; they do nothing here.
    virtual void OnAppStarted() {}
    virtual void OnAppExiting() {}
    virtual void OnBoardsChanged() {}
    virtual void OnWorkspaceChanged() {}

  protected:
    struct NoConnect {};
    // For a derived class that overrides handlers: it connects itself at the
    // end of its own constructor (ConnectAllEvents(true)) and disconnects at
    // the start of its destructor (DisconnectForDestruction), so that no
    // notification reaches a half-built or half-destroyed object.
    CCApplication(NoConnect, qel::bench::IApplication* object, bool addRef);
    void DisconnectForDestruction();

  private:
    qel::ccs::CEventSink* sink_ = nullptr;
};

// ---------------------------------------------------------------- boards and tasks

class CCDspBoards : public CComWrapper<qel::bench::IDspBoards> {
  public:
    CCDspBoards() : CComWrapper("CCDspBoards") {}
    CCDspBoards(qel::bench::IDspBoards* object, bool addRef)
        : CComWrapper(object, addRef, "CCDspBoards") {}

    int32_t Count() const;
    CCDspBoard Item(int32_t index) const;
};

class CCDspBoard : public CComWrapper<qel::bench::IDspBoard> {
  public:
    CCDspBoard() : CComWrapper("CCDspBoard") {}
    CCDspBoard(qel::bench::IDspBoard* object, bool addRef)
        : CComWrapper(object, addRef, "CCDspBoard") {}

    CCDspTasks GetDspTasks() const;
    std::string GetName() const;
};

class CCDspTasks : public CComWrapper<qel::bench::IDspTasks> {
  public:
    CCDspTasks() : CComWrapper("CCDspTasks") {}
    CCDspTasks(qel::bench::IDspTasks* object, bool addRef)
        : CComWrapper(object, addRef, "CCDspTasks") {}

    int32_t Count() const;
    CCDspTask Item(int32_t index) const;
};

class CCDspTask : public CComWrapper<qel::bench::IDspTask> {
  public:
    CCDspTask() : CComWrapper("CCDspTask") {}
    CCDspTask(qel::bench::IDspTask* object, bool addRef)
        : CComWrapper(object, addRef, "CCDspTask") {}

    std::string GetName() const;
    CCDspUser GetDspUser() const;
};

// ---------------------------------------------------------------- values and memory

class CCDspValue : public CComWrapper<qel::bench::IDspValue> {
  public:
    CCDspValue() : CComWrapper("CCDspValue") {}
    CCDspValue(qel::bench::IDspValue* object, bool addRef)
        : CComWrapper(object, addRef, "CCDspValue") {}
    // The result of user.CreateValue(typeCode, value).
    CCDspValue(const CCDspUser& user, int32_t typeCode, uint32_t value);
    CCDspValue(const CCDspValue& other) = default;
    // Into a wrapper that holds an object: the source's type and number are
    // copied into the target's own object. Into an empty one: it takes a
    // reference to the source's object.
    CCDspValue& operator=(const CCDspValue& other);

    uint32_t GetValue() const;
    void SetValue(uint32_t value) const;
};

// A value of the address type.
class CCDspAddr : public CCDspValue {
  public:
    CCDspAddr() = default;
    CCDspAddr(qel::bench::IDspValue* object, bool addRef) : CCDspValue(object, addRef) {}
    CCDspAddr(const CCDspUser& user, uint32_t address);
};

class CCDspMemory : public CComWrapper<qel::bench::IDspMemory> {
  public:
    CCDspMemory() : CComWrapper("CCDspMemory") {}
    CCDspMemory(qel::bench::IDspMemory* object, bool addRef)
        : CComWrapper(object, addRef, "CCDspMemory") {}
    // The result of user.CreateMemory(address, size, third).
    CCDspMemory(const CCDspUser& user, const CCDspValue& address, uint32_t size, int32_t third = 0);
    CCDspMemory(const CCDspMemory& other) = default;
    // As CCDspValue: a target holding an object takes over the source's
    // address, size and contents into its own object.
    CCDspMemory& operator=(const CCDspMemory& other);

    // The value's number into element index (bytes 4 * index ..).
    void SetValue(const CCDspValue& value, int32_t index) const;
    // The little-endian word at byteOffset of the host copy.
    uint32_t GetWord(uint32_t byteOffset) const;

    // Bulk access to the host copy; not to be used while a ReadMem/WriteMem
    // of this object is in flight.
    void ReadBytes(uint32_t offset, void* buffer, uint32_t length) const;
    void WriteBytes(uint32_t offset, const void* buffer, uint32_t length) const;
    void SetWord(uint32_t byteOffset, uint32_t word) const;

  protected:
    CCDspMemory(qel::bench::IDspMemory* object, bool addRef, const char* className)
        : CComWrapper(object, addRef, className) {}
};

// A register, also usable as memory when the object offers memory access.
class CCDspRegister : public CComWrapper<qel::bench::IDspRegister>, public CCDspMemory {
  public:
    using Interface = qel::bench::IDspRegister;

    CCDspRegister();
    CCDspRegister(qel::bench::IDspRegister* object, bool addRef);

    bool IsValid() const override { return RegisterBase::IsValid(); }
    bool IsNull() const override { return RegisterBase::IsNull(); }
    const char* ClassName() const override { return RegisterBase::ClassName(); }
    void ConnectEvents(bool, const qel::bench::Guid&) override {}
    bool IsConnected(const qel::bench::Guid&) const override { return false; }
    void ConnectAllEvents(bool) override {}
    bool AllConnected() const override { return false; }

    qel::bench::IDspRegister* GetInterface() const noexcept { return RegisterBase::GetInterface(); }
    std::string GetName() const;
    uint32_t GetRegisterValue() const;

  private:
    using RegisterBase = CComWrapper<qel::bench::IDspRegister>;
};

class CCLValue : public CComWrapper<qel::bench::ILValue> {
  public:
    CCLValue() : CComWrapper("CCLValue") {}
    CCLValue(qel::bench::ILValue* object, bool addRef) : CComWrapper(object, addRef, "CCLValue") {}

    std::string GetName() const;
    uint32_t GetValue() const;
};

// ---------------------------------------------------------------- DSP user

class CCDspUser : public CComWrapper<qel::bench::IDspUser> {
  public:
    static constexpr int kEventsCount = qel::bench::kUserEventsCount;

    CCDspUser();
    // Takes over (addRef false) or adds a reference; connects all twelve
    // notification interfaces.
    CCDspUser(qel::bench::IDspUser* object, bool addRef);
    // Shares the object and connects all twelve notification interfaces.
    CCDspUser(const CCDspUser& other);
    // Disconnects everything, takes the source's object, and connects all
    // twelve again only when all twelve of the source are connected.
    CCDspUser& operator=(const CCDspUser& other);
    ~CCDspUser() override;

    // Third value is always 0 in the engine.
    CCDspMemory CreateMemory(const CCDspValue& address, uint32_t size, int32_t third = 0) const;
    CCDspValue CreateValue(int32_t typeCode, uint32_t value) const;
    // Count 0: starts the loaded program (text may be null) and returns.
    void Run(const char* text = nullptr, int32_t count = 0) const;
    // The raw requests; they return at once and complete by notification.
    void Halt() const;
    void Reset() const;
    uint32_t GetProcessorId() const;
    void Load(const char* path, bool flag) const;
    int32_t GetExecState() const;
    void ReadMem(const CCDspMemory& memory, bool flag1, bool flag2) const;
    void WriteMem(const CCDspMemory& memory, bool flag1, bool flag2) const;

    void ConnectEvents(bool on, const qel::bench::Guid& events) override;
    bool IsConnected(const qel::bench::Guid& events) const override;
    void ConnectAllEvents(bool on) override;
    bool AllConnected() const override;

    // Notification handlers, called on a bench thread; they do nothing here.
    // IDspUserEvents
    virtual std::string OnTextRequest() { return {}; }
    virtual void OnRunning() {}
    virtual void OnHalted(const CCDspAddr& /*address*/) {}
    virtual void OnStepped() {}
    virtual void OnMemoryDone(const CCDspMemory& /*memory*/, bool /*failed*/) {}
    virtual void OnMemoryChanged(const CCDspMemory& /*memory*/, bool /*flag*/) {}
    virtual void OnRegisterDone(const CCDspRegister& /*reg*/, bool /*flag*/) {}
    virtual void OnBusyChanged(bool /*busy*/) {}
    virtual void OnPcChanged(const CCDspAddr& /*address*/) {}
    virtual void OnStoppedAt(const CCDspAddr& /*address*/) {}
    virtual void OnBreakpointSet(const CCDspAddr& /*address*/) {}
    virtual void OnBreakpointCleared(const CCDspAddr& /*address*/) {}
    virtual void OnProbePointSet(const CCDspAddr& /*address*/) {}
    virtual void OnProbePointCleared(const CCDspAddr& /*address*/) {}
    virtual void OnSymbolsChanged() {}
    virtual void OnValueChanged(const CCDspValue& /*value*/, int32_t /*number*/,
                                const std::string& /*text*/) {}
    virtual void OnProgramLoaded(int32_t /*status*/, bool /*flag*/) {}
    virtual void OnResetDone(int32_t /*status*/) {}
    virtual void OnRestartDone(int32_t /*status*/) {}
    // IDspUserEvents2
    virtual void OnLValueChanged(const CCLValue& /*value*/, int32_t /*number*/, bool /*flag*/,
                                 const std::string& /*text*/) {}
    virtual void OnWatchesCleared() {}
    // IDspUserEvents3
    virtual void OnConfigChanged() {}
    // IDspUserEvents4
    virtual void OnBuildStarted() {}
    virtual void OnBuildFinished() {}
    virtual void OnBuildCancelled() {}
    virtual void OnRealtimeChanged(bool /*on*/) {}
    virtual void OnProjectChanged() {}
    // IDspUserEvents5
    virtual void OnTargetConnecting() {}
    virtual void OnTargetConnected(bool /*connected*/) {}
    // IDspUserEvents6, 7, 9
    virtual void OnDebugSessionChanged() {}
    virtual void OnSymbolsLoaded() {}
    virtual void OnGelReloaded() {}
    // IDspUserEvents10
    virtual void OnClockChanged(bool /*on*/) {}
    // IDspUserEvents11
    virtual void OnMemoryMapChanged() {}
    // IDspUserEvents12
    virtual void OnProfilingChanged(bool /*on*/) {}
    // IDspUserEvents13
    virtual void OnCpuReset() {}
    virtual void OnCpuStarted() {}

  protected:
    struct NoConnect {};
    // For a derived class that overrides handlers: it connects at the end of
    // its own constructor and calls DisconnectForDestruction first in its
    // destructor, so no notification reaches a half-built or half-destroyed
    // object.
    CCDspUser(NoConnect, qel::bench::IDspUser* object, bool addRef);
    void DisconnectForDestruction();

  private:
    qel::ccs::CEventSink* sinks_[kEventsCount] = {};
};
