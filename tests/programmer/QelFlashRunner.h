// Runs qel-flash from the test's bin folder as a child process, with settings
// and flash images in a folder of the test's own, and collects what it wrote.
#pragma once

#include "tests/fixtures/TestTempDir.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace qel::programmer_test {

struct RunResult {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

// A qel-flash that runs while the test watches its standard error.
class RunningFlash {
  public:
    RunningFlash(pid_t pid, int errFd, std::string outPath);
    ~RunningFlash();
    RunningFlash(const RunningFlash&) = delete;
    RunningFlash& operator=(const RunningFlash&) = delete;

    // Reads standard error until it holds `text` (true) or the process
    // closed it (false).
    bool WaitForError(const std::string& text);
    void Signal(int signal) const;
    // Waits for the exit and collects the rest.
    RunResult Finish();

  private:
    pid_t pid_;
    int errFd_;
    std::string outPath_;
    std::string err_;
    bool finished_ = false;
};

class QelFlashRunner {
  public:
    QelFlashRunner();

    // stdin: a file with that text, or /dev/null when empty.
    RunResult Run(const std::vector<std::string>& args, const std::string& input = "") const;
    // Starts it with standard error on a pipe; env: more "NAME=value" entries.
    std::unique_ptr<RunningFlash> Start(const std::vector<std::string>& args,
                                        const std::vector<std::string>& env = {}) const;
    // Runs a program of the bin folder (qel-bench) with the same environment.
    RunResult RunTool(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input = "") const;
    // The same on a pseudo terminal (stdin, stdout and stderr): what the
    // terminal showed, input echo included.
    RunResult RunOnTerminal(const std::vector<std::string>& args, const std::string& input) const;

    const fixtures::TestTempDir& Temp() const { return temp_; }
    std::string RegistryFolder() const { return temp_.File("registry"); }
    std::string StateFolder() const { return temp_.File("bench"); }
    static std::string BinFolder();

  private:
    std::vector<std::string> Environment() const;

    fixtures::TestTempDir temp_;
};

// Text for assertion messages.
std::string Show(const RunResult& r);

}  // namespace qel::programmer_test
