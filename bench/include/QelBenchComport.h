// The carrier boards' comport links of the simulated bench, as the
// carrier-board driver reaches them. Reached with
// QueryInterface(IComportLink::kIid) on the bench's application; boards and
// processors are numbered as in IDspBoards / IDspTasks.
//
// The comport of a carrier board is wired to the first TIM site: the first
// processor of the board's first module hears the boot image, and "reset the
// TIM" resets every processor of that module.
#pragma once

#include "QelBench.h"

namespace qel::bench {

// A boot image the TIM's boot loader refused; nothing of it was loaded.
inline constexpr HResult kBootRefused = static_cast<HResult>(0x80041010);

class IComportLink : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x51B0F8D1, 0x6E3A, 0x4C20, {0x9A, 0x51, 0x51, 0x45, 0x4C, 0x42, 0x00, 0x20}};
    // Boards whose carrier hardware answers a scan, in board order.
    virtual HResult GetCarrierCount(int32_t* count) = 0;
    // The bench board of the carrier with that number; kBadIndex outside.
    virtual HResult GetCarrierBoard(int32_t carrier, int32_t* board) = 0;
    // Test switch: a board whose carrier is absent is not found by a scan
    // (every board is present when the bench starts).
    virtual HResult SetCarrierPresent(int32_t board, VariantBool present) = 0;
    // Resets the TIM on the board's first site; its boot loader then waits
    // for an image on the comport.
    virtual HResult ResetTim(int32_t board) = 0;
    // Sends a boot image (old or new format) over the board's comport: the
    // boot loader checks it whole, loads every record at its load address
    // and starts the processor at the entry point. kBootRefused with the
    // reason in *reason (may be null) when the image is damaged or a record
    // does not land in writable memory; then nothing is loaded.
    virtual HResult SendBootImage(int32_t board, const void* image, uint32_t length,
                                  std::string* reason) = 0;
    // Execution state (kExecHalted / kExecRunning) and program counter (the
    // entry point the processor was started at, 0 when none).
    virtual HResult GetExecution(int32_t board, int32_t processor, int32_t* state,
                                 uint32_t* programCounter) = 0;
};

}  // namespace qel::bench
