#include "engine/ccs/NewDspUser.h"

#include "engine/Exc.h"

namespace {

constexpr const char* kSource = "NewDspUser";

}  // namespace

CNewDspUser::CNewDspUser() = default;

CNewDspUser::CNewDspUser(CCDspUser user) : CCDspUser(NoConnect{}, user.GetInterface(), true) {
    // Connected only now, so no notification meets a half-built object.
    ConnectAllEvents(true);
}

CNewDspUser& CNewDspUser::operator=(const CNewDspUser& other) {
    CCDspUser::operator=(other);
    return *this;
}

CNewDspUser& CNewDspUser::operator=(const CCDspUser& other) {
    CCDspUser::operator=(other);
    return *this;
}

CNewDspUser::~CNewDspUser() {
    // Before this object's handlers go away.
    DisconnectForDestruction();
}

const char* CNewDspUser::PendingOperation() const {
    switch (Pending()) {
        case Op::Halt:
            return "Halt";
        case Op::Load:
            return "Load";
        case Op::ReadMem:
            return "ReadMem";
        case Op::WriteMem:
            return "WriteMem";
        case Op::Reset:
            return "Reset";
        case Op::None:
            break;
    }
    return "";
}

void CNewDspUser::Abort() {
    abort_.store(true, std::memory_order_release);
    wake_.fetch_add(1, std::memory_order_acq_rel);
    wake_.notify_all();
}

template <class Request>
void CNewDspUser::Perform(Op op, Request&& request) {
    if (IsAborted())
        QEL_RAISE(ERR_DSP_USER_ABORTED, kSource);
    // A completion left over from an earlier operation must not end this wait.
    done_.store(false, std::memory_order_release);
    error_.store(NoError, std::memory_order_release);
    pending_.store(op, std::memory_order_release);
    try {
        request();
    } catch (...) {
        // Refused: nothing is awaited, so a later notification must not count
        // as this operation's completion.
        pending_.store(Op::None, std::memory_order_release);
        throw;
    }
    Wait();
    const bool completed = done_.load(std::memory_order_acquire);
    done_.store(false, std::memory_order_release);
    pending_.store(Op::None, std::memory_order_release);

    switch (GetErrorState()) {
        case NoError:
            // A wait given up on abort has no result: the request may still
            // be filling the caller's memory object.
            if (!completed)
                QEL_RAISE(ERR_DSP_USER_ABORTED, kSource);
            return;
        case MemoryFailed:
            QEL_RAISE(ERR_CCS_MEMORY_ABORTED, kSource);
        case LoadFailed:
            QEL_RAISE(ERR_CCS_LOAD_FAILED, kSource);
        case ResetFailed:
            QEL_RAISE(ERR_CCS_RESET_FAILED, kSource);
        case RestartFailed:
            QEL_RAISE(ERR_CCS_RESTART_FAILED, kSource);
    }
}

void CNewDspUser::Wait() {
    // Notifications arrive on the bench's threads; this thread sleeps on the
    // wake counter until one of them (or Abort) signals. Every signal sets its
    // flag first and then changes the counter, so none can be missed between
    // the look at the flags and the sleep.
    for (;;) {
        const uint32_t seen = wake_.load(std::memory_order_acquire);
        if (done_.load(std::memory_order_acquire) || abort_.load(std::memory_order_acquire))
            return;
        wake_.wait(seen, std::memory_order_acquire);
    }
}

void CNewDspUser::SetDone() {
    // The error state was stored before: the waiter reads it after the flag.
    done_.store(true, std::memory_order_release);
    wake_.fetch_add(1, std::memory_order_acq_rel);
    wake_.notify_all();
}

void CNewDspUser::TellOwner() {
    if (CDspUserOwner* owner = owner_.load(std::memory_order_acquire))
        owner->DspStateChanged();
}

void CNewDspUser::Halt() {
    Perform(Op::Halt, [this] { CCDspUser::Halt(); });
}

void CNewDspUser::Load(const char* path) {
    Perform(Op::Load, [this, path] { CCDspUser::Load(path, false); });
}

void CNewDspUser::ReadMem(const CCDspMemory& memory) {
    Perform(Op::ReadMem, [this, &memory] { CCDspUser::ReadMem(memory, false, false); });
}

void CNewDspUser::WriteMem(const CCDspMemory& memory) {
    Perform(Op::WriteMem, [this, &memory] { CCDspUser::WriteMem(memory, true, false); });
}

void CNewDspUser::Reset() {
    Perform(Op::Reset, [this] { CCDspUser::Reset(); });
}

// ---------------------------------------------------------------- notifications

void CNewDspUser::OnHalted(const CCDspAddr&) {
    if (Pending() == Op::Halt)
        SetDone();
}

void CNewDspUser::OnMemoryDone(const CCDspMemory&, bool failed) {
    if (failed)
        SetError(MemoryFailed);
    const Op op = Pending();
    if (op == Op::ReadMem || op == Op::WriteMem) {
        SetDone();
    } else {
        TellOwner();
    }
}

void CNewDspUser::OnPcChanged(const CCDspAddr&) {
    TellOwner();
}

void CNewDspUser::OnStoppedAt(const CCDspAddr&) {
    TellOwner();
}

void CNewDspUser::OnProgramLoaded(int32_t status, bool) {
    if (status != 0)
        SetError(LoadFailed);
    if (Pending() == Op::Load) {
        SetDone();
    } else {
        TellOwner();
    }
}

void CNewDspUser::OnResetDone(int32_t status) {
    if (status != 0)
        SetError(ResetFailed);
    if (Pending() == Op::Reset) {
        SetDone();
    } else {
        TellOwner();
    }
}

void CNewDspUser::OnRestartDone(int32_t status) {
    if (status != 0)
        SetError(RestartFailed);
}
