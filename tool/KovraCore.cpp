#include "tool/KovraCore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using Lock = qel::platform::CriticalSectionLock;

const char* CutAfterBackslash(const char* source) {
    const char* slash = std::strrchr(source, '\\');
    return slash ? slash + 1 : source;
}

// A fixed-size text of the engine's records, read up to its first zero.
template <size_t N>
std::string Bounded(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

}  // namespace

const char* CommandName(KovraCommand command) {
    switch (command) {
        case KovraCommand::Populate:
            return "Populate";
        case KovraCommand::TargetInit:
            return "TargetInit";
        case KovraCommand::UpdateUI:
            return "UpdateUI";
        case KovraCommand::SetTreeStates:
            return "SetTreeStates";
        case KovraCommand::UpdatePercentage:
            return "UpdatePercentage";
        case KovraCommand::EnableDialogsFalse:
            return "EnableDialogsFalse";
        case KovraCommand::HideSplash:
            return "HideSplash";
        case KovraCommand::UpdateStatusString:
            return "UpdateStatusString";
    }
    return "";
}

std::string ExceptionText(const CFlashExc& error) {
    const std::string source = CutAfterBackslash(Bounded(error.source).c_str());
    const std::string detail = Bounded(error.detail);
    const char* message = error.GetMessage();
    if (!message)
        message = "";
    char text[1024];
    if (!detail.empty()) {
        std::snprintf(text, sizeof text,
                      "The following exception occured:\n\n%s (%s)\n\nDetails: line %d in %s.",
                      message, detail.c_str(), static_cast<int>(error.line), source.c_str());
    } else {
        std::snprintf(text, sizeof text,
                      "The following exception occured:\n\n%s\n\nDetails: line %d in %s.", message,
                      static_cast<int>(error.line), source.c_str());
    }
    return text;
}

KovraMessage ExceptionMessage(const CFlashExc& error) {
    return {ExceptionText(error), "Exception", KovraMessage::Icon::Error, KovraMessage::Buttons::Ok,
            KovraMessage::Answer::Ok};
}

int ProcessorsOfTim(const CQelTimInfo* database, uint32_t timCode) {
    if (!database || timCode == 0)
        return 1;
    const CQelTimRecord* tim = database->Find(timCode);
    if (!tim)
        return 1;
    try {
        return std::max(1, tim->GetInt("processors", 0));
    } catch (const TimExc&) {
        return 1;  // no "processors": the processor is alone on its TIM
    }
}

CKovraCore::CKovraCore(IKovraHost& host, const CQelTimInfo* database)
    : host_(host), database_(database) {}

CKovraCore::~CKovraCore() = default;

void CKovraCore::StateCallback(void* context, int state) {
    static_cast<CKovraCore*>(context)->OnState(state);
}

int CKovraCore::FlashCallback(int kind, int a, intptr_t b, uintptr_t context) {
    auto* record = reinterpret_cast<CpuRecord*>(context);
    const int answer = record->dialog->OnFlashNotice(*record, kind, a, b);
    if (record->dialog->observer_)
        record->dialog->observer_(*record, kind, a, b);
    return answer;
}

void CKovraCore::OnState(int state) {
    if (state == 1)
        host_.Post(KovraCommand::EnableDialogsFalse);
    else if (state == 2)
        Enumerate();
}

void CKovraCore::Enumerate() {
    if (!system_)
        return;
    try {
        int boards = 0;
        system_->GetBoardCount(&boards);
        for (int b = 0; b < boards; ++b) {
            char boardName[64] = {};
            int size = sizeof boardName;
            system_->GetBoardName(b, boardName, &size);
            boardName[63] = '\0';
            int processors = 0;
            system_->GetProcessorCount(b, &processors);
            for (int p = 0; p < processors; ++p) {
                char processorName[64] = {};
                size = sizeof processorName;
                system_->GetProcessorName(b, p, processorName, &size);
                processorName[63] = '\0';
                IFFlash* flash = system_->GetFlash(b, p);

                auto owned = std::make_unique<CpuRecord>();
                CpuRecord* record = owned.get();
                record->name = std::string(boardName) + " : " + processorName;
                record->flash = flash;
                record->dialog = this;
                {
                    const std::lock_guard<std::mutex> guard(listMutex_);
                    records_.push_back(std::move(owned));
                }
                flash->SetCallback(&CKovraCore::FlashCallback, reinterpret_cast<uintptr_t>(record));
                SetCpuState(*record, CpuState::Connecting);
                flash->Connect();
            }
        }
    } catch (const CFlashExc& e) {
        host_.Ask(ExceptionMessage(e));
        return;
    }
    host_.Post(KovraCommand::TargetInit);
    enumerated_.store(true);
    host_.Post(KovraCommand::HideSplash);
}

