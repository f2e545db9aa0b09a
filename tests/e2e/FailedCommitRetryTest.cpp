// A commit that moves blocks fails after the programmer has kept images for
// it and after part of it has been programmed; the chain is edited again and
// committed: every block must come out with its own payload.
#include "EngineBench.h"

#include "engine/Exc.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace qel::e2e {
namespace {

using qel::bench::Fault;

// QT-TEST10 has internal memory only: a transfer buffer and a save area of
// about 64 KiB each, so a few blocks are kept and the rest read back, and the
// writing takes several staging loads.
constexpr int kProcessor = 9;
constexpr const char* kTim = "QT-TEST10";

struct UserFile {
    uint32_t id;
    std::string path;
};

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Fails the staging load with the given number (counting from 1) by arming
// the bench's load fault when the engine announces that load.
struct FailLoadNumber {
    qel::bench::IBenchControl* control;
    int failing;
    int loads = 0;

    static int Callback(int kind, int a, intptr_t b, uintptr_t context) {
        auto* self = reinterpret_cast<FailLoadNumber*>(context);
        if (kind == 2 && a == 0 && b &&
            std::string(reinterpret_cast<const char*>(b)) == "Loading data to DSP ..." &&
            ++self->loads == self->failing) {
            self->control->SetFault(0, kProcessor, Fault::FailLoad, 1);
        }
        return 0;
    }
};

// Walks the flash image: a complete chain whose user blocks are `expected`,
// in order, each holding its file's bytes.
void ExpectChain(EngineBench& bench, const std::vector<UserFile>& expected) {
    const std::vector<uint8_t> image = bench.FlashImage(0, kProcessor);
    const ImageChain chain = WalkImage(image);
    ASSERT_TRUE(chain.terminated);
    std::vector<const ImageBlock*> users;
    for (const ImageBlock& b : chain.blocks) {
        EXPECT_TRUE(b.payloadIntact) << "block at 0x" << std::hex << b.offset;
        if ((b.header.type & 0xFFFF) == 5)
            users.push_back(&b);
    }
    ASSERT_EQ(users.size(), expected.size());
    for (size_t i = 0; i < users.size(); ++i) {
        EXPECT_EQ(users[i]->header.id, expected[i].id) << "user block " << i;
        const std::vector<uint8_t> bytes = ReadFile(expected[i].path);
        const size_t at = users[i]->offset + users[i]->header.dataOffset;
        ASSERT_EQ(users[i]->header.dataLength, bytes.size()) << "user block " << i;
        ASSERT_LE(at + bytes.size(), image.size());
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.begin() + at))
            << "user block " << i << " holds another payload";
    }
}

// An edit of the chain read back from the flash; `files` follows it.
using Edit = std::function<void(EngineBench&, IFFlash*, std::vector<UserFile>& files)>;

void RemoveUser(IFFlash* flash, std::vector<UserFile>& files, uint32_t index) {
    flash->RemoveUserBlock(index);
    files.erase(files.begin() + index);
}

struct RetryCase {
    const char* name;
    std::vector<size_t> sizes;  // user blocks committed and read back first
    Edit failing;               // before the commit whose second load fails
    Edit retry;                 // before the commit that must succeed
};

void PrintTo(const RetryCase& c, std::ostream* out) {
    *out << c.name;
}

const RetryCase kRetryCases[] = {
    // The blocks behind the third one move and some are kept; the retry
    // moves the blocks in front as well, and the programmer keeps new images
    // for them.
    {"RemoveThenRemoveTheFirst",
     {2000, 20000, 2000, 20000, 20000, 20000, 20000, 20000, 20000, 20000},
     [](EngineBench&, IFFlash* flash, std::vector<UserFile>& files) {
         RemoveUser(flash, files, 2);
     },
     [](EngineBench&, IFFlash* flash, std::vector<UserFile>& files) {
         RemoveUser(flash, files, 0);
     }},
    // A large block comes first: its first load overwrites the old places of
    // kept blocks whose copies were to follow in the second load.
    {"InsertInFrontThenRetry",
     {2000, 20000, 20000, 20000, 20000},
     [](EngineBench& bench, IFFlash* flash, std::vector<UserFile>& files) {
         files.insert(files.begin(), {99, bench.WriteData("front.bin", 70000, 0x5A)});
         const UserBlockRecord record = UserRecord(files.front().path);
         flash->AddUserBlock(0x10, &record, 99, 1, 0, 0);
     },
     [](EngineBench&, IFFlash*, std::vector<UserFile>&) {}},
};

class FailedCommitRetryTest : public ::testing::TestWithParam<RetryCase> {};

TEST_P(FailedCommitRetryTest, RetryLeavesEveryBlockWithItsPayload) {
    const RetryCase& c = GetParam();
    EngineBench bench;
    IFFlash* flash = bench.Flash(0, kProcessor);
    bench.ConnectAndSelect(flash, kTim);
    flash->SetBootLoader(nullptr);
    std::vector<UserFile> files;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
        const uint32_t id = 100 + static_cast<uint32_t>(i);
        files.push_back({id, bench.WriteData("user" + std::to_string(i) + ".bin", c.sizes[i],
                                             static_cast<uint8_t>(7 * i + 1))});
        const UserBlockRecord record = UserRecord(files.back().path);
        flash->AddUserBlock(0x10, &record, id, 1, 0, -1);
    }
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    // A new engine: the payloads stay on the flash until a move needs them.
    bench.Close();
    flash = bench.Flash(0, kProcessor);
    bench.ConnectAndSelect(flash, kTim);

    // The first staging load is programmed, the second cannot be brought
    // into the DSP.
    c.failing(bench, flash, files);
    FailLoadNumber fail{bench.Control(), 2};
    {
        NoticeLog log;
        struct Both {
            FailLoadNumber* fail;
            NoticeLog* log;
            static int Callback(int kind, int a, intptr_t b, uintptr_t context) {
                auto* self = reinterpret_cast<Both*>(context);
                FailLoadNumber::Callback(kind, a, b, reinterpret_cast<uintptr_t>(self->fail));
                return NoticeLog::Callback(kind, a, b, reinterpret_cast<uintptr_t>(self->log));
            }
        } both{&fail, &log};
        flash->SetCallback(&Both::Callback, reinterpret_cast<uintptr_t>(&both));
        ASSERT_EQ(flash->Commit(), -1);
        ASSERT_EQ(log.WaitFinished(), 2);
        flash->SetCallback(nullptr, 0);
    }
    ASSERT_EQ(fail.loads, 2) << "the commit must get as far as its second staging load";
    bench.Control()->ClearFaults(0, kProcessor);

    c.retry(bench, flash, files);
    ASSERT_EQ(flash->Commit(), 0) << Describe(flash->GetLastError());
    EXPECT_FALSE(flash->IsModified());
    ExpectChain(bench, files);

    // Read back by a new engine, every block verifies against its file.
    bench.Close();
    flash = bench.Flash(0, kProcessor);
    bench.ConnectAndSelect(flash, kTim);
    uint32_t count = 0;
    flash->GetUserBlockCount(&count);
    ASSERT_EQ(count, files.size());
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(ErrorOf([&] { flash->VerifyUserBlock(i, files[i].path.c_str()); }), 0u)
            << "user block " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Move, FailedCommitRetryTest, ::testing::ValuesIn(kRetryCases), CaseName());

}  // namespace
}  // namespace qel::e2e
