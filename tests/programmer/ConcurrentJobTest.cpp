// Two qel-flash jobs on one module at the same time, with the bench's
// realistic timing: whatever the interleaving, the flash walks as a valid
// chain, and every job that reports success has its block on the flash.
#include "QelFlashRunner.h"

#include "tests/fixtures/ChildProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>

#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qel::programmer_test {
namespace {

class Job {
  public:
    // Starts bin/<program> with args, settings and bench state in folder,
    // its output going to <folder>/<name>.out.
    Job(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
        const std::string& name, bool realistic)
        : output_(folder + "/" + name + ".out") {
        std::vector<std::string> argv{QelFlashRunner::BinFolder() + "/" + program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!entry.starts_with("QEL4410_"))
                env.push_back(entry);
        }
        env.push_back("QEL4410_REGISTRY=" + folder + "/registry");
        env.push_back("QEL4410_BENCH_STATE=" + folder + "/bench");
        env.push_back(std::string("QEL4410_BENCH_TIMING=") + (realistic ? "realistic" : "off"));
        std::vector<char*> a, e;
        for (std::string& s : argv) a.push_back(s.data());
        a.push_back(nullptr);
        for (std::string& s : env) e.push_back(s.data());
        e.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int rc = posix_spawn(&pid_, a[0], &actions, nullptr, a.data(), e.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error("cannot start " + argv[0]);
    }

    // Exit status and everything the job wrote.
    std::pair<int, std::string> Finish() {
        const int status = fixtures::WaitExit(pid_);
        std::ifstream in(output_);
        std::ostringstream text;
        text << in.rdbuf();
        return {status, text.str()};
    }

  private:
    std::string output_;
    pid_t pid_ = -1;
};

TEST(ConcurrentJobTest, TwoJobsOnOneModuleNeverBreakTheChain) {
    QelFlashRunner runner;
    const std::string folder = runner.Temp().Path();
    const RunResult programmed =
        runner.Run({"program", "0", "0", "--tim", "QT-6201", "--bootloader", "standard",
                    "--bitstream", "standard"});
    ASSERT_EQ(programmed.status, 0) << Show(programmed);

    std::set<std::string> expected;  // ids of the blocks of successful jobs
    for (int round = 0; round < 4; ++round) {
        Job* jobs[2];
        std::vector<std::unique_ptr<Job>> owned;
        std::string ids[2];
        for (int j = 0; j < 2; ++j) {
            ids[j] = std::to_string(100 + 2 * round + j);
            const std::string data = runner.Temp().Write(
                "data" + ids[j] + ".bin", std::vector<uint8_t>(2000 + 97 * j, uint8_t(round + j)));
            owned.push_back(
                std::make_unique<Job>("qel-flash",
                                      std::vector<std::string>{"program", "0", "0", "--add", "data",
                                                               data, "--id", ids[j]},
                                      folder, "job" + ids[j], true));
            jobs[j] = owned.back().get();
        }
        for (int j = 0; j < 2; ++j) {
            const auto [status, text] = jobs[j]->Finish();
            if (status == 0) {
                expected.insert(ids[j]);
            } else {
                // The only acceptable failure: the other job held the module.
                EXPECT_NE(text.find("Processor in use by another program"), std::string::npos)
                    << text;
            }
        }

        Job show("qel-bench", {"show", "0", "0"}, folder, "show", false);
        const auto [status, chain] = show.Finish();
        ASSERT_EQ(status, 0) << chain;
        EXPECT_EQ(chain.find("CRC BAD"), std::string::npos) << chain;
        EXPECT_NE(chain.find("termination"), std::string::npos) << chain;
        std::set<std::string> found;
        const std::regex user(R"(user \(data\) id (\d+))");
        for (std::sregex_iterator m(chain.begin(), chain.end(), user), end; m != end; ++m)
            found.insert((*m)[1]);
        EXPECT_EQ(found, expected) << chain;
    }
}

}  // namespace
}  // namespace qel::programmer_test
