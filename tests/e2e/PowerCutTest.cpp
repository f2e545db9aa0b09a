// The power fails in the middle of a commit that moves blocks. After a reset
// and a new selection the engine must not pass a damaged block off as good,
// and the whole chain can be committed again.
#include "EngineBench.h"

#include <gtest/gtest.h>

#include <ostream>

#include <map>

namespace qel::e2e {
namespace {

struct CutCase {
    const char* name;
    size_t sizes[3];
    uint32_t cutAfter;  // the power fails right after this sector of command 4
};

// Test descriptions show the case by name.
void PrintTo(const CutCase& c, std::ostream* out) {
    *out << c.name;
}

// With the first two blocks of one size, the second's old header lies where
// the moved one would end: a chain cut short still looks complete.
const CutCase kCutCases[] = {
    {"Sector1", {100000, 120000, 90000}, 1},
    {"Sector2", {100000, 120000, 90000}, 2},
    {"Sector3", {100000, 120000, 90000}, 3},
    {"LastSector", {100000, 120000, 90000}, 4},
    {"EqualSizesSector1", {100000, 100000, 90000}, 1},
    {"EqualSizesSector2", {100000, 100000, 90000}, 2},
};

class PowerCutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(PowerCutTest, NoDamagedBlockPassesAndTheChainCanBeWrittenAgain) {
    const CutCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->SetBootLoader(nullptr);
    flash->SetBitstream(nullptr);
    flash->AddDynamic(0x80000000, 0x11);
    std::map<uint32_t, std::string> files;  // id -> file
    for (uint32_t i = 0; i < 3; ++i) {
        files[i + 1] = bench.WriteData("user" + std::to_string(i) + ".bin", c.sizes[i],
                                       static_cast<uint8_t>(40 + i));
        const UserBlockRecord record = UserRecord(files[i + 1]);
        flash->AddUserBlock(0x10, &record, i + 1, 1, 0, -1);
    }
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());

    // A new engine (payloads on the flash) removes the first block: the
    // others move down, and the power fails while they are written.
    bench.Close();
    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    flash->RemoveUserBlock(0);
    bench.Control()->SetFault(0, 0, qel::bench::Fault::PowerCut, c.cutAfter);
    EXPECT_EQ(flash->Commit(), 2);
    bench.Control()->ClearFaults(0, 0);

    // Reset (the connect resets the module) and select again.
    ASSERT_EQ(flash->Connect(), 0) << Describe(flash->GetLastError());
    ASSERT_EQ(flash->SelectTimType("QT-6201", nullptr), 0) << Describe(flash->GetLastError());
    const ImageChain image = WalkImage(bench.FlashImage(0, 0));
    uint32_t users = 0;
    flash->GetUserBlockCount(&users);
    for (uint32_t i = 0; i < users; ++i) {
        BlockHeader header;
        UserBlockRecord record;
        flash->GetUserBlock(i, &header, &record);
        ASSERT_TRUE(files.count(header.id)) << "user block " << i;
        ASSERT_LT(4 + i, image.blocks.size());
        const ImageBlock& onFlash = image.blocks[4 + i];  // the image walk has no init entry
        ASSERT_EQ(onFlash.header.id, header.id);
        const uint32_t error =
            ErrorOf([&] { flash->VerifyUserBlock(i, files[header.id].c_str()); });
        if (onFlash.payloadIntact) {
            EXPECT_EQ(error, 0u) << "intact user block " << i << " refused";
        } else {
            EXPECT_NE(error, 0u) << "damaged user block " << i << " verified";
        }
    }

    // Everything again: the remaining blocks from their files.
    while (users > 0) flash->RemoveUserBlock(--users);
    flash->SetBootLoader(nullptr);
    flash->SetBitstream(nullptr);
    flash->ClearDynamics();
    flash->AddDynamic(0x80000000, 0x22);
    for (uint32_t id : {2u, 3u}) {
        const UserBlockRecord record = UserRecord(files[id]);
        flash->AddUserBlock(0x10, &record, id, 1, 0, -1);
    }
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());

    bench.Close();
    flash = bench.Flash(0, 0);
    bench.ConnectAndSelect(flash, "QT-6201");
    const ImageChain written = WalkImage(bench.FlashImage(0, 0));
    EXPECT_TRUE(written.terminated);
    for (const ImageBlock& b : written.blocks) EXPECT_TRUE(b.payloadIntact);
    flash->GetUserBlockCount(&users);
    ASSERT_EQ(users, 2u);
    for (uint32_t i = 0; i < users; ++i) {
        BlockHeader header;
        UserBlockRecord record;
        flash->GetUserBlock(i, &header, &record);
        EXPECT_EQ(header.id, i + 2);
        EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(i, files[i + 2].c_str()); }), 0u);
    }
    uint32_t address = 0, value = 0;
    flash->GetDynamic(0, &address, &value);
    EXPECT_EQ(value, 0x22u);
}

INSTANTIATE_TEST_SUITE_P(Cuts, PowerCutTest, ::testing::ValuesIn(kCutCases), CaseName());

}  // namespace
}  // namespace qel::e2e
