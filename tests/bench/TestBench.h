// The small bench most tests run on, and a fixture that owns one instance.
#pragma once

#include "BenchClient.h"

#include <gtest/gtest.h>

#include <memory>

namespace benchtest {

// Board 0: module M0 (two processors, boot by copy, 16 sectors of 4 KiB) and
// module M1 (flash mapped at 0xB0000000); board 1: module M2.
inline const char* kTestDescription = R"(
bench "test bench"
board "Board A"
module M0 tim=QT-6201 type=0x11
flash size=64K sector=4K address=0x90000000 boot=copy copy=256
processor P0 family=7 subfamily=20 revision=1
memory 0x00000000 0x40000 INTERNAL
memory 0x80000000 0x100000 SDRAM
processor P1 family=7 subfamily=20 revision=1
memory 0x00000000 0x40000 INTERNAL
memory 0x80000000 0x100000 SDRAM
module M1 tim=QT-6710B type=0x31
flash size=64K sector=4K address=0xB0000000 boot=mapped
processor P2 family=9 subfamily=30 revision=1
memory 0x00000000 0x20000 INTERNAL
memory 0x80000000 0x100000 SDRAM
board "Board B"
module M2 tim=QT-6100L
flash size=32K sector=4K address=0x90000000
processor Q0 family=7 subfamily=20 revision=3
memory 0 0x40000 INTERNAL
)";

inline constexpr uint32_t kSector = 0x1000;
inline constexpr uint32_t kFlashSize = 0x10000;
inline constexpr uint32_t kBase = 0;  // programmer base
inline constexpr uint32_t kCommandBlock = kBase + 0x800;
inline constexpr uint32_t kSectorBuffer = 0x80000000;
inline constexpr uint32_t kTransfer = 0x80001000;
inline constexpr uint32_t kTransferSize = 0x10000;
inline constexpr uint32_t kSave = 0x80011000;
inline constexpr uint32_t kSaveSize = 0x20000;

class BenchTest : public ::testing::Test {
  protected:
    void SetUp() override { Open(); }
    void TearDown() override { Close(); }

    void Open(const std::string& description = kTestDescription) {
        app_ = CreateBench(description, dir_.Path() + "/state");
        ASSERT_NE(app_, nullptr);
        ASSERT_EQ(app_->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control_)),
                  kOk);
    }
    void Close() {
        clients_.clear();
        if (control_)
            control_->Release();
        if (app_)
            app_->Release();
        control_ = nullptr;
        app_ = nullptr;
    }
    // A fresh bench instance on the same state folder.
    void Reopen(const std::string& description = kTestDescription) {
        Close();
        Open(description);
    }

    Client& Proc(int board, int processor) {
        auto c = std::make_unique<Client>(app_, board, processor);
        clients_.push_back(std::move(c));
        return *clients_.back();
    }

    std::string ImagePath(int board, int processor) {
        std::string p;
        EXPECT_EQ(control_->GetFlashImagePath(board, processor, &p), kOk);
        return p;
    }

    // FDB payload and programmer in place, running, initialised: word 1 of
    // command 1.
    uint32_t StartProgrammer(Client& c, bool withFdb = true) {
        if (withFdb) {
            EXPECT_EQ(c.Load(dir_.Write("fdb.out",
                                        MakeCoff({{".fdb", kBase, MakeFdbPayload(0x11)}}, kBase))),
                      0);
        }
        EXPECT_EQ(
            c.Load(dir_.Write("fprog.out", MakeProgrammer(kBase + 0x1000, kCommandBlock, 0x11))),
            0);
        EXPECT_EQ(c.Run(), kOk);
        return c.Command(kCommandBlock, 1,
                         {kBase, kBase, kTransfer, kTransferSize, kSectorBuffer, kSave, kSaveSize});
    }

    // Write records: inline data or a kept image.
    struct Rec {
        uint32_t source;
        uint32_t offset;
        std::vector<uint8_t> data;  // inline when source == 0
        uint32_t length = 0;        // for kept images
    };
    static std::vector<uint8_t> Records(const std::vector<Rec>& recs, bool terminate = true) {
        std::vector<uint8_t> out;
        for (const Rec& r : recs) {
            const size_t at = out.size();
            PutU32(out, at, r.source);
            PutU32(out, at + 4, r.offset);
            PutU32(out, at + 8, r.source ? r.length : static_cast<uint32_t>(r.data.size()));
            if (r.source == 0)
                out.insert(out.end(), r.data.begin(), r.data.end());
        }
        if (terminate) {
            const size_t at = out.size();
            PutU32(out, at + 8, 0);
        }
        return out;
    }
    // Records into the transfer buffer, then command 4.
    uint32_t Program(Client& c, const std::vector<Rec>& recs) {
        EXPECT_TRUE(c.Write(kTransfer, Records(recs)));
        return c.Command(kCommandBlock, 4, {});
    }
    std::vector<uint8_t> FlashRead(Client& c, uint32_t offset, uint32_t length) {
        EXPECT_EQ(c.Command(kCommandBlock, 2, {offset, length}), 0u);
        return c.Read(kTransfer, length);
    }

    TempDir dir_;
    IApplication* app_ = nullptr;
    IBenchControl* control_ = nullptr;
    std::vector<std::unique_ptr<Client>> clients_;
};

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

}  // namespace benchtest
