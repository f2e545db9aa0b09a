// libTelmar.so bound by name through TelmarOpen/TelmarClose, the root object
// connected, and one session per processor's flash that runs the engine's
// commands with a callback and waits for their finish notice.
#pragma once

#include "QelTimInfoLoad.h"
#include "Telmar.h"
#include "platform/DynamicLibrary.h"
#include "programmer/Display.h"
#include "programmer/Errors.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qel::programmer {

// The TIM description library, for names of TIM codes and the list of types.
class TimCatalog {
  public:
    TimCatalog();  // throws EngineError (binder) or Failure
    ~TimCatalog();
    TimCatalog(const TimCatalog&) = delete;
    TimCatalog& operator=(const TimCatalog&) = delete;

    // Empty when the code is unknown.
    std::string NameOf(uint32_t code) const;
    struct Entry {
        std::string name;
        uint32_t code;
        std::string comment;
    };
    std::vector<Entry> Entries() const;
    std::string DataFolder() const;
    // Where the TIM type's flash sits in the processor's memory; nullopt when
    // the code is unknown.
    std::optional<uint32_t> FlashAddress(uint32_t code) const;

  private:
    std::unique_ptr<CQelTimInfoLoad> binder_;
    CQelTimInfo* database_ = nullptr;
};

struct ProcessorName {
    int board;
    int processor;
    std::string boardName;
    std::string name;
};

class FlashSession;

class Engine {
  public:
    Engine();  // loads the library and connects; throws Failure or EngineError
    // Closes the engine (its flash objects abort what the DSP does), then
    // lets go of the sessions, whose callbacks may run until then.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    std::vector<ProcessorName> Processors();
    // BOARD and PROCESSOR as the user wrote them: numbers or names.
    ProcessorName Find(const std::string& board, const std::string& processor);
    // The session on one processor's flash; it lives as long as the engine.
    std::shared_ptr<FlashSession> Session(const ProcessorName& which, Display& display,
                                          const TimCatalog& tims, double waitNotice);

  private:
    IFFlash* Flash(const ProcessorName& which);
    static void OnState(void* context, int state);

    platform::DynamicLibrary library_;
    TelmarCloseFn close_ = nullptr;
    IFSystem* system_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    int state_ = -1;
    std::vector<std::shared_ptr<FlashSession>> sessions_;
};

// One processor's flash with the programmer's callback on it. Commands run on
// the engine's worker; this thread renders what the callback queued and
// answers questions until the finish notice arrives.
class FlashSession {
  public:
    FlashSession(IFFlash* flash, Display& display, const TimCatalog& tims, double waitNotice);
    ~FlashSession();
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;

    IFFlash* operator->() const { return flash_; }
    IFFlash* Get() const { return flash_; }

    enum Result { Done = 0, Cancelled = 1 };
    // Triggers a command and waits for it; failure throws EngineError.
    Result Connect();
    Result Select(const std::string& tim);
    Result Commit();
    Result Erase();
    // For the list: start a command without waiting, then wait. A started
    // command must be waited for before the session goes.
    void StartConnect();
    void StartSelect(const std::string& tim);
    Result WaitFinished(const std::string& doing);

    // Runs an editing call on this thread; questions it raises (the FPGA
    // block's) are asked at once.
    template <class F>
    auto Edit(const std::string& doing, F&& f) -> decltype(f());

    uint32_t DetectedCode() const { return detectedCode_; }
    bool ChainRead() const { return chainRead_; }
    bool Reverted() const { return reverted_; }
    // The user agreed to change the module's TIM type (which reverts the
    // chain to the default one).
    bool TimChangeAccepted() const { return timChangeAccepted_; }
    // From now on every question is answered no at once and nothing is shown.
    void Close();
    // The answer to the last bitstream question, if one was asked.
    int BitstreamQuestions() const { return bitstreamQuestions_; }
    bool BitstreamAccepted() const { return bitstreamAccepted_; }

  private:
    struct Notice {
        int kind;
        int a;
        intptr_t b;
        std::string text;
        uint64_t ticket;
    };

    static int Callback(int kind, int a, intptr_t b, uintptr_t context);
    int OnNotice(int kind, int a, intptr_t b);
    void Handle(const Notice& n);
    int AnswerQuestion(int question, intptr_t value);
    Result Run(const std::string& doing, const std::function<int()>& trigger);

    IFFlash* flash_;
    Display& display_;
    const TimCatalog& tims_;
    std::thread::id owner_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Notice> queue_;
    bool finished_ = false;
    int result_ = 0;
    uint64_t nextTicket_ = 0;
    uint64_t answeredTicket_ = 0;
    int answer_ = 0;

    uint32_t detectedCode_ = 0;
    bool chainRead_ = false;
    bool reverted_ = false;
    bool timChangeAccepted_ = false;
    bool closed_ = false;
    double waitNotice_;
    int bitstreamQuestions_ = 0;
    bool bitstreamAccepted_ = false;
};

template <class F>
auto FlashSession::Edit(const std::string& doing, F&& f) -> decltype(f()) {
    return Guard(doing, std::forward<F>(f));
}

}  // namespace qel::programmer
