// The flash programmer on the DSP: loading it, the command block handshake,
// reads through the transfer buffer, kept images and staged writes.
#include "engine/Flash.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

constexpr const char* kSource = "Flash";
constexpr uint32_t kFlashReadPiece = 32768;
constexpr uint32_t kDspReadPiece = 8192;
constexpr int32_t kTypeData = 7;

enum Word { WCode = 0, WFirstArg = 1, WResult = 1, WStatus = 9, WControl = 10, WProgress = 11 };
constexpr uint32_t kStatusReady = 2;
constexpr uint32_t kStatusComplete = 3;

std::atomic<int64_t> pollBaseMs{50};
std::atomic<int64_t> pollExtraMs{200};

}  // namespace

void CFlash::SetPollIntervals(std::chrono::milliseconds base, std::chrono::milliseconds extra) {
    pollBaseMs = base.count();
    pollExtraMs = extra.count();
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
    const uint32_t args[7] = {programmerBase_,       programmerBase_,       tim.plan.transferBuffer,
                              tim.plan.transferSize, tim.plan.sectorBuffer, tim.plan.saveArea,
                              tim.plan.saveSize};
    const bool access = RunProgrammerCommand(1, 7, args) == 0;
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

uint32_t CFlash::RunProgrammerCommand(uint32_t code, uint32_t argc, const uint32_t* args) {
    TimData& tim = RequireTim();
    if (!tim.flashAccess)
        QEL_RAISE(ERR_NO_FLASH_ACCESS, kSource);
    EnsureProgrammer();

    WriteCommandWord(WControl, 1);
    while (ReadCommandWord(WStatus) != kStatusReady) {
    }
    for (uint32_t i = 0; i < argc; ++i) WriteCommandWord(WFirstArg + static_cast<int>(i), args[i]);
    WriteCommandWord(WCode, code);
    WriteCommandWord(WControl, 2);

    uint32_t lastProgress = 0;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pollBaseMs.load()));
        if (mode_ == Writing || mode_ == Erasing) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pollExtraMs.load()));
        }
        if (ReadCommandWord(WStatus) == kStatusComplete)
            return ReadCommandWord(WResult);
        if (!HasCallback())
            continue;
        const uint32_t progress = ReadCommandWord(WProgress);
        if (progress == lastProgress)
            continue;
        lastProgress = progress;
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
        return;
    }
    const TimData& tim = RequireTim();
    while (length > 0) {
        const uint32_t piece = std::min(length, kFlashReadPiece);
        const uint32_t args[2] = {offset, piece};
        RunProgrammerCommand(2, 2, args);
        ReadDsp(tim.plan.transferBuffer, piece, buffer);
        buffer += piece;
        offset += piece;
        length -= piece;
        bytesRead_ += piece;
        if (bytesToRead_ != 0 && HasCallback())
            Progress(bytesRead_, bytesToRead_);
    }
}

uint32_t CFlash::PreserveBlockImage(uint32_t offset, uint32_t length) {
    const uint32_t args[2] = {offset, length};
    return RunProgrammerCommand(8, 2, args);
}

void CFlash::ProgramStaged(uint32_t size) {
    TimData& tim = RequireTim();
    CObjFile wrapper;
    const std::string path = wrapper.WriteTempCoff(
        size, tim.staging.data(), tim.plan.transferBuffer, static_cast<int>(instance_));
    Status("Loading data to DSP ...");
    // Whether or not the load works, it has replaced the programmer.
    programmerLoaded_ = false;
    const int failed = LoadDspProgram(path.c_str());
    std::remove(path.c_str());
    if (failed) {
        QEL_RAISE_DETAIL(ERR_CCS_LOAD_FAILED, kSource,
                         "Could not bring the staged flash data into the DSP");
    }
    Status("Writing to flash ...");
    programmerLoaded_ = false;
    RunProgrammerCommand(4, 0, nullptr);
}