std::string CKovraCore::NameOf(uint32_t code) const {
    const char* name = database_ ? database_->NameOf(code) : nullptr;
    return name ? name : "";
}

int CKovraCore::OnFlashNotice(CpuRecord& record, int kind, int a, intptr_t b) {
    switch (kind) {
        case 0:
            Completion(record, a);
            host_.Post(KovraCommand::UpdateUI);
            return 0;
        case 1: {
            const std::lock_guard<std::mutex> progress(progressMutex_);
            const Lock guard(record.lock);
            record.progressDone = static_cast<uint32_t>(a);
            record.progressTotal = static_cast<uint32_t>(b);
        }
            host_.Post(KovraCommand::UpdatePercentage);
            return 0;
        case 2: {
            const Lock guard(record.lock);
            if (a == 0) {
                const char* text = reinterpret_cast<const char*>(b);
                record.statusText = text ? text : "";
            } else if (a == 1) {
                record.timKnown = true;
                record.timCode = static_cast<uint32_t>(b);
            } else if (a == 2) {
                record.timKnown = true;
                record.timCode = 0;
            }
        }
            host_.Post(KovraCommand::UpdateStatusString);
            return 0;
        case 3:
            if (a == 1) {
                KovraMessage question{
                    "This TIM is currently programmed as an " + NameOf(static_cast<uint32_t>(b)) +
                        ".\nIf you continue, it will be changed and may not work correctly.\nDo "
                        "you wish to continue?",
                    "Changing TIM type", KovraMessage::Icon::Warning, KovraMessage::Buttons::YesNo,
                    KovraMessage::Answer::No};
                if (host_.Ask(question) != KovraMessage::Answer::Yes)
                    return 1;
                host_.Post(KovraCommand::UpdateUI);
                return 0;
            }
            if (a == 2) {
                const char* file = reinterpret_cast<const char*>(b);
                KovraMessage question{
                    std::string(file ? file : "") +
                        "\nhas not been designed for the TIM you selected.\n\nAre you sure you "
                        "want to continue?",
                    "Warning", KovraMessage::Icon::Warning, KovraMessage::Buttons::YesNo,
                    KovraMessage::Answer::No};
                return host_.Ask(question) == KovraMessage::Answer::Yes ? 1 : 0;
            }
            if (a == 3) {
                KovraMessage notice{
                    "Click OK to start the erase.  Please note that\nno progress will be reported "
                    "during this potentially \ntime consuming operation.\n",
                    "Notice",
                    KovraMessage::Icon::Information,
                    KovraMessage::Buttons::Ok,
                    KovraMessage::Answer::Ok,
                    true};
                host_.Ask(notice);
                return 1;
            }
            host_.Post(KovraCommand::UpdateUI);
            return 0;
        case 4:
            RefreshCpu(record);
            return 0;
        default:
            host_.Post(KovraCommand::UpdateUI);
            return 0;
    }
}

void CKovraCore::Completion(CpuRecord& record, int result) {
    if (result == 0) {
        CpuState state;
        uint32_t code;
        {
            const Lock guard(record.lock);
            state = record.state;
            code = record.timCode;
        }
        if (state == CpuState::Connecting && code != 0)
            SelectTim(record, NameOf(code));
        else if (state == CpuState::Connecting || state == CpuState::SelectingTim ||
                 state == CpuState::Busy)
            SetCpuState(record, CpuState::Ready);
        return;
    }
    if (result == 2) {
        if (const CFlashExc* error = record.flash->GetLastError())
            host_.Ask(ExceptionMessage(*error));
    }
    if (result == 1 || result == 2) {
        // A command that stopped part-way never reports its last step; its
        // counters would keep the sum over all processors from reaching
        // its total, and the line from ever reading "Complete" again.
        {
            const std::lock_guard<std::mutex> progress(progressMutex_);
            const Lock guard(record.lock);
            record.progressDone = 0;
            record.progressTotal = 0;
        }
        complete_.store(false);
        host_.Post(KovraCommand::UpdatePercentage);
        SetCpuState(record, CpuState::Ready);
        if (Current() == &record)
            host_.Post(KovraCommand::Populate);
    }
}

void CKovraCore::RefreshCpu(CpuRecord& record) {
    ReadCpu(record);
    // Posted once the lock is released: a host may take locks of its own.
    if (Current() == &record)
        host_.Post(KovraCommand::Populate);
    host_.Post(KovraCommand::SetTreeStates);
}

