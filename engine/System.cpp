#include "engine/System.h"

#include "engine/Exc.h"
#include "engine/Flash.h"
#include "engine/ccs/CCException.h"

#include <cstring>
#include <string>

namespace {

constexpr const char* kSource = "System";

void CopyName(const std::string& name, char* buffer, int* size) {
    if (!size)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    // A caller may ask for the size it needs with an empty buffer.
    if (static_cast<int>(name.size()) >= *size) {
        *size = static_cast<int>(name.size()) + 1;
        QEL_RAISE(ERR_BUFFER_TOO_SMALL, kSource);
    }
    if (!buffer)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    memcpy(buffer, name.c_str(), name.size() + 1);
}

// Runs one debugger query; its failures become "CCS exception occured".
template <class Query>
auto AskDebugger(Query&& query) {
    try {
        return query();
    } catch (const CCException&) {
        QEL_RAISE(ERR_CCS_EXCEPTION, kSource);
    }
}

}  // namespace

CSystem::CSystem(StateCallback callback, void* context, uint32_t timLibArg)
    : callback_(callback), context_(context), timLibArg_(timLibArg) {
    worker_ = std::thread(&CSystem::WorkerLoop, this);
}

CSystem::~CSystem() {
    quitEvent_.Set();
    if (worker_.joinable())
        worker_.join();
    // Each flash object stops its own worker as it goes.
    for (auto& [board, flashes] : flashTable_) {
        for (auto& flash : flashes) flash.reset();
    }
    flashTable_.clear();
}

int CSystem::GetState() {
    qel::platform::CriticalSectionLock guard(lock_);
    return state_;
}

int CSystem::Connect() {
    connectEvent_.Set();
    return 1;
}

void CSystem::SetState(int state) {
    {
        qel::platform::CriticalSectionLock guard(lock_);
        state_ = state;
    }
    if (callback_)
        callback_(context_, state);
}

void CSystem::WorkerLoop() {
    for (;;) {
        // Connect before quit when both are set.
        const int index = qel::platform::WaitAny({&connectEvent_, &quitEvent_});
        if (index != 0)
            return;
        SetState(1);
        try {
            ConnectSequence();
            SetState(2);
        } catch (...) {
            SetState(0);
        }
    }
}

void CSystem::ConnectSequence() {
    application_ = CCApplication::Start(false);
    boards_ = application_.GetDspBoards();
    const int32_t boardCount = boards_.Count();
    for (int32_t b = 0; b < boardCount; ++b) {
        const int32_t processors = boards_.Item(b).GetDspTasks().Count();
        qel::platform::CriticalSectionLock guard(lock_);
        // A board without processors never becomes a key: "Board not found".
        for (int32_t p = 0; p < processors; ++p) flashTable_[b].emplace_back();
    }
}

void CSystem::GetBoardCount(int* count) {
    const int n = AskDebugger([&] { return boards_.Count(); });
    if (count)
        *count = n;
}

void CSystem::GetBoardName(int board, char* buffer, int* size) {
    CopyName(AskDebugger([&] { return boards_.Item(board).GetName(); }), buffer, size);
}

void CSystem::GetProcessorCount(int board, int* count) {
    const int n = AskDebugger([&] { return boards_.Item(board).GetDspTasks().Count(); });
    if (count)
        *count = n;
}

void CSystem::GetProcessorName(int board, int processor, char* buffer, int* size) {
    CopyName(
        AskDebugger([&] { return boards_.Item(board).GetDspTasks().Item(processor).GetName(); }),
        buffer, size);
}

IFFlash* CSystem::GetFlash(int board, int processor) {
    qel::platform::CriticalSectionLock guard(lock_);
    if (state_ != 2)
        QEL_RAISE(ERR_CCS_NOT_STARTED, kSource);
    auto entry = flashTable_.find(board);
    if (entry == flashTable_.end())
        QEL_RAISE(ERR_BOARD_NOT_FOUND, kSource);
    auto& list = entry->second;
    if (processor < 0 || static_cast<size_t>(processor) >= list.size()) {
        QEL_RAISE(ERR_PROCESSOR_NOT_FOUND, kSource);
    }
    auto& slot = list[static_cast<size_t>(processor)];
    if (!slot)
        slot = std::make_unique<CFlash>(board, processor, timLibArg_);
    return slot.get();
}
