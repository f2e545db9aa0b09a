// Selecting a TIM type: the TIM data, the DSP memory plan, the register
// settings and the Flash Data Block on the DSP.
#include "engine/Flash.h"

#include "engine/blocks/BlockAbsolute.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kSource = "Flash";

// Reads a key that may be absent; false when it is.
bool TryGetInt(const CQelTimRecord* record, const char* key, int* value) {
    try {
        *value = record->GetInt(key, 0);
        return true;
    } catch (const except_int_not_found&) {
        return false;
    }
}

}  // namespace

TimData& CFlash::RequireTim() {
    if (!timData_)
        QEL_RAISE(ERR_NO_TIM_SELECTED, kSource);
    return *timData_;
}

void CFlash::InstallTimData(std::unique_ptr<TimData> data) {
    timData_ = std::move(data);
    flashSize_ = timData_ ? static_cast<uint32_t>(timData_->FlashSize()) : 0;
}

void CFlash::SetupTimData(const CQelTimRecord* record) {
    if (!record)
        QEL_RAISE(ERR_INVALID_PARAMETER, kSource);

    // The processor must be of the TIM's family.
    const uint32_t id = dspUser_.GetProcessorId();
    const uint32_t family = id >> 22;
    const uint32_t subFamily = (id >> 10) & 0xFFF;
    if (subFamily == 100 && ((id >> 3) & 0x7F) == 0x37)
        wideCommandBlock_ = true;
    int timFamily = 0;
    int timSubFamily = 0;
    if (TryGetInt(record, "Family", &timFamily) && TryGetInt(record, "SubFamily", &timSubFamily)) {
        if (static_cast<uint32_t>(timFamily) != family)
            QEL_RAISE(ERR_WRONG_FAMILY, kSource);
        if (static_cast<uint32_t>(timSubFamily) != subFamily) {
            QEL_RAISE(ERR_WRONG_SUBFAMILY, kSource);
        }
    }

    auto data = std::make_unique<TimData>();
    data->timType = static_cast<uint32_t>(GetTimInt("TimType", record));
    data->flashAddress = static_cast<uint32_t>(GetTimInt("Flash_Addr", record)) +
                         static_cast<uint32_t>(GetTimInt("Flash_Offset", record));
    data->defaultLoaderPath = JoinPath(bootloaderFolder_, GetTimString("Loader", record));
    try {
        data->chipErase = record->GetInt("UseChipErase", 0) != 0;
    } catch (...) {
        data->chipErase = false;
    }
    const std::string bootPath = JoinPath(bootloaderFolder_, GetTimString("Loader", record));
    const std::string programmerPath = JoinPath(programmerFolder_, GetTimString("Util", record));

    TIMRec entry(0);
    for (int n = 0; record->GetEntry("Set", &entry, n) == 0; ++n) {
        if (entry.number[0] == 0) {
            data->registerSettings.insert(data->registerSettings.begin(),
                                          {entry.number[1], entry.number[2]});
        }
    }
    uint32_t largestSize = 0;
    for (int n = 0; record->GetEntry("Memory", &entry, n) == 0; ++n) {
        const uint32_t start = entry.number[0];
        const uint32_t size = entry.number[1];
        if (strcmp(entry.text[0], "INTERNAL") == 0)
            data->internalStart = start;
        if (size > largestSize) {
            largestSize = size;
            data->largestRegionStart = start;
        }
        data->memoryMap.AddRegion(size, start);
    }

    CBootFile scratch;
    scratch.Load(bootPath.c_str());
    if (!scratch.GetInitImage())
        QEL_RAISE(ERR_NOT_VALID_INIT_BLOCK, kSource);
    data->sectorSize = scratch.GetSectorSize();
    data->sectorCount = scratch.GetSectorCount();
    // Sector arithmetic masks with the size: only a power of two works.
    if (data->sectorSize == 0 || (data->sectorSize & (data->sectorSize - 1)) != 0) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_INIT_BLOCK, kSource,
                         "Sector size 0x%X in the boot file is not a power of two",
                         data->sectorSize);
    }
    uint32_t fdbTotal = 0;
    if (scratch.GetFdbImage()) {
        BlockHeader fdb;
        memcpy(&fdb, scratch.GetFdbImage(), sizeof(fdb));
        fdbTotal = fdb.totalSize;
    }
    data->plan = PlanDspMemory({data->largestRegionStart, largestSize, data->internalStart,
                                data->sectorSize, data->sectorCount, fdbTotal});

    // From here on the previous TIM data is gone.
    InstallTimData(nullptr);
    auto bootFile = std::make_unique<CBootFile>();
    bootFile->Load(bootPath.c_str());
    bootFile_ = std::move(bootFile);
    programmerImage_.Load(programmerPath.c_str());
    InstallTimData(std::move(data));

    WriteRegisterSettings();
    LoadFdb();
    commandBlockAddress_ = programmerBase_ + (wideCommandBlock_ ? 0x10000 : 0x800);
}

void CFlash::WriteRegisterSettings() {
    // A register the DSP refuses stops neither the selection nor the
    // registers after it.
    try {
        HaltIfRunning();
    } catch (...) {
    }
    for (const auto& [address, value] : timData_->registerSettings) {
        try {
            WriteDspWord(address, value);
        } catch (...) {
        }
    }
}

void CFlash::LoadFdb() {
    if (!bootFile_->GetFdbImage())
        return;
    programmerBase_ = timData_->internalStart;
    std::string path;
    try {
        CObjFile wrapper;
        path = wrapper.WriteTempCoff(bootFile_->GetFdbPayloadSize(), bootFile_->GetFdbPayload(),
                                     programmerBase_, static_cast<int>(instance_));
    } catch (const CExc&) {
        InstallTimData(nullptr);
        throw;
    }
    const int failed = LoadDspProgram(path.c_str());
    std::remove(path.c_str());
    if (failed) {
        InstallTimData(nullptr);
        QEL_RAISE(ERR_LOAD_FDB, kSource);
    }
}

uint32_t CFlash::TimTypeCode() const {
    return timData_ ? timData_->timType : 0;
}

uint32_t CFlash::LargestRegionStart() const {
    return timData_ ? timData_->largestRegionStart : 0;
}

memory* CFlash::MemoryMap() {
    return timData_ ? &timData_->memoryMap : nullptr;
}

uint64_t CFlash::UsedWithout(const CBlock* block) const {
    uint64_t used = chain_.TotalSize();
    for (const auto& b : chain_) {
        if (block && b.get() == block)
            used -= block->GetTotalSize();
    }
    return used;
}

bool CFlash::FitsInFlash(uint32_t newTotalSize, const CBlock* block) {
    // Without a TIM there is no flash size to fit into.
    const TimData& tim = RequireTim();
    return newTotalSize + UsedWithout(block) <= tim.FlashSize();
}

void CFlash::DescribeSpace(uint32_t newTotalSize, const CBlock* block, char* text, size_t size) {
    const uint64_t flash = timData_ ? timData_->FlashSize() : 0;
    const uint64_t used = UsedWithout(block);
    snprintf(text, size, "The block needs %u bytes; %llu of the flash's %llu bytes are free",
             newTotalSize, static_cast<unsigned long long>(used < flash ? flash - used : 0),
             static_cast<unsigned long long>(flash));
}
