#include "programmer/Engine.h"

#include "QelTimInfo.h"
#include "programmer/Interrupt.h"

#include <chrono>
#include <cstdio>
#include <utility>

namespace qel::programmer {

namespace {

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", v);
    return text;
}

// Names come through a buffer and an in/out size; a name that does not fit
// raises error 21 and reports the size it needs.
template <class Get>
std::string ReadName(const std::string& doing, Get&& get) {
    std::vector<char> buffer(256);
    for (int attempt = 0; attempt < 2; ++attempt) {
        int size = static_cast<int>(buffer.size());
        try {
            get(buffer.data(), &size);
            buffer.back() = '\0';
            return buffer.data();
        } catch (const CFlashExc& e) {
            if (e.code != 21 || attempt > 0 || size <= static_cast<int>(buffer.size())) {
                throw EngineError(doing, e);
            }
            buffer.assign(static_cast<size_t>(size), '\0');
        }
    }
    return {};
}

}  // namespace

// ---------------------------------------------------------------- TIM catalog

TimCatalog::TimCatalog() {
    Guard("loading the TIM description library",
          [&] { binder_ = std::make_unique<CQelTimInfoLoad>(); });
    database_ = binder_->QelTimInfoOpen(0);
    if (!database_)
        throw Failure("the TIM description library could not open its data (see QEL4410_TIMDATA)");
}

TimCatalog::~TimCatalog() {
    if (database_ && binder_->QelTimInfoClose)
        binder_->QelTimInfoClose(database_);
}

std::string TimCatalog::NameOf(uint32_t code) const {
    const CQelTimRecord* record = database_->Find(code);
    return record ? record->Name() : std::string();
}

std::vector<TimCatalog::Entry> TimCatalog::Entries() const {
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < database_->Count(); ++i) {
        const CQelTimRecord* record = database_->At(i);
        if (!record)
            continue;
        Entry e{record->Name(), record->Code(), {}};
        try {
            const char* comment = record->GetString("Comment", nullptr);
            if (comment)
                e.comment = comment;
        } catch (const TimExc&) {
            // No comment: nothing to show.
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

std::string TimCatalog::DataFolder() const {
    const char* folder = database_->DataFolder();
    return folder ? folder : "";
}

std::optional<uint32_t> TimCatalog::FlashAddress(uint32_t code) const {
    const CQelTimRecord* record = database_->Find(code);
    if (!record)
        return std::nullopt;
    try {
        return static_cast<uint32_t>(record->GetInt("Flash_Addr", 0)) +
               static_cast<uint32_t>(record->GetInt("Flash_Offset", 0));
    } catch (const TimExc&) {
        return std::nullopt;
    }
}

// ---------------------------------------------------------------- engine

Engine::Engine() {
    if (!library_.Load("Telmar.dll"))
        throw Failure("cannot load the flash engine libTelmar.so: " + library_.LastError());
    auto open = reinterpret_cast<TelmarOpenFn>(library_.Symbol("TelmarOpen"));
    close_ = reinterpret_cast<TelmarCloseFn>(library_.Symbol("TelmarClose"));
    if (!open)
        throw Failure("libTelmar.so does not export TelmarOpen");
    if (!close_)
        throw Failure("libTelmar.so does not export TelmarClose");
    system_ = open(&Engine::OnState, this, 0);
    if (!system_)
        throw Failure("TelmarOpen returned no engine");
    if (!system_->Connect())
        throw Failure("the engine could not start its connect");
    std::unique_lock<std::mutex> lock(mutex_);
    while (!changed_.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return state_ == 2 || state_ == 0; })) {
        if (InterruptRequested()) {
            lock.unlock();
            close_(system_);
            system_ = nullptr;
            throw Interrupted();
        }
    }
    if (state_ != 2)
        throw Failure("the engine could not attach to the debugger (Code Composer Studio)");
}

