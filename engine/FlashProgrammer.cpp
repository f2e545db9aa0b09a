// The flash programmer on the DSP: loading it, the command block handshake,
// reads through the transfer buffer, kept images and staged writes.
#include "engine/Flash.h"

#include "ProgrammerProtocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

using namespace qel::fprog;

constexpr const char* kSource = "Flash";
constexpr uint32_t kFlashReadPiece = kMaxReadLength;
constexpr uint32_t kDspReadPiece = 8192;
constexpr uint32_t kReadMergeGap = 4096;
constexpr int32_t kTypeData = 7;

std::atomic<int64_t> pollBaseMs{50};
std::atomic<int64_t> pollExtraMs{200};
std::atomic<int64_t> stallLimitMs{CFlash::kProgrammerStallLimit.count()};

// The first look at the command block comes this soon after a command is
// started; each further look waits twice as long, up to the poll interval.
constexpr std::chrono::microseconds kFirstLook{500};
// Pauses are cut into slices so that an abort (TelmarClose) ends them at once.
constexpr std::chrono::milliseconds kPauseSlice{5};

bool ChangesFlash(uint32_t code) {
    return code == kCommandProgram || code == kCommandErase || code == kCommandChipErase;
}

}  // namespace

void CFlash::SetPollIntervals(std::chrono::milliseconds base, std::chrono::milliseconds extra) {
    pollBaseMs = base.count();
    pollExtraMs = extra.count();
}

void CFlash::SetProgrammerStallLimit(std::chrono::milliseconds limit) {
    stallLimitMs = limit.count();
}

void CFlash::DspStateChanged() {
    programmerLoaded_ = false;
    dspDisturbed_ = true;
}

void CFlash::HaltIfRunning() {
    if (dspUser_.GetExecState() == 1)
        dspUser_.Halt();
}

int CFlash::LoadDspProgram(const char* path) {
    try {
        HaltIfRunning();
        dspUser_.Load(path);
        return 0;
    } catch (...) {
        return 1;
    }
}

void CFlash::WriteDspWord(uint32_t address, uint32_t value) {
    CCDspValue data(dspUser_, kTypeData, value);
    CCDspAddr where(dspUser_, address);
    CCDspMemory word(dspUser_, where, 4, 0);
    word.SetValue(data, 0);
    dspUser_.WriteMem(word);
}

void CFlash::WriteCommandWord(int word, uint32_t value) {
    commandValue_.SetValue(value);
    commandWords_[word].SetValue(commandValue_, 0);
    dspUser_.WriteMem(commandWords_[word]);
}

uint32_t CFlash::ReadCommandWord(int word) {
    dspUser_.ReadMem(commandWords_[word]);
    return commandWords_[word].GetWord(0);
}

void CFlash::ReadDsp(uint32_t address, uint32_t length, uint8_t* out) {
    while (length > 0) {
        const uint32_t piece = std::min(length, kDspReadPiece);
        CCDspAddr where(dspUser_, address);
        CCDspMemory memory(dspUser_, where, piece, 0);
        dspUser_.ReadMem(memory);
        memory.ReadBytes(0, out, piece);
        address += piece;
        out += piece;
        length -= piece;
    }
}

void CFlash::EnsureProgrammer() {
    if (programmerLoaded_)
        return;
    TimData& tim = RequireTim();
    programmerLoaded_ = true;
    if (LoadDspProgram(programmerImage_.GetName().c_str()) != 0) {
        programmerLoaded_ = false;
        QEL_RAISE(ERR_LOAD_FPROG, kSource);
    }
    for (uint32_t i = 0; i < commandWords_.size(); ++i) {
        commandAddresses_[i] = CCDspAddr(dspUser_, commandBlockAddress_ + 4 * i);
        commandWords_[i] = CCDspMemory(dspUser_, commandAddresses_[i], 4, 0);
    }
    commandValue_ = CCDspValue(dspUser_, kTypeData, 0);
    static_cast<CCDspUser&>(dspUser_).Run();
    const uint32_t args[kInitialiseArguments] = {
        programmerBase_,       programmerBase_,   tim.plan.transferBuffer, tim.plan.transferSize,
        tim.plan.sectorBuffer, tim.plan.saveArea, tim.plan.saveSize};
    const bool access = RunProgrammerCommand(kCommandInitialise, kInitialiseArguments, args) == 0;
    if (!access && dspDisturbed_) {
        // Not the processor's lack of access: what the selection put into
        // the DSP may be gone.
        programmerLoaded_ = false;
        QEL_RAISE_DETAIL(ERR_CCS_OPERATION, kSource,
                         "The target was reset or halted by another program since the TIM "
                         "type was selected: select it again");
    }
    tim.flashAccess = access;
    if (!tim.flashAccess)
        QEL_RAISE(ERR_NO_FLASH_ACCESS, kSource);
}

