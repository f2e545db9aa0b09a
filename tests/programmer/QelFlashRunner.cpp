#include "QelFlashRunner.h"

#include "platform/DynamicLibrary.h"
#include "tests/fixtures/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qel::programmer_test {

using qel::fixtures::WaitExit;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Argv {
    explicit Argv(std::vector<std::string> strings) : storage(std::move(strings)) {
        for (std::string& s : storage) pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> storage;
    std::vector<char*> pointers;
};

}  // namespace

QelFlashRunner::QelFlashRunner() = default;

std::string QelFlashRunner::BinFolder() {
    return platform::DynamicLibrary::ExecutableFolder();
}

std::vector<std::string> QelFlashRunner::Environment() const {
    // The embedded default bench, fast, with this test's settings and images.
    const char* dropped[] = {"QEL4410_REGISTRY=", "QEL4410_BENCH=", "QEL4410_BENCH_STATE=",
                             "QEL4410_BENCH_TIMING=", "QEL4410_TIMDATA="};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool drop = false;
        for (const char* d : dropped) drop = drop || entry.starts_with(d);
        if (!drop)
            env.push_back(entry);
    }
    env.push_back("QEL4410_REGISTRY=" + RegistryFolder());
    env.push_back("QEL4410_BENCH_STATE=" + temp_.File("bench"));
    return env;
}

RunningFlash::RunningFlash(pid_t pid, int errFd, std::string outPath)
    : pid_(pid), errFd_(errFd), outPath_(std::move(outPath)) {}

RunningFlash::~RunningFlash() {
    if (!finished_) {
        kill(pid_, SIGKILL);
        WaitExit(pid_);
    }
    if (errFd_ >= 0)
        close(errFd_);
}

bool RunningFlash::WaitForError(const std::string& text) {
    char buffer[4096];
    while (err_.find(text) == std::string::npos) {
        const ssize_t n = read(errFd_, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        err_.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

void RunningFlash::Signal(int signal) const {
    kill(pid_, signal);
}

RunResult RunningFlash::Finish() {
    WaitForError(std::string(1, '\0'));  // reads to the end
    RunResult r;
    r.status = WaitExit(pid_);
    finished_ = true;
    r.out = ReadFile(outPath_);
    r.err = err_;
    return r;
}

std::unique_ptr<RunningFlash> QelFlashRunner::Start(const std::vector<std::string>& args,
                                                    const std::vector<std::string>& env) const {
    std::vector<std::string> argv{BinFolder() + "/qel-flash"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment = Environment();
    for (const std::string& entry : env) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(environment, [&](const std::string& e) { return e.starts_with(name); });
        environment.push_back(entry);
    }
    Argv a(argv), e(environment);
    const std::string outPath = temp_.File("started-stdout.txt");
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, a.pointers[0], &actions, nullptr, a.pointers.data(), e.pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    if (rc != 0) {
        close(err[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    return std::make_unique<RunningFlash>(pid, err[0], outPath);
}

RunResult QelFlashRunner::Run(const std::vector<std::string>& args,
                              const std::string& input) const {
    return RunTool("qel-flash", args, input);
}

RunResult QelFlashRunner::RunTool(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& input) const {
    std::vector<std::string> argv{BinFolder() + "/" + program};
    argv.insert(argv.end(), args.begin(), args.end());
    Argv a(argv), e(Environment());
    const std::string inPath =
        input.empty() ? "/dev/null" : temp_.Write("stdin.txt", {input.begin(), input.end()});
    const std::string outPath = temp_.File("stdout.txt");
    const std::string errPath = temp_.File("stderr.txt");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, a.pointers[0], &actions, nullptr, a.pointers.data(), e.pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    RunResult r;
    r.status = WaitExit(pid);
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    return r;
}

RunResult QelFlashRunner::RunOnTerminal(const std::vector<std::string>& args,
                                        const std::string& input) const {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error("no pseudo terminal");
    const std::string slave = ptsname(master);
    std::vector<std::string> argv{BinFolder() + "/qel-flash"};
    argv.insert(argv.end(), args.begin(), args.end());
    Argv a(argv), e(Environment());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, slave.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, 0, 2);
    posix_spawn_file_actions_addclose(&actions, master);
    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, a.pointers[0], &actions, nullptr, a.pointers.data(), e.pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        close(master);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    // The answer waits in the terminal's input queue until the child reads it.
    if (!input.empty() &&
        write(master, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        close(master);
        WaitExit(pid);
        throw std::runtime_error("cannot write to the pseudo terminal");
    }
    // Read until the child has gone and the terminal reports the far end closed.
    RunResult r;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof(buffer));
        if (n > 0) {
            r.out.append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO: no process holds the terminal any more
        }
    }
    close(master);
    r.status = WaitExit(pid);
    return r;
}

std::string Show(const RunResult& r) {
    return "exit status " + std::to_string(r.status) + "\n--- stdout:\n" + r.out + "--- stderr:\n" +
           r.err;
}

}  // namespace qel::programmer_test
