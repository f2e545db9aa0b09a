// Helpers of the TIM library tests: a private data folder and the variable
// that points the library at it.
#pragma once

#include "timinfo/QelTimInfoDiag.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace qel::timinfo::test {

// A fresh folder under the temporary folder, removed with the object.
class TempFolder {
  public:
    TempFolder() {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto candidate = std::filesystem::temp_directory_path() /
                             ("qel-timinfo-" + std::to_string(random()) + std::to_string(random()));
            if (std::filesystem::create_directory(candidate))
                path_ = candidate;
        }
        if (path_.empty())
            throw std::runtime_error("no temporary folder");
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Path() const { return path_.string(); }
    std::string Write(const std::string& name, const std::string& content) const {
        const auto file = path_ / name;
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }

  private:
    std::filesystem::path path_;
};

// Sets QEL4410_TIMDATA (or removes it for null) and restores the old value.
class DataVariable {
  public:
    explicit DataVariable(const char* value) {
        if (const char* old = std::getenv(kTimDataVariable))
            old_ = old, hadOld_ = true;
        Set(value);
    }
    ~DataVariable() { Set(hadOld_ ? old_.c_str() : nullptr); }
    DataVariable(const DataVariable&) = delete;
    DataVariable& operator=(const DataVariable&) = delete;

  private:
    static void Set(const char* value) {
        if (value)
            setenv(kTimDataVariable, value, 1);
        else
            unsetenv(kTimDataVariable);
    }
    std::string old_;
    bool hadOld_ = false;
};

// A minimal valid description.
inline std::string MinimalTim(const std::string& name, const std::string& code) {
    return "Name = " + name + "\nTimType = " + code + "\n";
}

}  // namespace qel::timinfo::test
