// The engine as a caller sees it: libTelmar.so bound by name through
// TelmarOpen/TelmarClose, on a simulated bench of its own (private settings
// folder and flash images), with the firmware files of the build.
#pragma once

#include "Telmar.h"
#include "tests/fixtures/TestTempDir.h"
#include "bench/include/QelBench.h"
#include "platform/DynamicLibrary.h"

#include <condition_variable>
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
        std::string text;  // status texts
    };

    static int Callback(int kind, int a, intptr_t b, uintptr_t context);

    // Blocks until a command-finished notice arrives and returns its result.
    int WaitFinished();
    std::vector<Notice> Take();
    void AnswerQuestions(int answer) { answer_ = answer; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notice> notices_;
    int finished_ = 0;
    int lastResult_ = -1;
    int answer_ = 0;
};

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
    IFFlash* Flash(int board, int processor);

    // The bench's control interface (faults, direct memory access).
    qel::bench::IBenchControl* Control();

    // Helpers of the common flows (no callback: commands block).
    void ConnectAndSelect(IFFlash* flash, const char* tim);
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
    IFSystem* system_ = nullptr;
    qel::bench::IBenchControl* control_ = nullptr;
    std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    int state_ = -1;
};

// The error record of a failed command, as text for assertion messages.
std::string Describe(const CFlashExc* error);

}  // namespace qel::e2e
