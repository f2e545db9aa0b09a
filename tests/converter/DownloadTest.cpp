// Download end to end, in one process: Quillon converts an executable and
// sends it through libQelDrv.so to a carrier board of the bench that runs
// here, and the bench's control interface reads the target back.
#include "ConverterTestSupport.h"

#include "QelBench.h"
#include "QelBenchComport.h"
#include "converter/QelDrvLoad.h"
#include "converter/Quillon.h"

#include <cstdio>
#include <cstdlib>

namespace qel::converter_test {
namespace {

using namespace qel::bench;
using fixtures::CoffBuilder;
using fixtures::CoffSectionSpec;

// Board 0: a QT-6201 on the first site (two processors), a second module;
// board 1: one module.
const char* kDescription = R"(
bench "download bench"
board "Carrier A"
module M0 tim=QT-6201 type=0x11
flash size=64K sector=4K address=0x90000000 boot=copy copy=256
processor P0 family=7 subfamily=20 revision=1
memory 0x00000000 0x40000 INTERNAL
memory 0x80000000 0x1000000 SDRAM
processor P1 family=7 subfamily=20 revision=1
memory 0x00000000 0x40000 INTERNAL
memory 0x80000000 0x1000000 SDRAM
module M1 tim=QT-6100L type=0x39
flash size=64K sector=4K address=0x90000000
processor Q0 family=7 subfamily=20 revision=3
memory 0x00000000 0x40000 INTERNAL
board "Carrier B"
module M2 tim=QT-6100L type=0x39
flash size=64K sector=4K address=0x90000000
processor R0 family=7 subfamily=20 revision=3
memory 0x00000000 0x40000 INTERNAL
)";

constexpr uint32_t kEntry = 0x80000040;

struct Placed {
    uint32_t address;
    std::vector<uint8_t> data;
};

class DownloadTest : public ::testing::Test {
  protected:
    DownloadTest()
        : tims_(temp_, {{"QT-6201", 0x11, {{0x0, 0x40000}, {0x80000000, 0x1000000}}},
                        {"ELSEWHERE", 0x19, {{0x40000000, 0x100000}}}}) {}

    void SetUp() override {
        BenchOptions options;
        options.descriptionText = kDescription;
        options.stateFolder = temp_.File("bench");
        options.registerActive = true;
        ASSERT_EQ(QelBenchCreate(options, &app_), kOk);
        ASSERT_EQ(app_->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control_)),
                  kOk);
        ASSERT_EQ(app_->QueryInterface(IComportLink::kIid, reinterpret_cast<void**>(&link_)), kOk);
        // The driver must find this bench, not make one of its own.
        IUnknown* active = nullptr;
        ASSERT_EQ(QelBenchGetActiveObject(kClsidApplication, &active), kOk);
        active->Release();
    }
    void TearDown() override {
        if (link_)
            link_->Release();
        if (control_)
            control_->Release();
        if (app_)
            app_->Release();
    }

    // Text, code, large split data, a word-padded odd size, uninitialised data.
    std::string Executable(std::vector<Placed>& placed) {
        placed = {{0x80000000, Pattern(0x400, 3)},
                  {0x00000200, Pattern(10, 5)},
                  {0x80100000, Pattern(0x50000, 7)}};
        CoffBuilder coff;
        coff.SetEntryPoint(kEntry);
        for (const Placed& p : placed) coff.AddSection(".sect", p.address, p.data);
        CoffSectionSpec bss;
        bss.name = ".bss";
        bss.physicalAddress = 0x80200000;
        bss.size = 0x100;
        bss.flags = 0x80;
        bss.noRawData = true;
        coff.AddSection(bss);
        return temp_.Write("program.out", coff.Build());
    }

    struct Outcome {
        int status;
        std::string out;
    };
    Outcome Quillon(const std::vector<std::string>& args) {
        char* text = nullptr;
        size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        std::vector<std::string> all{"Quillon"};
        all.insert(all.end(), args.begin(), args.end());
        const int status = quillon::Run(all, out);
        std::fclose(out);
        Outcome o{status, std::string(text, size)};
        std::free(text);
        return o;
    }

    std::vector<uint8_t> Peek(int board, int processor, uint32_t address, uint32_t length) {
        std::vector<uint8_t> bytes(length);
        EXPECT_EQ(control_->PeekMemory(board, processor, address, bytes.data(), length), kOk);
        return bytes;
    }
    std::pair<int32_t, uint32_t> Execution(int board, int processor) {
        int32_t state = -1;
        uint32_t pc = 0;
        EXPECT_EQ(link_->GetExecution(board, processor, &state, &pc), kOk);
        return {state, pc};
    }

    fixtures::TestTempDir temp_;
    TimFolder tims_;
    IApplication* app_ = nullptr;
    IBenchControl* control_ = nullptr;
    IComportLink* link_ = nullptr;
};

