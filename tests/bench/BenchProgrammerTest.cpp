// The flash programmer model, driven by hand through the command block.
#include "TestBench.h"

namespace benchtest {
namespace {

using Programmer = BenchTest;

TEST_F(Programmer, InitialisesOnlyOnTheProcessorThatReachesTheFlash) {
    EXPECT_EQ(StartProgrammer(Proc(0, 0)), 0u);
    EXPECT_NE(StartProgrammer(Proc(0, 1)), 0u);
}

TEST_F(Programmer, InitialisationNeedsTheFlashDataBlock) {
    Client& c = Proc(0, 0);
    EXPECT_NE(StartProgrammer(c, /*withFdb=*/false), 0u);
    // Without a successful initialisation no flash command runs.
    EXPECT_NE(c.Command(kCommandBlock, 2, {0, 16}), 0u);
}

TEST_F(Programmer, InitialisationRefusesBuffersOutsideMemory) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    EXPECT_NE(c.Command(kCommandBlock, 1,
                        {kBase, kBase, 0x40000000, kTransferSize, kSectorBuffer, kSave, kSaveSize}),
              0u);
}

TEST_F(Programmer, IsRecognisedOnlyBySignatureAtTheEntryPoint) {
    Client& c = Proc(0, 0);
    auto image = MakeProgrammer(0x1000, kCommandBlock, 0x11);
    image[image.size() - 64] ^= 0xFF;  // first signature byte
    ASSERT_EQ(c.Load(dir_.Write("notprog.out", image)), 0);
    EXPECT_EQ(c.Run(), kOk);
    ProgrammerInfo info;
    ASSERT_EQ(control_->GetProgrammerInfo(0, 0, &info), kOk);
    EXPECT_EQ(info.running, 0);
    EXPECT_EQ(c.ExecState(), kExecRunning);
}

TEST_F(Programmer, StatusWordShowsReadyAfterStart) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ProgrammerInfo info;
    ASSERT_EQ(control_->GetProgrammerInfo(0, 0, &info), kOk);
    EXPECT_EQ(info.running, 1);
    EXPECT_EQ(info.commandBlock, kCommandBlock);
    EXPECT_EQ(info.timType, 0x11u);
    EXPECT_EQ(info.commandsDone, 1u);
    // Complete until the host announces the next command.
    EXPECT_EQ(c.Word(kCommandBlock + 36), 3u);
    ASSERT_TRUE(c.SetWord(kCommandBlock + 40, 1));
    EXPECT_EQ(c.Word(kCommandBlock + 36), 2u);
}

TEST_F(Programmer, SecondCommandWaitsForItsOwnAnnouncement) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    // A start without announcement is not taken.
    ASSERT_TRUE(c.SetWord(kCommandBlock, 9));
    ASSERT_TRUE(c.SetWord(kCommandBlock + 40, 2));
    ASSERT_EQ(control_->WaitProgrammerIdle(0, 0), kOk);
    ProgrammerInfo info;
    ASSERT_EQ(control_->GetProgrammerInfo(0, 0, &info), kOk);
    EXPECT_EQ(info.commandsDone, 1u);
    EXPECT_EQ(c.Command(kCommandBlock, 9, {}), 0u);
    ASSERT_EQ(control_->GetProgrammerInfo(0, 0, &info), kOk);
    EXPECT_EQ(info.commandsDone, 2u);
}

TEST_F(Programmer, DirectoryOfAnErasedFlashIsEmpty) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    EXPECT_EQ(c.Command(kCommandBlock, 9, {}), 0u);
}

TEST_F(Programmer, UnknownCommandsFail) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    for (uint32_t code : {0u, 3u, 6u, 7u, 11u, 0xFFFFu})
        EXPECT_NE(c.Command(kCommandBlock, code, {}), 0u) << code;
}