void CKovraCore::ReadCpu(CpuRecord& record) {
    // Read without the record's lock, then swapped in under it: the engine
    // takes its flash lock in every getter, and its worker holds that lock
    // while its notices take the record's lock. Holding the record's lock
    // across the getters would take the two the other way round.
    IFFlash* flash = record.flash;
    struct {
        bool timRead = false;
        uint32_t timCode = 0;
        BlockHeader bootHeader{};
        std::string bootName;
        bool bootChanged = false;
        BlockHeader fpgaHeader{};
        std::array<uint8_t, FPGA_RECORD_SIZE> fpgaRecord{};
        bool fpgaChanged = false;
        std::vector<UserBlockEntry> userBlocks;
        std::vector<DynamicEntry> dynamics;
        std::vector<ChainBlock> chain;
        uint32_t flashSize = 0;
        uint32_t usedSize = 0;
        bool modified = false;
    } read;
    try {
        flash->GetTimType(&read.timCode);
        read.timRead = true;
    } catch (const CFlashExc&) {
        // The code stays as the last notice gave it.
    }
    try {
        char name[16] = {};
        uint32_t size = sizeof name;
        flash->GetBootLoaderInfo(&read.bootHeader, name, &size);
        name[15] = '\0';
        read.bootName = name;
        read.bootChanged = flash->IsBlockModified(1);
    } catch (const CFlashExc&) {
        read.bootHeader = {};
        read.bootName.clear();
        read.bootChanged = false;
    }
    try {
        flash->GetFpgaBlock(&read.fpgaHeader, read.fpgaRecord.data());
        read.fpgaChanged = flash->IsBlockModified(3);
    } catch (const CFlashExc&) {
        read.fpgaHeader = {};
        read.fpgaRecord.fill(0);
        read.fpgaChanged = false;
    }
    try {
        uint32_t count = 0;
        flash->GetUserBlockCount(&count);
        std::vector<UserBlockEntry> blocks(count);
        for (uint32_t i = count; i-- > 0;)
            flash->GetUserBlock(i, &blocks[i].header, &blocks[i].record);
        read.userBlocks = std::move(blocks);
    } catch (const CFlashExc&) {
        read.userBlocks.clear();  // empty, never partial
    }
    try {
        uint32_t count = 0;
        flash->GetDynamicCount(&count);
        std::vector<DynamicEntry> values(count);
        for (uint32_t i = count; i-- > 0;)
            flash->GetDynamic(i, &values[i].address, &values[i].value);
        read.dynamics = std::move(values);
    } catch (const CFlashExc&) {
        read.dynamics.clear();
    }
    try {
        uint32_t count = 0;
        flash->GetBlockCount(&count);
        std::vector<ChainBlock> chain(count);
        for (uint32_t i = 0; i < count; ++i) {
            flash->GetBlock(i, &chain[i].header, nullptr, 0);
            chain[i].modified = flash->IsBlockModified(i);
        }
        read.chain = std::move(chain);
    } catch (const CFlashExc&) {
        read.chain.clear();
    }
    try {
        flash->GetFlashSize(&read.flashSize);
        flash->GetUsedSize(&read.usedSize);
    } catch (const CFlashExc&) {
        read.flashSize = 0;
        read.usedSize = 0;
    }
    try {
        read.modified = flash->IsModified();
    } catch (const CFlashExc&) {
        read.modified = false;
    }

    const Lock guard(record.lock);
    record.dataRead = true;
    if (read.timRead)
        record.timCode = read.timCode;
    record.bootHeader = read.bootHeader;
    record.bootName = std::move(read.bootName);
    record.bootChanged = read.bootChanged;
    record.fpgaHeader = read.fpgaHeader;
    record.fpgaRecord = read.fpgaRecord;
    record.fpgaChanged = read.fpgaChanged;
    record.userBlocks = std::move(read.userBlocks);
    record.dynamics = std::move(read.dynamics);
    record.chain = std::move(read.chain);
    record.flashSize = read.flashSize;
    record.usedSize = read.usedSize;
    record.modified = read.modified;
}

void CKovraCore::SetCpuState(CpuRecord& record, CpuState state) {
    if (state == CpuState::Busy)
        complete_.store(false);  // a new commit or erase: its own percentage
    {
        const Lock guard(record.lock);
        record.state = state;
    }
    host_.Post(KovraCommand::UpdateUI);
}

void CKovraCore::SelectTim(CpuRecord& record, const std::string& timName) {
    {
        const Lock guard(record.lock);
        record.state = CpuState::SelectingTim;
    }
    record.flash->SelectTimType(timName.c_str(), nullptr);
    host_.Post(KovraCommand::UpdateUI);
}

void CKovraCore::FlashCallbackOff(CpuRecord& record) {
    record.flash->SetCallback(nullptr, 0);
}

void CKovraCore::FlashCallbackOn(CpuRecord& record) {
    record.flash->SetCallback(&CKovraCore::FlashCallback, reinterpret_cast<uintptr_t>(&record));
    record.flash->NotifyChanged();
}

