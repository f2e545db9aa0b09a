// The flash programmer model: what the programmer image does once it runs on
// a processor. It talks to the host only through target memory: the command
// block of twelve words and the buffers that command 1 names.
#include "FlashChain.h"
#include "Target.h"
#include "include/ProgrammerProtocol.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace qel::bench {

namespace {

using namespace qel::fprog;

constexpr uint32_t kMaxRead = kMaxReadLength;
constexpr uint32_t kResultFailed = 1;
constexpr uint32_t kResultFlashFailed = 2;
constexpr uint32_t kUnknownCommand = 0xFFFFFFFF;
constexpr uint8_t kFdbMagic[8] = {'Q', 'E', 'L', 'F', 'D', 'B', '0', '1'};

// Kept images live in the save area, so they outlive reloads of the
// programmer: a table, then the image bytes.
constexpr uint32_t kKeepMagic = 0x5045454B;  // "KEEP"
constexpr uint32_t kKeepMax = 64;
constexpr uint32_t kKeepEntries = 32;                         // table offset
constexpr uint32_t kKeepData = kKeepEntries + kKeepMax * 16;  // image bytes offset
enum : uint32_t {
    kKeepWordMagic = 0,
    kKeepWordCount,
    kKeepWordUsed,
    kKeepWordStale,
    kKeepWordNext
};

struct Record {
    uint32_t source;
    uint32_t offset;
    uint32_t length;
    uint32_t from;  // target address of the bytes
};

std::chrono::nanoseconds ProgramTime(const Timing& t, uint64_t bytes) {
    return std::chrono::nanoseconds(uint64_t{t.programNsPerByte} * bytes);
}
std::chrono::nanoseconds EraseTime(const Timing& t, uint64_t sectors) {
    return std::chrono::milliseconds(uint64_t{t.eraseMs} * sectors);
}

}  // namespace

void Processor::StartProgrammerLocked(uint32_t commandBlock, uint32_t timType) {
    progRunning_ = true;
    commandBlock_ = commandBlock;
    progTim_ = timType;
    busy_ = false;
    hung_ = false;
    stop_ = false;
    pending_ = false;
    commandsDone_ = 0;
    lastCommand_ = 0;
    config_ = Config{};
    SetWordLocked(commandBlock_ + 4 * kWordControl, 0);
    SetWordLocked(commandBlock_ + 4 * kWordProgress, 0);
    SetWordLocked(commandBlock_ + 4 * kWordStatus, kStatusReady);
}