Engine::~Engine() {
    for (const auto& session : sessions_) session->Close();
    if (system_)
        close_(system_);
    sessions_.clear();
}

std::shared_ptr<FlashSession> Engine::Session(const ProcessorName& which, Display& display,
                                              const TimCatalog& tims, double waitNotice) {
    auto session = std::make_shared<FlashSession>(Flash(which), display, tims, waitNotice);
    sessions_.push_back(session);
    return session;
}

void Engine::OnState(void* context, int state) {
    auto* self = static_cast<Engine*>(context);
    std::lock_guard<std::mutex> guard(self->mutex_);
    self->state_ = state;
    self->changed_.notify_all();
}

std::vector<ProcessorName> Engine::Processors() {
    std::vector<ProcessorName> all;
    int boards = 0;
    Guard("counting the boards", [&] { system_->GetBoardCount(&boards); });
    for (int b = 0; b < boards; ++b) {
        const std::string boardName = ReadName("reading a board name", [&](char* buf, int* size) {
            system_->GetBoardName(b, buf, size);
        });
        int processors = 0;
        Guard("counting the processors", [&] { system_->GetProcessorCount(b, &processors); });
        for (int p = 0; p < processors; ++p) {
            const std::string name =
                ReadName("reading a processor name",
                         [&](char* buf, int* size) { system_->GetProcessorName(b, p, buf, size); });
            all.push_back({b, p, boardName, name});
        }
    }
    return all;
}

ProcessorName Engine::Find(const std::string& board, const std::string& processor) {
    const std::vector<ProcessorName> all = Processors();
    // A board given by number that the engine does not know still goes to the
    // engine, which answers with its own error (24, 25).
    int b = -1;
    std::string boardName;
    if (auto n = ParseNumber(board); n && *n < 0x10000) {
        b = static_cast<int>(*n);
    } else {
        for (const ProcessorName& p : all)
            if (p.boardName == board)
                b = p.board;
        if (b < 0) {
            std::string known;
            for (const ProcessorName& p : all)
                if (p.processor == 0)
                    known += "\n  " + std::to_string(p.board) + " \"" + p.boardName + "\"";
            throw Failure("there is no board named \"" + board + "\"; the boards are:" + known);
        }
    }
    for (const ProcessorName& p : all)
        if (p.board == b)
            boardName = p.boardName;
    if (auto n = ParseNumber(processor); n && *n < 0x10000) {
        for (const ProcessorName& p : all)
            if (p.board == b && p.processor == static_cast<int>(*n))
                return p;
        return {b, static_cast<int>(*n), boardName, "?"};
    }
    std::string known;
    for (const ProcessorName& p : all) {
        if (p.board != b)
            continue;
        if (p.name == processor)
            return p;
        known += "\n  " + std::to_string(p.processor) + " \"" + p.name + "\"";
    }
    throw Failure("board " + std::to_string(b) + " has no processor named \"" + processor +
                  "\"; its processors are:" + known);
}

IFFlash* Engine::Flash(const ProcessorName& which) {
    return Guard("opening the flash of board " + std::to_string(which.board) + " processor " +
                     std::to_string(which.processor),
                 [&] { return system_->GetFlash(which.board, which.processor); });
}

// ---------------------------------------------------------------- flash session

FlashSession::FlashSession(IFFlash* flash, Display& display, const TimCatalog& tims,
                           double waitNotice)
    : flash_(flash),
      display_(display),
      tims_(tims),
      owner_(std::this_thread::get_id()),
      waitNotice_(waitNotice) {
    flash_->SetCallback(&FlashSession::Callback, reinterpret_cast<uintptr_t>(this));
}

// The engine has gone with its flash objects by now (Engine keeps the session).
FlashSession::~FlashSession() = default;

void FlashSession::Close() {
    std::lock_guard<std::mutex> guard(mutex_);
    closed_ = true;
    answeredTicket_ = nextTicket_;
    answer_ = 0;
    changed_.notify_all();
}

