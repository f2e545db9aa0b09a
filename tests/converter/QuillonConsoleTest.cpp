// Quillon run as a process: banner, usage, options, messages, exit codes.
#include "ConverterTestSupport.h"
#include "QuillonRunner.h"

#include <filesystem>
#include <regex>

namespace qel::converter_test {
namespace {

namespace fs = std::filesystem;

const std::string kBanner =
    "Quillon - QEL4410 comport image converter\n"
    "Utility to convert a coff file to a comport data file. (Ver 2.03)\n";

class QuillonConsoleTest : public ::testing::Test {
  protected:
    QuillonConsoleTest()
        : tims_(temp_, {{"AAA-5", 5, {{0x0, 0x10000}}},
                        {"BBB-2", 2, {{0x0, 0x10000}}},
                        {"CCC-3", 3, {{0x0, 0x10000}}},
                        {"DDD-11", 0x11, {{0x0, 0x40000}, {0x80000000, 0x1000000}}},
                        {"EEE-A", 0x0A, {{0x0, 0x10000}}}}) {
        source_ = temp_.Write("in.out", fixtures::CoffBuilder()
                                            .SetEntryPoint(0x100)
                                            .AddSection(".text", 0x100, Pattern(64))
                                            .Build());
    }

    ProcessResult Run(const std::vector<std::string>& args,
                      const std::string& program = BinFolder() + "/Quillon") {
        return RunProcess(program, args,
                          {"QEL4410_TIMDATA=" + tims_.Path(),
                           "QEL4410_BENCH_STATE=" + temp_.File("bench"), "QEL4410_BENCH="},
                          temp_.Path());
    }
    std::string Out() const { return temp_.File("out.bin"); }

    fixtures::TestTempDir temp_;
    TimFolder tims_;
    std::string source_;
};

TEST_F(QuillonConsoleTest, NoArgumentsShowsTheUsage) {
    const ProcessResult r = Run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              kBanner +
                  "Program use: Quillon [Source] [Output] \\T[TIMType] [\\N]\n"
                  "For example: Quillon file.out output.bin \\TQEL120 \\N\n"
                  "where: \n"
                  "       \\N - Target used with new format boot loader\n"
                  " and:  TIMType is one of the valid TIM types:\n"
                  " For a complete list of TIM types:   use 'Quillon \\L'\n"
                  " To download the file to the DSP via the host comport use \\D[boardno]\n");
}

TEST_F(QuillonConsoleTest, ListShowsTheTypesWhoseLowTwoBitsAreOne) {
    for (const char* option : {"\\L", "\\l", "\\Lanything"}) {
        SCOPED_TRACE(option);
        // Arguments after the listing are not looked at.
        const ProcessResult r = Run({option, "\\Tx"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kBanner + "The following TIM types are valid\nAAA-5\nDDD-11\n");
    }
}

TEST_F(QuillonConsoleTest, ConversionWithoutTimTypeFails) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{source_, Out(), "\\N"}, {source_, Out(), "\\T"}}) {
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kBanner + "Error:  No TIM type specified\n");
        EXPECT_FALSE(fs::exists(Out()));
    }
}

