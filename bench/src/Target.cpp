#include "Target.h"

#include "Coff.h"

#include <algorithm>
#include <cstring>

namespace qel::bench {

namespace {

constexpr uint32_t kPageBits = 16;
constexpr uint32_t kPageSize = 1u << kPageBits;
constexpr uint8_t kSignature[8] = {'Q', 'E', 'L', 'F', 'P', 'R', 'O', 'G'};

uint32_t LoadU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // the host is little-endian, as the target
}

}  // namespace

Processor::Processor(const ProcessorDesc& desc, Module& module, int board, int index)
    : desc_(desc), module_(module), board_(board), index_(index) {
    for (const Region& r : desc_.regions) {
        Area a;
        a.region = r;
        a.pages.resize((uint64_t{r.size} + kPageSize - 1) >> kPageBits);
        areas_.push_back(std::move(a));
    }
    std::sort(areas_.begin(), areas_.end(),
              [](const Area& x, const Area& y) { return x.region.start < y.region.start; });
    for (const FaultSetting& f : desc_.faults) SetFault(f.fault, f.count);
    Reset();
}

Processor::~Processor() {
    StopProgrammer();
}

// Calls f(kind, area index, address, length, offset in the request) for each
// piece of [address, address + length); false as soon as a piece lies
// outside (or, for a write, in the flash).
template <class F>
bool Processor::Spans(uint32_t address, uint32_t length, bool write, F&& f) const {
    const uint64_t end = uint64_t{address} + length;
    if (end > 0x100000000ull)
        return false;
    const bool flashMapped = desc_.flashAccess || module_.desc.boot == Boot::Mapped;
    const uint64_t flashStart = module_.desc.flashAddress;
    const uint64_t flashEnd = flashStart + module_.desc.flashSize;
    uint64_t at = address;
    while (at < end) {
        bool found = false;
        for (size_t i = 0; i < areas_.size(); ++i) {
            const Region& r = areas_[i].region;
            if (at >= r.start && at < r.End()) {
                const uint64_t n = std::min(end, r.End()) - at;
                f(SpanKind::Ram, i, static_cast<uint32_t>(at), static_cast<uint32_t>(n),
                  static_cast<uint32_t>(at - address));
                at += n;
                found = true;
                break;
            }
        }
        if (found)
            continue;
        if (flashMapped && !write && at >= flashStart && at < flashEnd) {
            const uint64_t n = std::min(end, flashEnd) - at;
            f(SpanKind::Flash, 0, static_cast<uint32_t>(at), static_cast<uint32_t>(n),
              static_cast<uint32_t>(at - address));
            at += n;
            continue;
        }
        return false;
    }
    return true;
}

void Processor::CopyFromRam(const Area& area, uint32_t address, uint8_t* out,
                            uint32_t length) const {
    uint32_t off = address - area.region.start;
    while (length > 0) {
        const uint32_t page = off >> kPageBits;
        const uint32_t in = off & (kPageSize - 1);
        const uint32_t n = std::min(length, kPageSize - in);
        const auto& p = area.pages[page];
        if (p)
            std::memcpy(out, p.get() + in, n);
        else
            std::memset(out, 0, n);
        out += n;
        off += n;
        length -= n;
    }
}

void Processor::CopyToRam(Area& area, uint32_t address, const uint8_t* in, uint32_t length) {
    uint32_t off = address - area.region.start;
    while (length > 0) {
        const uint32_t page = off >> kPageBits;
        const uint32_t at = off & (kPageSize - 1);
        const uint32_t n = std::min(length, kPageSize - at);
        auto& p = area.pages[page];
        if (!p) {
            p = std::make_unique<uint8_t[]>(kPageSize);  // zeroed: memory after power-on
        }
        std::memcpy(p.get() + at, in, n);
        in += n;
        off += n;
        length -= n;
    }
}

bool Processor::IsRam(uint32_t address, uint32_t length) const {
    bool ram = true;
    const bool inside = Spans(
        address, length, true,
        [&](SpanKind k, size_t, uint32_t, uint32_t, uint32_t) { ram = ram && k == SpanKind::Ram; });
    return inside && ram;
}

