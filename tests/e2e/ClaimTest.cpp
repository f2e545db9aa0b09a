// One job owns a processor's flash: a second engine cannot connect to it
// while the first holds it, and a commit refuses to write over a flash that
// changed since it was read.
#include "EngineBench.h"

#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace qel::e2e {
namespace {

TEST(ClaimTest, SecondEngineWaitsForTheFirstToClose) {
    EngineBench bench;
    IFFlash* first = bench.Flash(0, 0);
    ASSERT_EQ(first->Connect(), 0) << Describe(first->GetLastError());

    IFSystem* other = bench.OpenAnother();
    IFFlash* second = other->GetFlash(0, 0);
    ASSERT_EQ(second->Connect(), 2);
    const CFlashExc* error = second->GetLastError();
    EXPECT_EQ(error->code, ERR_PROCESSOR_IN_USE) << Describe(error);
    EXPECT_NE(std::string(error->detail).find("process " + std::to_string(getpid())),
              std::string::npos)
        << Describe(error);
    // Another processor is free.
    IFFlash* neighbour = other->GetFlash(0, 1);
    EXPECT_EQ(neighbour->Connect(), 0) << Describe(neighbour->GetLastError());

    // The first engine goes: its claim with it.
    bench.Close();
    EXPECT_EQ(second->Connect(), 0) << Describe(second->GetLastError());
    EXPECT_EQ(second->SelectTimType("QT-6201", nullptr), 0) << Describe(second->GetLastError());
    bench.CloseAnother(other);
}

void Overwrite(const std::string& path, uint32_t offset, uint8_t value) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.put(static_cast<char>(value));
}

// Someone else (here: a direct change of the image, as another tool would
// make) wrote after the chain was read: the commit refuses, and writes
// nothing; read again, the flash takes the commit.
TEST(ClaimTest, CommitRefusesAFlashThatChangedSinceItWasRead) {
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    const UserBlockRecord record = UserRecord(bench.WriteData("a.bin", 4000, 1));
    flash->AddUserBlock(0x10, &record, 1, 1, 0, -1);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());

    // The same engine may commit again at once: the flash is as it left it.
    flash->AddDynamic(0x80000000, 1);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());

    std::string path;
    bench.Control()->GetFlashImagePath(0, 0, &path);
    const ImageChain chain = WalkImage(bench.FlashImage(0, 0));
    ASSERT_GE(chain.blocks.size(), 6u);
    const ImageBlock& user = chain.blocks[4];
    Overwrite(path, user.offset + offsetof(BlockHeader, id), 0x77);
    const std::vector<uint8_t> changed = bench.FlashImage(0, 0);

    flash->AddDynamic(0x80000004, 2);
    ASSERT_EQ(flash->Commit(), 2);
    EXPECT_EQ(flash->GetLastError()->code, ERR_FLASH_CHANGED) << Describe(flash->GetLastError());
    EXPECT_EQ(bench.FlashImage(0, 0), changed);

    ASSERT_EQ(flash->SelectTimType("QT-6201", nullptr), 0) << Describe(flash->GetLastError());
    BlockHeader header;
    UserBlockRecord stored;
    flash->GetUserBlock(0, &header, &stored);
    EXPECT_EQ(header.id & 0xFF, 0x77u);
    flash->AddDynamic(0x80000004, 2);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
}

}  // namespace
}  // namespace qel::e2e
