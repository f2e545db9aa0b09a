// qel-flash as a user runs it: a child process on the embedded default bench,
// with settings and flash images of the test's own.
#include "QelFlashFixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <regex>
#include <sstream>

namespace qel::programmer_test {
namespace {

TEST_F(QelFlashTest, HelpDescribesEveryCommand) {
    for (const auto& args : {std::vector<std::string>{"--help"}, {"show", "-h"}}) {
        const RunResult r = Run(args);
        ASSERT_EQ(r.status, 0) << Show(r);
        EXPECT_TRUE(r.err.empty()) << Show(r);
        for (const char* part :
             {"Usage: qel-flash", "list [--probe]", "show BOARD PROCESSOR", "program BOARD",
              "erase BOARD PROCESSOR", "verify BOARD PROCESSOR [INDEX [FILE]]", "--tim NAME",
              "--bootloader standard|FILE", "--add KIND FILE", "--dynamic ADDRESS=VALUE",
              "--yes, --no", "Exit status"}) {
            EXPECT_TRUE(Has(r.out, part)) << part;
        }
    }
}

struct UsageCase {
    std::vector<std::string> args;
    const char* message;
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << "qel-flash";
    for (const std::string& a : c.args) *os << " " << a;
}

class QelFlashUsageTest : public QelFlashTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(QelFlashUsageTest, WrongCommandLineExitsWithTwo) {
    const RunResult r = Run(GetParam().args);
    EXPECT_EQ(r.status, 2) << Show(r);
    EXPECT_TRUE(Has(r.err, GetParam().message)) << Show(r);
    EXPECT_TRUE(Has(r.err, "qel-flash --help")) << Show(r);
    EXPECT_TRUE(r.out.empty()) << Show(r);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QelFlashUsageTest,
    ::testing::Values(
        UsageCase{{}, "no command given"}, UsageCase{{"flash"}, "unknown command 'flash'"},
        UsageCase{{"show", "0"}, "show needs BOARD PROCESSOR"},
        UsageCase{{"program", "0", "0"}, "at least one job option"},
        UsageCase{{"list", "--tim", "QT-6201"}, "--tim does not apply to list"},
        UsageCase{{"show", "0", "0", "--add", "exec", "a.out"}, "--add does not apply to show"},
        UsageCase{{"program", "0", "0", "--id", "3"}, "--id must follow --add KIND FILE"},
        UsageCase{{"program", "0", "0", "--add", "coff", "a.out"}, "unknown kind 'coff'"},
        UsageCase{{"program", "0", "0", "--add", "exec", "a", "--at", "1", "--at", "2"},
                  "--at given twice"},
        UsageCase{{"program", "0", "0", "--dynamic", "0x100"}, "is not ADDRESS=VALUE"},
        UsageCase{{"program", "0", "0", "--add", "data", "a", "--version", "1.70000"},
                  "is not MAJOR[.MINOR]"},
        UsageCase{{"program", "0", "0", "--remove", "x"}, "INDEX must be a number"},
        UsageCase{{"--yes", "--no", "list"}, "--yes and --no exclude each other"},
        UsageCase{{"list", "--frobnicate"}, "unknown option '--frobnicate'"}));

TEST_F(QelFlashTest, ListShowsEveryProcessorAndFillsMissingSettingsOnce) {
    const RunResult first = Run({"list"});
    ASSERT_EQ(first.status, 0) << Show(first);
    EXPECT_TRUE(Has(first.out, "board 0 \"QEL carrier board\"")) << Show(first);
    EXPECT_TRUE(Has(LineWith(first.out, "CPU_1"), "TIM type not detected")) << Show(first);
    EXPECT_TRUE(Has(first.out, "processor 9  CPU_8")) << Show(first);
    EXPECT_TRUE(Has(first.err, "BootloaderPath, BitstreamPath, FprogPath not set")) << Show(first);
    std::ifstream hive(runner_.RegistryFolder() + "/HKEY_LOCAL_MACHINE.reg");
    std::stringstream stored;
    stored << hive.rdbuf();
    EXPECT_TRUE(Has(stored.str(), "firmware/programmers")) << stored.str();

    const RunResult second = Run({"list"});
    ASSERT_EQ(second.status, 0) << Show(second);
    EXPECT_FALSE(Has(second.err, "not set")) << Show(second);
    EXPECT_FALSE(Has(second.err, "qel-flash:")) << Show(second);
}

TEST_F(QelFlashTest, ListDetectsProgrammedModulesAndProbesTheirFlash) {
    ProgramDemoJob();
    // Slot 2 holds three processors; only the first reaches the module's flash.
    const RunResult job =
        Run({"program", "0", "CPU_3A", "--tim", "QT-6403", "--bootloader", "standard"});
    ASSERT_EQ(job.status, 0) << Show(job);

    const RunResult list = Run({"list"});
    ASSERT_EQ(list.status, 0) << Show(list);
    EXPECT_TRUE(Has(LineWith(list.out, "CPU_1"), "TIM type QT-6201 (0x11)")) << Show(list);
    EXPECT_TRUE(Has(LineWith(list.out, "CPU_2"), "TIM type not detected")) << Show(list);
    EXPECT_FALSE(Has(list.out, "reaches")) << Show(list);

    const RunResult probe = Run({"list", "--probe"});
    ASSERT_EQ(probe.status, 0) << Show(probe);
    EXPECT_TRUE(Has(LineWith(probe.out, "CPU_1"), "reaches the flash")) << Show(probe);
    EXPECT_TRUE(Has(LineWith(probe.out, "CPU_3A"), "reaches the flash")) << Show(probe);
    EXPECT_TRUE(Has(LineWith(probe.out, "CPU_3B"), "TIM type QT-6403 (0x21)")) << Show(probe);
    EXPECT_TRUE(Has(LineWith(probe.out, "CPU_3B"), "does not reach the flash")) << Show(probe);
    EXPECT_TRUE(Has(LineWith(probe.out, "CPU_2"), "not probed")) << Show(probe);
}

TEST_F(QelFlashTest, ProgrammingJobThenViewShowsTheChainReadBack) {
    ProgramDemoJob();
    const RunResult r = Run({"show", "0", "0"});
    ASSERT_EQ(r.status, 0) << Show(r);
    EXPECT_TRUE(Has(r.out, "TIM type QT-6201 (0x11), detected")) << Show(r);
    EXPECT_TRUE(Has(r.out, "Flash: 2 MiB (2097152 bytes)")) << Show(r);
    EXPECT_FALSE(Has(r.out, "no valid chain")) << Show(r);
    EXPECT_FALSE(Has(r.out, "not yet written")) << Show(r);
    const std::regex written(R"(0x[0-9A-F]{8}  \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    for (const char* block : {"boot loader", "Flash Data Block", "FPGA bitstream", "dynamic values",
                              "user executable", "termination"}) {
        const std::string line = LineWith(r.out, block);
        EXPECT_TRUE(std::regex_search(line, written)) << block << ":\n" << Show(r);
    }
    EXPECT_TRUE(Has(LineWith(r.out, "user executable"), "0x00000001  1.0")) << Show(r);
    EXPECT_TRUE(Has(r.out, "name \"QT6201 BOOT")) << Show(r);
    EXPECT_TRUE(Has(r.out, "file " + Sample() + ", bootable")) << Show(r);
    EXPECT_TRUE(Has(r.out, "qt6201_32_v2p0.sbf")) << Show(r);
    EXPECT_TRUE(Has(r.out, "0  address 0x80000100  value 0x0000002A")) << Show(r);
    EXPECT_TRUE(Has(r.out, "1  address 0x80000104  value 0x00C0FFEE")) << Show(r);

