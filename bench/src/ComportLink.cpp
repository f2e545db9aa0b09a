#include "ComportLink.h"

#include "BootImage.h"
#include "ComBase.h"
#include "Server.h"
#include "include/ComportImageFormat.h"

#include <algorithm>

namespace qel::bench {

namespace {

bool Overlap(uint64_t a, uint64_t aLength, uint64_t b, uint64_t bLength) {
    return a < b + bLength && b < a + aLength;
}

class ComportLink final : public RefCounted<IComportLink> {
  public:
    explicit ComportLink(std::shared_ptr<Core> core) : core_(std::move(core)) {}

    HResult GetCarrierCount(int32_t* count) override {
        if (!count)
            return kPointer;
        *count = static_cast<int32_t>(Carriers().size());
        return kOk;
    }
    HResult GetCarrierBoard(int32_t carrier, int32_t* board) override {
        if (!board)
            return kPointer;
        const std::vector<int32_t> carriers = Carriers();
        if (carrier < 0 || carrier >= static_cast<int32_t>(carriers.size()))
            return kBadIndex;
        *board = carriers[static_cast<size_t>(carrier)];
        return kOk;
    }
    HResult SetCarrierPresent(int32_t board, VariantBool present) override {
        if (board < 0 || board >= core_->BoardCount())
            return kBadIndex;
        std::lock_guard lock(core_->comportMu);
        auto& absent = core_->absentCarriers;
        absent.erase(std::remove(absent.begin(), absent.end(), board), absent.end());
        if (present != kVariantTrue)
            absent.push_back(board);
        return kOk;
    }
    HResult ResetTim(int32_t board) override {
        const HResult r = Ready(board);
        if (Failed(r))
            return r;
        for (Processor* p : FirstSite(board)) p->Reset();
        return kOk;
    }
    HResult SendBootImage(int32_t board, const void* image, uint32_t length,
                          std::string* reason) override {
        if (!image && length)
            return kPointer;
        const HResult r = Ready(board);
        if (Failed(r))
            return r;
        std::string why;
        BootImage boot;
        const auto* bytes = static_cast<const uint8_t*>(image);
        if (ReadBootImage(bytes, length, boot, why) && Load(board, bytes, boot, why))
            return kOk;
        if (reason)
            *reason = why;
        return kBootRefused;
    }
    HResult GetExecution(int32_t board, int32_t processor, int32_t* state,
                         uint32_t* programCounter) override {
        if (!state || !programCounter)
            return kPointer;
        Core::Slot* slot = core_->Find(board, processor);
        if (!slot)
            return kBadIndex;
        *state = slot->processor->ExecState();
        *programCounter = slot->processor->ProgramCounter();
        return kOk;
    }

  private:
    std::vector<int32_t> Carriers() {
        std::vector<int32_t> carriers;
        std::lock_guard lock(core_->comportMu);
        const auto& absent = core_->absentCarriers;
        for (int32_t b = 0; b < core_->BoardCount(); ++b)
            if (std::find(absent.begin(), absent.end(), b) == absent.end())
                carriers.push_back(b);
        return carriers;
    }

    // The link acts after the requests already made to the board.
    HResult Ready(int32_t board) {
        if (!core_->Find(board, 0))
            return kBadIndex;
        if (Worker::OnAnyWorker())
            return kWrongThread;
        core_->BoardWorker(board)->Drain();
        return kOk;
    }

    // The processors of the board's first module.
    std::vector<Processor*> FirstSite(int32_t board) {
        std::vector<Processor*> site;
        Processor* first = core_->Find(board, 0)->processor.get();
        for (int i = 0; Core::Slot* slot = core_->Find(board, i); ++i)
            if (&slot->processor->GetModule() == &first->GetModule())
                site.push_back(slot->processor.get());
        return site;
    }

    // Every check before the first byte lands, so a refused image changes
    // nothing on the target.
    bool Load(int32_t board, const uint8_t* bytes, const BootImage& boot, std::string& why) {
        Processor& target = *core_->Find(board, 0)->processor;
        const uint32_t loaderSize = comport::kBootLoaderSize;
        if (boot.newFormat) {
            if (boot.loaderAddress % comport::kBootLoaderAlign != 0 ||
                !target.IsRam(boot.loaderAddress, loaderSize)) {
                why = "no room for the boot loader at " + Hex(boot.loaderAddress);
                return false;
            }
        }
        for (const BootImage::Record& r : boot.records) {
            if (!target.IsRam(r.address, r.length)) {
                why = "record of " + Hex(r.length) + " bytes at " + Hex(r.address) +
                      " does not land in writable memory";
                return false;
            }
            if (boot.newFormat && Overlap(r.address, r.length, boot.loaderAddress, loaderSize)) {
                why = "record at " + Hex(r.address) + " overwrites the boot loader";
                return false;
            }
        }
        target.BootLoad(bytes, boot);
        target.Run();
        return true;
    }

    static std::string Hex(uint32_t v) {
        char text[16];
        snprintf(text, sizeof(text), "0x%X", v);
        return text;
    }

    std::shared_ptr<Core> core_;
};

}  // namespace

void Processor::BootLoad(const uint8_t* image, const BootImage& boot) {
    StopProgrammer();
    std::lock_guard lock(mu_);
    exec_ = kExecHalted;
    for (const BootImage::Record& r : boot.records)
        WriteRamLocked(r.address, image + r.offset, r.length);
    hasEntry_ = true;
    entry_ = boot.entry;
}

HResult CreateComportLink(const std::shared_ptr<Core>& core, void** out) {
    if (!out)
        return kPointer;
    *out = static_cast<IComportLink*>(new ComportLink(core));
    return kOk;
}

}  // namespace qel::bench
