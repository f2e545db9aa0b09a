// What the programmer answers, and when it does not: a command whose result
// says the flash was not changed fails, and a programmer that shows no
// progress for the stall limit fails the command instead of holding the
// caller for good.
#include "EngineBench.h"

#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace qel::e2e {
namespace {

using qel::bench::Fault;

// Processor 0 is a QT-6201 (sector erase), processor 1 a QT-6202C (chip erase).
struct Target {
    int processor;
    const char* tim;
};
constexpr Target kSectorErase{0, "QT-6201"};
constexpr Target kChipErase{1, "QT-6202C"};

// The test hook that shortens the engine's stall limit, restored afterwards.
class StallLimit {
  public:
    explicit StallLimit(uint32_t ms) : library_("Telmar.dll") {
        set_ = reinterpret_cast<void (*)(uint32_t)>(
            library_.Symbol("TelmarSetProgrammerStallLimitForTests"));
        if (!set_)
            throw std::runtime_error("libTelmar.so lacks the stall limit hook");
        set_(ms);
    }
    ~StallLimit() { set_(0); }
    StallLimit(const StallLimit&) = delete;
    StallLimit& operator=(const StallLimit&) = delete;

  private:
    qel::platform::DynamicLibrary library_;
    void (*set_)(uint32_t) = nullptr;
};

// A data block added to the chain just read (a default chain on a new image).
void AddData(EngineBench& bench, IFFlash* flash) {
    const UserBlockRecord record = UserRecord(bench.WriteData("data.bin", 5000, 4));
    flash->AddUserBlock(0x10, &record, 0x42, 1, 0, -1);
}

// ------------------------------------------------------------ unwritable flash

struct UnwritableCase {
    const char* name;
    Target target;
    std::function<int(EngineBench&, IFFlash*)> command;
    const char* detail;  // part of the error's detail text
};

void PrintTo(const UnwritableCase& c, std::ostream* out) {
    *out << c.name;
}

const UnwritableCase kUnwritableCases[] = {
    {"Commit", kSectorErase,
     [](EngineBench& bench, IFFlash* flash) {
         AddData(bench, flash);
         return flash->Commit();
     },
     "writing the flash"},
    {"Erase", kSectorErase, [](EngineBench&, IFFlash* flash) { return flash->Erase(); },
     "erasing the flash"},
    {"ChipErase", kChipErase, [](EngineBench&, IFFlash* flash) { return flash->Erase(); },
     "erasing the flash"},
};

class UnwritableFlashTest : public ::testing::TestWithParam<UnwritableCase> {};

// A folder where the module's image should be: the bench can read nothing
// there (an erased flash) and write nothing, and says so in the result word.
TEST_P(UnwritableFlashTest, FailsWithItsOwnErrorAndLeavesTheWorkUndone) {
    const UnwritableCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, c.target.processor);
    bench.ConnectAndSelect(flash, c.target.tim);
    std::string image;
    bench.Control()->GetFlashImagePath(0, c.target.processor, &image);
    ASSERT_FALSE(std::filesystem::exists(image));
    std::filesystem::create_directory(image);

    ASSERT_EQ(c.command(bench, flash), 2);
    const CFlashExc* error = flash->GetLastError();
    EXPECT_EQ(error->code, ERR_CCS_OPERATION) << Describe(error);
    EXPECT_NE(std::string(error->detail).find(c.detail), std::string::npos) << Describe(error);
    EXPECT_TRUE(std::filesystem::is_directory(image));

    // The chain still waits to be written; once the flash takes writes
    // again, the same engine writes it.
    const bool commit = std::string(c.name) == "Commit";
    if (commit) {
        uint32_t count = 0;
        flash->GetBlockCount(&count);
        EXPECT_TRUE(flash->IsBlockModified(count - 2));
    }
    std::filesystem::remove(image);
    ASSERT_EQ(commit ? flash->Commit() : flash->Erase(), 0) << Describe(flash->GetLastError());
    if (commit) {
        EXPECT_FALSE(flash->IsModified());
        const ImageChain chain = WalkImage(bench.FlashImage(0, c.target.processor));
        ASSERT_TRUE(chain.terminated);
        bool found = false;
        for (const ImageBlock& b : chain.blocks) {
            EXPECT_TRUE(b.payloadIntact) << "block at 0x" << std::hex << b.offset;
            found = found || b.header.id == 0x42;
        }
        EXPECT_TRUE(found);
    }
}

