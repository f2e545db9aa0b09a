// A separately built shared library that raises engine errors, standing in
// for libTelmar.so on the far side of a library boundary.
#include "engine/Exc.h"

extern "C" __attribute__((visibility("default"))) void ThrowEngineError(uint32_t code) {
    CExc e(code, "Flash", 42);
    e.SetDetail("raised in another library");
    throw e;
}
