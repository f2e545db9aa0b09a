// The editing operations of IFFlash: they run on the caller's thread under
// the flash object's lock and change only the chain in host memory.
#include "engine/Flash.h"

#include "engine/blocks/BlockBootLoader.h"
#include "engine/blocks/BlockDynamics.h"
#include "engine/blocks/BlockFactory.h"
#include "engine/blocks/BlockFpga.h"
#include "engine/blocks/BlockUser.h"
#include "engine/ccs/CCException.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kSource = "Flash";

constexpr uint32_t kBootLoaderPosition = 1;
constexpr uint32_t kFpgaPosition = 3;
constexpr uint32_t kDynamicsPosition = 4;

using Guard = qel::platform::CriticalSectionLock;

// Editing calls that read the flash on the caller's thread: the debugger's
// exception must reach the caller as the engine's error.
template <class Call>
decltype(auto) ReadingFlash(Call&& call) {
    try {
        return call();
    } catch (const CCException& e) {
        char text[128];
        e.GetErrorMessage(text, sizeof(text));
        QEL_RAISE_DETAIL(ERR_CCS_EXCEPTION, kSource, text);
    }
}

}  // namespace

void CFlash::CopyText(const std::string& text, char* buffer, uint32_t* size) {
    if (!size)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    // A caller may ask for the size it needs with an empty buffer.
    if (text.size() >= *size) {
        *size = static_cast<uint32_t>(text.size() + 1);
        QEL_RAISE(ERR_BUFFER_TOO_SMALL, kSource);
    }
    if (!buffer)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    memcpy(buffer, text.c_str(), text.size() + 1);
}

template <class T>
T* CFlash::FixedBlock(uint32_t position) {
    T* block = dynamic_cast<T*>(chain_.At(position));
    // A damaged chain may hold another block at a fixed position.
    if (!block)
        QEL_RAISE(ERR_CANNOT_FIND_BLOCK, kSource);
    return block;
}

CBlockUser* CFlash::UserBlockAt(uint32_t index) {
    if (index >= chain_.UserBlockCount())
        QEL_RAISE(ERR_INDEX_OUT_OF_RANGE, kSource);
    CBlock* block = chain_.At(index + CBlockChain::FirstUserPosition);
    if (qel::block::ClassOf(block->GetHeader()->type) != CBlockUser::TypeCode) {
        QEL_RAISE(ERR_INDEX_OUT_OF_RANGE, kSource);
    }
    auto* user = dynamic_cast<CBlockUser*>(block);
    if (!user)
        QEL_RAISE(ERR_INDEX_OUT_OF_RANGE, kSource);
    return user;
}

bool CFlash::IsModified() {
    Guard guard(lock_);
    return std::any_of(chain_.begin(), chain_.end(),
                       [](const auto& block) { return block->IsModified(); });
}

bool CFlash::IsBlockModified(uint32_t position) {
    Guard guard(lock_);
    return chain_.At(position)->IsModified();
}

void CFlash::GetTimType(uint32_t* code) {
    Guard guard(lock_);
    const TimData& tim = RequireTim();
    if (code)
        *code = tim.timType;
}

void CFlash::GetDetectState(uint32_t* state) {
    Guard guard(lock_);
    if (state)
        *state = detectState_;
}

void CFlash::GetBlockCount(uint32_t* count) {
    Guard guard(lock_);
    if (count)
        *count = chain_.Count();
}

void CFlash::GetBlock(uint32_t position, BlockHeader* header, void* extra, uint32_t extraSize) {
    Guard guard(lock_);
    CBlock* block = chain_.At(position);
    if (header)
        *header = *block->GetHeader();
    uint32_t size = 0;
    const uint8_t* record = block->GetExtraHeader(&size);
    if (extra && record && extraSize >= size)
        memcpy(extra, record, size);
}

void CFlash::SetBlockId(uint32_t position, uint32_t id) {
    Guard guard(lock_);
    chain_.At(position)->SetId(id);
}

void CFlash::SetBlockVersion(uint32_t position, uint32_t version) {
    Guard guard(lock_);
    chain_.At(position)->SetVersion(version);
}

void CFlash::SetBootLoader(const char* file) {
    Guard guard(lock_);
    const TimData& tim = RequireTim();
    auto bootFile = std::make_unique<CBootFile>();
    bootFile->Load(file ? file : tim.defaultLoaderPath.c_str());
    FixedBlock<CBlockAbsolute>(0)->SetContents(bootFile->GetInitImage());
    FixedBlock<CBlockAbsolute>(1)->SetContents(bootFile->GetLoaderImage());
    FixedBlock<CBlockAbsolute>(2)->SetContents(bootFile->GetFdbImage());
    bootFile_ = std::move(bootFile);
    ChainChanged();
}

