// Notification sinks: small reference-counted objects that register with the
// debugger's connection points and forward each notification to a virtual
// handler of the wrapper that owns them.
#pragma once

#include "bench/include/QelBench.h"
#include "engine/ccs/CCException.h"

#include <atomic>
#include <cstdint>
#include <mutex>

class CCApplication;
class CCDspUser;

namespace qel::ccs {

// The dual interfaces' dispatch identifier; a sink answers it with its events
// interface.
inline constexpr bench::Guid kIidDispatch{
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// What an owner wrapper needs of a sink, whatever its events interface.
class CEventSink {
  public:
    virtual const bench::Guid& EventsIid() const = 0;
    // Registers with source's connection point for the events interface,
    // after dropping any earlier registration. Failures leave it
    // disconnected, silently.
    virtual void Connect(bench::IUnknown* source) = 0;
    // Unregisters; when it returns no handler runs any more until the next
    // Connect.
    virtual void Disconnect() = 0;
    // Disconnect for good and forget the owner (its destruction).
    virtual void Detach() = 0;
    // Holds a connection point and a non-zero cookie.
    virtual bool IsConnected() const = 0;
    virtual uint32_t AddSinkRef() = 0;
    virtual uint32_t ReleaseSinkRef() = 0;

  protected:
    ~CEventSink() = default;
};

// One sink for the events interface Events, forwarding to Owner.
template <class Owner, class Events>
class CComEventSink : public Events, public CEventSink {
  public:
    explicit CComEventSink(Owner* owner) : owner_(owner) {}
    CComEventSink(const CComEventSink&) = delete;
    CComEventSink& operator=(const CComEventSink&) = delete;

    bench::HResult QueryInterface(const bench::Guid& iid, void** out) override {
        if (out == nullptr)
            return bench::kPointer;
        if (iid == Events::kIid || iid == kIidDispatch || iid == bench::IUnknown::kIid) {
            *out = static_cast<Events*>(this);
            AddRef();
            return bench::kOk;
        }
        *out = nullptr;
        return bench::kNoInterface;
    }
    uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // A release at count 0 does nothing; the one that reaches 0 deletes.
    uint32_t Release() override {
        uint32_t count = refs_.load(std::memory_order_relaxed);
        do {
            if (count == 0)
                return 0;
        } while (!refs_.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel,
                                              std::memory_order_relaxed));
        if (count == 1)
            delete this;
        return count - 1;
    }

    const bench::Guid& EventsIid() const override { return Events::kIid; }

    void Connect(bench::IUnknown* source) override {
        Disconnect();
        if (source == nullptr)
            return;
        bench::IConnectionPointContainer* container = nullptr;
        if (bench::Failed(source->QueryInterface(bench::IConnectionPointContainer::kIid,
                                                 reinterpret_cast<void**>(&container))) ||
            container == nullptr)
            return;
        bench::IConnectionPoint* point = nullptr;
        const bench::HResult found = container->FindConnectionPoint(Events::kIid, &point);
        container->Release();
        if (bench::Failed(found) || point == nullptr)
            return;
        // Open the gate before registering: the first notification can come
        // before Advise returns.
        SetActive(true);
        uint32_t cookie = 0;
        if (bench::Failed(point->Advise(static_cast<Events*>(this), &cookie)) || cookie == 0) {
            SetActive(false);
            point->Release();
            return;
        }
        point_ = point;
        cookie_ = cookie;
    }
    void Disconnect() override {
        if (point_ != nullptr) {
            if (cookie_ != 0)
                point_->Unadvise(cookie_);
            point_->Release();
            point_ = nullptr;
        }
        cookie_ = 0;
        // Also waits for a delivery that is still running.
        SetActive(false);
    }
    void Detach() override {
        Disconnect();
        std::lock_guard<std::recursive_mutex> lock(gate_);
        owner_ = nullptr;
    }
    bool IsConnected() const override { return point_ != nullptr && cookie_ != 0; }
    uint32_t AddSinkRef() override { return AddRef(); }
    uint32_t ReleaseSinkRef() override { return Release(); }

    // Runs call(owner) while connected. A handler's CCException (or any other
    // exception, which must not reach the bench's thread) answers a failure.
    template <class Call>
    bench::HResult Deliver(Call&& call) {
        std::lock_guard<std::recursive_mutex> lock(gate_);
        if (!active_ || owner_ == nullptr)
            return bench::kOk;
        try {
            return call(*owner_);
        } catch (const CCException&) {
            return bench::kFail;
        } catch (...) {
            return bench::kFail;
        }
    }

  protected:
    ~CComEventSink() { Disconnect(); }

  private:
    void SetActive(bool on) {
        std::lock_guard<std::recursive_mutex> lock(gate_);
        active_ = on;
    }

    // Recursive: a handler may disconnect its own wrapper.
    std::recursive_mutex gate_;
    Owner* owner_;         // guarded by gate_
    bool active_ = false;  // guarded by gate_
    std::atomic<uint32_t> refs_{0};
    bench::IConnectionPoint* point_ = nullptr;
    uint32_t cookie_ = 0;
};

// Asks a notification's object argument for the wrapper's interface and runs
// call(wrapper). A missing object answers kFail, a refused one the refusal.
template <class Wrapper, class Call>
bench::HResult WithObject(bench::IUnknown* object, Call&& call) {
    if (object == nullptr)
        return bench::kFail;
    typename Wrapper::Interface* typed = nullptr;
    const bench::HResult r =
        object->QueryInterface(Wrapper::Interface::kIid, reinterpret_cast<void**>(&typed));
    if (bench::Failed(r))
        return r;
    if (typed == nullptr)
        return bench::kFail;
    Wrapper wrapper(typed, false);
    call(wrapper);
    return bench::kOk;
}

// A boolean that only counts when it is the automation value for true.
inline bool IsTrue(bench::VariantBool value) {
    return value == bench::kVariantTrue;
}
// A boolean where any non-zero value counts.
inline bool IsNonZero(bench::VariantBool value) {
    return value != 0;
}

// ---------------------------------------------------------------- concrete sinks

class CCApplicationEvents final
    : public CComEventSink<CCApplication, bench::ICodeComposerAppEvents> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnAppStarted() override;
    bench::HResult OnAppExiting() override;
    bench::HResult OnBoardsChanged() override;
    bench::HResult OnWorkspaceChanged() override;
};

