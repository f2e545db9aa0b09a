// The hardware model: a module's flash and the processors on it, each with
// its memory, execution state, fault switches and, while one runs, the flash
// programmer model.
#pragma once

#include <atomic>

#include "Description.h"
#include "FlashImage.h"
#include "QelBench.h"
#include "include/ProgrammerProtocol.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qel::bench {

struct BootImage;

struct Module {
    Module(ModuleDesc d, const std::string& imagePath)
        : desc(std::move(d)), image(imagePath, desc.flashSize, desc.sectorSize) {}
    const ModuleDesc desc;
    FlashImage image;
};

// Armed fault switches of one processor.
struct FaultState {
    uint32_t failMemory = 0;
    uint32_t failLoad = 0;
    uint32_t restartFailure = 0;
    uint32_t unrequestedHalt = 0;
    uint32_t unrequestedReset = 0;
    uint32_t unrequestedAddress = 0;
    uint32_t refuse = 0;
    uint32_t programmerHang = 0;
    int32_t missingEvents = 0;  // 0, or the number of the interface left out
    uint32_t powerCutAt = 0;    // K, 0 = off
    uint32_t flashWrites = 0;   // command 4 writes since the power cut was armed
    uint32_t progressLockstep = 0;
};

// What one request brings along, decided when it is made.
struct RequestFaults {
    bool restartFailure = false;
    bool halt = false;
    bool reset = false;
    bool address = false;
    bool fail = false;  // memory or load failure
};

// The programmer's command block words and status values.
using qel::fprog::kStatusBusy;
using qel::fprog::kStatusComplete;
using qel::fprog::kStatusReady;
using qel::fprog::kWordCode;
using qel::fprog::kWordControl;
using qel::fprog::kWordFirstArgument;
using qel::fprog::kWordProgress;
using qel::fprog::kWordResult;
using qel::fprog::kWordStatus;

class Processor {
  public:
    Processor(const ProcessorDesc& desc, Module& module, int board, int index);
    ~Processor();
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    const ProcessorDesc& Desc() const { return desc_; }
    Module& GetModule() { return module_; }
    int Board() const { return board_; }
    int Index() const { return index_; }
    uint32_t Id() const { return desc_.id; }
    const Timing& GetTiming() const { return module_.desc.timing; }

    // Target memory as the debugger sees it: regions, and the flash read-only
    // where it is mapped. False (nothing transferred) when any byte lies
    // outside, or for a write, in the flash.
    bool ReadMemory(uint32_t address, void* buffer, uint32_t length);
    bool WriteMemory(uint32_t address, const void* buffer, uint32_t length);
    // The whole range is writable memory (not the flash).
    bool IsRam(uint32_t address, uint32_t length) const;

    // Target operations (the bench thread of the board runs them).
    void Halt();
    // Halts, revives a dead target and boots: copies the start of the flash
    // to address 0 for modules that boot so.
    void Reset();
    // Halts, then writes the sections; false (nothing written) when the file
    // cannot be read or a section does not land in writable memory.
    bool Load(const std::string& path, std::string& error);
    // Starts the loaded program; a programmer image starts the model.
    void Run();
    // The boot loader's part of a comport boot (ComportLink.cpp): halts and
    // writes the image's records, checked already, and sets the entry point.
    void BootLoad(const uint8_t* image, const BootImage& boot);

    int32_t ExecState();
    bool Dead();
    uint32_t ProgramCounter();

    // Fault switches.
    void SetFault(Fault fault, uint32_t count);
    void ClearFaults();
    int32_t MissingEvents();
    // For a new request: false when it is refused.
    bool TakeRefusal();
    RequestFaults TakeRequestFaults(bool memory, bool load);

    // Bytes that crossed the debugger link for this processor since the
    // bench started (memory requests and program loads).
    void CountLink(bool toTarget, uint64_t bytes) {
        (toTarget ? linkToTarget_ : linkFromTarget_).fetch_add(bytes, std::memory_order_relaxed);
    }
    uint64_t LinkToTarget() const { return linkToTarget_.load(std::memory_order_relaxed); }
    uint64_t LinkFromTarget() const { return linkFromTarget_.load(std::memory_order_relaxed); }
    // Requests made for this processor (halt, reset, loads, memory), and the
    // reads among them that found the programmer's status word while it was
    // busy with a command: waiting, not work.
    void CountRequest() { linkRequests_.fetch_add(1, std::memory_order_relaxed); }
    void CountBusyPoll(uint32_t address, uint32_t length);
    uint64_t LinkRequests() const { return linkRequests_.load(std::memory_order_relaxed); }
    uint64_t BusyPolls() const { return busyPolls_.load(std::memory_order_relaxed); }

