// kovra-setup run as an installer runs it: what it records, and what it
// refuses to record.
#include "platform/DynamicLibrary.h"
#include "platform/SettingsHive.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
    int status;
    std::string out;
};

// Runs kovra-setup with the settings in folder.
Outcome RunSetup(const std::string& folder, const std::string& argument) {
    const std::string command = "QEL4410_REGISTRY='" + folder + "' '" +
                                qel::platform::DynamicLibrary::ExecutableFolder() +
                                "/kovra-setup' " + argument + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// Both hives' text.
std::string Hive(const std::string& folder) {
    std::ostringstream text;
    for (auto hive : {qel::platform::Hive::LocalMachine, qel::platform::Hive::CurrentUser}) {
        std::ifstream in(qel::platform::HiveFilePath(hive, folder));
        text << in.rdbuf();
    }
    return text.str();
}

struct SetupCase {
    const char* name;
    const char* argument;
    int status;
    const char* says;
    bool records;  // a Help value is written
};

class KovraSetupTest : public ::testing::TestWithParam<SetupCase> {};

TEST_P(KovraSetupTest, RecordsOnlyAManualThatExists) {
    const SetupCase& c = GetParam();
    qel::fixtures::TestTempDir temp;
    const std::string manual = temp.Write("manual.html", {'<', 'p', '>'});
    std::string argument = c.argument;
    if (argument == "MANUAL")
        argument = manual;
    const Outcome r = RunSetup(temp.File("registry"), argument);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    EXPECT_EQ(Hive(temp.File("registry")).find("\"Help\"") != std::string::npos, c.records)
        << Hive(temp.File("registry"));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, KovraSetupTest,
    ::testing::Values(SetupCase{"Manual", "MANUAL", 0, "Help = ", true},
                      SetupCase{"Version", "--version", 0, "kovra-setup 1.0", false},
                      SetupCase{"Help", "--help", 0, "QEL4410_REGISTRY", false},
                      SetupCase{"UnknownOption", "--manual", 2, "usage: kovra-setup", false},
                      SetupCase{"MissingManual", "/nonexistent/manual.html", 1, "is not a file",
                                false}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