class CCDspUserEvents final : public CComEventSink<CCDspUser, bench::IDspUserEvents> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnTextRequest(std::string* text) override;
    bench::HResult OnRunning() override;
    bench::HResult OnHalted(bench::IDspValue* address) override;
    bench::HResult OnStepped() override;
    bench::HResult OnMemoryDone(bench::IDspMemory* memory, bench::VariantBool failed) override;
    bench::HResult OnMemoryChanged(bench::IDspMemory* memory, bench::VariantBool flag) override;
    bench::HResult OnRegisterDone(bench::IDspRegister* reg, bench::VariantBool flag) override;
    bench::HResult OnBusyChanged(bench::VariantBool busy) override;
    bench::HResult OnPcChanged(bench::IDspValue* address) override;
    bench::HResult OnStoppedAt(bench::IDspValue* address) override;
    bench::HResult OnBreakpointSet(bench::IDspValue* address) override;
    bench::HResult OnBreakpointCleared(bench::IDspValue* address) override;
    bench::HResult OnProbePointSet(bench::IDspValue* address) override;
    bench::HResult OnProbePointCleared(bench::IDspValue* address) override;
    bench::HResult OnSymbolsChanged() override;
    bench::HResult OnValueChanged(bench::IDspValue* value, int32_t number,
                                  const char* text) override;
    bench::HResult OnProgramLoaded(int32_t status, bench::VariantBool flag) override;
    bench::HResult OnResetDone(int32_t status) override;
    bench::HResult OnRestartDone(int32_t status) override;
};

class CCDspUserEvents2 final : public CComEventSink<CCDspUser, bench::IDspUserEvents2> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnLValueChanged(bench::ILValue* value, int32_t number, bench::VariantBool flag,
                                   const char* text) override;
    bench::HResult OnWatchesCleared() override;
};

class CCDspUserEvents3 final : public CComEventSink<CCDspUser, bench::IDspUserEvents3> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnConfigChanged() override;
};

class CCDspUserEvents4 final : public CComEventSink<CCDspUser, bench::IDspUserEvents4> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnBuildStarted() override;
    bench::HResult OnBuildFinished() override;
    bench::HResult OnBuildCancelled() override;
    bench::HResult OnRealtimeChanged(bench::VariantBool on) override;
    bench::HResult OnProjectChanged() override;
};

class CCDspUserEvents5 final : public CComEventSink<CCDspUser, bench::IDspUserEvents5> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnTargetConnecting() override;
    bench::HResult OnTargetConnected(bench::VariantBool connected) override;
};

class CCDspUserEvents6 final : public CComEventSink<CCDspUser, bench::IDspUserEvents6> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnDebugSessionChanged() override;
};

class CCDspUserEvents7 final : public CComEventSink<CCDspUser, bench::IDspUserEvents7> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnSymbolsLoaded() override;
};

class CCDspUserEvents9 final : public CComEventSink<CCDspUser, bench::IDspUserEvents9> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnGelReloaded() override;
};

class CCDspUserEvents10 final : public CComEventSink<CCDspUser, bench::IDspUserEvents10> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnClockChanged(bench::VariantBool on) override;
};

class CCDspUserEvents11 final : public CComEventSink<CCDspUser, bench::IDspUserEvents11> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnMemoryMapChanged() override;
};

class CCDspUserEvents12 final : public CComEventSink<CCDspUser, bench::IDspUserEvents12> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnProfilingChanged(bench::VariantBool on) override;
};

class CCDspUserEvents13 final : public CComEventSink<CCDspUser, bench::IDspUserEvents13> {
  public:
    using CComEventSink::CComEventSink;
    bench::HResult OnCpuReset() override;
    bench::HResult OnCpuStarted() override;
};

}  // namespace qel::ccs
