// One carrier board of the driver: the board object callers get from
// QelOpenBoard. Only the TIM reset and the boot download reach the bench;
// the other operations report that this carrier does not offer them.
#pragma once

#include "BenchCarrier.h"
#include "driver/QelDrv.h"

#include <string>

namespace qel::drv {

class CarrierBoard final : public CQelBoard {
  public:
    CarrierBoard(const BenchCarrier& bench, uint32_t index, int32_t benchBoard);
    ~CarrierBoard() = default;

    uint32_t ResetTim() override;
    uint32_t GetIndex() const override { return index_; }
    const char* GetName() const override { return name_.c_str(); }
    uint32_t GetInfo(QelBoardInfo* info) const override;
    uint32_t ComportWrite(const void*, uint32_t) override { return Unsupported(); }
    uint32_t ComportRead(void*, uint32_t) override { return Unsupported(); }
    uint32_t ComportCancel() override { return Unsupported(); }
    uint32_t SetTimeout(uint32_t milliseconds) override;
    uint32_t GetTimeout() const override { return timeout_; }
    uint32_t MbWrite(uint32_t, uint32_t) override { return Unsupported(); }
    uint32_t MbRead(uint32_t, uint32_t*) override { return Unsupported(); }
    uint32_t HscOpen(uint32_t) override { return Unsupported(); }
    uint32_t HscClose(uint32_t) override { return Unsupported(); }
    uint32_t HscWrite(uint32_t, const void*, uint32_t) override { return Unsupported(); }
    uint32_t HscRead(uint32_t, void*, uint32_t) override { return Unsupported(); }
    uint32_t ConfigureFpga(const char*) override { return Unsupported(); }
    uint32_t ReadRegister(uint32_t, uint32_t*) override { return Unsupported(); }
    uint32_t WriteRegister(uint32_t, uint32_t) override { return Unsupported(); }
    uint32_t GetLastError() const override { return lastError_; }
    uint32_t Download(const char* path, uint32_t flags) override;

    // Why the boot loader refused the last download (empty when it did not).
    const std::string& RefusalReason() const { return reason_; }

  private:
    uint32_t Result(uint32_t code);
    uint32_t Unsupported();

    const BenchCarrier& bench_;
    const uint32_t index_;
    const int32_t benchBoard_;
    std::string name_;
    uint32_t timeout_ = 5000;
    uint32_t lastError_ = 0;
    std::string reason_;
};

}  // namespace qel::drv
