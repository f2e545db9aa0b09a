// Construction, the worker thread and its four commands, notices.
#include "engine/Flash.h"

#include "RegEdit.h"
#include "engine/ccs/CCException.h"

#include <cstring>

namespace {

constexpr const char* kSource = "Flash";
std::atomic<uint32_t> instanceCounter{0};
std::atomic<bool> failWorkerInitialisation{false};

std::string ReadFolder(CRegEdit& settings, const char* name, uint32_t missingCode) {
    std::string value;
    if (settings.GetString(name, value) != CRegEdit::Done)
        QEL_RAISE(missingCode, kSource);
    return value;
}

}  // namespace

void CFlash::FailWorkerInitialisation(bool fail) {
    failWorkerInitialisation = fail;
}

CFlash::CFlash(int board, int processor, uint32_t timLibArg)
    : timLibArg_(timLibArg),
      boardIndex_(board),
      processorIndex_(processor),
      instance_(++instanceCounter) {
    {
        CRegEdit settings("SOFTWARE\\Halvern\\QEL4410", "Telmar");
        bootloaderFolder_ = ReadFolder(settings, "BootloaderPath", ERR_NO_BOOTLOADER_PATH);
        bitstreamFolder_ = ReadFolder(settings, "BitstreamPath", ERR_NO_BITSTREAM_PATH);
        programmerFolder_ = ReadFolder(settings, "FprogPath", ERR_NO_FPROG_PATH);
    }
    dspUser_.SetOwner(this);
    workerReady_ = !failWorkerInitialisation;
    worker_ = std::thread(&CFlash::WorkerLoop, this);
}

CFlash::~CFlash() {
    {
        std::lock_guard<std::mutex> guard(callbackMutex_);
        callback_ = nullptr;
        callbackContext_ = 0;
    }
    // A worker blocked in a DSP user wait gives up; its command then fails.
    dspUser_.Abort();
    quitEvent_.Set();
    if (worker_.joinable())
        worker_.join();
    writePlan_.reset();
    timData_.reset();
    chain_.Clear();
    if (database_)
        timLibrary_.QelTimInfoClose(database_);
}

// ---------------------------------------------------------------- notices

bool CFlash::HasCallback() {
    std::lock_guard<std::mutex> guard(callbackMutex_);
    return callback_ != nullptr;
}

int CFlash::Notify(int kind, int a, intptr_t b) {
    FlashCallback callback;
    uintptr_t context;
    {
        std::lock_guard<std::mutex> guard(callbackMutex_);
        callback = callback_;
        context = callbackContext_;
    }
    // Without a callback every question counts as answered 0.
    return callback ? callback(kind, a, b, context) : 0;
}

void CFlash::Progress(uint32_t position, uint32_t total) {
    progressPosition_ = position;
    progressTotal_ = total;
    Notify(TELMAR_NOTICE_PROGRESS, static_cast<int>(position), static_cast<intptr_t>(total));
}

int CFlash::Ask(int question, intptr_t value) {
    return Notify(TELMAR_NOTICE_QUESTION, question, value);
}

void CFlash::SetCallback(FlashCallback callback, uintptr_t context) {
    std::lock_guard<std::mutex> guard(callbackMutex_);
    callback_ = callback;
    callbackContext_ = context;
}

void CFlash::GetCallback(FlashCallback* callback, uintptr_t* context) {
    std::lock_guard<std::mutex> guard(callbackMutex_);
    if (callback)
        *callback = callback_;
    if (context)
        *context = callbackContext_;
}

void CFlash::NotifyChanged() {
    // The used size is a snapshot for lock-free readers; a command in progress
    // on another thread refreshes it when it ends.
    if (lock_.TryEnter()) {
        usedSize_ = static_cast<uint32_t>(chain_.TotalSize());
        lock_.Leave();
    }
    Notify(TELMAR_NOTICE_CHAIN_CHANGED, 0, 0);
}

void CFlash::ChainChanged() {
    NotifyChanged();
}

// ---------------------------------------------------------------- worker

int CFlash::Trigger(Command command, uint32_t* detail) {
    qel::platform::Event* events[] = {&connectEvent_, &commitEvent_, &selectEvent_, &eraseEvent_};
    bool synchronous;
    uint64_t ticket;
    {
        // The worker begins a run only under the lock: the next run of this
        // command to begin is the one that serves this trigger.
        qel::platform::CriticalSectionLock guard(lock_);
        synchronous = !HasCallback();
        {
            std::lock_guard<std::mutex> completion(completionMutex_);
            ticket = completions_[command].begun + 1;
            if (!synchronous)
                completions_[command].noticeWanted = true;
        }
        events[command]->Set();
    }
    if (!synchronous)
        return -1;
    std::unique_lock<std::mutex> completion(completionMutex_);
    completed_.wait(completion, [&] { return completions_[command].finished >= ticket; });
    if (detail)
        *detail = 0;
    return completions_[command].result;
}

