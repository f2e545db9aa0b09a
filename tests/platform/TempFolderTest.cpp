#include "platform/TempFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "TestSupport.h"

namespace {

using namespace platform_test;
using qel::platform::PrivateTempFolder;
using qel::platform::PrivateTempPath;

// Runs the helper with its own TMPDIR and returns what it printed.
std::string RunHelper(const std::string& mode, const std::string& tmp, int& exitCode) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = Spawn({HelperPath(), mode}, -1, out[1], {"TMPDIR=" + tmp});
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    exitCode = WaitExit(pid);
    return text;
}

TEST(TempFolderTest, PrivateToThisUser) {
    const std::string& folder = PrivateTempFolder();
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(&PrivateTempFolder(), &folder);
    EXPECT_EQ(PrivateTempPath("__temp0.out"), folder + "/__temp0.out");
}

TEST(TempFolderTest, OnlyPlainFileNames) {
    for (const char* name : {"", ".", "..", "../escape", "a/b", "/etc/passwd"})
        EXPECT_THROW(PrivateTempPath(name), std::invalid_argument) << name;
}

// A process's folder is its own (unique name under its TMPDIR) and goes
// away with what it holds when the process exits.
TEST(TempFolderTest, RemovedWhenTheProcessExits) {
    const std::string tmp = MakeScratchFolder();
    int code = -1;
    std::string first = RunHelper("temp-folder", tmp, code);
    ASSERT_EQ(code, 0);
    std::string second = RunHelper("temp-folder", tmp, code);
    ASSERT_EQ(code, 0);
    first = first.substr(0, first.find('\n'));
    second = second.substr(0, second.find('\n'));
    EXPECT_EQ(first.rfind(tmp + "/qel4410-", 0), 0u) << first;
    EXPECT_NE(first, second);
    EXPECT_NE(first, PrivateTempFolder());
    EXPECT_FALSE(Exists(first));
    EXPECT_FALSE(Exists(second));
}

TEST(TempFolderTest, FirstUseFromManyThreadsMakesOneFolder) {
    const std::string tmp = MakeScratchFolder();
    int code = -1;
    const std::string text = RunHelper("temp-folder-threads", tmp, code);
    ASSERT_EQ(code, 0) << text;
    EXPECT_EQ(text.substr(text.find('\n') + 1), "1\n");  // folders while it ran
    EXPECT_FALSE(Exists(text.substr(0, text.find('\n'))));
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// A process that ended without its exit handlers (killed, crashed) leaves its
// folder; the next process removes it, and leaves alone the folder of one
// that still runs.
TEST(TempFolderTest, FoldersOfEndedProcessesGoAtTheNextStart) {
    const std::string tmp = MakeScratchFolder();
    int code = -1;
    const std::string abandoned = FirstLine(RunHelper("temp-folder-abandon", tmp, code));
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(Exists(abandoned + "/staged.bin")) << abandoned;

    int in[2], out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const pid_t running =
        Spawn({HelperPath(), "temp-folder-wait"}, in[0], out[1], {"TMPDIR=" + tmp});
    close(in[0]);
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    EXPECT_FALSE(Exists(abandoned));  // the waiting helper's start removed it
    ASSERT_TRUE(Exists(line + "/staged.bin")) << line;

    const std::string next = FirstLine(RunHelper("temp-folder", tmp, code));
    ASSERT_EQ(code, 0);
    EXPECT_TRUE(Exists(line + "/staged.bin")) << "the folder of a running process went";
    close(in[1]);
    EXPECT_EQ(WaitExit(running), 0);
    EXPECT_FALSE(Exists(line));
    EXPECT_FALSE(Exists(next));
}

// A forked child shares the folder of its parent; its exit must not take it.
TEST(TempFolderTest, ForkedChildLeavesTheParentsFolder) {
    const std::string file = PrivateTempPath("parent-file");
    std::ofstream(file) << "mine";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        (void)PrivateTempFolder();
        std::exit(0);  // runs the exit handlers
    }
    EXPECT_EQ(WaitExit(pid), 0);
    EXPECT_TRUE(Exists(file));
}

}  // namespace
