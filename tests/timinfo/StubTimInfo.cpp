// A TIM library that lacks one entry point: built once per entry point, with
// QEL_STUB_WITHOUT naming the one left out (1 to 4, in binding order).
#include "QelTimInfo.h"

#if QEL_STUB_WITHOUT != 1
QELTIMINFO_API CQelTimInfo* QelTimInfoOpen(uint32_t) {
    return nullptr;
}
#endif
#if QEL_STUB_WITHOUT != 2
QELTIMINFO_API void QelTimInfoClose(CQelTimInfo*) {}
#endif
#if QEL_STUB_WITHOUT != 3
QELTIMINFO_API void* QelModLibOpen(uint32_t) {
    return nullptr;
}
#endif
#if QEL_STUB_WITHOUT != 4
QELTIMINFO_API void QelModLibClose(void*) {}
#endif
