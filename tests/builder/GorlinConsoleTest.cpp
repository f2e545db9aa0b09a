// Gorlin run as a process for what it answers without opening its window.
#include "tests/converter/QuillonRunner.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using qel::converter_test::BinFolder;
using qel::converter_test::ProcessResult;
using qel::converter_test::RunProcess;

class GorlinConsoleTest : public ::testing::Test {
  protected:
    // No platform plug-in of that name exists: anything that needs a
    // display fails, so each answer here is given without one.
    ProcessResult Run(const std::vector<std::string>& args,
                      const std::string& platform = "no-such-platform") {
        return RunProcess(BinFolder() + "/Gorlin", args,
                          {"QT_QPA_PLATFORM=" + platform, "QEL4410_REGISTRY=" + temp_.File("reg")},
                          temp_.Path());
    }

    qel::fixtures::TestTempDir temp_;
};

TEST_F(GorlinConsoleTest, VersionNamesTheProgram) {
    const std::regex version("Gorlin [0-9]+\\.[0-9]+\n");
    for (const char* option : {"--version", "-V", "-v"}) {
        SCOPED_TRACE(option);
        const ProcessResult r = Run({option});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(std::regex_match(r.out, version)) << r.out;
    }
}

TEST_F(GorlinConsoleTest, HelpListsTheOptionsAndTheEnvironment) {
    for (const char* option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        const ProcessResult r = Run({option});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: ", 0), 0u) << r.out;
        for (const char* text :
             {"-V, -v, --version", "-h, --help", "\nEnvironment:\n", "  QEL4410_REGISTRY ",
              "  QEL4410_TIMDATA ", "  QT_QPA_PLATFORM "}) {
            EXPECT_NE(r.out.find(text), std::string::npos) << text;
        }
    }
}

TEST_F(GorlinConsoleTest, WrongArgumentsPrintNothingOnStandardOutput) {
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    for (const Case& c : {Case{{"file.sbf"}, 2}, Case{{"--no-such-option"}, 1}}) {
        SCOPED_TRACE(c.args[0]);
        const ProcessResult r = Run(c.args, "offscreen");
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
