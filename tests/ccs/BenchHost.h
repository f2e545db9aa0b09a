// A bench of the test's own and a host that drives one processor's flash
// programmer model through the DSP user, the way the flash object does:
// command block words written through DSP values and 4-byte memory objects,
// data moved through the transfer buffer in memory objects of 8192 bytes.
#pragma once

#include "bench/include/QelBench.h"
#include "engine/ccs/CCSWrappers.h"
#include "engine/ccs/NewDspUser.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ccs_test {

// The command block of the programmer (word numbers).
enum : int {
    kWordCode = 0,
    kWordResult = 1,
    kWordStatus = 9,
    kWordControl = 10,
    kWordProgress = 11
};
enum : uint32_t { kStatusReady = 2, kStatusComplete = 3 };

// The transfer buffers the tests hand to command 1 (in SDRAM of every sample TIM).
struct Buffers {
    uint32_t sector = 0x80000000;
    uint32_t transfer = 0x80040000;
    uint32_t transferSize = 0x80000;
    uint32_t save = 0x80100000;
    uint32_t saveSize = 0x100000;
};

// The bench library is a placeholder without its server.
struct BenchUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class BenchHost {
  public:
    // A private bench over the embedded default description, its flash images
    // in stateFolder.
    explicit BenchHost(const std::string& stateFolder, const std::string& description = {});
    ~BenchHost();
    BenchHost(const BenchHost&) = delete;
    BenchHost& operator=(const BenchHost&) = delete;

    // Board 0's processor of that name, as its index and its DSP user.
    int ProcessorIndex(const std::string& name);
    CCDspUser User(int processor);
    qel::bench::IBenchControl& Control() { return *control_; }

    CCApplication app;
    CCDspBoards boards;
    CCDspBoard board;
    CCDspTasks tasks;

  private:
    qel::bench::IBenchControl* control_ = nullptr;
};

// The programmer of one sample TIM type.
struct TimFiles {
    const char* programmerName;  // in <bin>/firmware/programmers
    uint32_t timType;
    uint32_t base;  // programmer base
    uint32_t commandBlock;
};
const TimFiles& Qt6201();
const TimFiles& Qt6403();

class ProgrammerHost : public CDspUserOwner {
  public:
    ProgrammerHost(BenchHost& bench, int processor, const TimFiles& tim, std::string tempFolder,
                   Buffers buffers = {});
    ~ProgrammerHost() override;

    // Halts a running target, loads the FDB image and the programmer, starts
    // it and runs the initialisation command; its result (0: flash access).
    uint32_t LoadProgrammer();
    // Runs one command and returns its result word once it completed.
    uint32_t Command(uint32_t code, std::initializer_list<uint32_t> args = {});
    // Announces and starts a command without waiting for it.
    void StartCommand(uint32_t code, std::initializer_list<uint32_t> args = {});
    uint32_t Word(int index);
    void SetWord(int index, uint32_t value);

    // Target memory in memory objects of at most `piece` bytes; the words of
    // each piece are taken out with GetWord.
    void WriteTarget(uint32_t address, const std::vector<uint8_t>& bytes, uint32_t piece = 8192);
    std::vector<uint8_t> ReadTarget(uint32_t address, uint32_t length, uint32_t piece = 8192);

    // Write records (source 0) into the transfer buffer, ended by a zero
    // record, and programmed with command 4.
    struct Record {
        uint32_t source;
        uint32_t offset;
        std::vector<uint8_t> data;  // for source 0; its size is the length otherwise too
    };
    uint32_t Program(const std::vector<Record>& records);
    // The records in the transfer buffer, not programmed.
    void Stage(const std::vector<Record>& records);
    // Flash bytes through command 2 and the transfer buffer.
    std::vector<uint8_t> ReadFlash(uint32_t offset, uint32_t length);

    void DspStateChanged() override { ++stateChanges; }

    BenchHost& bench;
    int processor;
    const TimFiles& tim;
    Buffers buffers;
    CNewDspUser user;
    std::atomic<int> stateChanges{0};

  private:
    std::string programmerPath_;
    std::string fdbPath_;
    std::vector<CCDspMemory> words_;
    std::vector<CCDspValue> values_;
};

// A memory object's host copy as bytes (GetWord per word).
std::vector<uint8_t> WordsOf(const CCDspMemory& memory, uint32_t length);

std::vector<uint8_t> Pattern(uint32_t length, uint32_t seed);

}  // namespace ccs_test
