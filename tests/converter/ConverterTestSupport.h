// Shared by the converter's tests: TIM description folders of a test's own,
// COFF fixtures, and images written into memory.
#pragma once

#include "QELExc.h"
#include "converter/ObjectFile.h"
#include "tests/fixtures/ImageBuilders.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qel::converter_test {

struct TimEntry {
    std::string name;
    uint32_t timType = 0x11;
    // (start, size), in "Memory" entry order.
    std::vector<std::pair<uint32_t, uint32_t>> memory;
};

inline std::string Hex(uint32_t v) {
    char text[16];
    snprintf(text, sizeof(text), "0x%X", v);
    return text;
}

// Writes one .tim file per TIM type into a folder and points QEL4410_TIMDATA at
// it while the object lives.
class TimFolder {
  public:
    TimFolder(const fixtures::TestTempDir& temp, const std::vector<TimEntry>& tims)
        : path_(temp.File("timdata")) {
        std::filesystem::create_directories(path_);
        for (const TimEntry& t : tims) {
            std::ofstream file(path_ + "/" + t.name + ".tim");
            file << "Name = " << t.name << "\nTimType = " << Hex(t.timType) << "\n";
            for (const auto& [start, size] : t.memory)
                file << "Memory = " << Hex(start) << " " << Hex(size) << " 0 RAM\n";
        }
        if (const char* old = std::getenv("QEL4410_TIMDATA"))
            previous_ = old;
        setenv("QEL4410_TIMDATA", path_.c_str(), 1);
    }
    ~TimFolder() {
        if (previous_)
            setenv("QEL4410_TIMDATA", previous_->c_str(), 1);
        else
            unsetenv("QEL4410_TIMDATA");
    }
    TimFolder(const TimFolder&) = delete;
    TimFolder& operator=(const TimFolder&) = delete;

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::optional<std::string> previous_;
};

// Little-endian words, then raw bytes, as an image holds them.
class Bytes {
  public:
    Bytes& Words(std::initializer_list<uint32_t> words) {
        for (uint32_t w : words) firmware::PutU32(bytes_, w);
        return *this;
    }
    Bytes& Raw(const uint8_t* data, size_t length) {
        bytes_.insert(bytes_.end(), data, data + length);
        return *this;
    }
    Bytes& Raw(const std::vector<uint8_t>& data) { return Raw(data.data(), data.size()); }
    const std::vector<uint8_t>& Get() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

// Data of `n` bytes, a pattern that differs from word to word.
inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return data;
}

// The image CObjectFile writes, read back; throws what the writer throws.
inline std::vector<uint8_t> Convert(const std::vector<uint8_t>& coff, const char* tim,
                                    bool newFormat) {
    const CObjectFile object(coff);
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    bool written = false;
    try {
        written = newFormat ? object.WriteNewFormat(tim, file) : object.WriteOldFormat(tim, file);
    } catch (...) {
        std::fclose(file);
        throw;
    }
    EXPECT_TRUE(written);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::ftell(file)));
    std::rewind(file);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
    return bytes;
}

// The code of the QelExcept that `f` throws, 0 when it throws none.
template <class F>
QELExc Raised(F&& f) {
    try {
        f();
    } catch (const QELExc& e) {
        return e;
    }
    return QELExc{};
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace qel::converter_test
