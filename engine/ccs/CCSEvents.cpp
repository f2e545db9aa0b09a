#include "engine/ccs/CCSEvents.h"

#include "engine/ccs/CCSWrappers.h"

namespace qel::ccs {

using bench::HResult;
using bench::kOk;
using bench::VariantBool;

namespace {

// A handler without arguments.
template <class Sink, class Handler>
HResult Plain(Sink& sink, Handler handler) {
    return sink.Deliver([&](auto& owner) {
        (owner.*handler)();
        return kOk;
    });
}

// A handler that takes one address.
template <class Sink>
HResult Address(Sink& sink, bench::IDspValue* address,
                void (CCDspUser::*handler)(const CCDspAddr&)) {
    return sink.Deliver([&](CCDspUser& owner) {
        return WithObject<CCDspAddr>(address, [&](const CCDspAddr& a) { (owner.*handler)(a); });
    });
}

}  // namespace

// ---------------------------------------------------------------- application

HResult CCApplicationEvents::OnAppStarted() {
    return Plain(*this, &CCApplication::OnAppStarted);
}
HResult CCApplicationEvents::OnAppExiting() {
    return Plain(*this, &CCApplication::OnAppExiting);
}
HResult CCApplicationEvents::OnBoardsChanged() {
    return Plain(*this, &CCApplication::OnBoardsChanged);
}
HResult CCApplicationEvents::OnWorkspaceChanged() {
    return Plain(*this, &CCApplication::OnWorkspaceChanged);
}

// ---------------------------------------------------------------- IDspUserEvents

HResult CCDspUserEvents::OnTextRequest(std::string* text) {
    return Deliver([&](CCDspUser& owner) {
        std::string answer = owner.OnTextRequest();
        if (text != nullptr)
            *text = std::move(answer);
        return kOk;
    });
}
HResult CCDspUserEvents::OnRunning() {
    return Plain(*this, &CCDspUser::OnRunning);
}
HResult CCDspUserEvents::OnHalted(bench::IDspValue* address) {
    return Address(*this, address, &CCDspUser::OnHalted);
}
HResult CCDspUserEvents::OnStepped() {
    return Plain(*this, &CCDspUser::OnStepped);
}
HResult CCDspUserEvents::OnMemoryDone(bench::IDspMemory* memory, VariantBool failed) {
    return Deliver([&](CCDspUser& owner) {
        return WithObject<CCDspMemory>(
            memory, [&](const CCDspMemory& m) { owner.OnMemoryDone(m, IsTrue(failed)); });
    });
}
HResult CCDspUserEvents::OnMemoryChanged(bench::IDspMemory* memory, VariantBool flag) {
    return Deliver([&](CCDspUser& owner) {
        return WithObject<CCDspMemory>(
            memory, [&](const CCDspMemory& m) { owner.OnMemoryChanged(m, IsTrue(flag)); });
    });
}
HResult CCDspUserEvents::OnRegisterDone(bench::IDspRegister* reg, VariantBool flag) {
    return Deliver([&](CCDspUser& owner) {
        return WithObject<CCDspRegister>(
            reg, [&](const CCDspRegister& r) { owner.OnRegisterDone(r, IsTrue(flag)); });
    });
}
HResult CCDspUserEvents::OnBusyChanged(VariantBool busy) {
    return Deliver([&](CCDspUser& owner) {
        owner.OnBusyChanged(IsTrue(busy));
        return kOk;
    });
}
HResult CCDspUserEvents::OnPcChanged(bench::IDspValue* address) {
    return Address(*this, address, &CCDspUser::OnPcChanged);
}
HResult CCDspUserEvents::OnStoppedAt(bench::IDspValue* address) {
    return Address(*this, address, &CCDspUser::OnStoppedAt);
}
HResult CCDspUserEvents::OnBreakpointSet(bench::IDspValue* address) {
    return Address(*this, address, &CCDspUser::OnBreakpointSet);
}
HResult CCDspUserEvents::OnBreakpointCleared(bench::IDspValue* address) {
    return Address(*this, address, &CCDspUser::OnBreakpointCleared);
}
HResult CCDspUserEvents::OnProbePointSet(bench::IDspValue* address) {
    return Address(*this, address, &CCDspUser::OnProbePointSet);
}
HResult CCDspUserEvents::OnProbePointCleared(bench::IDspValue* address) {
    return Address(*this, address, &CCDspUser::OnProbePointCleared);
}
HResult CCDspUserEvents::OnSymbolsChanged() {
    return Plain(*this, &CCDspUser::OnSymbolsChanged);
}
HResult CCDspUserEvents::OnValueChanged(bench::IDspValue* value, int32_t number, const char* text) {
    return Deliver([&](CCDspUser& owner) {
        return WithObject<CCDspValue>(value, [&](const CCDspValue& v) {
            owner.OnValueChanged(v, number, std::string(text != nullptr ? text : ""));
        });
    });
}
HResult CCDspUserEvents::OnProgramLoaded(int32_t status, VariantBool flag) {
    return Deliver([&](CCDspUser& owner) {
        owner.OnProgramLoaded(status, IsTrue(flag));
        return kOk;
    });
}
HResult CCDspUserEvents::OnResetDone(int32_t status) {
    return Deliver([&](CCDspUser& owner) {
        owner.OnResetDone(status);
        return kOk;
    });
}
HResult CCDspUserEvents::OnRestartDone(int32_t status) {
    return Deliver([&](CCDspUser& owner) {
        owner.OnRestartDone(status);
        return kOk;
    });
}

// ---------------------------------------------------------------- IDspUserEvents2 .. 13

HResult CCDspUserEvents2::OnLValueChanged(bench::ILValue* value, int32_t number, VariantBool flag,
                                          const char* text) {
    return Deliver([&](CCDspUser& owner) {
        return WithObject<CCLValue>(value, [&](const CCLValue& v) {
            owner.OnLValueChanged(v, number, IsTrue(flag),
                                  std::string(text != nullptr ? text : ""));
        });
    });
}
HResult CCDspUserEvents2::OnWatchesCleared() {
    return Plain(*this, &CCDspUser::OnWatchesCleared);
}

HResult CCDspUserEvents3::OnConfigChanged() {
    return Plain(*this, &CCDspUser::OnConfigChanged);
}

HResult CCDspUserEvents4::OnBuildStarted() {
    return Plain(*this, &CCDspUser::OnBuildStarted);
}
HResult CCDspUserEvents4::OnBuildFinished() {
    return Plain(*this, &CCDspUser::OnBuildFinished);
}
HResult CCDspUserEvents4::OnBuildCancelled() {
    return Plain(*this, &CCDspUser::OnBuildCancelled);
}
HResult CCDspUserEvents4::OnRealtimeChanged(VariantBool on) {
    return Deliver([&](CCDspUser& owner) {
        owner.OnRealtimeChanged(IsNonZero(on));
        return kOk;
    });
}
HResult CCDspUserEvents4::OnProjectChanged() {
    return Plain(*this, &CCDspUser::OnProjectChanged);
}

HResult CCDspUserEvents5::OnTargetConnecting() {
    return Plain(*this, &CCDspUser::OnTargetConnecting);
}
HResult CCDspUserEvents5::OnTargetConnected(VariantBool connected) {
    return Deliver([&](CCDspUser& owner) {
        owner.OnTargetConnected(IsNonZero(connected));
        return kOk;
    });
}

HResult CCDspUserEvents6::OnDebugSessionChanged() {
    return Plain(*this, &CCDspUser::OnDebugSessionChanged);
}

HResult CCDspUserEvents7::OnSymbolsLoaded() {
    return Plain(*this, &CCDspUser::OnSymbolsLoaded);
}

HResult CCDspUserEvents9::OnGelReloaded() {
    return Plain(*this, &CCDspUser::OnGelReloaded);
}

HResult CCDspUserEvents10::OnClockChanged(VariantBool on) {
    return Deliver([&](CCDspUser& owner) {
        owner.OnClockChanged(IsNonZero(on));
        return kOk;
    });
}

HResult CCDspUserEvents11::OnMemoryMapChanged() {
    return Plain(*this, &CCDspUser::OnMemoryMapChanged);
}

HResult CCDspUserEvents12::OnProfilingChanged(VariantBool on) {
    return Deliver([&](CCDspUser& owner) {
        owner.OnProfilingChanged(IsNonZero(on));
        return kOk;
    });
}

HResult CCDspUserEvents13::OnCpuReset() {
    return Plain(*this, &CCDspUser::OnCpuReset);
}
HResult CCDspUserEvents13::OnCpuStarted() {
    return Plain(*this, &CCDspUser::OnCpuStarted);
}

}  // namespace qel::ccs