TEST_F(DownloadTest, EverySectionLandsAtItsLoadAddressAndTheProcessorRunsFromTheEntryPoint) {
    for (const char* format : {"\\N", "\\O"}) {
        SCOPED_TRACE(format);
        TearDown();
        SetUp();
        std::vector<Placed> placed;
        const std::string source = Executable(placed);
        const std::string image = temp_.File("program.bin");
        // What was there before: the second processor of the site, and the
        // bytes that round the odd section up, stay as they are.
        const std::vector<uint8_t> before = Peek(0, 1, 0x80000000, 0x400);

        const Outcome o = Quillon({source, image, "\\TQT-6201", format, "\\D0"});
        EXPECT_EQ(o.status, 0) << o.out;
        EXPECT_NE(o.out.find("Reset TIM.\nDownloading DSP application.\nSuccess\n\n"),
                  std::string::npos)
            << o.out;

        for (const Placed& p : placed)
            EXPECT_EQ(Peek(0, 0, p.address, static_cast<uint32_t>(p.data.size())), p.data)
                << Hex(p.address);
        EXPECT_EQ(Execution(0, 0), std::make_pair(kExecRunning, kEntry));
        EXPECT_EQ(Peek(0, 1, 0x80000000, 0x400), before);
        EXPECT_NE(Execution(0, 1).first, kExecRunning);
    }
}

TEST_F(DownloadTest, ImageTheBootLoaderRefusesIsADownloadFailure) {
    // Converted for a memory the board does not have: the record lands
    // outside the target's memory.
    const std::string source =
        temp_.Write("elsewhere.out", CoffBuilder()
                                         .SetEntryPoint(0x40000000)
                                         .AddSection(".text", 0x40000000, Pattern(64))
                                         .Build());
    const Outcome o = Quillon({source, temp_.File("elsewhere.bin"), "\\TELSEWHERE", "\\D0"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.out.find("Downloading DSP application.\n"
                         "Could not download the file to the DSP. Error = (The transmission "
                         "(comport or VTL) has been timed out.)\n"),
              std::string::npos)
        << o.out;
    EXPECT_EQ(o.out.find("Success"), std::string::npos);
    EXPECT_NE(Execution(0, 0).first, kExecRunning);
}

TEST_F(DownloadTest, DamagedImagesAreRefusedAndChangeNothing) {
    const std::vector<uint8_t> data = Pattern(16, 9);
    auto oldImage = [&](uint32_t length, uint32_t address) {
        return Bytes()
            .Words({0x3779, 0x3E39FFF0, 0x3E39FFF0, 1, 0x100, 0, length, address})
            .Raw(data)
            .Words({0});
    };
    auto newImage = [&](uint32_t loader, uint32_t length, uint32_t address) {
        return Bytes().Words({0xBBBB0002, loader, length, address}).Raw(data).Words({0, 0x100});
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        uint32_t code;
    };
    std::vector<uint8_t> oddLength = oldImage(16, 0x100).Get();
    oddLength.push_back(0);
    std::vector<uint8_t> noTerminator = oldImage(16, 0x100).Get();
    noTerminator.resize(noTerminator.size() - 4);
    const Case cases[] = {
        {"length word not a multiple of 4", oldImage(14, 0x100).Get(), 0xC000A},
        {"length word past the end of the image", oldImage(0x20, 0x100).Get(), 0xC000A},
        {"length word above the record limit", newImage(0x80F00000, 0x40000, 0x100).Get(), 0xC000A},
        {"record past the memory", oldImage(16, 0x3FFF8).Get(), 0xC000A},
        {"record where there is no memory", newImage(0x80F00000, 16, 0x40000000).Get(), 0xC000A},
        {"record over the boot loader", newImage(0x80F00000, 16, 0x80F00FF0).Get(), 0xC000A},
        {"boot loader place not aligned", newImage(0x80F00010, 16, 0x100).Get(), 0xC000A},
        {"boot loader place without memory", newImage(0x40000000, 16, 0x100).Get(), 0xC000A},
        {"unknown marker", Bytes().Words({0x12345678, 0, 0}).Get(), 0xC000A},
        {"damaged old header", Bytes().Words({0x3779, 0x3E39FFF0, 0, 1, 0x100, 0, 0}).Get(),
         0xC000A},
        {"no terminator", noTerminator, 0xC000A},
        {"bytes after the terminator", Bytes().Words({0xBBBB0002, 0x80F00000, 0, 0x100, 7}).Get(),
         0xC000A},
        {"file size not a multiple of 4", oddLength, 0xC000B},
    };
    CQelDrvLoad driver;
    ASSERT_EQ(driver.QelOpen(), 0u);
    ASSERT_EQ(driver.QelGetBoardCount(), 2u);
    CQelBoard* board = driver.QelOpenBoard(0);
    ASSERT_NE(board, nullptr);
    const std::vector<uint8_t> sentinel = Pattern(0x40, 0x77);
    ASSERT_EQ(control_->PokeMemory(0, 0, 0x100, sentinel.data(), 0x40), kOk);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(board->ResetTim(), 0u);
        const std::string path = temp_.Write("damaged.bin", c.image);
        EXPECT_EQ(board->Download(path.c_str(), 0), c.code);
        EXPECT_EQ(board->GetLastError(), c.code);
        EXPECT_EQ(Peek(0, 0, 0x100, 0x40), sentinel);
        EXPECT_NE(Execution(0, 0).first, kExecRunning);
    }
    // The same board takes a sound image afterwards.
    const std::string good = temp_.Write("good.bin", oldImage(16, 0x100).Get());
    EXPECT_EQ(board->Download(good.c_str(), 0), 0u);
    EXPECT_EQ(Peek(0, 0, 0x100, 16), data);
    EXPECT_EQ(Execution(0, 0), std::make_pair(kExecRunning, 0x100u));
    EXPECT_EQ(board->Download(temp_.File("missing.bin").c_str(), 0), 0xC0004u);
    EXPECT_EQ(driver.QelCloseBoard(board), 0u);
    EXPECT_EQ(driver.QelClose(), 0u);
}