INSTANTIATE_TEST_SUITE_P(Programmer, UnwritableFlashTest, ::testing::ValuesIn(kUnwritableCases),
                         CaseName());

// ------------------------------------------------------------ no progress

struct StallCase {
    const char* name;
    Target target;
    // Makes the programmer stop answering; returns what the error detail says.
    std::function<const char*(qel::bench::IBenchControl*, int processor)> arm;
    std::function<int(EngineBench&, IFFlash*)> command;
};

void PrintTo(const StallCase& c, std::ostream* out) {
    *out << c.name;
}

const char* HangNextCommand(qel::bench::IBenchControl* control, int processor) {
    control->SetFault(0, processor, Fault::ProgrammerHang, 1);
    return "running";
}

// Someone else started a command that hangs: the programmer never becomes
// ready for the engine's.
const char* HangBehindTheEngine(qel::bench::IBenchControl* control, int processor) {
    qel::bench::ProgrammerInfo info{};
    control->GetProgrammerInfo(0, processor, &info);
    control->SetFault(0, processor, Fault::ProgrammerHang, 1);
    const uint32_t announce = 1, code = 9, start = 2;
    control->PokeMemory(0, processor, info.commandBlock + 40, &announce, 4);
    control->PokeMemory(0, processor, info.commandBlock, &code, 4);
    control->PokeMemory(0, processor, info.commandBlock + 40, &start, 4);
    control->WaitProgrammerIdle(0, processor);
    control->GetProgrammerInfo(0, processor, &info);
    EXPECT_TRUE(info.hung);
    return "not ready";
}

const StallCase kStallCases[] = {
    {"Erase", kSectorErase, HangNextCommand,
     [](EngineBench&, IFFlash* flash) { return flash->Erase(); }},
    {"ChipErase", kChipErase, HangNextCommand,
     [](EngineBench&, IFFlash* flash) { return flash->Erase(); }},
    {"CommitSetUp", kSectorErase, HangNextCommand,
     [](EngineBench& bench, IFFlash* flash) {
         AddData(bench, flash);
         return flash->Commit();
     }},
    {"NeverReady", kSectorErase, HangBehindTheEngine,
     [](EngineBench&, IFFlash* flash) { return flash->Erase(); }},
};

class StalledProgrammerTest : public ::testing::TestWithParam<StallCase> {};

TEST_P(StalledProgrammerTest, CommandFailsAndTheNextOneLoadsTheProgrammerAgain) {
    const StallCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, c.target.processor);
    bench.ConnectAndSelect(flash, c.target.tim);
    // Loads and starts the programmer.
    ASSERT_EQ(flash->Erase(), 0) << Describe(flash->GetLastError());
    const StallLimit limit(50);
    const char* what = c.arm(bench.Control(), c.target.processor);

    ASSERT_EQ(c.command(bench, flash), 2);
    const CFlashExc* error = flash->GetLastError();
    EXPECT_EQ(error->code, ERR_CCS_OPERATION) << Describe(error);
    const std::string detail = error->detail;
    EXPECT_NE(detail.find("no progress"), std::string::npos) << detail;
    EXPECT_NE(detail.find(what), std::string::npos) << detail;

    bench.Control()->ClearFaults(0, c.target.processor);
    ASSERT_EQ(c.command(bench, flash), 0) << Describe(flash->GetLastError());
}

INSTANTIATE_TEST_SUITE_P(Programmer, StalledProgrammerTest, ::testing::ValuesIn(kStallCases),
                         CaseName());

}  // namespace
}  // namespace qel::e2e
