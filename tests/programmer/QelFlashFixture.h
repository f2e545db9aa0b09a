// The fixture of the qel-flash suites: a runner with settings and flash
// images of the test's own, and the demonstration's programming job.
#pragma once

#include "QelFlashRunner.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace qel::programmer_test {

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The line of the text that contains part, empty when none does.
inline std::string LineWith(const std::string& text, const std::string& part) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (Has(line, part))
            return line;
    return {};
}

class QelFlashTest : public ::testing::Test {
  protected:
    RunResult Run(const std::vector<std::string>& args) const { return runner_.Run(args); }

    static std::string Sample() {
        return QelFlashRunner::BinFolder() + "/firmware/samples/hello.out";
    }

    std::string DataFile(const std::string& name, size_t bytes, uint8_t seed) const {
        std::vector<uint8_t> data(bytes);
        for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(seed + i * 31);
        return runner_.Temp().Write(name, data);
    }

    // The demonstration's job on board 0, processor 0 (QT-6201).
    void ProgramDemoJob(const std::vector<std::string>& more = {}) const {
        std::vector<std::string> args{"program",       "0",           "0",
                                      "--tim",         "QT-6201",     "--bootloader",
                                      "standard",      "--bitstream", "standard",
                                      "--add",         "exec",        Sample(),
                                      "--id",          "1",           "--version",
                                      "1.0",           "--bootable",  "--dynamic",
                                      "0x80000100=42", "--dynamic",   "0x80000104=0xC0FFEE"};
        args.insert(args.end(), more.begin(), more.end());
        const RunResult r = Run(args);
        ASSERT_EQ(r.status, 0) << Show(r);
        ASSERT_TRUE(Has(r.out, "Committed: ")) << Show(r);
    }

    QelFlashRunner runner_;
};

}  // namespace qel::programmer_test
