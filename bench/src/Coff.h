// The bench's own reader of COFF executables: which bytes go to which target
// address, and the entry point. Sections that occupy no file bytes (dummy,
// no-load, uninitialised, empty) are left out.
#pragma once

#include <cstdint>
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

}  // namespace qel::bench
