// The flash of one processor of one board: its block chain, the selected
// TIM, the flash programmer on the DSP and a worker thread that runs the long
// commands (connect, select, commit, erase).
#pragma once

#include "ProgrammerProtocol.h"
#include "QelTimInfoLoad.h"
#include "Telmar.h"
#include "engine/BlockChain.h"
#include "engine/Exc.h"
#include "engine/ModuleClaim.h"
#include "engine/TimData.h"
#include "engine/WritePlan.h"
#include "engine/blocks/BlockOwner.h"
#include "engine/ccs/NewDspUser.h"
#include "engine/formats/BootFile.h"
#include "engine/formats/ObjFile.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CBlockUser;

class CFlash : public IFFlash, public CBlockOwner, public CDspUserOwner {
  public:
    // Throws QelExcept when the TIM library cannot be bound, CExc 42/43/44
    // when a folder setting is missing.
    CFlash(int board, int processor, uint32_t timLibArg);
    ~CFlash() override;
    CFlash(const CFlash&) = delete;
    CFlash& operator=(const CFlash&) = delete;

    // IFFlash
    int Connect() override;
    bool IsModified() override;
    bool IsBlockModified(uint32_t position) override;
    int Commit() override;
    int SelectTimType(const char* name, uint32_t* detail) override;
    void GetTimType(uint32_t* code) override;
    void GetDetectState(uint32_t* state) override;
    int Erase() override;
    void SetCallback(FlashCallback callback, uintptr_t context) override;
    void GetCallback(FlashCallback* callback, uintptr_t* context) override;
    void NotifyChanged() override;
    void GetBlockCount(uint32_t* count) override;
    void GetBlock(uint32_t position, BlockHeader* header, void* extra, uint32_t extraSize) override;
    void SetBlockId(uint32_t position, uint32_t id) override;
    void SetBlockVersion(uint32_t position, uint32_t version) override;
    void SetBootLoader(const char* file) override;
    void GetBootLoaderInfo(BlockHeader* header, char* name, uint32_t* nameSize) override;
    void GetDefaultLoader(char* buffer, uint32_t* size) override;
    void SetBoot(bool boot) override;
    bool IsBoot() override;
    void GetBootloaderPath(char* buffer, uint32_t* size) override;
    void SetBitstream(const char* file) override;
    void GetFpgaBlock(BlockHeader* header, uint8_t* extra) override;
    void GetBitstreamPath(char* buffer, uint32_t* size) override;
    void GetDynamicCount(uint32_t* count) override;
    void GetDynamic(uint32_t index, uint32_t* address, uint32_t* value) override;
    void AddDynamic(uint32_t address, uint32_t value) override;
    void SetDynamic(uint32_t index, uint32_t address, uint32_t value) override;
    void RemoveDynamic(uint32_t index) override;
    void ClearDynamics() override;
    void GetUserBlockCount(uint32_t* count) override;
    void AddUserBlock(uint32_t subtype, const UserBlockRecord* record, uint32_t id, uint32_t major,
                      uint32_t minor, int32_t index) override;
    void EditUserBlock(uint32_t index, uint32_t id, uint32_t version,
                       const UserBlockRecord* record) override;
    void RemoveUserBlock(uint32_t index) override;
    void MoveUserBlock(uint32_t from, uint32_t to) override;
    void VerifyUserBlock(uint32_t index, const char* file) override;
    void SetUserBlockBootable(uint32_t index, bool bootable) override;
    void GetUserBlock(uint32_t index, BlockHeader* header, UserBlockRecord* record) override;
    void GetFlashSize(uint32_t* bytes) override;
    void GetUsedSize(uint32_t* bytes) override;
    const CFlashExc* GetLastError() override;

    // CBlockOwner (NotifyChanged is shared with IFFlash)
    void ReadFlash(bool countOnly, uint32_t offset, uint32_t length, uint8_t* buffer) override;
    void QueueFlashWrite(bool countOnly, uint32_t offset, uint32_t length, const uint8_t* data,
                         uint32_t savedImage) override;
    uint32_t PreserveBlockImage(uint32_t offset, uint32_t length) override;
    bool FitsInFlash(uint32_t newTotalSize, const CBlock* block) override;
    void DescribeSpace(uint32_t newTotalSize, const CBlock* block, char* text,
                       size_t size) override;
    uint32_t TimTypeCode() const override;
    uint32_t LargestRegionStart() const override;
    memory* MemoryMap() override;
    int Ask(int question, intptr_t value) override;
    uint32_t InstanceNumber() const override { return instance_; }

