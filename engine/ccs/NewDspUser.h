// The DSP user: the debugger's asynchronous target requests (halt, reset,
// load, memory read and write) as blocking calls.
#pragma once

#include "engine/ccs/CCSWrappers.h"

#include <atomic>
#include <cstdint>

// Told when the debugger reports a target event that the DSP user did not
// ask for: the target's state can no longer be trusted.
class CDspUserOwner {
  public:
    // Called on a bench thread while a DSP user operation may be waiting on
    // the owner's worker: it must return quickly and must not wait for the
    // worker or its locks (setting an atomic flag is the intended use).
    virtual void DspStateChanged() = 0;

  protected:
    virtual ~CDspUserOwner() = default;
};

class CNewDspUser : public CCDspUser {
  public:
    enum ErrorState : int32_t {
        NoError = 0,
        MemoryFailed = 1,
        LoadFailed = 2,
        ResetFailed = 3,
        RestartFailed = 4,
    };

    // Empty: no DSP user object.
    CNewDspUser();
    // Shares user's object and connects all twelve notification interfaces.
    explicit CNewDspUser(CCDspUser user);
    CNewDspUser(const CNewDspUser&) = delete;
    // Only the wrapped object and the connections (by CCDspUser's rule) are
    // taken; flags, error state, pending operation and owner stay.
    CNewDspUser& operator=(const CNewDspUser& other);
    CNewDspUser& operator=(const CCDspUser& other);
    ~CNewDspUser() override;

    // Blocking operations. An operation after Abort raises 0x100003 without
    // calling the bench; a refused request throws CCException; a failure the
    // completion reports raises 0x1000c .. 0x1000f (CExc, source "NewDspUser").
    void Halt();
    void Load(const char* path);
    // The memory object's host copy must not be touched while this runs.
    void ReadMem(const CCDspMemory& memory);
    void WriteMem(const CCDspMemory& memory);
    void Reset();

    // Set once by the owner right after building its member.
    void SetOwner(CDspUserOwner* owner) { owner_.store(owner, std::memory_order_release); }
    // Ends a running wait and refuses every later operation; never undone.
    // Safe from any thread.
    void Abort();
    bool IsAborted() const { return abort_.load(std::memory_order_acquire); }

    ErrorState GetErrorState() const { return ErrorState(error_.load(std::memory_order_acquire)); }
    // "Halt", "Load", "ReadMem", "WriteMem", "Reset", or "" when idle.
    const char* PendingOperation() const;

  protected:
    void OnHalted(const CCDspAddr& address) override;
    void OnMemoryDone(const CCDspMemory& memory, bool failed) override;
    void OnPcChanged(const CCDspAddr& address) override;
    void OnStoppedAt(const CCDspAddr& address) override;
    void OnProgramLoaded(int32_t status, bool flag) override;
    void OnResetDone(int32_t status) override;
    void OnRestartDone(int32_t status) override;

  private:
    enum class Op : int32_t { None, Halt, Load, ReadMem, WriteMem, Reset };

    // Runs one operation: request() issues it, then waits for its completion.
    template <class Request>
    void Perform(Op op, Request&& request);
    void Wait();
    void SetDone();
    void SetError(ErrorState state) { error_.store(state, std::memory_order_release); }
    void TellOwner();
    Op Pending() const { return pending_.load(std::memory_order_acquire); }

    std::atomic<bool> done_{false};
    std::atomic<bool> abort_{false};
    std::atomic<int32_t> error_{NoError};
    std::atomic<Op> pending_{Op::None};
    std::atomic<CDspUserOwner*> owner_{nullptr};
    // Changed after every flag change; the wait sleeps on it (atomic wait),
    // the flags stay the truth.
    std::atomic<uint32_t> wake_{0};
};