int FlashSession::Callback(int kind, int a, intptr_t b, uintptr_t context) {
    return reinterpret_cast<FlashSession*>(context)->OnNotice(kind, a, b);
}

int FlashSession::OnNotice(int kind, int a, intptr_t b) {
    if (kind == TELMAR_NOTICE_CHAIN_CHANGED)
        return 0;  // the commands re-read what they show
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (closed_)
            return kind == TELMAR_NOTICE_QUESTION && a == TELMAR_QUESTION_CHANGE_TIM ? 1 : 0;
    }
    Notice n{kind, a, b, {}, 0};
    // Texts live only as long as the call.
    if (((kind == TELMAR_NOTICE_STATUS && a == TELMAR_STATUS_TEXT) ||
         (kind == TELMAR_NOTICE_QUESTION && a == TELMAR_QUESTION_FOREIGN_BITSTREAM)) &&
        b)
        n.text = reinterpret_cast<const char*>(b);
    if (std::this_thread::get_id() == owner_) {
        // Sent from inside a call this thread made (an edit): show it now.
        if (kind == TELMAR_NOTICE_QUESTION)
            return AnswerQuestion(n.a, n.b);
        Handle(n);
        return 0;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (kind == TELMAR_NOTICE_QUESTION) {
        n.ticket = ++nextTicket_;
        queue_.push_back(n);
        changed_.notify_all();
        changed_.wait(lock, [&] { return answeredTicket_ >= n.ticket; });
        return closed_ ? (n.a == TELMAR_QUESTION_CHANGE_TIM ? 1 : 0) : answer_;
    }
    queue_.push_back(std::move(n));
    changed_.notify_all();
    return 0;
}

void FlashSession::Handle(const Notice& n) {
    switch (n.kind) {
        case TELMAR_NOTICE_PROGRESS:
            display_.Progress(static_cast<uint32_t>(n.a), static_cast<uint32_t>(n.b));
            break;
        case TELMAR_NOTICE_STATUS:
            if (n.a == TELMAR_STATUS_TEXT)
                display_.Status(n.text);
            if (n.a == TELMAR_STATUS_TIM_DETECTED)
                detectedCode_ = static_cast<uint32_t>(n.b);
            if (n.a == TELMAR_STATUS_TIM_NOT_DETECTED)
                detectedCode_ = 0;
            if (n.a == TELMAR_STATUS_CHAIN_READ)
                chainRead_ = true;
            if (n.a == TELMAR_STATUS_DEFAULT_CHAIN)
                reverted_ = true;
            break;
        default:
            break;
    }
}

int FlashSession::AnswerQuestion(int question, intptr_t value) {
    switch (question) {
        case TELMAR_QUESTION_CHANGE_TIM: {
            const auto code = static_cast<uint32_t>(value);
            std::string name = tims_.NameOf(code);
            if (name.empty())
                name = "unknown TIM type " + Hex(code);
            const bool go = display_.Ask("This TIM is currently programmed as an " + name +
                                         ".\nIf you continue, it will be changed and may not "
                                         "work correctly.\nDo you wish to continue?");
            timChangeAccepted_ = go;
            return go ? 0 : 1;  // non-zero cancels the selection
        }
        case TELMAR_QUESTION_FOREIGN_BITSTREAM: {
            const char* file = value ? reinterpret_cast<const char*>(value) : "";
            ++bitstreamQuestions_;
            bitstreamAccepted_ =
                display_.Ask(std::string(file) +
                             "\nhas not been designed for the TIM you selected.\n\nAre you sure "
                             "you want to continue?");
            return bitstreamAccepted_ ? 1 : 0;
        }
        case TELMAR_QUESTION_CHIP_ERASE:
            display_.Notice(
                "Chip erase: no progress is reported during this potentially time consuming "
                "operation.");
            return 1;
        default:
            return 0;
    }
}

