#include "converter/QelDrvLoad.h"

#include "QELExc.h"
#include "QelDrvErrors.h"
#include "platform/DynamicLibrary.h"

#include <string>

namespace {

constexpr const char* kSource = "Include\\QelDrvLoad";

template <typename Fn>
void Look(const qel::platform::DynamicLibrary& library, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(library.Symbol(name));
}

// The line numbers are part of the failure records callers show.
template <typename Fn>
void Check(Fn entry, const char* name, uint32_t line) {
    if (!entry) {
        const std::string text = std::string("Could not locate ") + name + "() function.";
        throw QelExcept(qel::drv::kErrDriverLibrary, line, kSource, text.c_str());
    }
}

}  // namespace

CQelDrvLoad::CQelDrvLoad(const char* libraryName)
    : library_(std::make_unique<qel::platform::DynamicLibrary>()) {
    if (!library_->Load(libraryName))
        throw QelExcept(qel::drv::kErrDriverLibrary, 43, kSource, "Could not find QelDrv.dll");
    const auto& lib = *library_;
    Look(lib, "QelOpen", QelOpen);
    Look(lib, "QelClose", QelClose);
    Look(lib, "QelOpenBoard", QelOpenBoard);
    Look(lib, "QelCloseBoard", QelCloseBoard);
    Look(lib, "QelGetBoardInfo", QelGetBoardInfo);
    Look(lib, "QelGetBoardCount", QelGetBoardCount);
    Look(lib, "QelGetError", QelGetError);
    Look(lib, "QelSetRefreshCallback", QelSetRefreshCallback);
    Look(lib, "QelSetHWStatusCallback", QelSetHWStatusCallback);
    Look(lib, "QelGetBoardIndex", QelGetBoardIndex);
    Look(lib, "QelGetDLLVer", QelGetDLLVer);
    Look(lib, "QelGetDLLBuildNo", QelGetDLLBuildNo);
    Look(lib, "QelGetPluginVersion", QelGetPluginVersion);
    Look(lib, "QelGetFactory", QelGetFactory);
    Look(lib, "QelStartScan", QelStartScan);
    Look(lib, "QelStopScan", QelStopScan);
    try {
        Check(QelOpen, "QelOpen", 61);
        Check(QelClose, "QelClose", 62);
        Check(QelOpenBoard, "QelOpenBoard", 63);
        Check(QelCloseBoard, "QelCloseBoard", 64);
        Check(QelGetBoardInfo, "QelGetBoardInfo", 65);
        Check(QelGetBoardCount, "QelGetBoardCount", 66);
        Check(QelGetError, "QelGetError", 67);
        Check(QelSetRefreshCallback, "QelSetRefreshCallback", 68);
        Check(QelSetHWStatusCallback, "QelSetHWStatusCallback", 69);
        Check(QelGetBoardIndex, "QelGetBoardIndex", 70);
        Check(QelGetDLLVer, "QelGetDLLVer", 71);
        Check(QelGetDLLBuildNo, "QelGetDLLBuildNo", 72);
        Check(QelGetPluginVersion, "QelGetPluginVersion", 73);
        Check(QelGetFactory, "QelGetFactory", 74);
        Check(QelStartScan, "QelStartScan", 75);
        Check(QelStopScan, "QelStopScan", 76);
    } catch (...) {
        Clear();
        throw;
    }
}

CQelDrvLoad::~CQelDrvLoad() {
    Clear();
}

void CQelDrvLoad::Clear() {
    library_->Unload();
    QelOpen = nullptr;
    QelClose = nullptr;
    QelOpenBoard = nullptr;
    QelCloseBoard = nullptr;
    QelGetBoardInfo = nullptr;
    QelGetBoardCount = nullptr;
    QelGetError = nullptr;
    QelSetRefreshCallback = nullptr;
    QelSetHWStatusCallback = nullptr;
    QelGetBoardIndex = nullptr;
    QelGetDLLVer = nullptr;
    QelGetDLLBuildNo = nullptr;
    QelGetPluginVersion = nullptr;
    QelGetFactory = nullptr;
    QelStartScan = nullptr;
    QelStopScan = nullptr;
}