int CFlash::Connect() {
    return Trigger(CmdConnect, nullptr);
}
int CFlash::Commit() {
    return Trigger(CmdCommit, nullptr);
}
int CFlash::Erase() {
    return Trigger(CmdErase, nullptr);
}

int CFlash::SelectTimType(const char* name, uint32_t* detail) {
    {
        qel::platform::CriticalSectionLock guard(lock_);
        timTypeName_ = name ? name : "";
    }
    return Trigger(CmdSelect, detail);
}

// Each caller gets its own command's result, whatever happened to the
// callback since it triggered: a caller that registered a callback through
// the notice (when the callback is still there), a synchronous caller
// through its completion.
void CFlash::Finish(Command command, int result) {
    if (finishNotice_)
        Notify(TELMAR_NOTICE_FINISHED, result, 0);
    {
        std::lock_guard<std::mutex> completion(completionMutex_);
        Completion& c = completions_[command];
        c.finished = c.begun;
        c.result = result;
    }
    completed_.notify_all();
}

void CFlash::WorkerLoop() {
    qel::platform::Event* events[] = {&connectEvent_, &commitEvent_, &selectEvent_, &eraseEvent_,
                                      &quitEvent_};
    for (;;) {
        const int index = qel::platform::WaitAny(events);
        if (index == 4)
            break;
        if (index < 0) {
            Status("");
            Notify(TELMAR_NOTICE_FINISHED, Done, 0);
            continue;
        }
        const auto command = static_cast<Command>(index);
        const int result = RunCommand(command);
        Finish(command, result);
    }
    // Let a caller that still holds the lock finish before the object goes.
    qel::platform::CriticalSectionLock guard(lock_);
}

int CFlash::RunCommand(Command command) {
    qel::platform::CriticalSectionLock guard(lock_);
    {
        std::lock_guard<std::mutex> completion(completionMutex_);
        Completion& c = completions_[command];
        ++c.begun;
        finishNotice_ = c.noticeWanted;
        c.noticeWanted = false;
    }
    int result = Done;
    try {
        if (!workerReady_) {
            QEL_RAISE_DETAIL(ERR_CCS_NOT_STARTED, kSource,
                             "The worker thread could not be initialised");
        }
        switch (command) {
            case CmdConnect:
                ConnectCommand();
                break;
            case CmdCommit:
                CommitCommand();
                break;
            case CmdSelect:
                result = SelectCommand();
                break;
            case CmdErase:
                EraseCommand();
                break;
        }
    } catch (const CExc& e) {
        lastError_ = e;
        result = Failed;
    } catch (const TimExc& e) {
        lastError_ = CExc(ERR_TIMINFO_EXCEPTION, kSource, __LINE__, e.Text());
        result = Failed;
    } catch (const CCException& e) {
        char text[128];
        e.GetErrorMessage(text, sizeof(text));
        lastError_ = CExc(ERR_CCS_EXCEPTION, kSource, __LINE__, text);
        result = Failed;
    } catch (const std::bad_alloc&) {
        lastError_ = CExc(ERR_ALLOCATE_MEMORY, kSource, __LINE__);
        result = Failed;
    } catch (const std::exception& e) {
        lastError_ = CExc(ERR_CCS_OPERATION, kSource, __LINE__, e.what());
        result = Failed;
    }
    mode_ = Idle;
    // Reads made later by editing calls must not report against this
    // command's reading total.
    bytesToRead_ = 0;
    bytesRead_ = 0;
    usedSize_ = static_cast<uint32_t>(chain_.TotalSize());
    Status("");
    return result;
}

// ---------------------------------------------------------------- commands

void CFlash::ConnectCommand() {
    if (!database_) {
        database_ = timLibrary_.QelTimInfoOpen(timLibArg_);
        if (!database_)
            QEL_RAISE(ERR_TIMINFO_INIT, kSource);
    }
    // Before anything touches the target: a connect resets it.
    claim_.Acquire(boardIndex_, processorIndex_);
    Status("Starting Code Composer Studio ...");
    try {
        application_ = CCApplication::Start(false);
        boards_ = application_.GetDspBoards();
        board_ = boards_.Item(boardIndex_);
        tasks_ = board_.GetDspTasks();
        task_ = tasks_.Item(processorIndex_);
        CNewDspUser user(task_.GetDspUser());
        dspUser_ = user;
    } catch (const CCException&) {
        // Not reported here: the detection fails with its first DSP access.
    } catch (const CExc&) {
    }
    Status("Detecting TIM type ...");
    uint32_t code = ReadTimCode(0);
    if (!database_->Find(code))
        code = ReadTimCode(0xB0000000);
    if (database_->Find(code) && (code & 7) == 1) {
        detectState_ = 1;
        detectedCode_ = code;
        Notify(TELMAR_NOTICE_STATUS, TELMAR_STATUS_TIM_DETECTED, static_cast<intptr_t>(code));
    } else {
        detectState_ = 2;
        detectedCode_ = 0;
        Notify(TELMAR_NOTICE_STATUS, TELMAR_STATUS_TIM_NOT_DETECTED, 0);
    }
}