bool Processor::ReadMemory(uint32_t address, void* buffer, uint32_t length) {
    if (!Spans(address, length, false, [](SpanKind, size_t, uint32_t, uint32_t, uint32_t) {}))
        return false;
    auto* out = static_cast<uint8_t*>(buffer);
    bool ok = true;
    // Flash pieces are read without mu_: the programmer holds the image while
    // it takes mu_, so the order is always image, then memory.
    Spans(address, length, false,
          [&](SpanKind k, size_t area, uint32_t at, uint32_t n, uint32_t rel) {
              if (k == SpanKind::Ram) {
                  std::lock_guard lock(mu_);
                  CopyFromRam(areas_[area], at, out + rel, n);
                  NoteProgressReadLocked(at, n);
              } else {
                  ok = ok && module_.image.Read(at - module_.desc.flashAddress, out + rel, n);
              }
          });
    return ok;
}

bool Processor::WriteMemory(uint32_t address, const void* buffer, uint32_t length) {
    if (!IsRam(address, length))
        return false;
    std::lock_guard lock(mu_);
    WriteRamLocked(address, buffer, length);
    OnHostWriteLocked(address, length);
    return true;
}

bool Processor::ReadRamLocked(uint32_t address, void* buffer, uint32_t length) {
    auto* out = static_cast<uint8_t*>(buffer);
    bool ram = true;
    if (!Spans(address, length, true,
               [&](SpanKind k, size_t, uint32_t, uint32_t, uint32_t) {
                   ram = ram && k == SpanKind::Ram;
               }) ||
        !ram)
        return false;
    Spans(address, length, true, [&](SpanKind, size_t area, uint32_t at, uint32_t n, uint32_t rel) {
        CopyFromRam(areas_[area], at, out + rel, n);
    });
    return true;
}

bool Processor::WriteRamLocked(uint32_t address, const void* buffer, uint32_t length) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    if (!IsRam(address, length))
        return false;
    Spans(address, length, true, [&](SpanKind, size_t area, uint32_t at, uint32_t n, uint32_t rel) {
        CopyToRam(areas_[area], at, in + rel, n);
    });
    return true;
}

uint32_t Processor::WordLocked(uint32_t address) {
    uint8_t b[4] = {};
    ReadRamLocked(address, b, 4);
    return LoadU32(b);
}

void Processor::SetWordLocked(uint32_t address, uint32_t value) {
    WriteRamLocked(address, &value, 4);
}

bool Processor::ReadRam(uint32_t address, void* buffer, uint32_t length) {
    std::lock_guard lock(mu_);
    return ReadRamLocked(address, buffer, length);
}

bool Processor::WriteRam(uint32_t address, const void* buffer, uint32_t length) {
    std::lock_guard lock(mu_);
    return WriteRamLocked(address, buffer, length);
}

bool Processor::SetWord(uint32_t address, uint32_t value) {
    return WriteRam(address, &value, 4);
}

void Processor::Halt() {
    StopProgrammer();
    std::lock_guard lock(mu_);
    exec_ = kExecHalted;
}

void Processor::Reset() {
    StopProgrammer();
    std::vector<uint8_t> boot;
    if (module_.desc.boot == Boot::Copy) {
        boot.resize(std::min(module_.desc.bootCopySize, module_.desc.flashSize));
        if (!module_.image.Read(0, boot.data(), static_cast<uint32_t>(boot.size())))
            boot.clear();
    }
    std::lock_guard lock(mu_);
    exec_ = kExecHalted;
    dead_ = false;
    hasEntry_ = false;
    entry_ = 0;
    if (!boot.empty()) {
        // The boot copy lands in whatever memory starts at address 0.
        for (Area& a : areas_) {
            if (a.region.start == 0) {
                CopyToRam(a, 0, boot.data(),
                          static_cast<uint32_t>(std::min<uint64_t>(boot.size(), a.region.size)));
                break;
            }
        }
    }
}

