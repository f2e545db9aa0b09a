#include "QuillonRunner.h"

#include "platform/DynamicLibrary.h"
#include "tests/fixtures/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace qel::converter_test {

namespace {

struct Argv {
    explicit Argv(std::vector<std::string> strings) : storage(std::move(strings)) {
        for (std::string& s : storage) pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> storage;
    std::vector<char*> pointers;
};

std::string NameOf(const std::string& entry) {
    return entry.substr(0, entry.find('=') + 1);
}

}  // namespace

std::string BinFolder() {
    return platform::DynamicLibrary::ExecutableFolder();
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, const std::string& folder) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& mine : environment)
            replaced = replaced || NameOf(mine) == NameOf(entry);
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    Argv a(argv), e(env);

    const std::string outPath = folder + "/stdout.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    ProcessResult result;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, a.pointers.data(), e.pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;
    result.status = fixtures::WaitExit(pid);
    std::ifstream in(outPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    result.out = text.str();
    return result;
}

}  // namespace qel::converter_test