TEST_F(QuillonConsoleTest, ConversionWithEitherCaseOfTheLetters) {
    for (bool newFormat : {false, true}) {
        const ProcessResult r = Run({source_, Out(), "\\tDDD-11", newFormat ? "\\n" : "\\x"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kBanner +
                             (newFormat ? "File Format: New bootloader\n"
                                        : "File Format: Old bootloader\n") +
                             "Success\n\n");
        EXPECT_EQ(ReadFile(Out()), Convert(ReadFile(source_), "DDD-11", newFormat));
    }
}

TEST_F(QuillonConsoleTest, UnknownTimTypeLeavesTheOutputEmpty) {
    const ProcessResult r = Run({source_, Out(), "\\TNOSUCH"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner +
                         "File Format: Old bootloader\n"
                         "An error occured: 0x30008\nUnknown TIM type specified.\n");
    ASSERT_TRUE(fs::exists(Out()));
    EXPECT_EQ(fs::file_size(Out()), 0u);
}

TEST_F(QuillonConsoleTest, OptionsGivenFirstAreTakenAsTheSource) {
    const ProcessResult r = Run({"\\TDDD-11", source_, Out()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner +
                         "File Format: Old bootloader\n"
                         "An error occured: 0x30001\nCould not open the .coff file specified.\n");
}

TEST_F(QuillonConsoleTest, DamagedSourceIsToldBeforeTheOutputIsCreated) {
    std::vector<uint8_t> bytes = ReadFile(source_);
    const std::string shortHeaders =
        temp_.Write("short.out", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 60));
    bytes.resize(bytes.size() - 8);  // the section's last bytes are gone
    const std::string cut = temp_.Write("cut.out", bytes);
    struct Case {
        std::string source;
        std::string error;
    };
    const Case cases[] = {
        {shortHeaders, "0x30002\nNot a valid .coff file format. (Wrong header size)\n"},
        {cut, "0x30006\nNot a valid .coff file format. (Section data outside the file)\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = Run({c.source, Out(), "\\TDDD-11"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kBanner + "File Format: Old bootloader\nAn error occured: " + c.error);
        EXPECT_FALSE(fs::exists(Out()));
    }
}

TEST_F(QuillonConsoleTest, OutputThatCannotBeCreated) {
    const ProcessResult r = Run({source_, temp_.File("no/such/folder/out.bin"), "\\TDDD-11"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              kBanner + "File Format: Old bootloader\nCould not create the destination file\n");
}

TEST_F(QuillonConsoleTest, DownloadBoardNumbers) {
    const std::string opened =
        "Downloading the file to the DSP ....\nReset TIM.\nDownloading DSP "
        "application.\nSuccess\n\n";
    const std::string notOpened =
        "Downloading the file to the DSP ....\nCould not open the carrier board\n";
    struct Case {
        std::vector<std::string> options;
        std::string tail;
        int status;
    };
    // The default bench has one carrier board.
    const Case cases[] = {
        {{"\\D"}, opened, 0},
        {{"\\dx3"}, opened, 0},
        {{"\\D 0"}, opened, 0},
        {{"\\D1"}, notOpened, 2},
        {{"\\D-1"}, notOpened, 2},
        {{"\\D1", "\\D"}, notOpened, 2},  // no digits: the number stays
        {{"\\D1", "\\D+0"}, opened, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.back());
        std::vector<std::string> args{source_, Out(), "\\TDDD-11", "\\N"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, kBanner + "File Format: New bootloader\n" + c.tail);
        EXPECT_GT(fs::file_size(Out()), 0u);
    }
}

TEST_F(QuillonConsoleTest, DriverThatCannotReachTheBench) {
    const ProcessResult r = RunProcess(
        BinFolder() + "/Quillon", {source_, Out(), "\\TDDD-11", "\\D0"},
        {"QEL4410_TIMDATA=" + tims_.Path(), "QEL4410_BENCH=" + temp_.File("missing-bench.txt"),
         "QEL4410_BENCH_STATE=" + temp_.File("bench")},
        temp_.Path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kBanner +
                         "File Format: Old bootloader\n"
                         "Downloading the file to the DSP ....\n"
                         "Could not open QelDrv library. Error = (Could not open the interface to "
                         "the carrier board)\n");
}

TEST_F(QuillonConsoleTest, DriverWithoutQelStopScanStopsBeforeTheBanner) {
    // A copy of the program beside a driver that lacks QelStopScan.
    const std::string folder = temp_.File("stub");
    fs::create_directories(folder);
    fs::copy_file(BinFolder() + "/Quillon", folder + "/Quillon");
    fs::copy_file(BinFolder() + "/libQelDrvStubWithout16.so", folder + "/libQelDrv.so");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {source_, Out(), "\\TDDD-11"}}) {
        const ProcessResult r = Run(args, folder + "/Quillon");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "An error occured: 0x80001\nCould not locate QelStopScan() function.\n");
    }
}

TEST_F(QuillonConsoleTest, VersionAloneAnswersWithoutTheOutsideLibraries) {
    // A copy beside a driver that cannot be bound: the version needs none.
    const std::string folder = temp_.File("stub");
    fs::create_directories(folder);
    fs::copy_file(BinFolder() + "/Quillon", folder + "/Quillon");
    fs::copy_file(BinFolder() + "/libQelDrvStubWithout16.so", folder + "/libQelDrv.so");
    const std::regex version("Quillon 2\\.03 \\(QEL4410 [0-9]+\\.[0-9]+\\)\n");
    for (const std::string& program : {BinFolder() + "/Quillon", folder + "/Quillon"}) {
        for (const char* option : {"--version", "-V"}) {
            SCOPED_TRACE(program + " " + option);
            const ProcessResult r = Run({option}, program);
            EXPECT_EQ(r.status, 0);
            EXPECT_TRUE(std::regex_match(r.out, version)) << r.out;
        }
    }
}

TEST_F(QuillonConsoleTest, VersionWithOtherArgumentsOrOtherSpellingsIsNoOption) {
    const std::string usage = Run({}).out;
    ASSERT_EQ(usage.rfind(kBanner, 0), 0u);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--version", "extra"}, {Out(), "-V"}, {"-v"}, {"--Version"}, {"\\V"}}) {
        SCOPED_TRACE(args[0]);
        const ProcessResult r = Run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, usage);
    }
}

}  // namespace
}  // namespace qel::converter_test
