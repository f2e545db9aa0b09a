// The engine as a caller sees it: libTelmar.so bound by name through
// TelmarOpen/TelmarClose, on a simulated bench of its own (private settings
// folder and flash images), with the firmware files of the build.
#pragma once

#include "Telmar.h"
#include "bench/include/QelBench.h"
#include "platform/DynamicLibrary.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qel::e2e {

// Records every flash notice and answers questions as told.
class NoticeLog {
  public:
    struct Notice {
        int kind;
        int a;
        intptr_t b;
        std::string text;  // status texts, the file of question 2
    };

    static int Callback(int kind, int a, intptr_t b, uintptr_t context);

    // Blocks until a command-finished notice arrives and returns its result.
    int WaitFinished();
    std::vector<Notice> Take();
    void AnswerQuestions(int answer) { answer_ = answer; }

    // Filters of a notice list.
    static std::vector<Notice> OfKind(const std::vector<Notice>& notices, int kind);
    static std::vector<std::string> Texts(const std::vector<Notice>& notices);
    static bool HasText(const std::vector<Notice>& notices, const std::string& text);

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notice> notices_;
    int finished_ = 0;
    int lastResult_ = -1;
    std::atomic<int> answer_{0};
};

// One block of a raw flash image, found by walking the chain as the
// programmer does: the init image's size, then headers and total sizes.
struct ImageBlock {
    uint32_t offset = 0;
    BlockHeader header{};
    bool payloadIntact = false;  // CRC-32 of dataLength payload bytes equals the header's
};

struct ImageChain {
    bool hasInit = false;
    uint32_t initSize = 0;
    std::vector<ImageBlock> blocks;
    bool terminated = false;  // the walk ended at a termination block
};

ImageChain WalkImage(const std::vector<uint8_t>& image);
uint32_t Crc32(const uint8_t* data, size_t length);

class EngineBench {
  public:
    // benchDescription: text of a bench description; empty = the default bench.
    explicit EngineBench(const std::string& benchDescription = "");
    ~EngineBench();
    EngineBench(const EngineBench&) = delete;
    EngineBench& operator=(const EngineBench&) = delete;

    // TelmarOpen and a connect that has reached state 2.
    IFSystem* Open();
    // TelmarClose; the bench server goes with its last reference.
    void Close();
    IFSystem* System() const { return system_; }
    // A second engine in this process, on the same settings and bench:
    // TelmarOpen and a connect that has reached state 2. Closed with
    // CloseAnother.
    IFSystem* OpenAnother();
    void CloseAnother(IFSystem* system) { close_(system); }
    IFFlash* Flash(int board, int processor);

    // Flash objects built from now on get a worker whose thread
    // initialisation fails (the engine's test entry point).
    void FailWorkerInitialisation(bool fail);

    // The engine's polling of the programmer (0 and 0 from the start, so
    // that tests see every step); restored when the bench goes.
    void SetPollIntervals(uint32_t baseMs, uint32_t extraMs);

    // The bench's control interface (faults, direct memory access).
    qel::bench::IBenchControl* Control();

    // Engine settings (values of SOFTWARE\Halvern\QEL4410\Telmar); a flash object
    // reads them when it is built. The folders start at the build's firmware.
    void SetSetting(const std::string& name, const std::string& value);
    // A TIM description folder of the test's own: the shipped descriptions
    // and this one (file name, text). Takes effect at the next connect.
    void AddTimDescription(const std::string& fileName, const std::string& text);
    static std::string ShippedTimDescription(const std::string& fileName);

    // Helpers of the common flows (no callback: commands block).
    void ConnectAndSelect(IFFlash* flash, const char* tim);
    // Registers log as the flash callback, triggers the command, waits for its
    // finish notice and unregisters; returns the command's result.
    static int Run(IFFlash* flash, NoticeLog& log, const std::function<int()>& trigger);
    std::string Firmware(const std::string& kind, const std::string& file) const;
    std::string WriteExecutable(const std::string& name, uint32_t address, size_t bytes,
                                uint8_t seed) const;
    std::string WriteData(const std::string& name, size_t bytes, uint8_t seed) const;
    std::vector<uint8_t> FlashImage(int board, int processor);
    const qel::fixtures::TestTempDir& Temp() const { return temp_; }

  private:
    static void StateCallback(void* context, int state);

    qel::fixtures::TestTempDir temp_;
    qel::platform::DynamicLibrary library_;
    TelmarOpenFn open_ = nullptr;
    TelmarCloseFn close_ = nullptr;
    void (*poll_)(uint32_t, uint32_t) = nullptr;
    IFSystem* system_ = nullptr;
    qel::bench::IBenchControl* control_ = nullptr;
    std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    int state_ = -1;
};

// Names parameterised tests after their case's `name` member.
struct CaseName {
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& param) const {
        return param.param.name;
    }
};

// The error record of a failed command, as text for assertion messages.
std::string Describe(const CFlashExc* error);

// The engine's view of a chain: every block's header and extra header.
struct ChainEntry {
    BlockHeader header;
    std::vector<uint8_t> extra;
};
std::vector<ChainEntry> ReadChain(IFFlash* flash);

UserBlockRecord UserRecord(const std::string& file, bool bootable = false);

// Runs an editing call and returns the code of the engine error it throws
// (0 when it throws none).
uint32_t ErrorOf(const std::function<void()>& call);

}  // namespace qel::e2e
