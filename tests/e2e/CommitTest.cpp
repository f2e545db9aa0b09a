// Commits that move blocks, span several staging loads, or have nothing to
// do, checked against the flash image the bench keeps.
#include "EngineBench.h"

#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>

namespace qel::e2e {
namespace {

using Notices = std::vector<NoticeLog::Notice>;

struct UserFile {
    std::string path;
    uint32_t id;
};

// The user blocks of the engine's chain, in order, with their ids.
std::vector<uint32_t> UserIds(IFFlash* flash) {
    uint32_t count = 0;
    flash->GetUserBlockCount(&count);
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < count; ++i) {
        BlockHeader header;
        UserBlockRecord record;
        flash->GetUserBlock(i, &header, &record);
        ids.push_back(header.id);
    }
    return ids;
}

std::vector<uint32_t> ImageUserIds(const ImageChain& chain) {
    std::vector<uint32_t> ids;
    for (const ImageBlock& b : chain.blocks) {
        if ((b.header.type & 0xFFFF) == 5)
            ids.push_back(b.header.id);
    }
    return ids;
}

// The flash holds a complete chain whose every payload matches its CRC, and
// each user block of the engine verifies against the file it came from.
void ExpectIntact(EngineBench& bench, IFFlash* flash, int processor,
                  const std::vector<UserFile>& files) {
    const ImageChain chain = WalkImage(bench.FlashImage(0, processor));
    ASSERT_TRUE(chain.hasInit);
    EXPECT_TRUE(chain.terminated);
    for (const ImageBlock& b : chain.blocks) {
        EXPECT_TRUE(b.payloadIntact)
            << "block of type 0x" << std::hex << b.header.type << " at 0x" << b.offset;
    }
    EXPECT_EQ(ImageUserIds(chain), UserIds(flash));
    const std::vector<uint32_t> ids = UserIds(flash);
    for (uint32_t i = 0; i < ids.size(); ++i) {
        auto file = std::find_if(files.begin(), files.end(),
                                 [&](const UserFile& f) { return f.id == ids[i]; });
        ASSERT_NE(file, files.end());
        EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(i, file->path.c_str()); }), 0u)
            << "user block " << i;
    }
}

std::string HeaderDiff(const BlockHeader& a, const BlockHeader& b) {
    const auto* x = reinterpret_cast<const uint32_t*>(&a);
    const auto* y = reinterpret_cast<const uint32_t*>(&b);
    std::string out;
    for (int w = 0; w < 12; ++w) {
        if (x[w] != y[w]) {
            char text[64];
            snprintf(text, sizeof(text), " word %d: 0x%X / 0x%X", w, x[w], y[w]);
            out += text;
        }
    }
    return out;
}

struct MoveCase {
    const char* name;
    int processor;
    const char* tim;
    bool bitstream;
    std::vector<size_t> sizes;
    bool keptImages;  // the programmer's save area holds the moving blocks
};

// Test descriptions show the case by name.
void PrintTo(const MoveCase& c, std::ostream* out) {
    *out << c.name;
}

// QT-TEST10 has internal memory only: its save area (about 64 KiB) cannot
// keep blocks of this size, so they are read back to the host.
const MoveCase kMoveCases[] = {
    {"KeptImages", 0, "QT-6201", true, {40000, 30000, 20000, 25000}, true},
    {"ReadBackToHost", 9, "QT-TEST10", false, {70000, 80000, 75000, 66000}, false},
};

class MoveTest : public ::testing::TestWithParam<MoveCase> {};

TEST_P(MoveTest, RemovedAndMovedBlocksReadBackIntact) {
    const MoveCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, c.processor);
    bench.ConnectAndSelect(flash, c.tim);
    flash->SetBootLoader(nullptr);
    if (c.bitstream)
        flash->SetBitstream(nullptr);
    std::vector<UserFile> files;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
        const uint32_t id = 0x100 + static_cast<uint32_t>(i);
        files.push_back({bench.WriteData("user" + std::to_string(i) + ".bin", c.sizes[i],
                                         static_cast<uint8_t>(11 * i + 3)),
                         id});
        const UserBlockRecord record = UserRecord(files.back().path);
        flash->AddUserBlock(0x10, &record, id, 1, static_cast<uint32_t>(i), -1);
    }
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    // A new engine: the payloads stay on the flash until a block needs them.
    bench.Close();
    flash = bench.Flash(0, c.processor);
    bench.ConnectAndSelect(flash, c.tim);

    // Round 1: the first block goes, the last comes first; all three move.
    flash->RemoveUserBlock(0);
    flash->MoveUserBlock(2, 0);
    ASSERT_EQ(UserIds(flash), (std::vector<uint32_t>{0x103, 0x101, 0x102}));
    uint32_t moving = 0;
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(flash->IsBlockModified(5 + i));
        BlockHeader header;
        UserBlockRecord record;
        flash->GetUserBlock(i, &header, &record);
        moving += header.paddedLength;
    }
    NoticeLog log;
    ASSERT_EQ(EngineBench::Run(flash, log, [&] { return flash->Commit(); }), 0)
        << Describe(flash->GetLastError());
    Notices notices = log.Take();
    EXPECT_EQ(NoticeLog::HasText(notices, "Reading from flash ..."), !c.keptImages);
    if (!c.keptImages) {
        // Reading progress runs up to exactly the payloads of the moving blocks.
        bool complete = false;
        for (const auto& n : NoticeLog::OfKind(notices, 1)) {
            if (n.a == static_cast<int>(moving) && n.b == static_cast<intptr_t>(moving)) {
                complete = true;
            }
        }
        EXPECT_TRUE(complete);
    }
    EXPECT_FALSE(flash->IsModified());
    ExpectIntact(bench, flash, c.processor, files);

    // Round 2 in the same engine: blocks that moved before move again, and one
    // of them gets a new id on the way.
    flash->MoveUserBlock(0, 2);
    flash->SetBlockId(5, 0x201);
    files[1].id = 0x201;
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    ASSERT_EQ(UserIds(flash), (std::vector<uint32_t>{0x201, 0x102, 0x103}));
    ExpectIntact(bench, flash, c.processor, files);
    const std::vector<ChainEntry> written = ReadChain(flash);

    bench.Close();
    IFFlash* again = bench.Flash(0, c.processor);
    bench.ConnectAndSelect(again, c.tim);
    const std::vector<ChainEntry> read = ReadChain(again);
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 1; i < read.size(); ++i) {
        EXPECT_EQ(memcmp(&read[i].header, &written[i].header, sizeof(BlockHeader)), 0)
            << "block " << i << HeaderDiff(read[i].header, written[i].header);
        EXPECT_EQ(read[i].extra, written[i].extra) << "block " << i;
    }
    ExpectIntact(bench, again, c.processor, files);
}

