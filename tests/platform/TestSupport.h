// Scratch folders, environment and child processes for the platform tests.
#pragma once

#include "tests/fixtures/ChildProcess.h"

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform_test {

// A new empty folder inside the process's private temporary folder.
std::string MakeScratchFolder();
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
// Mode bits (07777) of the path, or -1.
int ModeOf(const std::string& path);

// Sets (or with nullopt unsets) a variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// platform_test_helper beside the test program.
std::string HelperPath();

// Starts program with args (argv[0] included); stdinFd/stdoutFd < 0 inherit.
// env entries "NAME=value" override the inherited environment.
pid_t Spawn(const std::vector<std::string>& argv, int stdinFd, int stdoutFd,
            const std::vector<std::string>& env);
using qel::fixtures::WaitExit;

// Runs body in a forked child and returns its exit code (the body's result).
// When the tests run as root the child first becomes "nobody", so that
// permission bits apply to it; exit code 100 tells that this failed.
int RunUnprivileged(const std::function<int()>& body);

}  // namespace platform_test
