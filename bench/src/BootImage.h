// The TIM boot loader's reading of a comport boot image, old or new format:
// the records to load and the entry point, or why the image is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qel::bench {

struct BootImage {
    struct Record {
        uint32_t address = 0;
        uint32_t length = 0;
        uint32_t offset = 0;  // of the data in the image
    };
    bool newFormat = false;
    uint32_t loaderAddress = 0;  // new format: where the boot loader moved itself
    uint32_t entry = 0;
    std::vector<Record> records;
};

// False with a reason when the image is not one whole old- or new-format
// image: unknown marker or header word, a length word that is not a multiple
// of 4 (or, new format, above the record limit), a record or terminator past
// the end, or bytes after the terminator.
bool ReadBootImage(const uint8_t* image, uint32_t length, BootImage& out, std::string& reason);

}  // namespace qel::bench