void Processor::StopProgrammer() {
    std::lock_guard threadLock(threadMu_);
    {
        std::lock_guard lock(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
    {
        std::lock_guard lock(mu_);
        stop_ = false;
        progRunning_ = false;
        busy_ = false;
        hung_ = false;
        pending_ = false;
    }
    idleCv_.notify_all();
}

// The programmer watches its control word: 1 announces a command (answered
// with "ready"), 2 starts the one now in the block.
void Processor::OnHostWriteLocked(uint32_t address, uint32_t length) {
    if (!progRunning_ || dead_)
        return;
    const uint32_t control = commandBlock_ + 4 * kWordControl;
    if (uint64_t{address} + length <= control || address >= uint64_t{control} + 4)
        return;
    const uint32_t value = WordLocked(control);
    if (busy_)
        return;
    if (value == kControlAnnounce) {
        SetWordLocked(commandBlock_ + 4 * kWordProgress, 0);
        SetWordLocked(commandBlock_ + 4 * kWordStatus, kStatusReady);
    } else if (value == kControlStart &&
               WordLocked(commandBlock_ + 4 * kWordStatus) == kStatusReady) {
        command_.code = WordLocked(commandBlock_ + 4 * kWordCode);
        for (uint32_t i = 0; i < kMaxArguments; ++i)
            command_.args[i] = WordLocked(commandBlock_ + 4 * (kWordFirstArgument + i));
        SetWordLocked(commandBlock_ + 4 * kWordProgress, 0);
        SetWordLocked(commandBlock_ + 4 * kWordStatus, kStatusBusy);
        lastCommand_ = command_.code;
        busy_ = true;
        pending_ = true;
        cv_.notify_all();
    }
}

void Processor::ProgrammerLoop() {
    std::unique_lock lock(mu_);
    while (true) {
        cv_.wait(lock, [&] { return stop_ || pending_; });
        if (stop_)
            return;
        pending_ = false;
        const Command cmd = command_;
        if (faults_.programmerHang > 0) {
            --faults_.programmerHang;
            hung_ = true;
            idleCv_.notify_all();
            cv_.wait(lock, [&] { return stop_; });
            return;
        }
        lock.unlock();
        uint32_t result = 0;
        const Outcome outcome = Execute(cmd, result);
        lock.lock();
        lockstep_ = false;
        if (outcome == Outcome::Stopped || stop_)
            return;
        if (outcome == Outcome::PowerCut) {
            // The target is dead until reset; nothing more happens here.
            busy_ = false;
            idleCv_.notify_all();
            return;
        }
        SetWordLocked(commandBlock_ + 4 * kWordResult, result);
        SetWordLocked(commandBlock_ + 4 * kWordStatus, kStatusComplete);
        busy_ = false;
        ++commandsDone_;
        idleCv_.notify_all();
    }
}

bool Processor::Delay(std::chrono::nanoseconds d) {
    std::unique_lock lock(mu_);
    if (d.count() > 0)
        cv_.wait_for(lock, d, [&] { return stop_; });
    return !stop_;
}

bool Processor::Stopping() {
    std::lock_guard lock(mu_);
    return stop_;
}

void Processor::Progress(uint32_t value) {
    std::unique_lock lock(mu_);
    SetWordLocked(commandBlock_ + 4 * kWordProgress, value);
    if (!lockstep_ && faults_.progressLockstep > 0) {
        --faults_.progressLockstep;
        lockstep_ = true;  // until this command ends
    }
    if (lockstep_) {
        progressRead_ = false;
        cv_.wait(lock, [&] { return progressRead_ || stop_; });
    }
}

void Processor::NoteProgressReadLocked(uint32_t address, uint32_t length) {
    const uint64_t word = uint64_t{commandBlock_} + 4 * kWordProgress;
    if (lockstep_ && address <= word && word + 4 <= uint64_t{address} + length) {
        progressRead_ = true;
        cv_.notify_all();
    }
}

void Processor::CountBusyPoll(uint32_t address, uint32_t length) {
    std::lock_guard lock(mu_);
    const uint64_t word = uint64_t{commandBlock_} + 4 * kWordStatus;
    if (progRunning_ && busy_ && address <= word && word + 4 <= uint64_t{address} + length)
        busyPolls_.fetch_add(1, std::memory_order_relaxed);
}

ProgrammerInfo Processor::GetProgrammerInfo() {
    std::lock_guard lock(mu_);
    ProgrammerInfo info;
    info.running = progRunning_ ? 1 : 0;
    info.commandBlock = commandBlock_;
    info.timType = progTim_;
    info.commandsDone = commandsDone_;
    info.lastCommand = lastCommand_;
    info.busy = busy_ ? 1 : 0;
    info.hung = hung_ ? 1 : 0;
    return info;
}

void Processor::WaitProgrammerIdle() {
    std::unique_lock lock(mu_);
    idleCv_.wait(lock, [&] { return !busy_ || hung_ || !progRunning_ || dead_; });
}

Processor::Outcome Processor::Execute(const Command& cmd, uint32_t& result) {
    Config config;
    {
        std::lock_guard lock(mu_);
        config = config_;
    }
    if (cmd.code == kCommandInitialise) {
        result = Initialise(cmd);
        return Outcome::Done;
    }
    const bool ready = config.initialised && config.access;
    switch (cmd.code) {
        case kCommandRead:
            result = ready ? ReadFlash(cmd) : kResultFailed;
            return Outcome::Done;
        case kCommandProgram:
            if (!ready) {
                result = kResultFailed;
                return Outcome::Done;
            }
            return Program(result);
        case kCommandErase:
        case kCommandChipErase:
            if (!ready) {
                result = kResultFailed;
                return Outcome::Done;
            }
            return Erase(cmd.code == kCommandErase, result);
        case kCommandKeepImage:
            result = ready ? Keep(cmd) : 0;
            return Outcome::Done;
        case kCommandDirectory:
            result = ready ? Directory() : 0;
            return Outcome::Done;
        default:
            result = kUnknownCommand;
            return Outcome::Done;
    }
}

// Arguments: programmer base (twice), transfer buffer address and size,
// sector buffer address, save area address and size.
uint32_t Processor::Initialise(const Command& cmd) {
    Config c;
    c.initialised = true;
    c.base = cmd.args[0];
    c.transfer = cmd.args[2];
    c.transferSize = cmd.args[3];
    c.sectorBuffer = cmd.args[4];
    c.save = cmd.args[5];
    c.saveSize = cmd.args[6];
    uint32_t result = 0;
    uint8_t fdb[8] = {};
    if (!desc_.flashAccess) {
        result = 1;  // this processor cannot reach the flash
    } else if (!ReadRam(c.base, fdb, sizeof(fdb)) || std::memcmp(fdb, kFdbMagic, 8) != 0) {
        result = 2;  // no Flash Data Block at the programmer base
    } else if (c.transferSize < 12 || !IsRam(c.transfer, c.transferSize) ||
               !IsRam(c.sectorBuffer, module_.desc.sectorSize) ||
               (c.saveSize > 0 && !IsRam(c.save, c.saveSize))) {
        result = 3;  // buffers outside writable memory
    }
    c.access = result == 0;
    std::lock_guard lock(mu_);
    config_ = c;
    return result;
}

uint32_t Processor::ReadFlash(const Command& cmd) {
    const uint32_t offset = cmd.args[0];
    const uint32_t length = cmd.args[1];
    Config c;
    {
        std::lock_guard lock(mu_);
        c = config_;
    }
    if (length > kMaxRead || length > c.transferSize ||
        uint64_t{offset} + length > module_.desc.flashSize)
        return kResultFailed;
    std::vector<uint8_t> bytes(length);
    if (!module_.image.Read(offset, bytes.data(), length))
        return kResultFlashFailed;
    return WriteRam(c.transfer, bytes.data(), length) ? 0 : kResultFailed;
}

// The write records of the transfer buffer, programmed NOR fashion: every
// sector a record touches is read, overlaid with the records' bytes, erased
// and programmed whole, so the bytes no record covers are kept.
Processor::Outcome Processor::Program(uint32_t& result) {
    Config c;
    {
        std::lock_guard lock(mu_);
        c = config_;
    }
    const uint32_t flashSize = module_.desc.flashSize;
    const uint32_t sectorSize = module_.desc.sectorSize;
    std::vector<Record> records;
    {
        std::lock_guard lock(mu_);
        uint32_t pos = 0;
        while (c.transferSize - pos >= kRecordHeadSize) {
            uint32_t head[3];
            ReadRamLocked(c.transfer + pos, head, kRecordHeadSize);
            if (head[0] == 0 && head[1] == 0 && head[2] == 0)
                break;
            Record r{head[0], head[1], head[2], 0};
            if (uint64_t{r.offset} + r.length > flashSize) {
                result = kResultFailed;
                return Outcome::Done;
            }
            if (r.source == kRecordSourceInline) {
                if (r.length > c.transferSize - pos - kRecordHeadSize) {
                    result = kResultFailed;
                    return Outcome::Done;
                }
                r.from = c.transfer + pos + kRecordHeadSize;
                pos += kRecordHeadSize + r.length;
            } else {
                // A kept image: found in the save area's table.
                bool found = false;
                if (c.saveSize >= kKeepData && WordLocked(c.save) == kKeepMagic) {
                    const uint32_t count =
                        std::min(WordLocked(c.save + 4 * kKeepWordCount), kKeepMax);
                    for (uint32_t i = 0; i < count && !found; ++i) {
                        const uint32_t e = c.save + kKeepEntries + 16 * i;
                        if (WordLocked(e) == r.source && r.length <= WordLocked(e + 8)) {
                            r.from = c.save + kKeepData + WordLocked(e + 12);
                            found = true;
                        }
                    }
                }
                if (!found) {
                    result = kResultFailed;
                    return Outcome::Done;
                }
                pos += kRecordHeadSize;
            }
            if (r.length > 0)
                records.push_back(r);
        }
        // The kept images of this commit stay usable by later loads; the next
        // keep request starts a new table.
        if (c.saveSize >= kKeepData && WordLocked(c.save) == kKeepMagic)
            SetWordLocked(c.save + 4 * kKeepWordStale, 1);
    }

    std::map<uint32_t, uint32_t> touched;  // sector -> record bytes in it
    for (const Record& r : records) {
        const uint32_t first = r.offset / sectorSize;
        const uint32_t last =
            static_cast<uint32_t>((uint64_t{r.offset} + r.length - 1) / sectorSize);
        for (uint32_t s = first; s <= last; ++s) {
            const uint64_t a = std::max<uint64_t>(r.offset, uint64_t{s} * sectorSize);
            const uint64_t b =
                std::min<uint64_t>(uint64_t{r.offset} + r.length, (uint64_t{s} + 1) * sectorSize);
            touched[s] += static_cast<uint32_t>(b - a);
        }
    }

    FlashImage::Session flash(module_.image);
    if (!flash.Ok()) {
        result = kResultFlashFailed;
        return Outcome::Done;
    }
    const Timing& t = GetTiming();
    std::vector<uint8_t> sector(sectorSize);
    uint32_t programmed = 0;
    for (const auto& [s, bytes] : touched) {
        const uint32_t base = s * sectorSize;
        if (!flash.Read(base, sector.data(), sectorSize)) {
            result = kResultFlashFailed;
            return Outcome::Done;
        }
        {
            std::lock_guard lock(mu_);
            for (const Record& r : records) {
                const uint64_t a = std::max<uint64_t>(r.offset, base);
                const uint64_t b =
                    std::min<uint64_t>(uint64_t{r.offset} + r.length, uint64_t{base} + sectorSize);
                if (a >= b)
                    continue;
                ReadRamLocked(r.from + static_cast<uint32_t>(a - r.offset),
                              sector.data() + (a - base), static_cast<uint32_t>(b - a));
            }
        }
        if (!Delay(EraseTime(t, 1) + ProgramTime(t, sectorSize))) {
            flash.Sync();
            return Outcome::Stopped;
        }
        if (!flash.Write(base, sector.data(), sectorSize)) {
            result = kResultFlashFailed;
            return Outcome::Done;
        }
        programmed += bytes;
        bool cut = false;
        {
            std::lock_guard lock(mu_);
            if (faults_.powerCutAt != 0 && ++faults_.flashWrites >= faults_.powerCutAt) {
                faults_.powerCutAt = 0;
                faults_.flashWrites = 0;
                dead_ = true;
                exec_ = kExecHalted;
                progRunning_ = false;
                cut = true;
            } else {
                SetWordLocked(commandBlock_ + 4 * kWordProgress, programmed);
            }
        }
        if (cut) {
            flash.Sync();
            return Outcome::PowerCut;
        }
    }
    result = flash.Sync() ? 0 : kResultFlashFailed;
    return Outcome::Done;
}

Processor::Outcome Processor::Erase(bool progress, uint32_t& result) {
    FlashImage::Session flash(module_.image);
    if (!flash.Ok()) {
        result = kResultFlashFailed;
        return Outcome::Done;
    }
    const Timing& t = GetTiming();
    const uint32_t count = module_.desc.SectorCount();
    const uint32_t sectorSize = module_.desc.sectorSize;
    if (!progress) {
        // A chip erase takes the time of half the sectors and shows nothing.
        if (!Delay(EraseTime(t, count) / 2))
            return Outcome::Stopped;
        result =
            flash.Fill(0, 0xFF, module_.desc.flashSize) && flash.Sync() ? 0 : kResultFlashFailed;
        return Outcome::Done;
    }
    for (uint32_t s = 0; s < count; ++s) {
        if (!Delay(EraseTime(t, 1))) {
            flash.Sync();
            return Outcome::Stopped;
        }
        if (!flash.Fill(s * sectorSize, 0xFF, sectorSize)) {
            result = kResultFlashFailed;
            return Outcome::Done;
        }
        Progress(s + 1);
    }
    result = flash.Sync() ? 0 : kResultFlashFailed;
    return Outcome::Done;
}

// Keeps a copy of a flash range in the save area; the handle, or 0 when it
// does not fit.
uint32_t Processor::Keep(const Command& cmd) {
    const uint32_t offset = cmd.args[0];
    const uint32_t length = cmd.args[1];
    Config c;
    {
        std::lock_guard lock(mu_);
        c = config_;
    }
    if (length == 0 || uint64_t{offset} + length > module_.desc.flashSize || c.saveSize < kKeepData)
        return 0;
    uint32_t count, used, next;
    {
        std::lock_guard lock(mu_);
        if (WordLocked(c.save) != kKeepMagic || WordLocked(c.save + 4 * kKeepWordStale) != 0) {
            SetWordLocked(c.save + 4 * kKeepWordCount, 0);
            SetWordLocked(c.save + 4 * kKeepWordUsed, 0);
            SetWordLocked(c.save + 4 * kKeepWordStale, 0);
            if (WordLocked(c.save) != kKeepMagic)
                SetWordLocked(c.save + 4 * kKeepWordNext, 0);
            SetWordLocked(c.save, kKeepMagic);
        }
        count = WordLocked(c.save + 4 * kKeepWordCount);
        used = WordLocked(c.save + 4 * kKeepWordUsed);
        next = WordLocked(c.save + 4 * kKeepWordNext);
    }
    const uint64_t room = c.saveSize - kKeepData;
    const uint32_t aligned = (used + 3u) & ~3u;
    if (count >= kKeepMax || aligned < used || uint64_t{aligned} + length > room)
        return 0;
    std::vector<uint8_t> bytes(length);
    if (!module_.image.Read(offset, bytes.data(), length))
        return 0;
    std::lock_guard lock(mu_);
    if (!WriteRamLocked(c.save + kKeepData + aligned, bytes.data(), length))
        return 0;
    uint32_t handle = next + 1;
    if (handle == 0)
        handle = 1;
    const uint32_t e = c.save + kKeepEntries + 16 * count;
    SetWordLocked(e, handle);
    SetWordLocked(e + 4, offset);
    SetWordLocked(e + 8, length);
    SetWordLocked(e + 12, aligned);
    SetWordLocked(c.save + 4 * kKeepWordCount, count + 1);
    SetWordLocked(c.save + 4 * kKeepWordUsed, aligned + length);
    SetWordLocked(c.save + 4 * kKeepWordNext, handle);
    return handle;
}

uint32_t Processor::Directory() {
    Config c;
    {
        std::lock_guard lock(mu_);
        c = config_;
    }
    const ChainWalk walk =
        WalkChain([&](uint32_t offset, uint32_t length,
                      void* out) { return module_.image.Read(offset, out, length); },
                  module_.desc.flashSize);
    const std::vector<uint8_t> dir = BuildDirectory(walk, c.transferSize);
    if (dir.empty())
        return 0;
    if (!WriteRam(c.transfer, dir.data(), static_cast<uint32_t>(dir.size())))
        return 0;
    return static_cast<uint32_t>(dir.size());
}

}  // namespace qel::bench
