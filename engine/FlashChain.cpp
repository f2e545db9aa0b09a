// The block chain against the flash: analysis of the programmer's directory,
// the default chain, placement and the two-pass commit.
#include "engine/Flash.h"

#include "BlockTypes.h"
#include "ProgrammerProtocol.h"
#include "engine/FlashDirectory.h"
#include "engine/blocks/BlockFactory.h"
#include "engine/blocks/BlockInit.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
constexpr const char* kSource = "Flash";
}

std::unique_ptr<CBlock> CFlash::NewBlock(uint32_t type, uint32_t offset) {
    std::unique_ptr<CBlock> block = CreateBlock(this, type, offset);
    if (!block)
        QEL_RAISE(ERR_CANNOT_CREATE_BLOCK, kSource);
    return block;
}

std::vector<uint8_t> CFlash::ReadDirectory() {
    const uint32_t length = RunProgrammerCommand(qel::fprog::kCommandDirectory, 0, nullptr);
    const TimData& tim = RequireTim();
    // The directory is built in the transfer buffer: it cannot be longer.
    if (length > tim.plan.transferSize) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                         "Flash directory of %u bytes exceeds the transfer buffer", length);
    }
    std::vector<uint8_t> bytes(length);
    ReadDsp(tim.plan.transferBuffer, length, bytes.data());
    return bytes;
}

void CFlash::RememberDirectory() {
    directoryKnown_ = false;
    try {
        analysedDirectory_ = ReadDirectory();
        directoryKnown_ = true;
    } catch (...) {
        // Not known: the next commit cannot tell whether someone else wrote.
    }
}

void CFlash::CheckFlashUnchanged() {
    if (directoryKnown_ && ReadDirectory() != analysedDirectory_) {
        QEL_RAISE_DETAIL(ERR_FLASH_CHANGED, kSource,
                         "Something else wrote to the flash: select the TIM type again to read it");
    }
}

void CFlash::AnalyseFlash() {
    chain_.Clear();
    directoryKnown_ = false;
    const std::vector<uint8_t> bytes = ReadDirectory();
    analysedDirectory_ = bytes;
    directoryKnown_ = true;
    const auto length = static_cast<uint32_t>(bytes.size());
    if (length == 0)
        QEL_RAISE(ERR_EMPTY_DIRECTORY, kSource);
    const TimData& tim = RequireTim();
    const FlashDirectory directory = ParseFlashDirectory(bytes.data(), length, tim.FlashSize());

    auto init = std::make_unique<CBlockInit>(this, 0);
    init->ReadHeader(directory.initImage);
    chain_.Insert(std::move(init));
    for (const FlashDirectoryEntry& entry : directory.entries) {
        BlockHeader header;
        memcpy(&header, entry.image, sizeof(header));
        std::unique_ptr<CBlock> block = NewBlock(header.type, entry.flashOffset);
        block->ReadHeader(entry.image);
        chain_.Insert(std::move(block));
    }
    CheckChainShape();
    Notify(TELMAR_NOTICE_STATUS, TELMAR_STATUS_CHAIN_READ, 0);
    ChainChanged();
}

// A chain that does not end in a termination block was cut short (a commit
// that lost power, a directory left incomplete); writing it back would leave
// a flash without an end. The editing operations also rely on the fixed
// blocks at positions 1 to 4.
void CFlash::CheckChainShape() {
    const uint32_t count = chain_.Count();
    bool complete = count >= CBlockChain::FixedBlocks;
    for (uint32_t type = qel::block::kTypeBootLoader; complete && type <= qel::block::kTypeDynamics;
         ++type) {
        complete = qel::block::ClassOf(chain_.At(type)->GetHeader()->type) == type;
    }
    if (complete) {
        complete = qel::block::ClassOf(chain_.At(count - 1)->GetHeader()->type) ==
                   qel::block::kTypeTermination;
    }
    if (!complete) {
        chain_.Clear();
        QEL_RAISE_DETAIL(ERR_NOT_VALID_BLOCK, kSource, "The flash holds no complete block chain");
    }
}

void CFlash::RevertToDefault() {
    Status("Flash contents inconcistent. Reverting to default");
    Notify(TELMAR_NOTICE_STATUS, TELMAR_STATUS_DEFAULT_CHAIN, 0);
    chain_.Clear();
    auto init = std::make_unique<CBlockInit>(this, 0);
    init->SetContents(bootFile_ ? bootFile_->GetInitImage() : nullptr);
    uint32_t offset = init->GetTotalSize();
    chain_.Insert(std::move(init));
    for (uint32_t type : {qel::block::kTypeBootLoader, qel::block::kTypeFdb, qel::block::kTypeFpga,
                          qel::block::kTypeDynamics, qel::block::kTypeTermination}) {
        std::unique_ptr<CBlock> block = NewBlock(type, offset);
        offset += block->GetTotalSize();
        chain_.Insert(std::move(block));
    }
    ChainChanged();
}