bool Processor::Load(const std::string& path, std::string& error) {
    StopProgrammer();
    {
        std::lock_guard lock(mu_);
        exec_ = kExecHalted;
    }
    CoffFile file;
    if (!file.Open(path, error))
        return false;
    const CoffImage& image = file.Image();
    for (const auto& s : image.sections) {
        if (!IsRam(s.address, s.size)) {
            error = "section '" + s.name + "' does not land in writable memory";
            return false;
        }
    }
    // Section bytes go to memory in pieces: a staging load as large as the
    // transfer buffer is never held twice.
    constexpr uint32_t kPiece = 256 * 1024;
    std::vector<uint8_t> piece(kPiece);
    for (const auto& s : image.sections) {
        for (uint32_t done = 0; done < s.size;) {
            const uint32_t n = std::min(kPiece, s.size - done);
            if (!file.Read(uint64_t{s.fileOffset} + done, piece.data(), n)) {
                error = "cannot read section '" + s.name + "'";
                return false;
            }
            std::lock_guard lock(mu_);
            WriteRamLocked(s.address + done, piece.data(), n);
            done += n;
        }
    }
    std::lock_guard lock(mu_);
    hasEntry_ = image.hasEntry;
    entry_ = image.entry;
    return true;
}

void Processor::Run() {
    std::lock_guard threadLock(threadMu_);
    std::unique_lock lock(mu_);
    if (exec_ == kExecRunning)
        return;
    exec_ = kExecRunning;
    if (!hasEntry_)
        return;
    uint8_t sig[20];
    if (!ReadRamLocked(entry_, sig, sizeof(sig)) || std::memcmp(sig, kSignature, 8) != 0 ||
        LoadU32(sig + 8) != 1)
        return;
    const uint32_t block = LoadU32(sig + 12);
    if (!IsRam(block, 48))
        return;
    // A thread left over from a power cut has ended; collect it first.
    if (thread_.joinable()) {
        lock.unlock();
        thread_.join();
        lock.lock();
    }
    StartProgrammerLocked(block, LoadU32(sig + 16));
    thread_ = std::thread([this] { ProgrammerLoop(); });
}

int32_t Processor::ExecState() {
    std::lock_guard lock(mu_);
    return exec_;
}

bool Processor::Dead() {
    std::lock_guard lock(mu_);
    return dead_;
}

uint32_t Processor::ProgramCounter() {
    std::lock_guard lock(mu_);
    return hasEntry_ ? entry_ : 0;
}

void Processor::SetFault(Fault fault, uint32_t count) {
    std::lock_guard lock(mu_);
    FaultState& f = faults_;
    switch (fault) {
        case Fault::FailMemory:
            f.failMemory = count;
            break;
        case Fault::FailLoad:
            f.failLoad = count;
            break;
        case Fault::RestartFailure:
            f.restartFailure = count;
            break;
        case Fault::UnrequestedHalt:
            f.unrequestedHalt = count;
            break;
        case Fault::UnrequestedReset:
            f.unrequestedReset = count;
            break;
        case Fault::UnrequestedAddress:
            f.unrequestedAddress = count;
            break;
        case Fault::MissingEvents:
            f.missingEvents = static_cast<int32_t>(count);
            break;
        case Fault::RefuseRequest:
            f.refuse = count;
            break;
        case Fault::ProgrammerHang:
            f.programmerHang = count;
            break;
        case Fault::PowerCut:
            f.powerCutAt = count;
            f.flashWrites = 0;
            break;
        case Fault::ProgressLockstep:
            f.progressLockstep = count;
            break;
    }
}

void Processor::ClearFaults() {
    std::lock_guard lock(mu_);
    faults_ = FaultState{};
}

int32_t Processor::MissingEvents() {
    std::lock_guard lock(mu_);
    return faults_.missingEvents;
}

bool Processor::TakeRefusal() {
    std::lock_guard lock(mu_);
    if (faults_.refuse == 0)
        return false;
    --faults_.refuse;
    return true;
}

RequestFaults Processor::TakeRequestFaults(bool memory, bool load) {
    std::lock_guard lock(mu_);
    RequestFaults r;
    auto take = [](uint32_t& n) {
        if (n == 0)
            return false;
        --n;
        return true;
    };
    r.restartFailure = take(faults_.restartFailure);
    r.halt = take(faults_.unrequestedHalt);
    r.reset = take(faults_.unrequestedReset);
    r.address = take(faults_.unrequestedAddress);
    if (memory)
        r.fail = take(faults_.failMemory);
    if (load)
        r.fail = take(faults_.failLoad);
    return r;
}

}  // namespace qel::bench
