// Runs qel-flash from the test's bin folder as a child process, with settings
// and flash images in a folder of the test's own, and collects what it wrote.
#pragma once

#include "tests/fixtures/TestTempDir.h"

#include <string>
#include <vector>

namespace qel::programmer_test {

struct RunResult {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

class QelFlashRunner {
  public:
    QelFlashRunner();

    // stdin: a file with that text, or /dev/null when empty.
    RunResult Run(const std::vector<std::string>& args, const std::string& input = "") const;
    // The same on a pseudo terminal (stdin and stdout): what the terminal
    // showed, input echo included.
    RunResult RunOnTerminal(const std::vector<std::string>& args, const std::string& input) const;

    const fixtures::TestTempDir& Temp() const { return temp_; }
    std::string RegistryFolder() const { return temp_.File("registry"); }
    static std::string BinFolder();

  private:
    std::vector<std::string> Environment() const;

    fixtures::TestTempDir temp_;
};

// Text for assertion messages.
std::string Show(const RunResult& r);

}  // namespace qel::programmer_test