void CFlash::PlaceBlocks(bool countOnly, bool markOnly) {
    uint32_t offset = 0;
    for (const auto& block : chain_) {
        const uint32_t size = block->GetTotalSize();
        const bool moved = block->MoveTo(offset, countOnly, markOnly);
        if (moved && !countOnly) {
            char text[64];
            snprintf(text, sizeof(text), "Placing block at address 0x%08X ...", offset);
            Status(text);
        }
        offset += size;
    }
    Status("");
}

void CFlash::QueueFlashWrite(bool countOnly, uint32_t offset, uint32_t length, const uint8_t* data,
                             uint32_t savedImage) {
    const TimData& tim = RequireTim();
    if (uint64_t{offset} + length > tim.FlashSize()) {
        QEL_RAISE_FORMAT(ERR_NOT_ENOUGH_SPACE, kSource,
                         "Write of %u bytes at 0x%08X reaches past the flash", length, offset);
    }
    if (!writePlan_)
        QEL_RAISE(ERR_NO_TRANSFER_BUFFER, kSource);
    writePlan_->Queue(countOnly, offset, length, data, savedImage);
}

// After a failed commit the chain must describe what the flash holds, so
// that a retry keeps or reads every unwritten block where it really lies.
// Blocks written in full live at their new offsets. The others go back to
// their old offsets and lose their kept images, except a block whose old
// place this commit may have overwritten and whose payload the host does
// not hold: the programmer's kept image is then its only copy. The retry
// asks for no new kept image (which would start a new table) and copies from
// that one; should the programmer have lost it, the write reports a failure.
void CFlash::ForgetFailedCommit(const std::vector<std::pair<CBlock*, uint32_t>>& before,
                                const std::vector<WrittenBlock>& pending, bool writing,
                                size_t failedLoad, bool partly) {
    struct Range {
        uint64_t start, end;
    };
    std::vector<Range> programmed;
    if (writing) {
        for (const WrittenBlock& p : pending) {
            if (p.lastLoad >= failedLoad)
                p.block->MarkUnwritten();
            if (p.firstLoad < failedLoad || (partly && p.firstLoad == failedLoad)) {
                const uint64_t start = p.block->FlashOffset();
                programmed.push_back({start, start + p.block->GetTotalSize()});
            }
        }
    }
    for (const auto& [block, offset] : before) {
        if (!block->IsModified()) {
            block->ForgetSavedImage();
            continue;
        }
        const uint64_t end = uint64_t{offset} + block->GetTotalSize();
        bool overwritten = false;
        for (const Range& r : programmed)
            overwritten = overwritten || (r.start < end && offset < r.end);
        if (overwritten && !block->IsDataLoaded() && block->SavedImage() != 0)
            continue;
        block->UndoMove(offset);
    }
}

void CFlash::CommitChain() {
    TimData& tim = RequireTim();
    Status("Commiting data to flash ...");
    Progress(0, 0);
    bytesToRead_ = 0;
    bytesRead_ = 0;
    smallestRefusedKeep_ = 0;
    programmingLoad_ = false;
    writePlan_ = std::make_unique<CWritePlan>(tim.sectorSize, tim.plan.transferSize,
                                              [this](uint32_t size) { ProgramStaged(size); });
    struct PlanReset {
        CFlash& flash;
        ~PlanReset() {
            flash.writePlan_.reset();
            flash.EndPlannedReads();
        }
    } planReset{*this};

    // Where every block lies before this commit: a failed commit puts the
    // blocks it has not written back there.
    std::vector<std::pair<CBlock*, uint32_t>> before;
    before.reserve(chain_.Count());
    keepsHeldOver_ = false;
    for (const auto& block : chain_) {
        before.emplace_back(block.get(), block->FlashOffset());
        keepsHeldOver_ = keepsHeldOver_ || block->SavedImage() != 0;
    }
    std::vector<WrittenBlock> pending;
    bool writing = false;
    try {
        PlaceBlocks(true, false);
        if (bytesToRead_ != 0) {
            mode_ = Reading;
            Status("Reading from flash ...");
        }
        StartPlannedReads();
        PlaceBlocks(false, false);
        EndPlannedReads();

        Status("Calculating write cost ...");
        for (const auto& block : chain_) block->Write(true);
        writePlan_->Flush(true);

        mode_ = Writing;
        writePlan_->Rewind();
        Status("Writing to flash ...");
        writing = true;
        for (const auto& block : chain_) {
            const bool modified = block->IsModified();
            const size_t firstLoad = writePlan_->CurrentIndex();
            block->Write(false);
            if (modified)
                pending.push_back({block.get(), firstLoad, writePlan_->CurrentIndex()});
        }
        writePlan_->Flush(false);
    } catch (...) {
        ForgetFailedCommit(before, pending, writing, writePlan_->CurrentIndex(), programmingLoad_);
        programmingLoad_ = false;
        throw;
    }
    // Kept images served this commit only.
    for (const auto& block : chain_) block->ForgetSavedImage();

    // The plan knows the total: the last notice the programmer happened to
    // give may be none, or the reading phase's.
    const uint32_t total = tim.sectorSize * writePlan_->TotalSectors();
    Progress(total, total);
    mode_ = Idle;
    // The module now holds the selected TIM type.
    detectState_ = 1;
    detectedCode_ = tim.timType;
}
