#include "engine/blocks/BlockDynamics.h"

#include "BlockTypes.h"
#include "engine/Exc.h"
#include "engine/blocks/LittleEndian.h"

#include <algorithm>

using qel::blocks::GetLe32;
using qel::blocks::PutLe32;

namespace {
constexpr const char* kSource = "BlockDynamics";
}

CBlockDynamics::CBlockDynamics(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockAlign(flash, flashOffset) {
    header_.type = qel::block::kTypeDynamics;
    ClearDataLength();
}

void CBlockDynamics::EnsureList() {
    if (listBuilt_)
        return;
    // After a CRC failure the list stays empty rather than reading the flash
    // again on every call; a read the DSP did not complete is tried again
    // (an empty list taken for the stored one would lose its values).
    try {
        LoadData(false);
    } catch (const CExc& e) {
        if (e.code == ERR_NOT_VALID_BLOCK)
            listBuilt_ = true;
        throw;
    }
    listBuilt_ = true;
    list_.clear();
    // A damaged payload that is not a whole number of pairs stops at the
    // last complete one.
    const size_t bytes = std::min<size_t>(header_.dataLength, data_.size());
    for (size_t at = 0; at + RecordBytes <= bytes; at += RecordBytes) {
        list_.push_back({GetLe32(data_.data() + at), GetLe32(data_.data() + at + 4)});
    }
}

void CBlockDynamics::Serialise() {
    // With an empty list the old buffer stays; its length in the header is
    // then 0, so nothing of it is written or checked.
    if (list_.empty())
        return;
    data_.assign(ListBytes(), 0);
    uint8_t* at = data_.data();
    for (const Dynamic& d : list_) {
        PutLe32(at, d.address);
        PutLe32(at + 4, d.value);
        at += RecordBytes;
    }
}

void CBlockDynamics::CheckIndex(uint32_t index) const {
    if (index >= list_.size())
        QEL_RAISE(ERR_INDEX_OUT_OF_RANGE, kSource);
}

uint32_t CBlockDynamics::GetDynamicCount() {
    EnsureList();
    return static_cast<uint32_t>(list_.size());
}

void CBlockDynamics::GetDynamic(uint32_t index, uint32_t* address, uint32_t* value) {
    EnsureList();
    CheckIndex(index);
    if (address)
        *address = list_[index].address;
    if (value)
        *value = list_[index].value;
}

void CBlockDynamics::AddDynamic(uint32_t address, uint32_t value) {
    const uint64_t grown = uint64_t{header_.dataOffset} + header_.dataLength + RecordBytes;
    CheckAlignedSpace(grown, kSource);
    EnsureList();
    list_.push_back({address, value});
    SetDataLength(ListBytes());
    ListChanged();
}

void CBlockDynamics::SetDynamic(uint32_t index, uint32_t address, uint32_t value) {
    EnsureList();
    CheckIndex(index);
    list_[index] = {address, value};
    SetDataLength(ListBytes());
    ListChanged();
}

void CBlockDynamics::RemoveDynamic(uint32_t index) {
    EnsureList();
    CheckIndex(index);
    list_.erase(list_.begin() + index);
    SetDataLength(ListBytes());
    ListChanged();
}

void CBlockDynamics::ClearDynamics() {
    EnsureList();
    for (size_t n = list_.size(); n > 0; --n) RemoveDynamic(0);
}

void CBlockDynamics::Write(bool countOnly) {
    Serialise();
    CBlockAlign::Write(countOnly);
}

uint32_t CBlockDynamics::SetDataLength(uint32_t length) {
    Serialise();
    return CBlockAlign::SetDataLength(length);
}

void CBlockDynamics::ListChanged() {
    SetModified(true);
}
