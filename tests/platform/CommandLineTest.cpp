#include "platform/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qel::platform::ArgReader;
using qel::platform::CommandLineError;

// Reads the arguments as a tool does: options take one value when their name
// ends in '=' in `valued`, positionals are collected; the result is written
// as "name(value)" and "[positional]" words.
std::string Read(const std::vector<std::string>& args, const std::vector<std::string>& valued) {
    ArgReader reader(args);
    std::string out;
    while (!reader.Done()) {
        if (!reader.NextIsOption()) {
            out += "[" + reader.Take() + "]";
            continue;
        }
        const std::string o = reader.Take();
        bool takes = false;
        for (const std::string& v : valued) takes = takes || v == o;
        out += takes ? o + "(" + reader.Value(o, "a value") + ")" : o;
    }
    return out;
}

struct Case {
    std::vector<std::string> args;
    std::string read;  // or the error's text
};

class ArgReaderTest : public testing::TestWithParam<Case> {};

TEST_P(ArgReaderTest, ReadsOrRefuses) {
    std::string got;
    try {
        got = Read(GetParam().args, {"--state", "--add"});
    } catch (const CommandLineError& e) {
        got = e.what();
    }
    EXPECT_EQ(got, GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArgReaderTest,
    testing::Values(
        Case{{"list", "--state", "s", "-q"}, "[list]--state(s)-q"},
        Case{{"--state=a=b", "show"}, "--state(a=b)[show]"}, Case{{"--state="}, "--state()"},
        Case{{"show", "--", "--state", "-"}, "[show][--state][-]"}, Case{{"-", "x"}, "[-][x]"},
        Case{{"--state"}, "--state needs a value"},
        Case{{"--add", "--dry-run"},
             "--add needs a value, not the option '--dry-run' (a file of that name is written "
             "./--dry-run)"},
        Case{{"--add", "./--dry-run"}, "--add(./--dry-run)"},
        Case{{"--quiet=yes", "list"}, "--quiet takes no value"},
        Case{{"list", "--quiet=yes"}, "--quiet takes no value"}));

}  // namespace
