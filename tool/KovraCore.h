// The programming tool without its windows: one CpuRecord per processor the
// engine found, the engine's two callbacks that fill them, and the rules the
// main dialog draws from (tree states, percentage, close checks). Engine
// threads only change records and post commands through IKovraHost; the host
// does every drawing on its user-interface thread.
#pragma once

#include "QelTimInfo.h"
#include "Telmar.h"
#include "platform/CriticalSection.h"
#include "tool/AdvancedRules.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

enum class CpuState { Created = 0, Connecting = 1, SelectingTim = 2, Ready = 3, Busy = 4 };

// The private commands the records post to the main dialog; the ids are the
// dialog's command ids, the names those of its queued handlers.
enum class KovraCommand : int {
    Populate = 32786,
    TargetInit = 32787,
    UpdateUI = 32788,
    SetTreeStates = 32789,
    UpdatePercentage = 32790,
    EnableDialogsFalse = 32793,
    HideSplash = 32794,
    UpdateStatusString = 32795,
};
const char* CommandName(KovraCommand command);

// Tree images, in the order of the tree's image list.
enum class TreeImage : int { Ready = 0, Modified = 1, NoAccess = 2, Root = 3, Busy = 4 };

struct UserBlockEntry {
    BlockHeader header{};
    UserBlockRecord record{};
};

struct DynamicEntry {
    uint32_t address = 0;
    uint32_t value = 0;
};

class CKovraCore;

struct CpuRecord {
    std::string name;  // "board : processor"
    IFFlash* flash = nullptr;
    uint32_t timCode = 0;
    bool timKnown = false;
    CKovraCore* dialog = nullptr;
    std::string statusText;
    uint32_t progressDone = 0;
    uint32_t progressTotal = 0;
    CpuState state = CpuState::Created;

    BlockHeader bootHeader{};
    std::string bootName;
    bool bootChanged = false;
    BlockHeader fpgaHeader{};
    std::array<uint8_t, FPGA_RECORD_SIZE> fpgaRecord{};
    bool fpgaChanged = false;
    std::vector<UserBlockEntry> userBlocks;
    std::vector<DynamicEntry> dynamics;
    std::vector<ChainBlock> chain;  // every block, for the flash map
    uint32_t flashSize = 0;
    uint32_t usedSize = 0;
    bool dataRead = false;
    bool modified = false;
    bool noRomAccess = false;
    TreeImage image = TreeImage::Ready;

    // Every field above is read and written under this lock, by the engine's
    // threads and by the user-interface thread alike. Recursive: a page that
    // holds it may call the engine, whose change notice re-reads the record
    // on the same thread.
    mutable qel::platform::CriticalSection lock;
};

// A message box as the records ask for it; the host shows it on its
// user-interface thread.
struct KovraMessage {
    enum class Icon { Information, Warning, Error, Question };
    enum class Buttons { Ok, YesNo, YesNoCancel };
    enum class Answer { Ok, Yes, No, Cancel };
    std::string text;
    std::string caption;
    Icon icon = Icon::Information;
    Buttons buttons = Buttons::Ok;
    Answer defaultAnswer = Answer::Ok;
    bool systemModal = false;
};

class IKovraHost {
  public:
    virtual ~IKovraHost() = default;
    // Any thread; the handler runs later on the user-interface thread.
    virtual void Post(KovraCommand command) = 0;
    // Any thread; shown on the user-interface thread (at once when called
    // there), returns when the user answered.
    virtual KovraMessage::Answer Ask(const KovraMessage& message) = 0;
};

// The exception box's text: the record's message, its detail when it has
// one, the line and the source name from after its last backslash.
std::string ExceptionText(const CFlashExc& error);
KovraMessage ExceptionMessage(const CFlashExc& error);

// "processors" of a TIM description, a missing key or a count below one
// giving one.
int ProcessorsOfTim(const CQelTimInfo* database, uint32_t timCode);

struct PercentageView {
    int percent = 0;   // bar position
    std::string line;  // the percentage line
};

class CKovraCore {
  public:
    CKovraCore(IKovraHost& host, const CQelTimInfo* database);
    ~CKovraCore();
    CKovraCore(const CKovraCore&) = delete;
    CKovraCore& operator=(const CKovraCore&) = delete;

    // The engine's callbacks; the state callback's context is this object,
    // the flash callback's the CpuRecord.
    static void StateCallback(void* context, int state);
    static int FlashCallback(int kind, int a, intptr_t b, uintptr_t context);

    void SetSystem(IFSystem* system) { system_ = system; }
    IFSystem* System() const { return system_; }
    const CQelTimInfo* Database() const { return database_; }

    void OnState(int state);
    // Builds the records and starts each processor's connect (system thread).
    void Enumerate();
    int OnFlashNotice(CpuRecord& record, int kind, int a, intptr_t b);
    void RefreshCpu(CpuRecord& record);

    void SetCpuState(CpuRecord& record, CpuState state);
    void SelectTim(CpuRecord& record, const std::string& timName);
    void FlashCallbackOff(CpuRecord& record);
    void FlashCallbackOn(CpuRecord& record);

    // The records in enumeration order; stable from "TargetInit" to Shutdown.
    std::vector<CpuRecord*> Records() const;
    CpuRecord* Current() const { return current_.load(); }
    void SetCurrent(CpuRecord* record) { current_.store(record); }
    bool Enumerated() const { return enumerated_.load(); }

    // Main dialog rules.
    void SetTreeStates();
    PercentageView UpdatePercentage();
    // Some record with ROM access is not Ready.
    bool AnyBusy() const;
    // Ready, data read, ROM access and modified: what Commit writes.
    static bool Committable(const CpuRecord& record);
    bool AnyCommittable() const;
    bool AnyUnwritten() const;
    void Commit();
    bool CanClose();
    bool ConfirmCancel(bool busy);
    // The status line of the current record.
    std::string StatusString() const;
    // Drops every record (the engine is closed first by the caller).
    void ClearRecords();

    // Tests: called on the notifying thread after each flash notice was handled.
    using NoticeObserver = std::function<void(CpuRecord&, int kind, int a, intptr_t b)>;
    void SetNoticeObserver(NoticeObserver observer) { observer_ = std::move(observer); }

  private:
    void Completion(CpuRecord& record, int result);
    void ReadCpu(CpuRecord& record);
    std::string NameOf(uint32_t code) const;

    IKovraHost& host_;
    const CQelTimInfo* database_;
    IFSystem* system_ = nullptr;
    mutable std::mutex listMutex_;
    std::vector<std::unique_ptr<CpuRecord>> records_;
    std::atomic<CpuRecord*> current_{nullptr};
    std::atomic<bool> enumerated_{false};
    std::atomic<bool> complete_{false};  // the last progress reached its total
    // Over every record's progress counters; taken before a record's lock.
    std::mutex progressMutex_;
    NoticeObserver observer_;
};
