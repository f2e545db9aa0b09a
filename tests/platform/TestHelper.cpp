// Second process of the platform tests.
//   hive-writer PREFIX COUNT  waits for end of input, then writes PREFIX0..
//                             into "SOFTWARE\Halvern\QEL4410\Race" with CRegEdit
//   temp-folder               prints the private temporary folder, leaves a
//                             file in it and exits normally
//   temp-folder-abandon       the same, but ends without the exit handlers
//   temp-folder-wait          prints the folder, then waits for end of input
//   temp-folder-threads       the same, first use from eight threads at once;
//                             prints how many qel4410-* folders $TMPDIR has
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "RegEdit.h"
#include "platform/TempFolder.h"

namespace {

int HiveWriter(const std::string& prefix, int count) {
    // Both writers leave this wait at the same moment: when the test closes
    // the pipe.
    char c;
    while (std::fread(&c, 1, 1, stdin) == 1) {
    }
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        CRegEdit reg("SOFTWARE\\Halvern\\QEL4410", "Race");
        if (reg.SetString(prefix + std::to_string(i), "value " + std::to_string(i)) != 0)
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

int AbandonTempFolder(bool wait) {
    const std::string path = qel::platform::PrivateTempFolder();
    std::ofstream(qel::platform::PrivateTempPath("staged.bin")) << "half a commit";
    std::cout << path << "\n";
    std::cout.flush();
    if (!wait)
        _exit(0);  // as a killed process: no exit handlers run
    char c;
    while (std::fread(&c, 1, 1, stdin) == 1) {
    }
    return 0;
}

int TempFolder(bool threads) {
    std::string path;
    if (threads) {
        std::latch start(8);
        std::vector<std::string> seen(8);
        std::vector<std::thread> pool;
        for (int i = 0; i < 8; ++i)
            pool.emplace_back([&, i] {
                start.arrive_and_wait();
                seen[static_cast<size_t>(i)] = qel::platform::PrivateTempFolder();
            });
        for (auto& t : pool) t.join();
        for (const auto& s : seen)
            if (s != seen[0])
                return 2;
        path = seen[0];
    } else {
        path = qel::platform::PrivateTempFolder();
    }
    std::ofstream(qel::platform::PrivateTempPath("marker")) << "left behind?";
    std::cout << path << "\n";
    if (threads) {
        int folders = 0;
        const char* tmp = std::getenv("TMPDIR");
        for (const auto& entry : std::filesystem::directory_iterator(tmp ? tmp : "/tmp"))
            if (entry.path().filename().string().rfind("qel4410-", 0) == 0)
                ++folders;
        std::cout << folders << "\n";
    }
    std::cout.flush();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hive-writer" && argc == 4)
        return HiveWriter(argv[2], std::atoi(argv[3]));
    if (mode == "temp-folder")
        return TempFolder(false);
    if (mode == "temp-folder-abandon" || mode == "temp-folder-wait")
        return AbandonTempFolder(mode == "temp-folder-wait");
    if (mode == "temp-folder-threads")
        return TempFolder(true);
    std::fprintf(stderr, "usage: platform_test_helper hive-writer PREFIX COUNT | temp-folder\n");
    return 64;
}
