// The exported entry points of libQelDrv.so, the carrier-board driver over
// the simulated bench. One driver state per process, guarded by one lock;
// board objects stay the driver's and go at QelCloseBoard or QelClose.
#include "driver/QelDrv.h"

#include "BenchCarrier.h"
#include "CarrierBoard.h"
#include "QelDrvErrors.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using qel::drv::BenchCarrier;
using qel::drv::CarrierBoard;

constexpr uint32_t kVersion = 0x00020003;
constexpr uint32_t kBuildNumber = 1;

struct Driver {
    std::mutex mu;
    BenchCarrier bench;
    std::vector<std::unique_ptr<CarrierBoard>> boards;
    QelRefreshCallback refresh = nullptr;
    void* refreshContext = nullptr;
    QelHWStatusCallback status = nullptr;
    void* statusContext = nullptr;
};

Driver& TheDriver() {
    static Driver driver;
    return driver;
}

}  // namespace

QELDRV_API uint32_t QelOpen() {
    Driver& d = TheDriver();
    std::lock_guard lock(d.mu);
    return d.bench.Open();
}

QELDRV_API uint32_t QelClose() {
    Driver& d = TheDriver();
    std::lock_guard lock(d.mu);
    d.boards.clear();
    d.bench.Close();
    return 0;
}

QELDRV_API CQelBoard* QelOpenBoard(uint32_t board) {
    Driver& d = TheDriver();
    std::lock_guard lock(d.mu);
    if (!d.bench.IsOpen() || board > INT32_MAX)
        return nullptr;
    const int32_t benchBoard = d.bench.BenchBoard(static_cast<int32_t>(board));
    if (benchBoard < 0)
        return nullptr;
    d.boards.push_back(std::make_unique<CarrierBoard>(d.bench, board, benchBoard));
    return d.boards.back().get();
}

QELDRV_API uint32_t QelCloseBoard(CQelBoard* board) {
    Driver& d = TheDriver();
    std::lock_guard lock(d.mu);
    auto it = std::find_if(d.boards.begin(), d.boards.end(),
                           [board](const auto& b) { return b.get() == board; });
    if (it == d.boards.end())
        return qel::drv::kErrCarrierInterface;
    d.boards.erase(it);
    return 0;
}

QELDRV_API uint32_t QelGetBoardInfo(uint32_t board, QelBoardInfo* info) {
    Driver& d = TheDriver();
    std::lock_guard lock(d.mu);
    const int32_t benchBoard =
        board > INT32_MAX ? -1 : d.bench.BenchBoard(static_cast<int32_t>(board));
    if (!info || benchBoard < 0)
        return qel::drv::kErrCarrierInterface;
    return CarrierBoard(d.bench, board, benchBoard).GetInfo(info);
}

QELDRV_API uint32_t QelGetBoardCount() {
    Driver& d = TheDriver();
    std::lock_guard lock(d.mu);
    return static_cast<uint32_t>(d.bench.CarrierCount());
}

QELDRV_API const char* QelGetError(uint32_t code) {
    return qel::drv::ErrorText(code);
}

QELDRV_API uint32_t QelSetRefreshCallback(QelRefreshCallback callback, void* context) {
    Driver& d = TheDriver();
    std::lock_guard lock(d.mu);
    d.refresh = callback;
    d.refreshContext = context;
    return 0;
}

QELDRV_API uint32_t QelSetHWStatusCallback(QelHWStatusCallback callback, void* context) {
    Driver& d = TheDriver();
    std::lock_guard lock(d.mu);
    d.status = callback;
    d.statusContext = context;
    return 0;
}

QELDRV_API int32_t QelGetBoardIndex(const CQelBoard* board) {
    return board ? static_cast<int32_t>(board->GetIndex()) : -1;
}

QELDRV_API uint32_t QelGetDLLVer() {
    return kVersion;
}

QELDRV_API uint32_t QelGetDLLBuildNo() {
    return kBuildNumber;
}

QELDRV_API uint32_t QelGetPluginVersion() {
    return kVersion;
}

// The bench has no plug-in factory.
QELDRV_API void* QelGetFactory() {
    return nullptr;
}

// Scans happen on every QelGetBoardCount; there is nothing to start or stop.
QELDRV_API uint32_t QelStartScan() {
    return 0;
}

QELDRV_API uint32_t QelStopScan() {
    return 0;
}