std::vector<CpuRecord*> CKovraCore::Records() const {
    const std::lock_guard<std::mutex> guard(listMutex_);
    std::vector<CpuRecord*> all;
    all.reserve(records_.size());
    for (const auto& record : records_) all.push_back(record.get());
    return all;
}

void CKovraCore::SetTreeStates() {
    int skip = 0;
    for (CpuRecord* record : Records()) {
        const Lock guard(record->lock);
        if (skip > 0) {
            record->noRomAccess = true;
            record->image = TreeImage::NoAccess;
            --skip;
            continue;
        }
        record->noRomAccess = false;
        if (record->timCode != 0)
            skip = ProcessorsOfTim(database_, record->timCode) - 1;
        record->image = record->state == CpuState::Busy ? TreeImage::Busy
                        : record->modified              ? TreeImage::Modified
                                                        : TreeImage::Ready;
    }
}

PercentageView CKovraCore::UpdatePercentage() {
    // Sum and reset in one step: a progress notice stored in between would
    // be wiped by the reset without ever being shown.
    const std::lock_guard<std::mutex> progress(progressMutex_);
    const std::vector<CpuRecord*> all = Records();
    uint64_t done = 0;
    uint64_t total = 0;
    for (CpuRecord* record : all) {
        const Lock guard(record->lock);
        done += record->progressDone;
        total += record->progressTotal;
    }
    PercentageView view;
    if (total != 0) {
        view.percent = static_cast<int>(done * 100 / total);
        view.line = "Percentage done " + std::to_string(view.percent) + " %";
        complete_.store(false);
    }
    if (done == total) {
        for (CpuRecord* record : all) {
            const Lock guard(record->lock);
            record->progressDone = 0;
            record->progressTotal = 0;
        }
        if (total != 0) {
            view.line = "Complete";
            complete_.store(true);
        }
    }
    // Handlers run after the notices that posted them, so a later one can
    // find the counters already reset: it keeps "Complete" instead of
    // wiping it.
    if (total == 0 && complete_.load()) {
        view.percent = 100;
        view.line = "Complete";
    }
    return view;
}

bool CKovraCore::AnyBusy() const {
    for (CpuRecord* record : Records()) {
        const Lock guard(record->lock);
        if (!record->noRomAccess && record->state != CpuState::Ready)
            return true;
    }
    return false;
}

bool CKovraCore::Committable(const CpuRecord& record) {
    const Lock guard(record.lock);
    return record.state == CpuState::Ready && record.dataRead && !record.noRomAccess &&
           record.modified;
}

bool CKovraCore::AnyUnwritten() const {
    for (CpuRecord* record : Records()) {
        const Lock guard(record->lock);
        if (record->dataRead && !record->noRomAccess && record->modified)
            return true;
    }
    return false;
}

bool CKovraCore::AnyCommittable() const {
    return AnyUnwritten();
}

void CKovraCore::Commit() {
    for (CpuRecord* record : Records()) {
        if (!Committable(*record))
            continue;
        SetCpuState(*record, CpuState::Busy);
        record->flash->Commit();
    }
}

namespace {

KovraMessage DiscardQuestion() {
    return {"Do you wish to discard your changes?", "Flash data not written",
            KovraMessage::Icon::Warning, KovraMessage::Buttons::YesNoCancel,
            KovraMessage::Answer::No};
}

}  // namespace

bool CKovraCore::CanClose() {
    if (AnyUnwritten())
        return host_.Ask(DiscardQuestion()) == KovraMessage::Answer::Yes;
    CpuRecord* current = Current();
    if (!current)
        return true;
    uint32_t bootVersion;
    uint32_t fpgaVersion;
    {
        const Lock guard(current->lock);
        bootVersion = current->bootHeader.version;
        fpgaVersion = current->fpgaHeader.version;
    }
    if (bootVersion == 0) {
        host_.Ask(
            {"Note that you currently have no bootloader programmed.\nThe module will not "
             "function correctly until a valid\nbootloader is programmed",
             "Important", KovraMessage::Icon::Information});
    } else if (fpgaVersion == 0) {
        host_.Ask(
            {"Note that you currently have no FPGA bitstream programmed.\nThe module will "
             "not function correctly until\na valid bitstream is programmed",
             "Important", KovraMessage::Icon::Information});
    }
    return true;
}

bool CKovraCore::ConfirmCancel(bool busy) {
    if (!busy)
        return true;
    return host_.Ask(DiscardQuestion()) == KovraMessage::Answer::Yes;
}

std::string CKovraCore::StatusString() const {
    CpuRecord* current = Current();
    if (!current)
        return {};
    const Lock guard(current->lock);
    return current->noRomAccess ? "CPU not available" : current->statusText;
}

void CKovraCore::ClearRecords() {
    current_.store(nullptr);
    const std::lock_guard<std::mutex> guard(listMutex_);
    records_.clear();
}
