// qel-flash on a command line: streams, machine-readable output, a flash it
// must not wipe unasked, long waits and Ctrl-C.
#include "QelFlashFixture.h"

#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace qel::programmer_test {
namespace {

using Json = nlohmann::json;

class QelFlashConsoleTest : public QelFlashTest {
  protected:
    Json RunJson(const std::vector<std::string>& args, int status = 0) const {
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, status) << Show(r);
        Json j = Json::parse(r.out, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << Show(r);
        return j;
    }
    std::string ImageFile() const { return runner_.StateFolder() + "/board0-module0-QT-6201.img"; }
    std::vector<char> Image() const {
        std::ifstream in(ImageFile(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void PutImage(const std::vector<char>& bytes) const {
        std::ofstream(ImageFile(), std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
};

TEST_F(QelFlashConsoleTest, VersionAndEnvironmentInTheHelp) {
    for (const auto& args : {std::vector<std::string>{"--version"}, {"-V"}, {"list", "-V"}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 0) << Show(r);
        const std::string version = r.out.substr(0, r.out.find('\n'));
        EXPECT_EQ(version.rfind("qel-flash ", 0), 0u) << Show(r);
        EXPECT_GT(version.size(), 10u) << Show(r);
        EXPECT_EQ(version.find_first_not_of("0123456789.", 10), std::string::npos) << Show(r);
    }
    const RunResult help = Run({"--help"});
    for (const char* part : {"Environment:", "QEL4410_REGISTRY", "QEL4410_TIMDATA", "QEL4410_BENCH",
                             "QEL4410_BENCH_STATE", "QEL4410_BENCH_TIMING", "--json", "--quiet",
                             "--replace-all", "130"})
        EXPECT_TRUE(Has(help.out, part)) << part;
}

struct UsageCase {
    std::vector<std::string> args;
    const char* message;
};

class QelFlashOptionTest : public QelFlashConsoleTest,
                           public ::testing::WithParamInterface<UsageCase> {};

TEST_P(QelFlashOptionTest, RefusedWithItsReason) {
    const RunResult r = Run(GetParam().args);
    EXPECT_EQ(r.status, 2) << Show(r);
    EXPECT_TRUE(Has(r.err, GetParam().message)) << Show(r);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QelFlashOptionTest,
    ::testing::Values(
        // An option is never taken for the file an --add needs.
        UsageCase{{"program", "0", "0", "--add", "exec", "--dry-run"},
                  "--add needs a file after the kind, not the option '--dry-run'"},
        UsageCase{{"program", "0", "0", "--bitstream", "--yes"}, "not the option '--yes'"},
        UsageCase{{"program", "0", "0", "--dry-run=yes", "--clear-dynamics"},
                  "--dry-run takes no value"},
        UsageCase{{"-q", "-v", "list"}, "--quiet and --verbose exclude each other"},
        UsageCase{{"erase", "0", "0", "--json"}, "--json does not apply to erase"},
        UsageCase{{"list", "--wait-notice", "soon"}, "is not a number of seconds"}));

// Results on standard output, everything else on standard error: a script
// that reads the output gets the chain alone.
TEST_F(QelFlashConsoleTest, ResultsOnOutputStatusOnError) {
    // Quiet: not even the remark that fills in the engine's folder settings.
    const RunResult quietList = Run({"-q", "list"});
    ASSERT_EQ(quietList.status, 0) << Show(quietList);
    EXPECT_TRUE(Has(quietList.out, "processor 0  CPU_1")) << Show(quietList);
    EXPECT_TRUE(quietList.err.empty()) << Show(quietList);

    const std::string table = DataFile("table.bin", 200000, 3);
    const RunResult job = Run({"program", "0", "0", "--tim", "QT-6201", "--bootloader", "standard",
                               "--add", "data", table});
    ASSERT_EQ(job.status, 0) << Show(job);
    EXPECT_TRUE(Has(job.out, "Committed: ")) << Show(job);
    for (const char* status :
         {"Analysing flash ...", "Writing to flash ...", "Loading data to DSP"}) {
        EXPECT_TRUE(Has(job.err, status)) << status << "\n" << Show(job);
        EXPECT_FALSE(Has(job.out, status)) << status << "\n" << Show(job);
    }
    const RunResult quiet = Run({"-q", "program", "0", "0", "--dynamic", "0x10=1"});
    ASSERT_EQ(quiet.status, 0) << Show(quiet);
    EXPECT_TRUE(Has(quiet.out, "Committed: ")) << Show(quiet);
    EXPECT_TRUE(quiet.err.empty()) << Show(quiet);

    const RunResult verbose = Run({"show", "0", "0", "-v"});
    ASSERT_EQ(verbose.status, 0) << Show(verbose);
    EXPECT_TRUE(Has(verbose.err, "Detected TIM type QT-6201")) << Show(verbose);
    EXPECT_TRUE(Has(verbose.err, "Analysing flash ...")) << Show(verbose);
    EXPECT_FALSE(Has(verbose.out, "Detected")) << Show(verbose);
}

TEST_F(QelFlashConsoleTest, JsonOutputsTellWhatTheTextTells) {
    const std::string table = DataFile("table.bin", 4000, 9);
    ProgramDemoJob({"--add", "data", table, "--id", "0x55"});

    const Json tims = RunJson({"tims", "--json"});
    bool found = false;
    for (const Json& t : tims["tims"])
        found = found || (t["name"] == "QT-6201" && t["code"] == 0x11);
    EXPECT_TRUE(found) << tims.dump();
    EXPECT_TRUE(Has(Run({"tims"}).out, tims["folder"].get<std::string>()));

    const Json list = RunJson({"list", "--json", "--probe"});
    const Json& cpu1 = list["boards"][0]["processors"][0];
    EXPECT_EQ(list["boards"][0]["name"], "QEL carrier board");
    EXPECT_EQ(cpu1["name"], "CPU_1");
    EXPECT_EQ(cpu1["tim"]["name"], "QT-6201");
    EXPECT_EQ(cpu1["reachesFlash"], true);
    EXPECT_TRUE(list["boards"][0]["processors"][1]["tim"].is_null());

    const Json show = RunJson({"show", "0", "0", "--json"});
    const RunResult text = Run({"show", "0", "0"});
    EXPECT_EQ(show["validChain"], true);
    EXPECT_EQ(show["detected"], true);
    EXPECT_EQ(show["tim"]["code"], 0x11);
    EXPECT_TRUE(Has(text.out, "Flash: 2 MiB (2097152 bytes), " +
                                  std::to_string(show["flash"]["used"].get<uint32_t>()) +
                                  " bytes used"))
        << show.dump(2) << Show(text);
    ASSERT_EQ(show["blocks"].size(), 8u) << show.dump(2);
    const Json& data = show["blocks"][6];
    EXPECT_EQ(data["block"], "user data");
    EXPECT_EQ(data["id"], 0x55);
    EXPECT_EQ(data["file"], table);
    EXPECT_EQ(data["dataLength"], 4000);
    char offset[16];
    std::snprintf(offset, sizeof(offset), "0x%08X", data["offset"].get<uint32_t>());
    EXPECT_TRUE(Has(LineWith(text.out, "user data"), offset)) << Show(text);
    EXPECT_EQ(show["blocks"][7]["block"], "termination");
    ASSERT_EQ(show["dynamics"].size(), 2u);
    EXPECT_EQ(show["dynamics"][1]["value"], 0xC0FFEE);

    const Json verify = RunJson({"verify", "0", "0", "--json"});
    EXPECT_EQ(verify["failed"], 0);
    ASSERT_EQ(verify["blocks"].size(), 2u);
    EXPECT_EQ(verify["blocks"][1]["file"], table);
    EXPECT_EQ(verify["blocks"][1]["outcome"], "matches");
    DataFile("table.bin", 4000, 10);
    const Json differs = RunJson({"verify", "0", "0", "--json"}, 1);
    EXPECT_EQ(differs["failed"], 1);
    EXPECT_EQ(differs["blocks"][1]["outcome"], "differs");
    EXPECT_EQ(differs["blocks"][1]["error"]["code"], 28);
}

// Files for the engine are regular files that fit the flash, refused before
// anything reads them: a device would be read without end, a FIFO block.
TEST_F(QelFlashConsoleTest, InputFilesMustBeRegularAndFitTheFlash) {
    const std::string fifo = runner_.Temp().File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = DataFile("huge.bin", (2u << 20) + 1, 1);
    struct Case {
        std::vector<std::string> job;
        std::string says;
    } cases[] = {
        {{"--bitstream", "/dev/zero"}, "the bitstream /dev/zero is not a regular file"},
        {{"--bitstream", fifo}, "the bitstream " + fifo + " is not a regular file"},
        {{"--bootloader", runner_.Temp().Path()}, "is not a regular file"},
        {{"--add", "data", "/dev/zero"}, "the file /dev/zero is not a regular file"},
        {{"--add", "data", huge}, "holds 2097153 bytes, more than the whole flash (2097152 bytes)"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"program", "0", "0", "--tim", "QT-6201"};
        args.insert(args.end(), c.job.begin(), c.job.end());
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 1) << Show(r);
        EXPECT_TRUE(Has(r.err, c.says)) << Show(r);
    }
}

TEST_F(QelFlashConsoleTest, SettingsThatCannotBeWrittenAreToldWithTheReason) {
    const std::string notAFolder = DataFile("registry-file", 10, 0);
    const RunResult r = Run({"--registry", notAFolder, "list"});
    EXPECT_TRUE(Has(r.err, "cannot be written: " + notAFolder + " is not a folder")) << Show(r);
}

// A file that cannot be opened is no difference: the block was not compared.
TEST_F(QelFlashConsoleTest, VerifyAgainstAMissingFileSaysNotVerified) {
    ProgramDemoJob();
    const std::string missing = runner_.Temp().File("nonexistent");
    const RunResult r = Run({"verify", "0", "0", "0", missing});
    EXPECT_EQ(r.status, 1) << Show(r);
    EXPECT_FALSE(Has(r.out, "DIFFERS")) << Show(r);
    EXPECT_TRUE(Has(r.out, "user block 0: not verified: " + missing)) << Show(r);
    EXPECT_TRUE(Has(r.err, "error:  ")) << Show(r);
}

// One damaged header makes the engine start from its default chain; a commit
// would then wipe everything. It is refused unless told.
TEST_F(QelFlashConsoleTest, NoSilentWipeOfAFlashWithoutAValidChain) {
    const std::string big = DataFile("big.bin", 300000, 5);
    ProgramDemoJob({"--add", "data", big});
    const Json before = RunJson({"show", "0", "0", "--json"});
    const uint32_t termination = before["blocks"].back()["offset"];
    std::vector<char> image = Image();
    image[termination + 8] ^= 0x01;  // the header's signature
    PutImage(image);

    const RunResult refused = Run({"program", "0", "0", "--dynamic", "0x200=1"});
    EXPECT_EQ(refused.status, 3) << Show(refused);
    EXPECT_TRUE(Has(refused.err, "no valid chain of blocks")) << Show(refused);
    const size_t told = refused.err.find(" of 2097152 bytes of which are not erased");
    ASSERT_NE(told, std::string::npos) << Show(refused);
    const size_t number = refused.err.rfind(' ', told - 1) + 1;
    EXPECT_GT(std::stoul(refused.err.substr(number, told - number)), 300000u) << Show(refused);
    EXPECT_TRUE(Has(refused.err, "answered no: no terminal to ask on")) << Show(refused);
    EXPECT_TRUE(Has(refused.err, "not committed")) << Show(refused);
    EXPECT_FALSE(Has(refused.out, "Committed")) << Show(refused);
    EXPECT_EQ(Image(), image);

    // --yes answers the engine's questions, not this one.
    const RunResult yes = Run({"program", "0", "0", "--yes", "--dynamic", "0x200=1"});
    EXPECT_EQ(yes.status, 3) << Show(yes);
    EXPECT_EQ(Image(), image);

    const RunResult dry = Run({"program", "0", "0", "--dynamic", "0x200=1", "--dry-run"});
    EXPECT_EQ(dry.status, 0) << Show(dry);
    EXPECT_TRUE(Has(dry.out, "bytes of which are not erased. A commit needs --replace-all"))
        << Show(dry);
    EXPECT_EQ(Image(), image);

    const RunResult asked =
        runner_.RunOnTerminal({"program", "0", "0", "--dynamic", "0x200=1"}, "n\n");
    EXPECT_EQ(asked.status, 3) << Show(asked);
    EXPECT_TRUE(Has(asked.out, "Replace everything on the flash?")) << Show(asked);
    EXPECT_EQ(Image(), image);

    const RunResult replaced = Run({"program", "0", "0", "--dynamic", "0x200=1", "--replace-all"});
    EXPECT_EQ(replaced.status, 0) << Show(replaced);
    EXPECT_TRUE(Has(replaced.out, "Committed: 6 blocks")) << Show(replaced);
    EXPECT_NE(Image(), image);

    // An erased flash holds nothing to lose: no question.
    ASSERT_EQ(Run({"erase", "0", "0"}).status, 0);
    const RunResult fresh = Run({"program", "0", "0", "--tim", "QT-6201", "--dynamic", "0x200=1"});
    EXPECT_EQ(fresh.status, 0) << Show(fresh);
    EXPECT_FALSE(Has(fresh.err, "no valid chain")) << Show(fresh);
}

// A target reset during the analysis makes the engine give up a valid chain
// too: the same refusal keeps the flash.
TEST_F(QelFlashConsoleTest, NoWipeAfterAResetDuringTheAnalysis) {
    ProgramDemoJob();
    const std::vector<char> image = Image();
    ASSERT_EQ(runner_.RunTool("qel-bench", {"fault", "0", "0", "unrequested-reset", "6"}).status,
              0);
    // The engine does not take the flash for an inconsistent one: the
    // selection fails, and nothing is written.
    const RunResult r = Run({"program", "0", "0", "--dynamic", "0x200=1"});
    EXPECT_EQ(r.status, 1) << Show(r);
    EXPECT_TRUE(Has(r.err, "reset or halted by another program")) << Show(r);
    EXPECT_EQ(Image(), image);
}

// A step that never ends is told after the notice delay, with what it waits
// for; Ctrl-C then closes the engine, which gives up the wait.
TEST_F(QelFlashConsoleTest, TellsWhatAStepWaitsForAndEndsOnCtrlC) {
    ProgramDemoJob();
    const RunResult armed = runner_.RunTool("qel-bench", {"fault", "0", "0", "programmer-hang"});
    ASSERT_EQ(armed.status, 0) << Show(armed);
    auto running = runner_.Start({"show", "0", "0", "--wait-notice", "0.2"});
    ASSERT_TRUE(
        running->WaitForError("qel-flash: still selecting TIM type QT-6201: waiting for "
                              "the engine (at \"Analysing flash ...\")"));
    running->Signal(SIGINT);
    const RunResult r = running->Finish();
    EXPECT_EQ(r.status, 130) << Show(r);
    EXPECT_TRUE(Has(r.err, "interrupted; the engine is closed")) << Show(r);
}

// Ctrl-C in the middle of a commit at realistic speed: the engine is closed
// (the DSP stops), the exit status is 130, and the module takes the next job.
TEST_F(QelFlashConsoleTest, CtrlCDuringACommitClosesTheEngineCleanly) {
    const std::string big = DataFile("big.bin", 1500000, 7);
    auto running = runner_.Start(
        {"program", "0", "0", "--tim", "QT-6201", "--bootloader", "standard", "--add", "data", big},
        {"QEL4410_BENCH_TIMING=realistic"});
    ASSERT_TRUE(running->WaitForError("Writing to flash ..."));
    running->Signal(SIGINT);
    const RunResult r = running->Finish();
    EXPECT_EQ(r.status, 130) << Show(r);
    EXPECT_TRUE(Has(r.err, "interrupted: closing the engine")) << Show(r);
    EXPECT_FALSE(Has(r.out, "Committed")) << Show(r);

    const RunResult next = Run({"program", "0", "0", "--tim", "QT-6201", "--bootloader", "standard",
                                "--add", "data", big, "--replace-all"});
    ASSERT_EQ(next.status, 0) << Show(next);
    const Json show = RunJson({"show", "0", "0", "--json"});
    EXPECT_EQ(show["validChain"], true) << show.dump(2);
    const RunResult verify = Run({"verify", "0", "0"});
    EXPECT_EQ(verify.status, 0) << Show(verify);
}

}  // namespace
}  // namespace qel::programmer_test