void CFlash::PauseForProgrammer(std::chrono::microseconds pause) {
    const auto until = std::chrono::steady_clock::now() + pause;
    for (auto now = std::chrono::steady_clock::now(); now < until && !dspUser_.IsAborted();
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(until - now, kPauseSlice));
    }
}

// Writing and erasing report 0 when the flash took the change; anything
// else means the flash does not hold what the host asked for.
uint32_t CFlash::CheckedResult(uint32_t code, uint32_t result) {
    if (!ChangesFlash(code) || result == 0)
        return result;
    QEL_RAISE_FORMAT(ERR_CCS_OPERATION, kSource, "Flash programmer: %s failed (result %u)",
                     code == kCommandProgram ? "writing the flash" : "erasing the flash", result);
}

void CFlash::ProgrammerStalled(uint32_t code, const char* what) {
    // Whatever the programmer does now, the next command starts it afresh.
    programmerLoaded_ = false;
    QEL_RAISE_FORMAT(ERR_CCS_OPERATION, kSource,
                     "Flash programmer %s command %u: no progress for %lld ms", what, code,
                     static_cast<long long>(stallLimitMs.load()));
}

uint32_t CFlash::RunProgrammerCommand(uint32_t code, uint32_t argc, const uint32_t* args) {
    using Clock = std::chrono::steady_clock;
    TimData& tim = RequireTim();
    if (!tim.flashAccess)
        QEL_RAISE(ERR_NO_FLASH_ACCESS, kSource);
    EnsureProgrammer();

    // The programmer usually answers within a few requests: look soon, then
    // back off to the poll interval (longer for a flash that is busy writing
    // or erasing). A set-up or a read during a commit is not a flash write.
    const std::chrono::microseconds base = std::chrono::milliseconds(pollBaseMs.load());
    const std::chrono::microseconds ceiling =
        ChangesFlash(code) && (mode_ == Writing || mode_ == Erasing)
            ? base + std::chrono::milliseconds(pollExtraMs.load())
            : base;
    // A chip erase shows no progress at all until it ends.
    const Clock::duration limit = std::chrono::milliseconds(stallLimitMs.load()) *
                                  (code == kCommandChipErase ? kChipEraseStallFactor : 1);
    auto nextPause = [](std::chrono::microseconds& pause, std::chrono::microseconds top) {
        const std::chrono::microseconds now = pause;
        pause = std::min(pause * 2, top);
        return now;
    };

    WriteCommandWord(kWordControl, kControlAnnounce);
    {
        std::chrono::microseconds pause = std::min(kFirstLook, base);
        const Clock::time_point since = Clock::now();
        while (ReadCommandWord(kWordStatus) != kStatusReady) {
            if (Clock::now() - since > limit)
                ProgrammerStalled(code, "not ready for");
            PauseForProgrammer(nextPause(pause, base));
        }
    }
    for (uint32_t i = 0; i < argc; ++i)
        WriteCommandWord(static_cast<int>(kWordFirstArgument + i), args[i]);
    WriteCommandWord(kWordCode, code);
    WriteCommandWord(kWordControl, kControlStart);

    std::chrono::microseconds pause = std::min(kFirstLook, ceiling);
    Clock::time_point lastChange = Clock::now();
    uint32_t lastProgress = 0;
    for (;;) {
        PauseForProgrammer(nextPause(pause, ceiling));
        if (ReadCommandWord(kWordStatus) == kStatusComplete)
            return CheckedResult(code, ReadCommandWord(kWordResult));
        // Without a callback the progress word is only looked at before the
        // command is given up.
        const bool stalled = Clock::now() - lastChange > limit;
        if (!HasCallback() && !stalled)
            continue;
        const uint32_t progress = ReadCommandWord(kWordProgress);
        if (progress == lastProgress) {
            if (stalled)
                ProgrammerStalled(code, "running");
            continue;
        }
        lastProgress = progress;
        lastChange = Clock::now();
        if (!HasCallback())
            continue;
        const uint32_t sector = tim.sectorSize;
        if (mode_ == Writing && writePlan_) {
            Progress(sector * writePlan_->SectorsBeforeCurrent() + progress,
                     sector * writePlan_->TotalSectors());
        } else if (mode_ == Erasing) {
            Progress(sector * progress, sector * tim.sectorCount);
        }
    }
}