    // Programmer model.
    ProgrammerInfo GetProgrammerInfo();
    void WaitProgrammerIdle();

  private:
    std::atomic<uint64_t> linkToTarget_{0};
    std::atomic<uint64_t> linkFromTarget_{0};
    std::atomic<uint64_t> linkRequests_{0};
    std::atomic<uint64_t> busyPolls_{0};

    struct Area {
        Region region;
        std::vector<std::unique_ptr<uint8_t[]>> pages;
    };
    enum class SpanKind { Ram, Flash };
    template <class F>
    bool Spans(uint32_t address, uint32_t length, bool write, F&& f) const;
    // With mu_ held.
    void CopyFromRam(const Area& area, uint32_t address, uint8_t* out, uint32_t length) const;
    void CopyToRam(Area& area, uint32_t address, const uint8_t* in, uint32_t length);
    bool ReadRamLocked(uint32_t address, void* buffer, uint32_t length);
    bool WriteRamLocked(uint32_t address, const void* buffer, uint32_t length);
    uint32_t WordLocked(uint32_t address);
    void SetWordLocked(uint32_t address, uint32_t value);
    // Takes mu_.
    bool ReadRam(uint32_t address, void* buffer, uint32_t length);
    bool WriteRam(uint32_t address, const void* buffer, uint32_t length);
    bool SetWord(uint32_t address, uint32_t value);

    // Programmer model (Programmer.cpp).
    struct Config {
        bool initialised = false;
        bool access = false;
        uint32_t base = 0;
        uint32_t transfer = 0;
        uint32_t transferSize = 0;
        uint32_t sectorBuffer = 0;
        uint32_t save = 0;
        uint32_t saveSize = 0;
    };
    struct Command {
        uint32_t code = 0;
        uint32_t args[qel::fprog::kMaxArguments] = {};
    };
    enum class Outcome { Done, Stopped, PowerCut };
    void StartProgrammerLocked(uint32_t commandBlock, uint32_t timType);
    void StopProgrammer();
    void OnHostWriteLocked(uint32_t address, uint32_t length);
    void ProgrammerLoop();
    Outcome Execute(const Command& cmd, uint32_t& result);
    uint32_t Initialise(const Command& cmd);
    uint32_t ReadFlash(const Command& cmd);
    Outcome Program(uint32_t& result);
    Outcome Erase(bool progress, uint32_t& result);
    uint32_t Keep(const Command& cmd);
    uint32_t Directory();
    // Waits out modelled time; false when the programmer is being stopped.
    bool Delay(std::chrono::nanoseconds d);
    bool Stopping();
    // Sets the progress word; in lock step, waits until the host has read it.
    void Progress(uint32_t value);
    // With mu_ held: a host read of [address, address + length) happened.
    void NoteProgressReadLocked(uint32_t address, uint32_t length);

    const ProcessorDesc desc_;
    Module& module_;
    const int board_;
    const int index_;

    std::mutex mu_;  // everything below
    std::vector<Area> areas_;
    int32_t exec_ = kExecHalted;
    bool dead_ = false;
    bool hasEntry_ = false;
    uint32_t entry_ = 0;
    FaultState faults_;

    // Programmer model state.
    bool progRunning_ = false;
    uint32_t commandBlock_ = 0;
    uint32_t progTim_ = 0;
    bool busy_ = false;
    bool hung_ = false;
    bool stop_ = false;
    bool pending_ = false;
    Command command_;
    uint32_t commandsDone_ = 0;
    uint32_t lastCommand_ = 0;
    bool lockstep_ = false;      // the running command waits for each progress read
    bool progressRead_ = false;  // the host read the progress word since the last step
    Config config_;
    std::condition_variable cv_;      // command arrival, stop, modelled time
    std::condition_variable idleCv_;  // a command ended
    std::mutex threadMu_;             // start / stop of the thread (taken before mu_)
    std::thread thread_;
};

}  // namespace qel::bench
