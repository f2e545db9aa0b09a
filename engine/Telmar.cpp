// The exported entry points of libTelmar.so.
#include "Telmar.h"

#include "engine/Flash.h"
#include "engine/System.h"

TELMAR_API IFSystem* TelmarOpen(StateCallback callback, void* context, uint32_t timLibArg) {
    // Nothing may escape a C entry point: a system that cannot be made,
    // its worker thread included, is null.
    try {
        return new CSystem(callback, context, timLibArg);
    } catch (...) {
        return nullptr;
    }
}

TELMAR_API void TelmarClose(IFSystem* system) {
    delete system;
}

// Tests shorten the programmer's polling intervals (50 ms, 200 ms more while
// writing or erasing); the product never calls this.
TELMAR_API void TelmarSetPollIntervalsForTests(uint32_t baseMs, uint32_t extraMs) {
    CFlash::SetPollIntervals(std::chrono::milliseconds(baseMs), std::chrono::milliseconds(extraMs));
}

// Tests shorten the time after which a programmer command that shows no
// progress fails (two minutes); 0 restores it. The product never calls this.
TELMAR_API void TelmarSetProgrammerStallLimitForTests(uint32_t limitMs) {
    CFlash::SetProgrammerStallLimit(limitMs != 0 ? std::chrono::milliseconds(limitMs)
                                                 : CFlash::kProgrammerStallLimit);
}

// Tests: flash objects built from now on get a worker whose thread
// initialisation fails (non-zero) or succeeds again (0); the product never
// calls this.
TELMAR_API void TelmarFailWorkerInitialisationForTests(int fail) {
    CFlash::FailWorkerInitialisation(fail != 0);
}
