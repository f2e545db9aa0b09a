// The engine's questions to its caller: a TIM type other than the detected
// one, a bitstream not made for the TIM, the notice before a chip erase.
// Without a callback every question counts as answered 0.
#include "EngineBench.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>

namespace qel::e2e {
namespace {

using Notices = std::vector<NoticeLog::Notice>;

int CountNotices(const Notices& notices, int kind, int a) {
    return static_cast<int>(std::count_if(
        notices.begin(), notices.end(), [&](const auto& n) { return n.kind == kind && n.a == a; }));
}

struct AnswerCase {
    const char* name;
    bool callback;
    int answer;
};

// Test descriptions show the case by name.
void PrintTo(const AnswerCase& c, std::ostream* out) {
    *out << c.name;
}

const AnswerCase kAnswerCases[] = {
    {"AnswerOne", true, 1},
    {"AnswerZero", true, 0},
    {"NoCallback", false, 0},
};

class TimMismatchTest : public ::testing::TestWithParam<AnswerCase> {};

// The module carries QT-6201 (code 0x11); QT-TEST10 (0x0A) is selected.
TEST_P(TimMismatchTest, NonZeroAnswerCancelsZeroContinuesWithDefaultChain) {
    const AnswerCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    const UserBlockRecord record = UserRecord(bench.WriteData("user.bin", 5000, 1));
    flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    bench.Close();

    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    uint32_t before = 0;
    flash->GetBlockCount(&before);
    ASSERT_EQ(before, 7u);

    NoticeLog log;
    log.AnswerQuestions(c.answer);
    const int result =
        c.callback ? EngineBench::Run(flash, log,
                                      [&] { return flash->SelectTimType("QT-TEST10", nullptr); })
                   : flash->SelectTimType("QT-TEST10", nullptr);
    const Notices notices = log.Take();
    if (c.callback) {
        ASSERT_EQ(CountNotices(notices, 3, 1), 1);
        EXPECT_EQ(NoticeLog::OfKind(notices, 3).front().b, 0x11);
        ASSERT_FALSE(NoticeLog::Texts(notices).empty());
        EXPECT_EQ(NoticeLog::Texts(notices).back(), "");
    }
    uint32_t code = 0, count = 0;
    flash->GetBlockCount(&count);
    if (c.answer != 0) {
        EXPECT_EQ(result, 1);
        // Chain and TIM data stay as they were.
        flash->GetTimType(&code);
        EXPECT_EQ(code, 0x11u);
        EXPECT_EQ(count, before);
        EXPECT_FALSE(flash->IsModified());
    } else {
        EXPECT_EQ(result, 0) << Describe(flash->GetLastError());
        flash->GetTimType(&code);
        EXPECT_EQ(code, 0x0Au);
        EXPECT_EQ(count, 6u);
        EXPECT_TRUE(flash->IsModified());
        if (c.callback) {
            EXPECT_TRUE(
                NoticeLog::HasText(notices, "Flash contents inconcistent. Reverting to default"));
            EXPECT_EQ(CountNotices(notices, 2, 4), 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, TimMismatchTest, ::testing::ValuesIn(kAnswerCases), CaseName());

class ForeignBitstreamTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(ForeignBitstreamTest, NonZeroAnswerTakesTheFileZeroLeavesTheBlock) {
    const AnswerCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    const std::string file = bench.Firmware("bitstreams", "qt6710b_v1p0.sbf");

    NoticeLog log;
    log.AnswerQuestions(c.answer);
    if (c.callback)
        flash->SetCallback(&NoticeLog::Callback, reinterpret_cast<uintptr_t>(&log));
    flash->SetBitstream(file.c_str());
    flash->SetCallback(nullptr, 0);
    const Notices notices = log.Take();
    if (c.callback) {
        ASSERT_EQ(CountNotices(notices, 3, 2), 1);
        EXPECT_EQ(NoticeLog::OfKind(notices, 3).front().text, file);
    }
    BlockHeader header;
    std::vector<uint8_t> extra(FPGA_RECORD_SIZE);
    flash->GetFpgaBlock(&header, extra.data());
    if (c.answer != 0) {
        EXPECT_NE(header.dataLength, 0u);
        ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    } else {
        EXPECT_EQ(header.dataLength, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ForeignBitstreamTest, ::testing::ValuesIn(kAnswerCases),
                         CaseName());

struct EraseCase {
    const char* name;
    int processor;
    const char* tim;
    bool chipErase;
    uint32_t command;  // programmer command of the erase
};

// Test descriptions show the case by name.
void PrintTo(const EraseCase& c, std::ostream* out) {
    *out << c.name;
}

const EraseCase kEraseCases[] = {
    {"ChipErase", 1, "QT-6202C", true, 10},
    {"SectorErase", 0, "QT-6201", false, 5},
};

class EraseTest : public ::testing::TestWithParam<EraseCase> {};

TEST_P(EraseTest, ChipEraseIsAnnouncedSectorEraseShowsProgress) {
    const EraseCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, c.processor);
    bench.ConnectAndSelect(flash, c.tim);
    flash->SetBootLoader(nullptr);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    ASSERT_TRUE(WalkImage(bench.FlashImage(0, c.processor)).terminated);

    // However fast the modelled erase, the engine's polls see its steps.
    ASSERT_EQ(bench.Control()->SetFault(0, c.processor, qel::bench::Fault::ProgressLockstep, 1),
              qel::bench::kOk);
    NoticeLog log;
    log.AnswerQuestions(1);  // not used
    ASSERT_EQ(EngineBench::Run(flash, log, [&] { return flash->Erase(); }), 0)
        << Describe(flash->GetLastError());
    const Notices notices = log.Take();
    EXPECT_EQ(CountNotices(notices, 3, 3), c.chipErase ? 1 : 0);
    const Notices progress = NoticeLog::OfKind(notices, 1);
    if (c.chipErase) {
        EXPECT_TRUE(progress.empty());
    } else {
        uint32_t size = 0;
        flash->GetFlashSize(&size);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().a, static_cast<int>(size));
        EXPECT_EQ(progress.back().b, static_cast<intptr_t>(size));
    }
    EXPECT_TRUE(NoticeLog::HasText(notices, "Erasing the flash ..."));
    EXPECT_TRUE(NoticeLog::HasText(notices, "Flash contents inconcistent. Reverting to default"));

    const std::vector<uint8_t> image = bench.FlashImage(0, c.processor);
    EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xFF; }));
    qel::bench::ProgrammerInfo info;
    bench.Control()->GetProgrammerInfo(0, c.processor, &info);
    EXPECT_EQ(info.lastCommand, c.command);
    uint32_t count = 0;
    flash->GetBlockCount(&count);
    EXPECT_EQ(count, 6u);
}

INSTANTIATE_TEST_SUITE_P(Modules, EraseTest, ::testing::ValuesIn(kEraseCases), CaseName());

}  // namespace
}  // namespace qel::e2e