    // CDspUserOwner: something else touched the target.
    void DspStateChanged() override;

    // The programmer is first looked at soon after a command starts, then
    // ever less often up to the base interval, plus the extra interval while
    // it writes or erases the flash (50 ms and 200 ms). Tests may shorten them.
    static void SetPollIntervals(std::chrono::milliseconds base, std::chrono::milliseconds extra);
    // A programmer command that shows no progress (no ready status, no
    // change of its progress word, no completion) for this long fails with
    // 0x10009; a chip erase, which reports no progress, gets the factor more.
    static constexpr std::chrono::milliseconds kProgrammerStallLimit{120000};
    static constexpr int kChipEraseStallFactor = 5;
    // Tests shorten the limit.
    static void SetProgrammerStallLimit(std::chrono::milliseconds limit);
    // Tests: the next workers started fail their thread initialisation.
    static void FailWorkerInitialisation(bool fail);

  private:
    enum Mode : uint32_t { Idle = 0, Writing = 1, Erasing = 2, Reading = 3 };
    enum Command { CmdConnect, CmdCommit, CmdSelect, CmdErase };
    enum Result {
        Done = TELMAR_FINISHED_DONE,
        Cancelled = TELMAR_FINISHED_CANCELLED,
        Failed = TELMAR_FINISHED_FAILED
    };

    // Worker
    void WorkerLoop();
    int Trigger(Command command, uint32_t* detail);
    int RunCommand(Command command);
    void Finish(Command command, int result);
    void ConnectCommand();
    int SelectCommand();
    void CommitCommand();
    void EraseCommand();
    void EraseFlash(const TimData& tim);

    // Notices
    int Notify(int kind, int a, intptr_t b);
    void Status(const char* text) {
        Notify(TELMAR_NOTICE_STATUS, TELMAR_STATUS_TEXT, reinterpret_cast<intptr_t>(text));
    }
    void Progress(uint32_t position, uint32_t total);
    bool HasCallback();

    // TIM type and geometry
    uint32_t ReadTimCode(uint32_t address);
    void SetupTimData(const CQelTimRecord* record);
    void WriteRegisterSettings();
    void LoadFdb();
    void InstallTimData(std::unique_ptr<TimData> data);
    TimData& RequireTim();

    // Programmer protocol
    uint32_t RunProgrammerCommand(uint32_t code, uint32_t argc, const uint32_t* args);
    void EnsureProgrammer();
    int LoadDspProgram(const char* path);
    void ReadDsp(uint32_t address, uint32_t length, uint8_t* out);
    void WriteDspWord(uint32_t address, uint32_t value);
    void WriteCommandWord(int word, uint32_t value);
    uint32_t ReadCommandWord(int word);
    void ProgramStaged(uint32_t size);
    void HaltIfRunning();
    void PauseForProgrammer(std::chrono::microseconds pause);
    [[noreturn]] void ProgrammerStalled(uint32_t code, const char* what);
    uint32_t CheckedResult(uint32_t code, uint32_t result);
    // Reads of a commit's moving blocks: the counting pass plans them, the
    // writing pass reads the planned ranges in merged runs.
    struct ReadRange {
        uint32_t offset;
        uint32_t length;
    };
    struct ReadRun {
        uint64_t start;
        uint64_t end;
    };
    void StartPlannedReads();
    void EndPlannedReads();
    const ReadRun* PlannedRunAt(uint32_t offset) const;