TEST_F(Programmer, WritesThenReadsBack) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    const auto a = Pattern(300, 1);
    const auto b = Pattern(5000, 2);
    ASSERT_EQ(Program(c, {{0, 0x100, a}, {0, 0x3000, b}}), 0u);
    // Progress: bytes programmed in this load.
    EXPECT_EQ(c.Word(kCommandBlock + 44), 5300u);
    EXPECT_EQ(FlashRead(c, 0x100, 300), a);
    EXPECT_EQ(FlashRead(c, 0x3000, 5000), b);
    // The mapped flash shows the same bytes.
    EXPECT_EQ(c.Read(0x90003000, 5000), b);
    // And so does the image file, byte for byte.
    const auto file = ReadFile(ImagePath(0, 0));
    ASSERT_EQ(file.size(), kFlashSize);
    EXPECT_TRUE(std::equal(b.begin(), b.end(), file.begin() + 0x3000));
    EXPECT_EQ(file[0x99], 0xFF);
}

TEST_F(Programmer, ReadsAtMost32768Bytes) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    EXPECT_EQ(c.Command(kCommandBlock, 2, {0, 32768}), 0u);
    EXPECT_NE(c.Command(kCommandBlock, 2, {0, 32769}), 0u);
    EXPECT_NE(c.Command(kCommandBlock, 2, {kFlashSize - 4, 8}), 0u);
}

TEST_F(Programmer, ProgrammingErasesEachTouchedSectorAndKeepsWhatNoRecordCovers) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    const auto old = Pattern(3 * kSector, 5);
    ASSERT_EQ(Program(c, {{0, kSector, old}}), 0u);
    // NOR: bits only clear without an erase; here all bits of the new bytes
    // are set, so the result shows whether the model erased first.
    const std::vector<uint8_t> ones(16, 0xFF);
    const std::vector<uint8_t> mixed = {0x0F, 0xF0, 0xAA, 0x55};
    ASSERT_EQ(Program(c, {{0, 2 * kSector + 100, ones}, {0, 2 * kSector + 200, mixed}}), 0u);
    auto expect = old;
    std::copy(ones.begin(), ones.end(), expect.begin() + kSector + 100);
    std::copy(mixed.begin(), mixed.end(), expect.begin() + kSector + 200);
    EXPECT_EQ(FlashRead(c, kSector, 3 * kSector), expect);
}

TEST_F(Programmer, LaterRecordsWinWhereRecordsOverlap) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(Program(c, {{0, 0, std::vector<uint8_t>(8, 1)}, {0, 4, std::vector<uint8_t>(8, 2)}}),
              0u);
    EXPECT_EQ(FlashRead(c, 0, 12), (std::vector<uint8_t>{1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2}));
}

TEST_F(Programmer, LoadEndsWhenFewerThanTwelveBytesRemain) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    // One record filling the buffer to within 8 bytes, no end record.
    const uint32_t n = kTransferSize - 12 - 8;
    auto recs = Records({{0, 0, Pattern(n, 9)}}, /*terminate=*/false);
    recs.resize(kTransferSize, 0xEE);  // the tail is not a record
    ASSERT_TRUE(c.Write(kTransfer, recs));
    EXPECT_EQ(c.Command(kCommandBlock, 4, {}), 0u);
    EXPECT_EQ(FlashRead(c, 0, 64), Pattern(64, 9));
}

TEST_F(Programmer, RejectsRecordsOutsideTheFlashAndWritesNothing) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    EXPECT_NE(Program(c, {{0, 0, {1, 2, 3}}, {0, kFlashSize - 2, {1, 2, 3, 4}}}), 0u);
    EXPECT_EQ(FlashRead(c, 0, 3), std::vector<uint8_t>(3, 0xFF));
    EXPECT_NE(Program(c, {{77, 0, {}, 16}}), 0u);  // unknown handle
}

