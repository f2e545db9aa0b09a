// An engine library that exports TelmarOpen but not TelmarClose, for the
// binder's test.
#include "Telmar.h"

TELMAR_API IFSystem* TelmarOpen(StateCallback, void*, uint32_t) {
    return nullptr;
}
