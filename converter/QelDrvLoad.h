// Binds the carrier-board driver library by name. The constructor loads it
// and looks up its sixteen entry points; the first one missing, or the
// library itself, throws QelExcept (code 0x80001). The destructor unloads it.
#pragma once

#include "driver/QelDrv.h"

#include <memory>

namespace qel::platform {
class DynamicLibrary;
}

class CQelDrvLoad {
  public:
    // libraryName defaults to the library's Windows name, mapped to libQelDrv.so.
    explicit CQelDrvLoad(const char* libraryName = "QelDrv.dll");
    ~CQelDrvLoad();
    CQelDrvLoad(const CQelDrvLoad&) = delete;
    CQelDrvLoad& operator=(const CQelDrvLoad&) = delete;

    QelOpenFn QelOpen = nullptr;
    QelCloseFn QelClose = nullptr;
    QelOpenBoardFn QelOpenBoard = nullptr;
    QelCloseBoardFn QelCloseBoard = nullptr;
    QelGetBoardInfoFn QelGetBoardInfo = nullptr;
    QelGetBoardCountFn QelGetBoardCount = nullptr;
    QelGetErrorFn QelGetError = nullptr;
    QelSetRefreshCallbackFn QelSetRefreshCallback = nullptr;
    QelSetHWStatusCallbackFn QelSetHWStatusCallback = nullptr;
    QelGetBoardIndexFn QelGetBoardIndex = nullptr;
    QelGetDLLVerFn QelGetDLLVer = nullptr;
    QelGetDLLBuildNoFn QelGetDLLBuildNo = nullptr;
    QelGetPluginVersionFn QelGetPluginVersion = nullptr;
    QelGetFactoryFn QelGetFactory = nullptr;
    QelStartScanFn QelStartScan = nullptr;
    QelStopScanFn QelStopScan = nullptr;

  private:
    void Clear();

    std::unique_ptr<qel::platform::DynamicLibrary> library_;
};