uint32_t CFlash::ReadTimCode(uint32_t address) {
    detectState_ = 0;
    HaltIfRunning();
    CCDspAddr where(dspUser_, address);
    CCDspMemory memory(dspUser_, where, 72, 0);
    dspUser_.Reset();
    dspUser_.ReadMem(memory);
    return memory.GetWord(40);
}

int CFlash::SelectCommand() {
    if (!database_)
        QEL_RAISE(ERR_TIMINFO_INIT, kSource);
    programmerLoaded_ = false;
    // A reset from elsewhere from here on may wipe the registers and the FDB
    // this selection puts into the DSP.
    dspDisturbed_ = false;
    const CQelTimRecord* record = database_->FindByName(timTypeName_.c_str());
    if (!record)
        QEL_RAISE(ERR_UNKNOWN_TIM_TYPE, kSource);
    const auto timType = static_cast<uint32_t>(GetTimInt("TimType", record));
    Status("Analysing flash ...");
    bool analyse = true;
    if (detectedCode_ != 0 && detectedCode_ != timType) {
        if (Ask(TELMAR_QUESTION_CHANGE_TIM, static_cast<intptr_t>(detectedCode_)) != 0)
            return Cancelled;
        analyse = false;
    }
    SetupTimData(record);
    if (!analyse) {
        directoryKnown_ = false;
        RevertToDefault();
        return Done;
    }
    try {
        AnalyseFlash();
    } catch (const CExc& e) {
        if (!IsFlashContentError(e.code)) {
            ForgetFlash();
            throw;
        }
        if (dspDisturbed_) {
            ForgetFlash();
            QEL_RAISE_DETAIL(ERR_CCS_OPERATION, kSource,
                             "The target was reset or halted by another program while the flash "
                             "was read");
        }
        RevertToDefault();
    } catch (...) {
        // The DSP or the debugger did not answer: what the flash holds is not
        // known, and a default chain committed now would overwrite it.
        ForgetFlash();
        throw;
    }
    return Done;
}

bool CFlash::IsFlashContentError(uint32_t code) {
    // What the flash itself says: no signature, an unknown block type, a
    // damaged header or directory, a wrong CRC.
    // A processor that cannot reach the flash gets the default chain too:
    // every write from it fails with that same error.
    return code == ERR_NOT_VALID_BLOCK || code == ERR_NO_BLOCK_SIGNATURE ||
           code == ERR_EMPTY_DIRECTORY || code == ERR_CANNOT_CREATE_BLOCK ||
           code == ERR_NO_FLASH_ACCESS;
}

void CFlash::ForgetFlash() {
    chain_.Clear();
    directoryKnown_ = false;
    InstallTimData(nullptr);
    programmerLoaded_ = false;
    ChainChanged();
}

void CFlash::CommitCommand() {
    // Only a commit that writes looks at the flash: the one that has nothing
    // to do sends no programmer command at all.
    if (timData_ && IsModified()) {
        CheckFlashUnchanged();
        // What a failed commit did write is the chain's own, not someone
        // else's: a retry compares against it. Before the writing phase the
        // flash is as it was.
        try {
            CommitChain();
        } catch (CExc& e) {
            if (mode_ == Writing) {
                if (e.detail[0] == '\0') {
                    e.SetDetail(
                        "The commit stopped while writing: the flash may hold part of "
                        "it. Select the TIM type again and commit once more");
                }
                RememberDirectory();
            }
            throw;
        } catch (...) {
            if (mode_ == Writing)
                RememberDirectory();
            throw;
        }
        RememberDirectory();
    } else if (timData_) {
        CommitChain();
    }
    ChainChanged();
}

void CFlash::EraseCommand() {
    TimData& tim = RequireTim();
    Status("Erasing the flash ...");
    mode_ = Erasing;
    try {
        EraseFlash(tim);
    } catch (...) {
        // Part of it may be erased: a commit compares against what is left.
        RememberDirectory();
        throw;
    }
    RevertToDefault();
    mode_ = Idle;
    // An erased flash has an empty directory.
    analysedDirectory_.clear();
    directoryKnown_ = true;
    ChainChanged();
}

void CFlash::EraseFlash(const TimData& tim) {
    if (tim.chipErase) {
        // A chip erase reports no progress.
        Ask(TELMAR_QUESTION_CHIP_ERASE, 0);
        RunProgrammerCommand(qel::fprog::kCommandChipErase, 0, nullptr);
    } else {
        RunProgrammerCommand(qel::fprog::kCommandErase, 0, nullptr);
        // Its own total, not one left from an earlier command or never sent.
        const auto total = static_cast<uint32_t>(tim.FlashSize());
        Progress(total, total);
    }
}