INSTANTIATE_TEST_SUITE_P(SaveArea, MoveTest, ::testing::ValuesIn(kMoveCases), CaseName());

// QT-TEST10's transfer buffer is about 64 KiB: a 150 KB block needs three
// staging loads at least.
TEST(CommitTest, LargeCommitSpansStagingLoadsWithRisingProgress) {
    constexpr int kProcessor = 9;
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, kProcessor);
    bench.ConnectAndSelect(flash, "QT-TEST10");
    flash->SetBootLoader(nullptr);
    const std::string file = bench.WriteData("big.bin", 150000, 9);
    const UserBlockRecord record = UserRecord(file);
    flash->AddUserBlock(0x10, &record, 7, 1, 0, -1);

    NoticeLog log;
    ASSERT_EQ(EngineBench::Run(flash, log, [&] { return flash->Commit(); }), 0)
        << Describe(flash->GetLastError());
    const Notices notices = log.Take();
    const std::vector<std::string> texts = NoticeLog::Texts(notices);
    const auto loads = std::count(texts.begin(), texts.end(), "Loading data to DSP ...");
    EXPECT_GE(loads, 3);

    const ImageChain chain = WalkImage(bench.FlashImage(0, kProcessor));
    ASSERT_TRUE(chain.terminated);
    for (const ImageBlock& b : chain.blocks) EXPECT_TRUE(b.payloadIntact);
    constexpr uint32_t kSector = 0x10000;
    const uint32_t lastByte = chain.blocks.back().offset + sizeof(BlockHeader) - 1;
    const uint32_t distinct = lastByte / kSector + 1;

    // After the opening (0, 0) every notice counts against one total: the
    // sectors each load touches, a sector shared by two loads counted twice.
    const Notices progress = NoticeLog::OfKind(notices, 1);
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front().a, 0);
    EXPECT_EQ(progress.front().b, 0);
    const intptr_t total = progress.back().b;
    EXPECT_EQ(progress.back().a, total);
    EXPECT_EQ(total % kSector, 0);
    EXPECT_GE(total, intptr_t{distinct} * kSector);
    EXPECT_LE(total, intptr_t{distinct + static_cast<uint32_t>(loads) - 1} * kSector);
    int last = 0;
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].b, total) << "notice " << i;
        EXPECT_GE(progress[i].a, last) << "notice " << i;
        last = progress[i].a;
    }

    // Nothing modified: no load, no programmer command at all.
    qel::bench::ProgrammerInfo before;
    bench.Control()->GetProgrammerInfo(0, kProcessor, &before);
    ASSERT_FALSE(flash->IsModified());
    ASSERT_EQ(EngineBench::Run(flash, log, [&] { return flash->Commit(); }), 0)
        << Describe(flash->GetLastError());
    const Notices idle = log.Take();
    EXPECT_FALSE(NoticeLog::HasText(idle, "Loading data to DSP ..."));
    EXPECT_FALSE(NoticeLog::HasText(idle, "Reading from flash ..."));
    const Notices idleProgress = NoticeLog::OfKind(idle, 1);
    ASSERT_FALSE(idleProgress.empty());
    EXPECT_EQ(idleProgress.back().a, idleProgress.back().b);
    bench.Control()->WaitIdle();
    qel::bench::ProgrammerInfo after;
    bench.Control()->GetProgrammerInfo(0, kProcessor, &after);
    EXPECT_EQ(after.commandsDone, before.commandsDone);
    EXPECT_EQ(after.lastCommand, before.lastCommand);
    EXPECT_EQ(after.running, before.running);
}

}  // namespace
}  // namespace qel::e2e