// Callers reach the two board operations by their slot among the object's
// operations (0: reset the TIM, 19: download), whatever header they were
// built with.
TEST_F(DownloadTest, BoardOperationsSitAtTheirSlots) {
    using ResetSlot = uint32_t (*)(CQelBoard*);
    using DownloadSlot = uint32_t (*)(CQelBoard*, const char*, uint32_t);
    const std::string image = temp_.Write(
        "small.bin", Bytes().Words({0xBBBB0002, 0x3E000, 8, 0x400, 1, 2, 0, 0x400}).Get());
    CQelDrvLoad driver;
    ASSERT_EQ(driver.QelOpen(), 0u);
    CQelBoard* board = driver.QelOpenBoard(0);
    ASSERT_NE(board, nullptr);
    void* const* slots = *reinterpret_cast<void* const* const*>(board);

    EXPECT_EQ(reinterpret_cast<DownloadSlot>(slots[19])(board, image.c_str(), 0), 0u);
    EXPECT_EQ(Execution(0, 0), std::make_pair(kExecRunning, 0x400u));
    EXPECT_EQ(reinterpret_cast<ResetSlot>(slots[0])(board), 0u);
    EXPECT_EQ(Execution(0, 0).first, kExecHalted);
    driver.QelClose();
}

TEST_F(DownloadTest, NoCarrierBoardFound) {
    ASSERT_EQ(link_->SetCarrierPresent(0, kVariantFalse), kOk);
    ASSERT_EQ(link_->SetCarrierPresent(1, kVariantFalse), kOk);
    std::vector<Placed> placed;
    const std::string image = temp_.File("program.bin");
    const Outcome o = Quillon({Executable(placed), image, "\\TQT-6201", "\\D0"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.out.find("Downloading the file to the DSP ....\n"
                         "No Halvern carrier pboards found\n"),
              std::string::npos)
        << o.out;
    EXPECT_EQ(o.out.find("Success"), std::string::npos);
    EXPECT_GT(ReadFile(image).size(), 0u);
}

TEST_F(DownloadTest, BoardNumberThatDoesNotOpen) {
    std::vector<Placed> placed;
    const std::string source = Executable(placed);
    for (const char* option : {"\\D2", "\\D-1"}) {
        const Outcome o = Quillon({source, temp_.File("program.bin"), "\\TQT-6201", option});
        EXPECT_EQ(o.status, 2);
        EXPECT_NE(o.out.find("Downloading the file to the DSP ....\n"
                             "Could not open the carrier board\n"),
                  std::string::npos)
            << o.out;
    }
    EXPECT_NE(Execution(0, 0).first, kExecRunning);
}

TEST_F(DownloadTest, CarrierNumbersSkipAbsentBoards) {
    // With the first carrier gone, carrier 0 is the second board.
    ASSERT_EQ(link_->SetCarrierPresent(0, kVariantFalse), kOk);
    const std::string image = temp_.Write(
        "small.bin", Bytes().Words({0xBBBB0002, 0x3E000, 8, 0x400, 1, 2, 0, 0x400}).Get());
    CQelDrvLoad driver;
    ASSERT_EQ(driver.QelOpen(), 0u);
    EXPECT_EQ(driver.QelGetBoardCount(), 1u);
    CQelBoard* board = driver.QelOpenBoard(0);
    ASSERT_NE(board, nullptr);
    QelBoardInfo info{};
    EXPECT_EQ(board->GetInfo(&info), 0u);
    EXPECT_EQ(info.benchBoard, 1u);
    EXPECT_STREQ(info.name, "Carrier B");
    EXPECT_EQ(board->Download(image.c_str(), 0), 0u);
    EXPECT_EQ(Execution(1, 0), std::make_pair(kExecRunning, 0x400u));
    EXPECT_NE(Execution(0, 0).first, kExecRunning);
    EXPECT_EQ(driver.QelOpenBoard(1), nullptr);
    driver.QelClose();  // gives the board back too
}

}  // namespace
}  // namespace qel::converter_test