void CFlash::GetBootLoaderInfo(BlockHeader* header, char* name, uint32_t* nameSize) {
    Guard guard(lock_);
    auto* loader = FixedBlock<CBlockBootLoader>(kBootLoaderPosition);
    if (header)
        *header = *loader->GetHeader();
    if (!name)
        return;
    if (!nameSize || *nameSize < 16) {
        if (nameSize)
            *nameSize = 16;
        QEL_RAISE(ERR_BUFFER_TOO_SMALL, kSource);
    }
    const std::string loaderName = loader->GetLoaderName();
    memset(name, 0, 16);
    memcpy(name, loaderName.data(), std::min<size_t>(loaderName.size(), 15));
}

void CFlash::GetDefaultLoader(char* buffer, uint32_t* size) {
    Guard guard(lock_);
    CopyText(RequireTim().defaultLoaderPath, buffer, size);
}

void CFlash::SetBoot(bool boot) {
    Guard guard(lock_);
    RequireTim();
    FixedBlock<CBlockBootLoader>(kBootLoaderPosition)->SetBoot(boot);
}

bool CFlash::IsBoot() {
    Guard guard(lock_);
    RequireTim();
    return FixedBlock<CBlockBootLoader>(kBootLoaderPosition)->IsBoot();
}

void CFlash::GetBootloaderPath(char* buffer, uint32_t* size) {
    Guard guard(lock_);
    CopyText(bootloaderFolder_, buffer, size);
}

void CFlash::SetBitstream(const char* file) {
    Guard guard(lock_);
    const TimData& tim = RequireTim();
    const std::string path =
        file ? std::string(file) : FindBitstream(bitstreamFolder_, tim.timType);
    FixedBlock<CBlockFpga>(kFpgaPosition)->SetBitstream(path.c_str());
}

void CFlash::GetFpgaBlock(BlockHeader* header, uint8_t* extra) {
    Guard guard(lock_);
    CBlock* block = chain_.At(kFpgaPosition);
    if (header)
        *header = *block->GetHeader();
    uint32_t size = 0;
    const uint8_t* record = block->GetExtraHeader(&size);
    if (extra && record)
        memcpy(extra, record, std::min<uint32_t>(size, FPGA_RECORD_SIZE));
}

void CFlash::GetBitstreamPath(char* buffer, uint32_t* size) {
    Guard guard(lock_);
    CopyText(bitstreamFolder_, buffer, size);
}

void CFlash::GetDynamicCount(uint32_t* count) {
    Guard guard(lock_);
    const uint32_t n = ReadingFlash(
        [&] { return FixedBlock<CBlockDynamics>(kDynamicsPosition)->GetDynamicCount(); });
    if (count)
        *count = n;
}

void CFlash::GetDynamic(uint32_t index, uint32_t* address, uint32_t* value) {
    Guard guard(lock_);
    ReadingFlash(
        [&] { FixedBlock<CBlockDynamics>(kDynamicsPosition)->GetDynamic(index, address, value); });
}

void CFlash::AddDynamic(uint32_t address, uint32_t value) {
    Guard guard(lock_);
    ReadingFlash(
        [&] { FixedBlock<CBlockDynamics>(kDynamicsPosition)->AddDynamic(address, value); });
}

void CFlash::SetDynamic(uint32_t index, uint32_t address, uint32_t value) {
    Guard guard(lock_);
    ReadingFlash(
        [&] { FixedBlock<CBlockDynamics>(kDynamicsPosition)->SetDynamic(index, address, value); });
}

void CFlash::RemoveDynamic(uint32_t index) {
    Guard guard(lock_);
    ReadingFlash([&] { FixedBlock<CBlockDynamics>(kDynamicsPosition)->RemoveDynamic(index); });
}

void CFlash::ClearDynamics() {
    Guard guard(lock_);
    ReadingFlash([&] { FixedBlock<CBlockDynamics>(kDynamicsPosition)->ClearDynamics(); });
}

void CFlash::GetUserBlockCount(uint32_t* count) {
    Guard guard(lock_);
    if (count)
        *count = chain_.UserBlockCount();
}