FlashSession::Result FlashSession::Run(const std::string& doing,
                                       const std::function<int()>& trigger) {
    ThrowIfInterrupted();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.clear();
    }
    const int immediate = Guard(doing, trigger);
    if (immediate != -1) {
        // The engine ran it synchronously after all (no callback in place).
        if (immediate == TELMAR_FINISHED_FAILED) {
            const CFlashExc* error = flash_->GetLastError();
            if (!error)
                throw Failure(doing + " failed without an error record");
            throw EngineError(doing, *error);
        }
        return immediate == TELMAR_FINISHED_CANCELLED ? Cancelled : Done;
    }
    return WaitFinished(doing);
}

void FlashSession::StartConnect() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.clear();
    }
    Guard("connecting", [&] { return flash_->Connect(); });
}

void FlashSession::StartSelect(const std::string& tim) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.clear();
    }
    chainRead_ = false;
    reverted_ = false;
    uint32_t detail = 0;
    Guard("selecting TIM type " + tim, [&] { return flash_->SelectTimType(tim.c_str(), &detail); });
}

FlashSession::Result FlashSession::WaitFinished(const std::string& doing) {
    using Clock = std::chrono::steady_clock;
    // A step that sends nothing for waitNotice_ seconds is told, then again
    // each time the silence has doubled.
    auto quietSince = Clock::now();
    double nextNotice = waitNotice_;
    for (;;) {
        Notice n;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            while (queue_.empty()) {
                changed_.wait_for(lock, std::chrono::milliseconds(100));
                if (InterruptRequested()) {
                    lock.unlock();
                    display_.EndProgress();
                    throw Interrupted();
                }
                const double silent =
                    std::chrono::duration<double>(Clock::now() - quietSince).count();
                if (queue_.empty() && silent >= nextNotice) {
                    lock.unlock();
                    const std::string status = display_.LastStatus();
                    char seconds[32];
                    std::snprintf(seconds, sizeof(seconds), "%.0f s", silent);
                    display_.Waiting("qel-flash: still " + doing + ": waiting for the engine" +
                                     (status.empty() ? std::string() : " (at \"" + status + "\")") +
                                     ", " + seconds + " without news");
                    nextNotice *= 2;
                    lock.lock();
                }
            }
            n = std::move(queue_.front());
            queue_.pop_front();
        }
        quietSince = Clock::now();
        nextNotice = waitNotice_;
        if (n.kind == TELMAR_NOTICE_FINISHED) {
            display_.EndProgress();
            if (n.a == TELMAR_FINISHED_FAILED) {
                const CFlashExc* error = flash_->GetLastError();
                if (!error)
                    throw Failure(doing + " failed without an error record");
                throw EngineError(doing, *error);
            }
            return n.a == TELMAR_FINISHED_CANCELLED ? Cancelled : Done;
        }
        if (n.kind == TELMAR_NOTICE_QUESTION) {
            const int answer = AnswerQuestion(n.a, n.a == TELMAR_QUESTION_FOREIGN_BITSTREAM
                                                       ? reinterpret_cast<intptr_t>(n.text.c_str())
                                                       : n.b);
            {
                std::lock_guard<std::mutex> guard(mutex_);
                answer_ = answer;
                answeredTicket_ = n.ticket;
            }
            changed_.notify_all();
            continue;
        }
        Handle(n);
    }
}

FlashSession::Result FlashSession::Connect() {
    return Run("connecting", [&] { return flash_->Connect(); });
}

FlashSession::Result FlashSession::Select(const std::string& tim) {
    chainRead_ = false;
    reverted_ = false;
    uint32_t detail = 0;
    return Run("selecting TIM type " + tim,
               [&] { return flash_->SelectTimType(tim.c_str(), &detail); });
}

FlashSession::Result FlashSession::Commit() {
    return Run("committing", [&] { return flash_->Commit(); });
}

FlashSession::Result FlashSession::Erase() {
    return Run("erasing", [&] { return flash_->Erase(); });
}

}  // namespace qel::programmer
