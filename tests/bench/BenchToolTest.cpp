// The console tool, run as people run it.
#include "TestBench.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace benchtest {
namespace {

class Tool : public BenchTest {
  protected:
    // Exit code; the output (both streams) in `out`.
    int Run(const std::string& args, std::string& out) {
        const std::string description = dir_.WriteText("bench.txt", kTestDescription);
        const std::string log = dir_.File("tool.log");
        const std::string cmd = std::string("'") + QEL_BENCH_TOOL + "' --description '" +
                                description + "' --state '" + dir_.Path() + "/state' " + args +
                                " > '" + log + "' 2>&1";
        const int rc = std::system(cmd.c_str());
        const auto bytes = ReadFile(log);
        out.assign(bytes.begin(), bytes.end());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    static bool Has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
};

TEST_F(Tool, HelpAndUsageErrors) {
    std::string out;
    EXPECT_EQ(Run("--help", out), 0);
    EXPECT_TRUE(Has(out, "Usage: qel-bench"));
    struct Case {
        const char* args;
        const char* says;
    } cases[] = {
        {"", "no command given"},
        {"frob", "unknown command 'frob'"},
        {"show 0", "show needs BOARD PROCESSOR"},
        {"show 0 7", "board 0 has no processor 7 (it has 3)"},
        {"show x 0", "there is no board named \"x\""},
        {"show 0 P9", "board 0 has no processor named \"P9\""},
        {"erase 5 0", "there is no board 5"},
        {"fault 0 3 fail-memory", "board 0 has no processor 3 (it has 3)"},
        {"fault 0 0 explode", "unknown fault kind 'explode'"},
        {"list --frob", "unknown option '--frob'"},
        {"list --clear", "--clear belongs to fault"},
        {"list --state", "--state needs a folder"},
        {"list --state --clear", "--state needs a folder, not the option '--clear'"},
        // Counts outside what each kind takes.
        {"fault 0 0 missing-events 8", "missing-events takes an interface number 1 to 13"},
        {"fault 0 0 missing-events 14", "not 14"},
        {"fault 0 0 fail-memory 1000001", "fail-memory takes a count from 0 to 1000000"},
        {"fault 0 0 power-cut x", "COUNT must be a number, not 'x'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args, out), 2) << c.args;
        EXPECT_TRUE(Has(out, c.says)) << c.args << ": " << out;
    }
}

TEST_F(Tool, VersionAndOptionsAnywhere) {
    std::string out;
    for (const char* args : {"--version", "-V", "list --version"}) {
        EXPECT_EQ(Run(args, out), 0) << args;
        EXPECT_EQ(out.rfind("qel-bench ", 0), 0u) << args << ": " << out;
    }
    // Options after the command and in --name=value form; the later --state wins.
    const std::string description = dir_.WriteText("bench.txt", kTestDescription);
    const std::string log = dir_.File("anywhere.log");
    const std::string cmd = std::string("'") + QEL_BENCH_TOOL + "' list --description='" +
                            description + "' --state='" + dir_.Path() + "/other' > '" + log +
                            "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const auto bytes = ReadFile(log);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_TRUE(Has(text, "State folder: " + dir_.Path() + "/other")) << text;
    EXPECT_TRUE(Has(text, "Bench: test bench")) << text;
}

// Files the bench reads must be regular files of a bounded size, refused
// before reading: a device or a FIFO would block or never end.
TEST_F(Tool, RefusesADescriptionThatIsNoRegularFile) {
    const std::string fifo = dir_.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir_.WriteText("big.txt", std::string((1u << 20) + 1, '#'));
    struct Case {
        std::string file;
        const char* says;
    } cases[] = {{"/dev/zero", "not a regular file"},
                 {fifo, "not a regular file"},
                 {dir_.Path(), "not a regular file"},
                 {big, "larger than 1048576 bytes"},
                 {dir_.File("missing.txt"), "No such file or directory"}};
    for (const Case& c : cases) {
        const std::string log = dir_.File("refused.log");
        const std::string cmd = std::string("'") + QEL_BENCH_TOOL + "' --description '" + c.file +
                                "' list > '" + log + "' 2>&1";
        const int rc = std::system(cmd.c_str());
        const auto bytes = ReadFile(log);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, 1) << c.file;
        EXPECT_TRUE(Has(text, "cannot read the bench description '" + c.file + "': " + c.says))
            << text;
    }
}

TEST_F(Tool, AFlashImageThatIsNoRegularFileIsRefusedNotRead) {
    std::filesystem::create_directories(dir_.Path() + "/state");
    const std::string image = dir_.Path() + "/state/board1-module0-QT-6100L.img";
    ASSERT_EQ(mkfifo(image.c_str(), 0600), 0);
    std::string out;
    for (const char* command : {"show 1 0", "erase 1 0"}) {
        EXPECT_EQ(Run(command, out), 1) << command;
        EXPECT_TRUE(Has(out, "the flash image '" + image + "' is not a regular file")) << out;
    }
}

TEST_F(Tool, RefusesAnUnknownTimingOverride) {
    std::string out;
    setenv("QEL4410_BENCH_TIMING", "bogus", 1);
    const int rc = Run("list", out);
    unsetenv("QEL4410_BENCH_TIMING");
    EXPECT_EQ(rc, 1) << out;
    EXPECT_TRUE(Has(out, "QEL4410_BENCH_TIMING must be 'off' or 'realistic', not 'bogus'")) << out;
}

TEST_F(Tool, ListShowsModulesProcessorsAndImages) {
    std::string out;
    ASSERT_EQ(Run("list", out), 0) << out;
    EXPECT_TRUE(Has(out, "board 1 \"Board B\""));
    EXPECT_TRUE(Has(out, "module 1 \"M1\" QT-6710B"));
    EXPECT_TRUE(Has(out, "processor 2 \"P2\""));
    EXPECT_TRUE(Has(out, "flash 64 KiB in 16 sectors of 4 KiB at 0xB0000000, boot mapped"));
    EXPECT_TRUE(Has(out, ImagePath(0, 0) + " (not written yet: erased)"));
}

TEST_F(Tool, ShowWalksTheChain) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    std::vector<uint8_t> f(0x300, 0);
    PutU32(f, 16, 0x100);
    PutU32(f, 20, 0x19283746);
    PutU32(f, 40, 0x11);
    PutU32(f, 0x100, 1);
    PutU32(f, 0x108, 0x12341234);
    PutU32(f, 0x10C, 0x180);
    PutU32(f, 0x110, 120);
    PutU32(f, 0x118, 4);  // data length
    PutU32(f, 0x11C, 0x00020003);
    const uint8_t payload[4] = {1, 2, 3, 4};
    std::copy(payload, payload + 4, f.begin() + 0x100 + 120);
    PutU32(f, 0x120, 0xB63CFBCD);  // CRC-32 of 01 02 03 04
    const char name[] = "BOOTER";
    std::copy(name, name + 6, f.begin() + 0x100 + 48 + 56);
    PutU32(f, 0x280, 0xFFFF);
    PutU32(f, 0x288, 0x12341234);
    PutU32(f, 0x28C, 0x80);
    PutU32(f, 0x290, 48);
    ASSERT_EQ(Program(c, {{0, 0, f}}), 0u);
    std::string out;
    ASSERT_EQ(Run("show 0 0", out), 0) << out;
    EXPECT_TRUE(Has(out, "init image, TIM type 0x00000011")) << out;
    EXPECT_TRUE(Has(out, "boot loader \"BOOTER\" version 2.3, 4 data bytes, CRC good")) << out;
    EXPECT_TRUE(Has(out, "0x00000280  128         termination")) << out;
    EXPECT_TRUE(Has(out, "768 bytes used, 64768 free.")) << out;
}

TEST_F(Tool, ShowTellsAnErasedFlash) {
    std::string out;
    ASSERT_EQ(Run("show 1 0", out), 0);
    EXPECT_TRUE(Has(out, "the flash is erased")) << out;
}

TEST_F(Tool, EraseWipesAModule) {
    Client& c = Proc(0, 0);
    ASSERT_EQ(StartProgrammer(c), 0u);
    ASSERT_EQ(Program(c, {{0, 0x100, Pattern(64, 1)}}), 0u);
    std::string out;
    ASSERT_EQ(Run("erase 0 0", out), 0) << out;
    EXPECT_EQ(ReadFile(ImagePath(0, 0)), std::vector<uint8_t>(kFlashSize, 0xFF));
    EXPECT_EQ(c.Read(0x90000100, 64), std::vector<uint8_t>(64, 0xFF));
}

TEST_F(Tool, StoredFaultsArmTheNextBench) {
    std::string out;
    ASSERT_EQ(Run("fault 0 1 fail-memory 1", out), 0) << out;
    ASSERT_EQ(Run("list", out), 0);
    EXPECT_TRUE(Has(out, "fault fail-memory 1 (stored)")) << out;
    Reopen();
    uint32_t w = 0;
    EXPECT_FALSE(Proc(0, 1).Read(0x80000000, &w, 4));
    EXPECT_TRUE(Proc(0, 1).Read(0x80000000, &w, 4));
    ASSERT_EQ(Run("fault 0 P0 power-cut 3", out), 0) << out;
    ASSERT_EQ(Run("fault --clear", out), 0);
    EXPECT_TRUE(Has(out, "Cleared 2 stored fault switches:")) << out;
    EXPECT_TRUE(Has(out, "fail-memory 1 on board 0 processor 1")) << out;
    EXPECT_TRUE(Has(out, "power-cut 3 on board 0 processor 0")) << out;
    Reopen();
    EXPECT_TRUE(Proc(0, 1).Read(0x80000000, &w, 4));
    ASSERT_EQ(Run("fault --clear", out), 0);
    EXPECT_TRUE(Has(out, "There were no stored fault switches to clear.")) << out;
}

// Show and erase name a module by one of its processors, numbered across the
// board as qel-flash numbers them: processor 2 of board 0 is on module M1.
TEST_F(Tool, ProcessorsNumberedAsTheProgrammerNumbersThem) {
    std::string out;
    ASSERT_EQ(Run("erase 0 2", out), 0) << out;
    EXPECT_TRUE(Has(out, "module \"M1\" (processor 2) on board 0")) << out;
    ASSERT_EQ(Run("show 0 P1", out), 0) << out;
    EXPECT_TRUE(Has(out, "Module \"M0\" (QT-6201)")) << out;
    ASSERT_EQ(Run("show \"Board B\" Q0", out), 0) << out;
    EXPECT_TRUE(Has(out, "Module \"M2\" (QT-6100L)")) << out;
}

}  // namespace
}  // namespace benchtest
