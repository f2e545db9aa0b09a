// The carrier-board driver's way to the hardware: the comport links of the
// simulated bench, the one running in this process or a new one made from
// the same description and state folder the engine uses.
#pragma once

#include "QelBenchComport.h"

#include <cstdint>
#include <string>

namespace qel::drv {

class BenchCarrier {
  public:
    BenchCarrier() = default;
    ~BenchCarrier();
    BenchCarrier(const BenchCarrier&) = delete;
    BenchCarrier& operator=(const BenchCarrier&) = delete;

    // Driver error code, 0 when the bench answers.
    uint32_t Open();
    void Close();
    bool IsOpen() const { return link_ != nullptr; }

    int32_t CarrierCount() const;
    // The bench board of carrier n; -1 when there is none.
    int32_t BenchBoard(int32_t carrier) const;
    std::string BoardName(int32_t benchBoard) const;
    int32_t ProcessorCount(int32_t benchBoard) const;

    uint32_t ResetTim(int32_t benchBoard) const;
    // Driver error code: 0, or the link's refusal (reason set).
    uint32_t SendBootImage(int32_t benchBoard, const std::string& image, std::string& reason) const;

  private:
    bench::IApplication* application_ = nullptr;
    bench::IComportLink* link_ = nullptr;
};

}  // namespace qel::drv