void CFlash::AddUserBlock(uint32_t subtype, const UserBlockRecord* record, uint32_t id,
                          uint32_t major, uint32_t minor, int32_t index) {
    Guard guard(lock_);
    if (!record)
        QEL_RAISE(ERR_NO_FILENAME, "BlockUser");
    std::unique_ptr<CBlock> block = NewBlock(qel::block::UserType(subtype), 0);
    auto* user = dynamic_cast<CBlockUser*>(block.get());
    if (!user)
        QEL_RAISE(ERR_CANNOT_CREATE_BLOCK, kSource);
    user->StoreVersion((major << 16) | minor);
    user->SetFromFile(record, id, true);
    const uint32_t count = chain_.UserBlockCount();
    uint32_t at = count;
    if (count != 0 && index >= 0 && static_cast<uint32_t>(index) < count) {
        at = static_cast<uint32_t>(index);
    }
    chain_.Insert(std::move(block), at + CBlockChain::FirstUserPosition);
    ChainChanged();
}

void CFlash::EditUserBlock(uint32_t index, uint32_t id, uint32_t version,
                           const UserBlockRecord* record) {
    Guard guard(lock_);
    if (!record)
        QEL_RAISE(ERR_NO_FILENAME, "BlockUser");
    CBlockUser* user = UserBlockAt(index);
    // The record first: when it is refused, the block is left as it was.
    const uint32_t totalBefore = user->GetTotalSize();
    ReadingFlash([&] { user->SetProperties(record); });
    user->SetId(id);
    user->SetVersion(version);
    if (user->GetTotalSize() != totalBefore) {
        PlaceBlocks(false, true);
        ChainChanged();
    }
}

void CFlash::RemoveUserBlock(uint32_t index) {
    Guard guard(lock_);
    if (index >= chain_.UserBlockCount())
        QEL_RAISE(ERR_INDEX_OUT_OF_RANGE, kSource);
    chain_.Unlink(index + CBlockChain::FirstUserPosition);
    PlaceBlocks(false, true);
    ChainChanged();
}

void CFlash::MoveUserBlock(uint32_t from, uint32_t to) {
    Guard guard(lock_);
    if (from == to)
        return;
    const uint32_t count = chain_.UserBlockCount();
    if (from >= count || to >= count)
        QEL_RAISE(ERR_INDEX_OUT_OF_RANGE, kSource);
    std::unique_ptr<CBlock> block = chain_.Unlink(from + CBlockChain::FirstUserPosition);
    chain_.Insert(std::move(block), to + CBlockChain::FirstUserPosition);
    PlaceBlocks(false, true);
    ChainChanged();
}

void CFlash::VerifyUserBlock(uint32_t index, const char* file) {
    Guard guard(lock_);
    if (!file)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);
    BlockHeader header;
    UserBlockRecord record;
    GetUserBlock(index, &header, &record);
    std::unique_ptr<CBlock> scratch = NewBlock(header.type, 0);
    auto* user = dynamic_cast<CBlockUser*>(scratch.get());
    if (!user)
        QEL_RAISE(ERR_CANNOT_CREATE_BLOCK, kSource);
    memset(record.fileName, 0, sizeof(record.fileName));
    strncpy(record.fileName, file, sizeof(record.fileName) - 1);
    user->SetFromFile(&record, header.id, false);
    if (user->GetHeader()->crc != header.crc)
        QEL_RAISE(ERR_VERIFY_FAILED, kSource);

    // The header alone proves nothing about the flash: a commit cut short can
    // leave a header whose payload was never written. Check the stored copy.
    CBlockUser* stored = UserBlockAt(index);
    if (stored->IsDataLoaded())
        return;
    try {
        ReadingFlash([&] { stored->LoadData(false); });
    } catch (const CExc& e) {
        if (e.code != ERR_NOT_VALID_BLOCK)
            throw;
        QEL_RAISE_DETAIL(ERR_VERIFY_FAILED, kSource, e.detail);
    }
}

void CFlash::SetUserBlockBootable(uint32_t index, bool bootable) {
    Guard guard(lock_);
    UserBlockAt(index)->SetBootable(bootable);
}

void CFlash::GetUserBlock(uint32_t index, BlockHeader* header, UserBlockRecord* record) {
    Guard guard(lock_);
    CBlockUser* user = UserBlockAt(index);
    if (header)
        *header = *user->GetHeader();
    if (record)
        *record = user->GetRecord();
}

void CFlash::GetFlashSize(uint32_t* bytes) {
    if (bytes)
        *bytes = flashSize_;
}

void CFlash::GetUsedSize(uint32_t* bytes) {
    if (bytes)
        *bytes = usedSize_;
}

const CFlashExc* CFlash::GetLastError() {
    return &lastError_;
}