TEST_F(Programmer, KeptImagesSurviveAReloadOfTheProgrammer) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    const auto block = Pattern(2000, 11);
    ASSERT_EQ(Program(c, {{0, 0x800, block}}), 0u);
    const uint32_t h1 = c.Command(kCommandBlock, 8, {0x800, 2000});
    const uint32_t h2 = c.Command(kCommandBlock, 8, {0x800, 16});
    EXPECT_NE(h1, 0u);
    EXPECT_NE(h2, 0u);
    EXPECT_NE(h1, h2);
    // The old place is overwritten, then the engine's routine: a data load
    // into the transfer buffer, the programmer loaded and initialised again.
    ASSERT_EQ(Program(c, {{0, 0x800, std::vector<uint8_t>(2000, 0)}}), 0u);
    c.Halt();
    ASSERT_EQ(
        c.Load(dir_.Write(
            "data.out",
            MakeCoff({{"", kTransfer, Records({{h1, 0x5000, {}, 2000}, {h2, 0x7000, {}, 16}})}},
                     kTransfer))),
        0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    EXPECT_EQ(c.Command(kCommandBlock, 4, {}), 0u);
    EXPECT_EQ(FlashRead(c, 0x5000, 2000), block);
    EXPECT_EQ(FlashRead(c, 0x7000, 16), std::vector<uint8_t>(block.begin(), block.begin() + 16));
    // A copy longer than the kept image fails.
    ASSERT_TRUE(c.Write(kTransfer, Records({{h2, 0x7000, {}, 17}})));
    EXPECT_NE(c.Command(kCommandBlock, 4, {}), 0u);
}

TEST_F(Programmer, KeepAnswersZeroWhenTheImageDoesNotFit) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(c.Command(kCommandBlock, 1,
                        {kBase, kBase, kTransfer, kTransferSize, kSectorBuffer, kSave, 0x2000}),
              0u);
    EXPECT_NE(c.Command(kCommandBlock, 8, {0, 0x1000}), 0u);
    EXPECT_EQ(c.Command(kCommandBlock, 8, {0, 0x1000}), 0u);
    EXPECT_EQ(c.Command(kCommandBlock, 8, {kFlashSize - 4, 8}), 0u);
}

TEST_F(Programmer, EraseCountsSectors) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(Program(c, {{0, 0x4000, Pattern(100, 1)}}), 0u);
    EXPECT_EQ(c.Command(kCommandBlock, 5, {}), 0u);
    EXPECT_EQ(c.Word(kCommandBlock + 44), kFlashSize / kSector);
    EXPECT_EQ(FlashRead(c, 0x4000, 100), std::vector<uint8_t>(100, 0xFF));
}

TEST_F(Programmer, InLockStepAPollingHostSeesEveryProgressStep) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::ProgressLockstep, 1), kOk);
    c.StartCommand(kCommandBlock, 5, {});
    // Each step waits for this read, so the word walks 1, 2, ... in order.
    for (uint32_t step = 1; step <= kFlashSize / kSector; ++step) {
        uint32_t seen = 0;
        while ((seen = c.Word(kCommandBlock + 44)) == step - 1) {
        }
        ASSERT_EQ(seen, step);
    }
    EXPECT_EQ(c.FinishCommand(kCommandBlock), 0u);
    // Only the armed command ran in lock step: the next one needs no reader.
    EXPECT_EQ(c.Command(kCommandBlock, 5, {}), 0u);
}

TEST_F(Programmer, ChipEraseShowsNoProgress) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(Program(c, {{0, 0xF000, Pattern(0x1000, 1)}}), 0u);
    EXPECT_EQ(c.Command(kCommandBlock, 10, {}), 0u);
    EXPECT_EQ(c.Word(kCommandBlock + 44), 0u);
    EXPECT_EQ(ReadFile(ImagePath(0, 0)), std::vector<uint8_t>(kFlashSize, 0xFF));
}

// A chain: init image (magic, size at word 16), boot loader block with a
// 72-byte extra header, a user block, a termination block; garbage behind.
std::vector<uint8_t> Chain(std::vector<uint32_t>* offsets) {
    std::vector<uint8_t> f(0x1000, 0);
    PutU32(f, 12, 0x100);
    PutU32(f, 16, 0x100);
    PutU32(f, 20, 0x19283746);
    PutU32(f, 40, 0x11);
    auto block = [&](uint32_t at, uint32_t type, uint32_t total, uint32_t extra) {
        PutU32(f, at, type);
        PutU32(f, at + 8, 0x12341234);
        PutU32(f, at + 12, total);
        PutU32(f, at + 16, 48 + extra);
        for (uint32_t i = 0; i < extra; ++i) f[at + 48 + i] = static_cast<uint8_t>(type + i);
        offsets->push_back(at);
    };
    block(0x100, 1, 0x200, 72);
    block(0x300, 0x00100005, 0x480, 1032);
    block(0x780, 0xFFFF, 0x80, 0);
    PutU32(f, 0x800 + 8, 0x12341234);  // a block after the end is not read
    return f;
}

