// Runs a Quillon program as a child process, with the TIM descriptions and
// bench state of the test's own, and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace qel::converter_test {

struct ProcessResult {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out;
};

// `program`: the path of the program to run; `environment`: NAME=VALUE
// entries added to (or replacing) the test's own.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, const std::string& folder);

// The folder of the running test program (where the build puts Quillon).
std::string BinFolder();

}  // namespace qel::converter_test
