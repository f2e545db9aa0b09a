// CBootFile::Load on arbitrary bytes: whatever loads must give images that
// the system blocks can read whole (init header and copy, boot loader header,
// extra header and payload, FDB header and payload) inside the file.
#include "engine/Exc.h"
#include "engine/formats/BootFile.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

uint32_t Word(const uint8_t* p, uint32_t offset) {
    uint32_t v;
    memcpy(&v, p + offset, 4);
    return v;
}

uint32_t Touch(const uint8_t* p, uint64_t length) {
    uint32_t sum = 0;
    for (uint64_t i = 0; i < length; ++i) sum += p[i];
    return sum;
}

// What a block reads of a complete block image: header, extra header and
// dataLength payload bytes from dataOffset.
uint32_t TouchBlock(const uint8_t* image) {
    const uint32_t dataOffset = Word(image, 16);
    return Touch(image, dataOffset) + Touch(image + dataOffset, Word(image, 24));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CBootFile boot;
    try {
        boot.LoadFromMemory(data, size, "fuzz.out");
    } catch (const CExc&) {
        return 0;
    }
    volatile uint32_t sink = 0;
    const uint8_t* init = boot.GetInitImage();
    if (init == nullptr)
        return 0;
    sink = sink + Touch(init, INIT_HEADER_SIZE);
    sink = sink + Touch(init, boot.GetInitImageSize());
    sink = sink + boot.GetSectorSize() + boot.GetSectorCount();
    sink = sink + TouchBlock(boot.GetLoaderImage());
    sink = sink + Touch(boot.GetLoaderImage(), boot.GetLoaderImageSize());
    sink = sink + static_cast<uint32_t>(boot.GetLoaderName().size());
    sink = sink + TouchBlock(boot.GetFdbImage());
    sink = sink + Touch(boot.GetFdbImage(), boot.GetFdbImageSize());
    sink = sink + Touch(boot.GetFdbPayload(), boot.GetFdbPayloadSize());
    return 0;
}
