// Extra export of libQelTimInfo.so, beyond the four entry points every caller
// binds: why the last QelTimInfoOpen failed.
#pragma once

#include "QelTimInfo.h"

// The reason the last QelTimInfoOpen on the calling thread returned null
// ("<file>:<line>: <reason>" for a malformed description); empty after a
// successful open. Valid until the thread's next QelTimInfoOpen.
QELTIMINFO_API const char* QelTimInfoLastError();

// Name of the environment variable that names the data folder.
inline constexpr const char* kTimDataVariable = "QEL4410_TIMDATA";
