// The bench's own reader of COFF executables: which bytes go to which target
// address, and the entry point. Sections that occupy no file bytes (dummy,
// no-load, uninitialised, empty) are left out.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace qel::bench {

struct CoffImage {
    struct Section {
        std::string name;
        uint32_t address = 0;  // load address
        uint32_t fileOffset = 0;
        uint32_t size = 0;
    };
    std::vector<uint8_t> file;
    std::vector<Section> sections;
    bool hasEntry = false;
    uint32_t entry = 0;

    const uint8_t* Data(const Section& s) const { return file.data() + s.fileOffset; }
};

// False with a reason when the file cannot be read or is not a COFF file
// whose every count and offset lies inside it.
bool ParseCoff(std::vector<uint8_t> bytes, CoffImage& out, std::string& error);
bool LoadCoffFile(const std::string& path, CoffImage& out, std::string& error);

// A COFF file read piece by piece: the headers at Open (the image has no
// file bytes), the sections' bytes as asked for. A load of a large staging
// file then costs no copy of the whole file.
class CoffFile {
  public:
    bool Open(const std::string& path, std::string& error);
    const CoffImage& Image() const { return image_; }
    uint64_t Size() const { return size_; }
    bool Read(uint64_t offset, void* out, size_t n);

  private:
    std::ifstream in_;
    uint64_t size_ = 0;
    CoffImage image_;
};

}  // namespace qel::bench
