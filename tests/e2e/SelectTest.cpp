// The select command against a flash that was already programmed: a DSP that
// stops answering, the TIM type a commit leaves behind, register settings,
// the bitstream search.
#include "EngineBench.h"

#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qel::e2e {
namespace {

using qel::bench::Fault;

constexpr const char* kReverted = "Flash contents inconcistent. Reverting to default";

int CountQuestions(const std::vector<NoticeLog::Notice>& notices, int question) {
    int n = 0;
    for (const NoticeLog::Notice& notice : notices) n += notice.kind == 3 && notice.a == question;
    return n;
}

// Boot loader, bitstream and one data block on board 0, processor 0.
std::string ProgramModule(EngineBench& bench) {
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    flash->SetBitstream(nullptr);
    const std::string file = bench.WriteData("kept.bin", 20000, 5);
    const UserBlockRecord record = UserRecord(file);
    flash->AddUserBlock(0x10, &record, 3, 1, 0, -1);
    EXPECT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    bench.Close();
    return file;
}

TEST(SilentDspTest, SelectFailsAndNothingCanBeCommittedOverTheFlash) {
    EngineBench bench;
    const std::string file = ProgramModule(bench);
    IFFlash* flash = bench.Flash(0, 0);
    const std::vector<uint8_t> programmed = bench.FlashImage(0, 0);
    ASSERT_EQ(flash->Connect(), 0) << Describe(flash->GetLastError());
    // Every memory request fails, from the register settings on.
    bench.Control()->SetFault(0, 0, Fault::FailMemory, 100000);
    NoticeLog log;
    EXPECT_EQ(
        EngineBench::Run(flash, log, [&] { return flash->SelectTimType("QT-6201", nullptr); }), 2);
    EXPECT_EQ(flash->GetLastError()->code, ERR_CCS_MEMORY_ABORTED)
        << Describe(flash->GetLastError());
    EXPECT_FALSE(NoticeLog::HasText(log.Take(), kReverted));
    bench.Control()->ClearFaults(0, 0);

    uint32_t count = 99;
    flash->GetBlockCount(&count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ErrorOf([&] { flash->SetBootLoader(nullptr); }), ERR_NO_TIM_SELECTED);
    EXPECT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    EXPECT_EQ(bench.FlashImage(0, 0), programmed);

    // The DSP is back: the chain is there again.
    ASSERT_EQ(flash->SelectTimType("QT-6201", nullptr), 0) << Describe(flash->GetLastError());
    uint32_t users = 0;
    flash->GetUserBlockCount(&users);
    ASSERT_EQ(users, 1u);
    EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(0, file.c_str()); }), 0u);
}

// Someone else resets the target again and again while the chain is read:
// the select either reads the chain or fails, and never takes the valid
// flash for an inconsistent one.
TEST(UnrequestedResetTest, ResetsDuringTheAnalysisNeverRevertAValidFlash) {
    EngineBench bench;
    const std::string file = ProgramModule(bench);
    for (uint32_t resets = 1; resets <= 8; ++resets) {
        IFFlash* flash = bench.Flash(0, 0);
        ASSERT_EQ(flash->Connect(), 0) << Describe(flash->GetLastError());
        bench.Control()->SetFault(0, 0, Fault::UnrequestedReset, resets);
        NoticeLog log;
        const int result =
            EngineBench::Run(flash, log, [&] { return flash->SelectTimType("QT-6201", nullptr); });
        EXPECT_FALSE(NoticeLog::HasText(log.Take(), kReverted)) << resets << " resets";
        uint32_t users = 0;
        flash->GetUserBlockCount(&users);
        if (result == 0) {
            EXPECT_EQ(users, 1u) << resets << " resets";
        } else {
            EXPECT_EQ(result, 2);
            uint32_t count = 1;
            flash->GetBlockCount(&count);
            EXPECT_EQ(count, 0u) << resets << " resets";
        }
        bench.Control()->ClearFaults(0, 0);
        bench.Close();
    }
}

// The module holds what was committed: selecting that TIM type again asks
// nothing and shows the chain, not the default one.
TEST(DetectedTimTest, CommitRecordsTheTimTypeItWrote) {
    EngineBench bench;
    ProgramModule(bench);  // as a QT-6201
    IFFlash* flash = bench.Flash(0, 0);
    ASSERT_EQ(flash->Connect(), 0);
    NoticeLog log;
    log.AnswerQuestions(0);  // go on with another TIM type
    ASSERT_EQ(
        EngineBench::Run(flash, log, [&] { return flash->SelectTimType("QT-6202C", nullptr); }), 0)
        << Describe(flash->GetLastError());
    EXPECT_EQ(CountQuestions(log.Take(), 1), 1);
    flash->SetBootLoader(nullptr);
    const UserBlockRecord record = UserRecord(bench.WriteData("new.bin", 1000, 8));
    flash->AddUserBlock(0x10, &record, 4, 1, 0, -1);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());

    ASSERT_EQ(
        EngineBench::Run(flash, log, [&] { return flash->SelectTimType("QT-6202C", nullptr); }), 0)
        << Describe(flash->GetLastError());
    const auto notices = log.Take();
    EXPECT_EQ(CountQuestions(notices, 1), 0);
    EXPECT_FALSE(NoticeLog::HasText(notices, kReverted));
    uint32_t users = 0;
    flash->GetUserBlockCount(&users);
    EXPECT_EQ(users, 1u);
}

// QT-6201 sets two registers; the first write refused, the second is still
// made.
TEST(RegisterSettingsTest, OneRefusedWriteDoesNotSkipTheOthers) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    ASSERT_EQ(flash->Connect(), 0);
    const uint32_t zero = 0;
    for (uint32_t address : {0x01800000u, 0x01800008u}) {
        ASSERT_EQ(bench.Control()->PokeMemory(0, 0, address, &zero, 4), qel::bench::kOk);
    }
    bench.Control()->SetFault(0, 0, Fault::FailMemory, 1);
    ASSERT_EQ(flash->SelectTimType("QT-6201", nullptr), 0) << Describe(flash->GetLastError());
    uint32_t values[2] = {1, 1};
    bench.Control()->PeekMemory(0, 0, 0x01800000, &values[0], 4);
    bench.Control()->PeekMemory(0, 0, 0x01800008, &values[1], 4);
    // One of the two (the one written first) was refused.
    EXPECT_EQ(values[0] == 0x3300u, values[1] == 0u) << std::hex << values[0] << " " << values[1];
    EXPECT_TRUE(values[0] == 0x3300u || values[1] == 0x20u)
        << std::hex << values[0] << " " << values[1];
    EXPECT_FALSE(values[0] == 0x3300u && values[1] == 0x20u);
}

// Bitstreams are found by their extension in either case.
TEST(BitstreamSearchTest, UpperCaseExtensionIsFound) {
    EngineBench bench;
    const std::string folder = bench.Temp().File("bits");
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(bench.Firmware("bitstreams", "qt6201_v1p0.sbf"),
                               folder + "/TOP_V1P0.SBF");
    bench.SetSetting("BitstreamPath", folder);
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    ASSERT_EQ(ErrorOf([&] { flash->SetBitstream(nullptr); }), 0u);
    BlockHeader header;
    std::vector<uint8_t> extra(1536);
    flash->GetFpgaBlock(&header, extra.data());
    EXPECT_NE(header.dataLength, 0u);
}

}  // namespace
}  // namespace qel::e2e
