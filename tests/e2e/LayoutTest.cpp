// How blocks lie on the flash when their sizes are not the usual ones: boot
// file images of odd lengths, a user block whose file name changes length,
// the init image's write time.
#include "EngineBench.h"

#include "engine/Exc.h"
#include "tests/fixtures/ImageBuilders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qel::e2e {
namespace {

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + 7 * i);
    return bytes;
}

// Every block of the image in its place and with its own payload.
void ExpectSoundChain(const ImageChain& chain) {
    EXPECT_TRUE(chain.terminated);
    for (const ImageBlock& b : chain.blocks) {
        EXPECT_TRUE(b.payloadIntact)
            << "block of type 0x" << std::hex << b.header.type << " at 0x" << b.offset;
    }
}

// Boot loader and FDB images of 1001 and 63 bytes: their blocks end on odd
// offsets, and nothing of them spills onto the block after.
TEST(OddLengthTest, SystemBlocksOfOddLengthsAreWrittenAndReadBack) {
    EngineBench bench;
    std::filesystem::create_directories(bench.Temp().File("boot"));
    std::vector<uint8_t> fdb = qel::fixtures::MakeFdbPayload(0x11, 63);
    qel::fixtures::BootFileBuilder()
        .SetTimType(0x11)
        .SetLoaderPayload(Pattern(1001, 3))
        .SetFdbPayload(fdb)
        .WriteTo(bench.Temp().File("boot/bl_qt6201.out"));
    bench.SetSetting("BootloaderPath", bench.Temp().File("boot"));

    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    flash->AddDynamic(0x80000000, 0x5A);
    const std::string file = bench.WriteData("user.bin", 5000, 9);
    const UserBlockRecord record = UserRecord(file);
    flash->AddUserBlock(0x10, &record, 7, 1, 0, -1);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    ExpectSoundChain(WalkImage(bench.FlashImage(0, 0)));

    // A new engine finds the chain it wrote, user block and value included.
    bench.Close();
    flash = bench.Flash(0, 0);
    NoticeLog log;
    ASSERT_EQ(flash->Connect(), 0);
    ASSERT_EQ(
        EngineBench::Run(flash, log, [&] { return flash->SelectTimType("QT-6201", nullptr); }), 0)
        << Describe(flash->GetLastError());
    EXPECT_FALSE(
        NoticeLog::HasText(log.Take(), "Flash contents inconcistent. Reverting to default"));
    uint32_t users = 0, dynamics = 0;
    flash->GetUserBlockCount(&users);
    flash->GetDynamicCount(&dynamics);
    ASSERT_EQ(users, 1u);
    EXPECT_EQ(dynamics, 1u);
    BlockHeader loader;
    char name[16];
    uint32_t nameSize = sizeof(name);
    flash->GetBootLoaderInfo(&loader, name, &nameSize);
    EXPECT_EQ(loader.dataLength, 1001u);
    EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(0, file.c_str()); }), 0u);

    // And commits over it without damage.
    flash->RemoveDynamic(0);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    ExpectSoundChain(WalkImage(bench.FlashImage(0, 0)));
}

struct RenameCase {
    const char* name;
    const char* newName;  // file name in the same folder, of another length
};

void PrintTo(const RenameCase& c, std::ostream* out) {
    *out << c.name;
}

const RenameCase kRenameCases[] = {
    {"LongerName", "a-much-longer-name-for-the-same-data.bin"},
    {"ShorterName", "s.bin"},
};

class RenameTest : public ::testing::TestWithParam<RenameCase> {};

// The record's file name sits in the extra header: a name of another length
// moves the payload inside the block, and the blocks after it.
TEST_P(RenameTest, EditedNameKeepsThePayloadAndTheBlocksAfterIt) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    const std::string first = bench.WriteData("first-block-data.bin", 3000, 21);
    const std::string second = bench.WriteData("second.bin", 2000, 22);
    for (const std::string& file : {first, second}) {
        const UserBlockRecord record = UserRecord(file);
        flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);
    }
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());

    // A new engine: the payload is still on the flash only.
    bench.Close();
    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    const std::string renamed = bench.Temp().File(GetParam().newName);
    std::filesystem::copy_file(first, renamed);
    const UserBlockRecord record = UserRecord(renamed);
    ASSERT_EQ(ErrorOf([&] { flash->EditUserBlock(0, 0x42, 0x00030004, &record); }), 0u)
        << Describe(flash->GetLastError());
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    ExpectSoundChain(WalkImage(bench.FlashImage(0, 0)));

    bench.Close();
    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    uint32_t users = 0;
    flash->GetUserBlockCount(&users);
    ASSERT_EQ(users, 2u);
    BlockHeader header;
    UserBlockRecord stored;
    flash->GetUserBlock(0, &header, &stored);
    EXPECT_STREQ(stored.fileName, renamed.c_str());
    // Header, the two record words, the name with its NUL up to a whole word.
    EXPECT_EQ(header.dataOffset, 48 + ((renamed.size() + 4 + 8) & ~size_t{3}));
    EXPECT_EQ(header.id, 0x42u);
    EXPECT_EQ(header.version, 0x00030004u);
    EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(0, first.c_str()); }), 0u);
    EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(1, second.c_str()); }), 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, RenameTest, ::testing::ValuesIn(kRenameCases), CaseName());

TEST(EditRecordTest, MissingRecordIsNoFilename) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    const UserBlockRecord record = UserRecord(bench.WriteData("d.bin", 100, 1));
    flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { flash->AddUserBlock(0x10, nullptr, 1, 1, 0, -1); },
             [&] { flash->EditUserBlock(0, 2, 2, nullptr); }}) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const CFlashExc& e) {
            EXPECT_EQ(e.code, ERR_NO_FILENAME);
            EXPECT_STREQ(e.source, "BlockUser");
        }
    }
}

// The init image has no header to hold a write time: after a commit it is
// 0, as a new engine reads it.
TEST(InitImageTest, WriteTimeIsZeroAfterACommit) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    BlockHeader init;
    flash->GetBlock(0, &init, nullptr, 0);
    EXPECT_EQ(init.writeTimeLow, 0u);
    EXPECT_EQ(init.writeTimeHigh, 0u);
    BlockHeader loader;
    flash->GetBlock(1, &loader, nullptr, 0);
    EXPECT_NE(uint64_t{loader.writeTimeHigh} << 32 | loader.writeTimeLow, 0u);
}

}  // namespace
}  // namespace qel::e2e