    // Chain
    std::vector<uint8_t> ReadDirectory();
    // The directory as the last select, commit or erase left it, to tell at
    // the next commit whether someone else has written since.
    void RememberDirectory();
    void CheckFlashUnchanged();
    void AnalyseFlash();
    static bool IsFlashContentError(uint32_t code);
    // After a failure to read the flash: no chain and no TIM, so that nothing
    // can be committed over a flash whose contents are not known.
    void ForgetFlash();
    void CheckChainShape();
    void RevertToDefault();
    void PlaceBlocks(bool countOnly, bool markOnly);
    void CommitChain();
    // A block a commit's writing pass queued: it counts as written once the
    // load holding its last record has been programmed.
    struct WrittenBlock {
        CBlock* block;
        size_t firstLoad;
        size_t lastLoad;
    };
    // failedLoad: index of the load that failed, or of none when the
    // failure came before the writing pass; partly: it may be on the flash
    // in part.
    void ForgetFailedCommit(const std::vector<std::pair<CBlock*, uint32_t>>& before,
                            const std::vector<WrittenBlock>& pending, bool writing,
                            size_t failedLoad, bool partly);
    void ChainChanged();
    CBlockUser* UserBlockAt(uint32_t index);
    template <class T>
    T* FixedBlock(uint32_t position);
    std::unique_ptr<CBlock> NewBlock(uint32_t type, uint32_t offset);

    void CopyText(const std::string& text, char* buffer, uint32_t* size);
    // The chain's total size less that of block, when it is in the chain.
    uint64_t UsedWithout(const CBlock* block) const;

    // Progress and the last error
    uint32_t progressPosition_ = 0;
    uint32_t progressTotal_ = 0;
    CExc lastError_;
    std::string timTypeName_;
    bool wideCommandBlock_ = false;
    std::atomic<bool> programmerLoaded_{false};
    uint32_t mode_ = Idle;
    std::unique_ptr<CBootFile> bootFile_;
    CObjFile programmerImage_;
    CBlockChain chain_;
    std::unique_ptr<TimData> timData_;
    uint32_t timLibArg_;
    uint32_t detectState_ = 0;

    // Worker thread and its events
    qel::platform::Event connectEvent_, commitEvent_, selectEvent_, eraseEvent_, quitEvent_;
    // Runs of each command begun and finished by the worker, and the last
    // result: what synchronous callers wait on.
    struct Completion {
        uint64_t begun = 0;
        uint64_t finished = 0;
        int result = 0;
        bool noticeWanted = false;  // an asynchronous trigger waits for this run
    };
    bool finishNotice_ = false;  // worker thread only: the running command ends with a notice
    std::mutex completionMutex_;
    std::condition_variable completed_;
    std::array<Completion, 4> completions_;
    std::thread worker_;

    // Debugger objects, filled by the connect command
    CCApplication application_;
    CCDspBoards boards_;
    CCDspBoard board_;
    CCDspTasks tasks_;
    CCDspTask task_;
    CNewDspUser dspUser_;
    int boardIndex_;
    int processorIndex_;

    std::mutex callbackMutex_;
    FlashCallback callback_ = nullptr;
    uintptr_t callbackContext_ = 0;

    uint32_t commandBlockAddress_ = 0;
    uint32_t programmerBase_ = 0;
    uint32_t detectedCode_ = 0;
    qel::platform::CriticalSection lock_;
    std::unique_ptr<CWritePlan> writePlan_;
    uint32_t bytesToRead_ = 0;
    uint32_t bytesRead_ = 0;
    uint32_t smallestRefusedKeep_ = 0;  // this commit's, 0 while none was refused
    bool programmingLoad_ = false;      // command 4 of a staging load has been started
    bool keepsHeldOver_ = false;        // some block still copies from a failed commit's image
    std::vector<ReadRange> plannedReads_;
    std::vector<ReadRun> readRuns_;
    std::vector<uint8_t> readPiece_;  // the last planned piece read
    uint32_t readPieceOffset_ = 0;
    std::array<CCDspAddr, qel::fprog::kCommandBlockWords> commandAddresses_;
    std::array<CCDspMemory, qel::fprog::kCommandBlockWords> commandWords_;
    CCDspValue commandValue_;

    CQelTimInfoLoad timLibrary_;
    CQelTimInfo* database_ = nullptr;
    std::string bootloaderFolder_;
    std::string bitstreamFolder_;
    std::string programmerFolder_;
    uint32_t instance_;

    // Read without the lock by GetFlashSize / GetUsedSize while a command runs.
    std::atomic<uint32_t> flashSize_{0};
    std::atomic<uint32_t> usedSize_{0};
    bool workerReady_ = true;
    CModuleClaim claim_;
    // Someone else reset or halted the target since the flag was cleared:
    // what the flash seemed to say meanwhile is not to be trusted.
    std::atomic<bool> dspDisturbed_{false};
    std::vector<uint8_t> analysedDirectory_;
    bool directoryKnown_ = false;
};