void CFlash::ReadFlash(bool countOnly, uint32_t offset, uint32_t length, uint8_t* buffer) {
    if (countOnly) {
        bytesToRead_ += length;
        if (writePlan_ && length != 0)
            plannedReads_.push_back({offset, length});
        return;
    }
    const TimData& tim = RequireTim();
    while (length > 0) {
        const uint64_t pieceEnd = uint64_t{readPieceOffset_} + readPiece_.size();
        if (offset >= readPieceOffset_ && offset < pieceEnd) {
            const auto n = static_cast<uint32_t>(std::min<uint64_t>(length, pieceEnd - offset));
            memcpy(buffer, readPiece_.data() + (offset - readPieceOffset_), n);
            buffer += n;
            offset += n;
            length -= n;
            // Progress counts the bytes the blocks asked for, not the bytes
            // read along between them.
            bytesRead_ += n;
            if (bytesToRead_ != 0 && HasCallback())
                Progress(bytesRead_, bytesToRead_);
            continue;
        }
        const ReadRun* run = PlannedRunAt(offset);
        if (run) {
            // Read ahead to the end of the planned run: the next moved
            // blocks' payloads come in the same piece.
            const uint32_t piece =
                static_cast<uint32_t>(std::min<uint64_t>(run->end - offset, kFlashReadPiece));
            const uint32_t args[2] = {offset, piece};
            RunProgrammerCommand(kCommandRead, 2, args);
            readPiece_.resize(piece);
            ReadDsp(tim.plan.transferBuffer, piece, readPiece_.data());
            readPieceOffset_ = offset;
            continue;
        }
        const uint32_t piece = std::min(length, kFlashReadPiece);
        const uint32_t args[2] = {offset, piece};
        RunProgrammerCommand(kCommandRead, 2, args);
        ReadDsp(tim.plan.transferBuffer, piece, buffer);
        buffer += piece;
        offset += piece;
        length -= piece;
        bytesRead_ += piece;
        if (bytesToRead_ != 0 && HasCallback())
            Progress(bytesRead_, bytesToRead_);
    }
}

void CFlash::StartPlannedReads() {
    std::sort(plannedReads_.begin(), plannedReads_.end(),
              [](const ReadRange& a, const ReadRange& b) { return a.offset < b.offset; });
    readRuns_.clear();
    for (const ReadRange& r : plannedReads_) {
        const uint64_t end = uint64_t{r.offset} + r.length;
        // Headers and fill between moved payloads cost less to read along
        // than a programmer round trip of their own.
        if (!readRuns_.empty() && r.offset <= readRuns_.back().end + kReadMergeGap) {
            readRuns_.back().end = std::max(readRuns_.back().end, end);
        } else {
            readRuns_.push_back({r.offset, end});
        }
    }
}

void CFlash::EndPlannedReads() {
    plannedReads_.clear();
    readRuns_.clear();
    std::vector<uint8_t>().swap(readPiece_);
    readPieceOffset_ = 0;
}

const CFlash::ReadRun* CFlash::PlannedRunAt(uint32_t offset) const {
    auto it = std::upper_bound(readRuns_.begin(), readRuns_.end(), offset,
                               [](uint32_t at, const ReadRun& run) { return at < run.start; });
    if (it == readRuns_.begin())
        return nullptr;
    --it;
    return offset < it->end ? &*it : nullptr;
}

uint32_t CFlash::PreserveBlockImage(uint32_t offset, uint32_t length) {
    // A programmer that could not keep an image has no room for one at least
    // as long in this commit either: such blocks are read without asking.
    if (smallestRefusedKeep_ != 0 && length >= smallestRefusedKeep_)
        return 0;
    // A new keep request would start a new table of kept images and lose
    // the ones a failed commit left as the only copies of some blocks.
    if (keepsHeldOver_)
        return 0;
    const uint32_t args[2] = {offset, length};
    const uint32_t handle = RunProgrammerCommand(kCommandKeepImage, 2, args);
    if (handle == 0 && (smallestRefusedKeep_ == 0 || length < smallestRefusedKeep_))
        smallestRefusedKeep_ = length;
    return handle;
}

void CFlash::ProgramStaged(uint32_t size) {
    TimData& tim = RequireTim();
    if (!writePlan_ || !writePlan_->Staging())
        QEL_RAISE(ERR_NO_TRANSFER_BUFFER, kSource);
    CObjFile wrapper;
    const std::string path = wrapper.WriteTempCoff(
        size, writePlan_->Staging(), tim.plan.transferBuffer, static_cast<int>(instance_));
    // The file holds the load now; the host copy is not needed while the
    // DSP takes it.
    writePlan_->ReleaseStaging();
    Status("Loading data to DSP ...");
    // Any load stops the programmer, a failed one as well.
    programmerLoaded_ = false;
    const int failed = LoadDspProgram(path.c_str());
    std::remove(path.c_str());
    if (failed) {
        QEL_RAISE_DETAIL(ERR_CCS_LOAD_FAILED, kSource,
                         "Could not bring the staged flash data into the DSP");
    }
    Status("Writing to flash ...");
    // From here on a failure may leave part of this load on the flash.
    programmingLoad_ = true;
    RunProgrammerCommand(kCommandProgram, 0, nullptr);
    programmingLoad_ = false;
}
