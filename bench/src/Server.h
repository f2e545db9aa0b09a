// The automation server: the bench's state behind the application object.
#pragma once

#include "ComBase.h"
#include "Description.h"
#include "QelBench.h"
#include "Target.h"
#include "Worker.h"
#include "platform/LockedFile.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qel::bench {

class DspUser;

class Core {
  public:
    // kBadDescription with a reason when the description or state folder is
    // unusable.
    static HResult Create(const BenchOptions& options, std::shared_ptr<Core>& out,
                          std::string& error);
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    struct Slot {
        std::unique_ptr<Processor> processor;
        std::shared_ptr<Worker> worker;  // the board's
        std::mutex userMu;
        DspUser* user = nullptr;  // not owned: the user unregisters itself
    };

    const BenchDesc& Desc() const { return desc_; }
    const std::string& StateFolder() const { return stateFolder_; }
    bool Realtime() const { return realtime_; }
    int BoardCount() const { return static_cast<int>(boards_.size()); }
    int ProcessorCount(int board) const;
    const std::string& BoardName(int board) const { return desc_.boards[board].name; }
    Slot* Find(int board, int processor);
    const std::shared_ptr<Worker>& BoardWorker(int board) { return workers_[board]; }

    // The processor's DSP user: the live one, or a new one.
    ComPtr<DspUser> GetUser(const std::shared_ptr<Core>& self, Slot& slot);
    // The live one, if any.
    static ComPtr<DspUser> CurrentUser(Slot& slot);

    // Blocks until the queues of all boards have run dry.
    void DrainAll();

    // Boards taken out of the carrier-board driver's scan (ComportLink.cpp).
    std::mutex comportMu;
    std::vector<int32_t> absentCarriers;

  private:
    Core() = default;

    BenchDesc desc_;
    std::string stateFolder_;
    bool realtime_ = false;
    platform::LockedFile namedLock_;
    std::vector<std::unique_ptr<Module>> modules_;
    std::vector<std::shared_ptr<Worker>> workers_;
    std::vector<std::vector<std::unique_ptr<Slot>>> boards_;
};

// The application object (with the bench control interface).
HResult CreateApplication(const std::shared_ptr<Core>& core, bool registerActive,
                          IApplication** out);
// This process's active application, one reference; null when none.
IUnknown* ActiveApplication();

}  // namespace qel::bench
