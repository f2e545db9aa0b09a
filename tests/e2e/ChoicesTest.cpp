// Behaviour the engine chose where its contract leaves it open: a worker that
// cannot start, space checks without a TIM, damaged flash geometry, a staging
// load the DSP refuses, writes beyond the flash.
#include "EngineBench.h"

#include "engine/Exc.h"
#include "tests/fixtures/ImageBuilders.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <filesystem>

namespace qel::e2e {
namespace {

using qel::bench::Fault;

// Switches the engine's worker test hook back off whatever the test does.
struct WorkerFailure {
    explicit WorkerFailure(EngineBench& b) : bench(b) { bench.FailWorkerInitialisation(true); }
    ~WorkerFailure() { bench.FailWorkerInitialisation(false); }
    EngineBench& bench;
};

TEST(WorkerInitialisationTest, CommandsFailAndTheObjectStaysDestructible) {
    EngineBench bench;
    bench.Open();
    IFFlash* flash = nullptr;
    {
        WorkerFailure failing(bench);
        flash = bench.Flash(0, 0);
    }
    ASSERT_EQ(flash->Connect(), 2);
    EXPECT_EQ(flash->GetLastError()->code, ERR_CCS_NOT_STARTED);
    EXPECT_STRNE(flash->GetLastError()->detail, "");
    NoticeLog log;
    EXPECT_EQ(EngineBench::Run(flash, log, [&] { return flash->Commit(); }), 2);
    EXPECT_TRUE(NoticeLog::HasText(log.Take(), ""));

    // Objects built later have a working worker.
    IFFlash* other = bench.Flash(0, 1);
    EXPECT_EQ(other->Connect(), 0) << Describe(other->GetLastError());
    bench.Close();
}

TEST(SpaceCheckTest, UserBlockBeforeAnyTimSelectionIsRefused) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    ASSERT_EQ(flash->Connect(), 0);
    const UserBlockRecord record = UserRecord(bench.WriteData("user.bin", 1000, 1));
    EXPECT_EQ(ErrorOf([&] { flash->AddUserBlock(0x10, &record, 1, 1, 0, -1); }),
              ERR_NO_TIM_SELECTED);
    uint32_t count = 99;
    flash->GetBlockCount(&count);
    EXPECT_EQ(count, 0u);

    ASSERT_EQ(flash->SelectTimType("QT-6201", nullptr), 0) << Describe(flash->GetLastError());
    EXPECT_EQ(ErrorOf([&] { flash->AddUserBlock(0x10, &record, 1, 1, 0, -1); }), 0u);
    flash->GetUserBlockCount(&count);
    EXPECT_EQ(count, 1u);
}

struct GeometryCase {
    const char* name;
    uint32_t sectorSize;
    uint32_t sectorCount;
    bool valid;
};

// Test descriptions show the case by name.
void PrintTo(const GeometryCase& c, std::ostream* out) {
    *out << c.name;
}

const GeometryCase kGeometryCases[] = {
    {"ZeroSectorSize", 0, 32, false},
    {"SectorSizeNotPowerOfTwo", 0x18000, 16, false},
    {"ValidGeometry", 0x10000, 32, true},
};

class GeometryTest : public ::testing::TestWithParam<GeometryCase> {};

// QT-6201's boot loader file from a folder of the test's own.
TEST_P(GeometryTest, DamagedSectorSizeIsRefusedAtSelection) {
    const GeometryCase& c = GetParam();
    EngineBench bench;
    std::filesystem::create_directories(bench.Temp().File("boot"));
    qel::fixtures::BootFileBuilder()
        .SetTimType(0x11)
        .SetGeometry(c.sectorSize, c.sectorCount)
        .SetFdbPayload(qel::fixtures::MakeFdbPayload(0x11))
        .WriteTo(bench.Temp().File("boot/bl_qt6201.out"));
    bench.SetSetting("BootloaderPath", bench.Temp().File("boot"));

    IFFlash* flash = bench.Flash(0, 0);
    ASSERT_EQ(flash->Connect(), 0);
    const int result = flash->SelectTimType("QT-6201", nullptr);
    uint32_t size = 1;
    flash->GetFlashSize(&size);
    if (c.valid) {
        EXPECT_EQ(result, 0) << Describe(flash->GetLastError());
        EXPECT_EQ(size, c.sectorSize * c.sectorCount);
        return;
    }
    EXPECT_EQ(result, 2);
    EXPECT_EQ(flash->GetLastError()->code, ERR_NOT_VALID_INIT_BLOCK)
        << Describe(flash->GetLastError());
    EXPECT_EQ(size, 0u);
    uint32_t code = 0;
    EXPECT_EQ(ErrorOf([&] { flash->GetTimType(&code); }), ERR_NO_TIM_SELECTED);
}

INSTANTIATE_TEST_SUITE_P(BootFiles, GeometryTest, ::testing::ValuesIn(kGeometryCases), CaseName());

bool Erased(const std::vector<uint8_t>& image) {
    return std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xFF; });
}

TEST(StagingLoadTest, LoadTheDspRefusesStopsBeforeProgrammingAndCanBeRetried) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    const std::string file = bench.WriteData("user.bin", 30000, 4);
    const UserBlockRecord record = UserRecord(file);
    flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);

    bench.Control()->SetFault(0, 0, Fault::FailLoad, 1);
    ASSERT_EQ(flash->Commit(), 2);
    EXPECT_EQ(flash->GetLastError()->code, ERR_CCS_LOAD_FAILED) << Describe(flash->GetLastError());
    EXPECT_STRNE(flash->GetLastError()->detail, "");
    qel::bench::ProgrammerInfo info;
    bench.Control()->GetProgrammerInfo(0, 0, &info);
    EXPECT_NE(info.lastCommand, 4u);
    EXPECT_TRUE(Erased(bench.FlashImage(0, 0)));
    EXPECT_TRUE(flash->IsModified());

    // Nothing reached the flash: the next commit writes everything.
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    const ImageChain chain = WalkImage(bench.FlashImage(0, 0));
    EXPECT_TRUE(chain.terminated);
    for (const ImageBlock& b : chain.blocks) EXPECT_TRUE(b.payloadIntact);
    bench.Close();
    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(0, file.c_str()); }), 0u);
}

// A chain written for 2 MiB of flash, read back by an engine whose boot
// loader file tells of 256 KiB: a write beyond that is refused before any
// load is programmed.
TEST(FlashEndTest, BlocksBeyondTheFlashAreNotTakenFromTheFlash) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    const UserBlockRecord record = UserRecord(bench.WriteData("big.bin", 300000, 2));
    flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    bench.Close();

    // The same module described with a flash of 256 KiB: the blocks past it
    // must not be taken as good, nor written back out of range.
    std::filesystem::create_directories(bench.Temp().File("boot"));
    qel::fixtures::BootFileBuilder()
        .SetTimType(0x11)
        .SetGeometry(0x10000, 4)
        .SetFdbPayload(qel::fixtures::MakeFdbPayload(0x11))
        .WriteTo(bench.Temp().File("boot/bl_qt6201.out"));
    bench.SetSetting("BootloaderPath", bench.Temp().File("boot"));
    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    uint32_t count = 0, users = 0;
    flash->GetBlockCount(&count);
    flash->GetUserBlockCount(&users);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(users, 0u);
}

}  // namespace
}  // namespace qel::e2e
