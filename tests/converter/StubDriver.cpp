// A driver library that lacks one entry point: built once per entry point,
// QEL_STUB_WITHOUT naming the one left out (1 to 16, in binding order).
// Every function present does nothing.
#include "driver/QelDrv.h"

#define STUB(number, result, name, ...)  \
    QELDRV_API result name(__VA_ARGS__); \
    result name(__VA_ARGS__) {           \
        return {};                       \
    }

#if QEL_STUB_WITHOUT != 1
STUB(1, uint32_t, QelOpen)
#endif
#if QEL_STUB_WITHOUT != 2
STUB(2, uint32_t, QelClose)
#endif
#if QEL_STUB_WITHOUT != 3
STUB(3, CQelBoard*, QelOpenBoard, uint32_t)
#endif
#if QEL_STUB_WITHOUT != 4
STUB(4, uint32_t, QelCloseBoard, CQelBoard*)
#endif
#if QEL_STUB_WITHOUT != 5
STUB(5, uint32_t, QelGetBoardInfo, uint32_t, QelBoardInfo*)
#endif
#if QEL_STUB_WITHOUT != 6
STUB(6, uint32_t, QelGetBoardCount)
#endif
#if QEL_STUB_WITHOUT != 7
STUB(7, const char*, QelGetError, uint32_t)
#endif
#if QEL_STUB_WITHOUT != 8
STUB(8, uint32_t, QelSetRefreshCallback, QelRefreshCallback, void*)
#endif
#if QEL_STUB_WITHOUT != 9
STUB(9, uint32_t, QelSetHWStatusCallback, QelHWStatusCallback, void*)
#endif
#if QEL_STUB_WITHOUT != 10
STUB(10, int32_t, QelGetBoardIndex, const CQelBoard*)
#endif
#if QEL_STUB_WITHOUT != 11
STUB(11, uint32_t, QelGetDLLVer)
#endif
#if QEL_STUB_WITHOUT != 12
STUB(12, uint32_t, QelGetDLLBuildNo)
#endif
#if QEL_STUB_WITHOUT != 13
STUB(13, uint32_t, QelGetPluginVersion)
#endif
#if QEL_STUB_WITHOUT != 14
STUB(14, void*, QelGetFactory)
#endif
#if QEL_STUB_WITHOUT != 15
STUB(15, uint32_t, QelStartScan)
#endif
#if QEL_STUB_WITHOUT != 16
STUB(16, uint32_t, QelStopScan)
#endif
