// The exported entry points of libTelmar.so.
#include "Telmar.h"

#include "engine/Flash.h"
#include "engine/System.h"

#include <new>

TELMAR_API IFSystem* TelmarOpen(StateCallback callback, void* context, uint32_t timLibArg) {
    return new (std::nothrow) CSystem(callback, context, timLibArg);
}

TELMAR_API void TelmarClose(IFSystem* system) {
    delete system;
}

// Tests shorten the programmer's polling intervals (50 ms, 200 ms more while
// writing or erasing); the product never calls this.
TELMAR_API void TelmarSetPollIntervalsForTests(uint32_t baseMs, uint32_t extraMs) {
    CFlash::SetPollIntervals(std::chrono::milliseconds(baseMs), std::chrono::milliseconds(extraMs));
}

// Tests: flash objects built from now on get a worker whose thread
// initialisation fails (non-zero) or succeeds again (0); the product never
// calls this.
TELMAR_API void TelmarFailWorkerInitialisationForTests(int fail) {
    CFlash::FailWorkerInitialisation(fail != 0);
}
