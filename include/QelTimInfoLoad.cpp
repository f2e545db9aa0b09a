#include "QelTimInfoLoad.h"

#include "QELExc.h"
#include "platform/DynamicLibrary.h"

namespace {

[[noreturn]] void Fail(uint32_t line, const char* text) {
    throw QelExcept(CQelTimInfoLoad::ErrorCode, line, "QelTimInfoLoad", text);
}

template <typename Fn>
Fn Bind(const qel::platform::DynamicLibrary& library, const char* name) {
    return reinterpret_cast<Fn>(library.Symbol(name));
}

}  // namespace

CQelTimInfoLoad::CQelTimInfoLoad(const char* libraryName)
    : library_(std::make_unique<qel::platform::DynamicLibrary>()) {
    // The line numbers are part of the failure records callers show.
    if (!library_->Load(libraryName))
        Fail(43, "Could not find QelTimInfo.dll");
    QelTimInfoOpen = Bind<QelTimInfoOpenFn>(*library_, "QelTimInfoOpen");
    if (!QelTimInfoOpen)
        Fail(49, "Could not locate QelTimInfoOpen() function.");
    QelTimInfoClose = Bind<QelTimInfoCloseFn>(*library_, "QelTimInfoClose");
    if (!QelTimInfoClose)
        Fail(50, "Could not locate QelTimInfoClose() function.");
    QelModLibOpen = Bind<QelModLibOpenFn>(*library_, "QelModLibOpen");
    if (!QelModLibOpen)
        Fail(51, "Could not locate QelModLibOpen() function.");
    QelModLibClose = Bind<QelModLibCloseFn>(*library_, "QelModLibClose");
    if (!QelModLibClose)
        Fail(52, "Could not locate QelModLibClose() function.");
}

CQelTimInfoLoad::~CQelTimInfoLoad() = default;