TEST_F(Programmer, DirectoryWalksTheChainToTheTerminationBlock) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    std::vector<uint32_t> offsets;
    const auto flash = Chain(&offsets);
    ASSERT_EQ(Program(c, {{0, 0, flash}}), 0u);
    const uint32_t n = c.Command(kCommandBlock, 9, {});
    EXPECT_EQ(n, 60u + (4 + 120) + (4 + 1080) + (4 + 48));
    const auto dir = c.Read(kTransfer, n);
    EXPECT_EQ(std::vector<uint8_t>(dir.begin() + 4, dir.begin() + 60),
              std::vector<uint8_t>(flash.begin(), flash.begin() + 56));
    EXPECT_EQ(GetU32(dir, 20), 0x100u);
    size_t at = 60;
    for (uint32_t off : offsets) {
        EXPECT_EQ(GetU32(dir, at), off);
        EXPECT_EQ(GetU32(dir, at + 12), 0x12341234u);
        const uint32_t dataOffset = GetU32(dir, at + 20);
        EXPECT_TRUE(std::equal(dir.begin() + at + 4, dir.begin() + at + 4 + dataOffset,
                               flash.begin() + off));
        at += 4 + dataOffset;
    }
    EXPECT_EQ(at, n);
}

TEST_F(Programmer, PowerCutLeavesAPartialImageThatANewBenchReadsBack) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    const auto old = Pattern(4 * kSector, 1);
    ASSERT_EQ(Program(c, {{0, 0, old}}), 0u);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::PowerCut, 2), kOk);
    const auto fresh = Pattern(4 * kSector, 99);
    ASSERT_TRUE(c.Write(kTransfer, Records({{0, 0, fresh}})));
    c.StartCommand(kCommandBlock, 4, {});
    ASSERT_EQ(control_->WaitProgrammerIdle(0, 0), kOk);
    // Dead: every request fails until a reset.
    uint32_t w = 0;
    EXPECT_FALSE(c.Read(kCommandBlock + 36, &w, 4));
    EXPECT_NE(c.Load(dir_.File("fprog.out")), 0);
    EXPECT_EQ(c.Run(), kTargetDead);
    EXPECT_EQ(c.User()->Halt(), kTargetDead);
    EXPECT_EQ(c.ExecState(), kExecHalted);

    auto expect = fresh;
    std::copy(old.begin() + 2 * kSector, old.end(), expect.begin() + 2 * kSector);
    Reopen();
    Client& again = Proc(0, 0);
    EXPECT_EQ(again.Read(0x90000000, 4 * kSector), expect);
    ASSERT_EQ(StartProgrammer(again), 0u);
    EXPECT_EQ(FlashRead(again, 0, 4 * kSector), expect);
}

TEST_F(Programmer, ResetRevivesATargetAfterAPowerCut) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(control_->SetFault(0, 0, Fault::PowerCut, 1), kOk);
    ASSERT_TRUE(c.Write(kTransfer, Records({{0, 0, Pattern(100, 1)}})));
    c.StartCommand(kCommandBlock, 4, {});
    ASSERT_EQ(control_->WaitProgrammerIdle(0, 0), kOk);
    uint32_t w = 0;
    EXPECT_FALSE(c.Read(0x80000000, &w, 4));
    EXPECT_EQ(c.Reset(), 0);
    EXPECT_TRUE(c.Read(0x80000000, &w, 4));
    ASSERT_EQ(StartProgrammer(c), 0u);
    EXPECT_EQ(FlashRead(c, 0, 100), Pattern(100, 1));
}

TEST_F(Programmer, HaltStopsTheModel) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    c.Halt();
    ProgrammerInfo info;
    ASSERT_EQ(control_->GetProgrammerInfo(0, 0, &info), kOk);
    EXPECT_EQ(info.running, 0);
    ASSERT_TRUE(c.SetWord(kCommandBlock + 36, 0));
    ASSERT_TRUE(c.SetWord(kCommandBlock + 40, 1));
    EXPECT_EQ(c.Word(kCommandBlock + 36), 0u);  // nobody answers
}

}  // namespace
}  // namespace benchtest
