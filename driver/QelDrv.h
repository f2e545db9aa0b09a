// Interface of the carrier-board driver library libQelDrv.so, as its callers
// see it: sixteen plain C entry points and the board object, whose operation
// slots (counted from 0) are the contract with the library.
#pragma once

#include <cstdint>

#define QELDRV_API extern "C" __attribute__((visibility("default")))

struct QelBoardInfo {
    uint32_t index;       // carrier board number, from 0
    uint32_t benchBoard;  // the board of the bench it stands for
    uint32_t processors;  // on the modules seated on it
    char name[128];
};

// One carrier board, handed out by QelOpenBoard and given back with
// QelCloseBoard. Results are driver error codes, 0 = done.
class __attribute__((visibility("default"))) CQelBoard {
  public:
    // 0: resets the TIM on the board's first site.
    virtual uint32_t ResetTim() = 0;
    // 1 to 18: what a carrier board offers besides the boot download.
    virtual uint32_t GetIndex() const = 0;
    virtual const char* GetName() const = 0;
    virtual uint32_t GetInfo(QelBoardInfo* info) const = 0;
    virtual uint32_t ComportWrite(const void* buffer, uint32_t bytes) = 0;
    virtual uint32_t ComportRead(void* buffer, uint32_t bytes) = 0;
    virtual uint32_t ComportCancel() = 0;
    virtual uint32_t SetTimeout(uint32_t milliseconds) = 0;
    virtual uint32_t GetTimeout() const = 0;
    virtual uint32_t MbWrite(uint32_t mailbox, uint32_t value) = 0;
    virtual uint32_t MbRead(uint32_t mailbox, uint32_t* value) = 0;
    virtual uint32_t HscOpen(uint32_t channel) = 0;
    virtual uint32_t HscClose(uint32_t channel) = 0;
    virtual uint32_t HscWrite(uint32_t channel, const void* buffer, uint32_t bytes) = 0;
    virtual uint32_t HscRead(uint32_t channel, void* buffer, uint32_t bytes) = 0;
    virtual uint32_t ConfigureFpga(const char* path) = 0;
    virtual uint32_t ReadRegister(uint32_t offset, uint32_t* value) = 0;
    virtual uint32_t WriteRegister(uint32_t offset, uint32_t value) = 0;
    // The code of the last failed operation, 0 when none failed.
    virtual uint32_t GetLastError() const = 0;
    // 19: sends an image file to the TIM's boot loader over the comport link
    // and lets it start the program. flags: 0.
    virtual uint32_t Download(const char* path, uint32_t flags) = 0;

  protected:
    ~CQelBoard() = default;
};

typedef void (*QelRefreshCallback)(void* context);
typedef void (*QelHWStatusCallback)(void* context, uint32_t status);

typedef uint32_t (*QelOpenFn)();
typedef uint32_t (*QelCloseFn)();
typedef CQelBoard* (*QelOpenBoardFn)(uint32_t board);
typedef uint32_t (*QelCloseBoardFn)(CQelBoard* board);
typedef uint32_t (*QelGetBoardInfoFn)(uint32_t board, QelBoardInfo* info);
typedef uint32_t (*QelGetBoardCountFn)();
typedef const char* (*QelGetErrorFn)(uint32_t code);
typedef uint32_t (*QelSetRefreshCallbackFn)(QelRefreshCallback callback, void* context);
typedef uint32_t (*QelSetHWStatusCallbackFn)(QelHWStatusCallback callback, void* context);
typedef int32_t (*QelGetBoardIndexFn)(const CQelBoard* board);
typedef uint32_t (*QelGetDLLVerFn)();
typedef uint32_t (*QelGetDLLBuildNoFn)();
typedef uint32_t (*QelGetPluginVersionFn)();
typedef void* (*QelGetFactoryFn)();
typedef uint32_t (*QelStartScanFn)();
typedef uint32_t (*QelStopScanFn)();
