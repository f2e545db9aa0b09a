#include "converter/Memory.h"

#include "QELExc.h"
#include "QelDrvErrors.h"
#include "QelTimInfoLoad.h"

namespace {

constexpr const char* kSource = "qeldrv\\memory";

[[noreturn]] void Raise(uint32_t code, uint32_t line) {
    throw QelExcept(code, line, kSource, qel::drv::ErrorText(code));
}

}  // namespace

CMemory::CMemory() = default;

CMemory::CMemory(const char* timType) : binder_(std::make_unique<CQelTimInfoLoad>()) {
    database_ = binder_->QelTimInfoOpen(0);
    if (!database_)
        return;
    try {
        const CQelTimRecord* record = database_->FindByName(timType ? timType : "");
        if (!record)
            Raise(qel::drv::kErrCoffUnknownTim, __LINE__);
        for (int k = 0;; ++k) {
            TIMRec entry(0);
            if (record->GetEntry("Memory", &entry, k) != 0)
                break;
            AddRegion(entry.number[1], entry.number[0]);
        }
    } catch (const TimExc& e) {
        binder_->QelTimInfoClose(database_);
        throw QelExcept(qel::drv::kErrTimInfoLibrary, __LINE__, kSource, e.Text());
    } catch (...) {
        binder_->QelTimInfoClose(database_);
        throw;
    }
}

CMemory::~CMemory() {
    if (database_)
        binder_->QelTimInfoClose(database_);
    // The list is freed from its head, one node at a time, however long.
    while (head_) head_ = std::move(head_->next);
}

void CMemory::AddRegion(uint32_t size, uint32_t start) {
    head_ = std::make_unique<Region>(Region{size, start, std::move(head_)});
}

bool CMemory::Reserve(uint32_t size, uint32_t address) {
    if (size == 0)
        return true;
    const uint64_t end = uint64_t{address} + size;
    for (Region* r = head_.get(); r; r = r->next.get()) {
        const uint64_t regionEnd = uint64_t{r->start} + r->size;
        if (r->start > address || regionEnd < end)
            continue;
        if (address == r->start) {
            r->start += size;
            r->size -= size;
        } else if (end == regionEnd) {
            r->size -= size;
        } else {
            r->next =
                std::make_unique<Region>(Region{static_cast<uint32_t>(regionEnd - end),
                                                static_cast<uint32_t>(end), std::move(r->next)});
            r->size = address - r->start;
        }
        return true;
    }
    Raise(qel::drv::kErrCoffPlacement, __LINE__);
}

bool CMemory::AllocateHigh(uint32_t size, uint32_t* address) {
    for (Region* r = head_.get(); r; r = r->next.get()) {
        if (r->size < size)
            continue;
        r->size -= size;
        if (address)
            *address = r->start + r->size;
        return true;
    }
    return false;
}