    // The same job again finds nothing left to write.
    const RunResult again = Run({"program", "0", "0", "--dynamic", "0x80000100=42"});
    ASSERT_EQ(again.status, 0) << Show(again);
    EXPECT_TRUE(Has(again.out, "Nothing to write")) << Show(again);
}

TEST_F(QelFlashTest, EditsApplyInTheOrderGiven) {
    const std::string a = DataFile("a.bin", 300, 1);
    const std::string b = DataFile("b.bin", 500, 2);
    ProgramDemoJob(
        {"--add", "data", a, "--id", "0xA", "--add", "data", b, "--id", "0xB", "--at", "0"});
    // Users blocks now: b, hello.out, a. Move a to the front, then drop hello.out.
    const RunResult job =
        Run({"program", "0", "0", "--move", "2", "0", "--remove", "2", "--remove-dynamic",
             "0x80000100", "--dynamic", "0x80000104=7", "--dynamic", "0x10=0x20"});
    ASSERT_EQ(job.status, 0) << Show(job);

    const RunResult r = Run({"show", "0", "0"});
    ASSERT_EQ(r.status, 0) << Show(r);
    const size_t first = r.out.find("file " + a);
    const size_t second = r.out.find("file " + b);
    ASSERT_NE(first, std::string::npos) << Show(r);
    ASSERT_NE(second, std::string::npos) << Show(r);
    EXPECT_LT(first, second) << Show(r);
    EXPECT_FALSE(Has(r.out, "hello.out")) << Show(r);
    EXPECT_TRUE(Has(r.out, "0  address 0x80000104  value 0x00000007")) << Show(r);
    EXPECT_TRUE(Has(r.out, "1  address 0x00000010  value 0x00000020")) << Show(r);
    EXPECT_FALSE(Has(r.out, "0x80000100")) << Show(r);

    // A dry run shows the change and leaves the flash alone.
    const RunResult dry = Run({"program", "0", "0", "--clear-dynamics", "--dry-run"});
    ASSERT_EQ(dry.status, 0) << Show(dry);
    EXPECT_TRUE(Has(dry.out, "Dry run: nothing written.")) << Show(dry);
    EXPECT_TRUE(Has(LineWith(dry.out, "128  dynamic values"), "  4* ")) << Show(dry);
    const RunResult after = Run({"show", "0", "0"});
    EXPECT_TRUE(Has(after.out, "address 0x80000104")) << Show(after);
}

TEST_F(QelFlashTest, EraseLeavesNothingToDetect) {
    ProgramDemoJob();
    const RunResult erase = Run({"erase", "0", "0"});
    ASSERT_EQ(erase.status, 0) << Show(erase);
    EXPECT_TRUE(Has(erase.err, "Erasing the flash ...")) << Show(erase);
    EXPECT_FALSE(Has(erase.out, "Erasing the flash ...")) << Show(erase);
    EXPECT_TRUE(Has(erase.out, "Erased the flash (2 MiB).")) << Show(erase);

    const RunResult undetected = Run({"show", "0", "0"});
    EXPECT_EQ(undetected.status, 1) << Show(undetected);
    EXPECT_TRUE(Has(undetected.err, "the TIM type was not detected; name it with --tim"))
        << Show(undetected);

    const RunResult named = Run({"show", "0", "0", "--tim", "QT-6201"});
    ASSERT_EQ(named.status, 0) << Show(named);
    EXPECT_TRUE(Has(named.out, "no valid chain")) << Show(named);
    EXPECT_FALSE(Has(named.out, "user executable")) << Show(named);
}

TEST_F(QelFlashTest, VerifyMatchesTheFilesTheBlocksWereMadeFrom) {
    const std::string table = DataFile("table.bin", 4000, 9);
    ProgramDemoJob({"--add", "data", table});
    const RunResult r = Run({"verify", "0", "0"});
    ASSERT_EQ(r.status, 0) << Show(r);
    EXPECT_TRUE(Has(r.out, "user block 0: matches " + Sample())) << Show(r);
    EXPECT_TRUE(Has(r.out, "user block 1: matches " + table)) << Show(r);

    const RunResult one = Run({"verify", "0", "0", "1", table});
    EXPECT_EQ(one.status, 0) << Show(one);
}

TEST_F(QelFlashTest, VerifyReportsABlockThatDiffersFromItsFile) {
    const std::string table = DataFile("table.bin", 4000, 9);
    ProgramDemoJob({"--add", "data", table});
    DataFile("table.bin", 4000, 10);  // the file changes after programming

    const RunResult r = Run({"verify", "0", "0"});
    EXPECT_EQ(r.status, 1) << Show(r);
    EXPECT_TRUE(Has(r.out, "user block 0: matches")) << Show(r);
    EXPECT_TRUE(Has(r.out, "user block 1: DIFFERS from " + table)) << Show(r);
    EXPECT_TRUE(Has(r.out, "1 of 2 user blocks failed verification.")) << Show(r);
    EXPECT_TRUE(Has(r.err, "error:  28 (User block verify failed)")) << Show(r);
    EXPECT_TRUE(Has(r.err, "source: Flash, line ")) << Show(r);

    const RunResult other = Run({"verify", "0", "0", "0", table});
    EXPECT_EQ(other.status, 1) << Show(other);
    EXPECT_TRUE(Has(other.out, "user block 0: DIFFERS")) << Show(other);
}

struct EngineErrorCase {
    const char* name;
    std::vector<std::string> args;
    const char* error;   // "error:  CODE (TEXT)"
    const char* detail;  // part of the detail line
};

void PrintTo(const EngineErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class QelFlashEngineErrorTest : public QelFlashTest,
                                public ::testing::WithParamInterface<EngineErrorCase> {};

TEST_P(QelFlashEngineErrorTest, ReportsCodeTextDetailSourceAndLine) {
    std::vector<std::string> args = GetParam().args;
    for (std::string& a : args)
        if (a == "MISSING")
            a = runner_.Temp().File("missing.file");
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 1) << Show(r);
    EXPECT_TRUE(Has(r.err, GetParam().error)) << Show(r);
    EXPECT_TRUE(Has(LineWith(r.err, "detail: "), GetParam().detail)) << Show(r);
    EXPECT_TRUE(std::regex_search(r.err, std::regex(R"(source: \w+, line [1-9]\d*)"))) << Show(r);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QelFlashEngineErrorTest,
    ::testing::Values(
        EngineErrorCase{"UnknownTimType",
                        {"show", "0", "0", "--tim", "QT-9999"},
                        "error:  6 (Unknown TIM type)",
                        "(none)"},
        EngineErrorCase{"MissingExecutable",
                        {"program", "0", "0", "--tim", "QT-6201", "--add", "exec", "MISSING"},
                        "error:  19 (Could not open obj file)",
                        "missing.file"},
        EngineErrorCase{"MissingDataFile",
                        {"program", "0", "0", "--tim", "QT-6201", "--add", "data", "MISSING"},
                        "error:  11 (Could not open the file)",
                        ""},
        EngineErrorCase{"MissingBitstream",
                        {"program", "0", "0", "--tim", "QT-6201", "--bitstream", "MISSING"},
                        "(Could not open the file)",
                        "missing.file"},
        EngineErrorCase{"UnknownBoard", {"show", "5", "0"}, "error:  24 (Board not found)", ""},
        EngineErrorCase{"UnknownProcessor",
                        {"erase", "0", "10", "--tim", "QT-6201"},
                        "error:  25 (Processor not found)",
                        ""}),
    [](const auto& p) { return std::string(p.param.name); });

struct QuestionCase {
    const char* name;
    std::vector<std::string> args;
    const char* terminalInput;  // null: no terminal
    int status;
    const char* shows;
};

void PrintTo(const QuestionCase& c, std::ostream* os) {
    *os << c.name;
}

class QelFlashQuestionTest : public QelFlashTest,
                             public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(QelFlashQuestionTest, AnsweredByFlagOrOnTheTerminal) {
    ProgramDemoJob();
    std::vector<std::string> args = GetParam().args;
    for (std::string& a : args)
        if (a == "FOREIGN")
            a = QelFlashRunner::BinFolder() + "/firmware/bitstreams/qt6415w_v1p0.sbf";
    const RunResult r = GetParam().terminalInput
                            ? runner_.RunOnTerminal(args, GetParam().terminalInput)
                            : Run(args);
    EXPECT_EQ(r.status, GetParam().status) << Show(r);
    // Questions and their answers are on the status stream; a terminal shows both.
    EXPECT_TRUE(Has(GetParam().terminalInput ? r.out : r.out + r.err, GetParam().shows)) << Show(r);
}

// The module holds QT-6201; selecting another type asks whether to go on, and
// a bitstream made for another TIM asks whether to take it.
INSTANTIATE_TEST_SUITE_P(
    Cases, QelFlashQuestionTest,
    ::testing::Values(
        QuestionCase{"OtherTimNoTerminal",
                     {"program", "0", "0", "--tim", "QT-6100L", "--dry-run", "--clear-dynamics"},
                     nullptr,
                     3,
                     "answered no: no terminal to ask on"},
        QuestionCase{
            "OtherTimNo",
            {"program", "0", "0", "--no", "--tim", "QT-6100L", "--dry-run", "--clear-dynamics"},
            nullptr,
            3,
            "This TIM is currently programmed as an QT-6201."},
        QuestionCase{
            "OtherTimYes",
            {"program", "0", "0", "--yes", "--tim", "QT-6100L", "--dry-run", "--clear-dynamics"},
            nullptr,
            0,
            "Selected TIM type QT-6100L (0x39)"},
        QuestionCase{"OtherTimTerminalYes",
                     {"program", "0", "0", "--tim", "QT-6100L", "--dry-run", "--clear-dynamics"},
                     "y\n",
                     0,
                     "Dry run: nothing written."},
        QuestionCase{"OtherTimTerminalNo",
                     {"program", "0", "0", "--tim", "QT-6100L", "--dry-run", "--clear-dynamics"},
                     "maybe\nn\n",
                     3,
                     "[y/n]"},
        QuestionCase{"ForeignBitstreamNoTerminal",
                     {"program", "0", "0", "--bitstream", "FOREIGN", "--dry-run"},
                     nullptr,
                     3,
                     "has not been designed for the TIM you selected."},
        QuestionCase{"ForeignBitstreamYes",
                     {"program", "0", "0", "--yes", "--bitstream", "FOREIGN", "--dry-run"},
                     nullptr,
                     0,
                     "Bitstream version 1.0 from "}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace qel::programmer_test
