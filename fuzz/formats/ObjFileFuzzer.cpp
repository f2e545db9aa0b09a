// CObjFile::Load on arbitrary bytes: a damaged file must be refused with an
// engine error, and whatever loads must be readable through every accessor
// without a read outside the image.
#include "engine/Exc.h"
#include "engine/formats/ObjFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CObjFile obj;
    try {
        obj.LoadFromMemory(data, size, "fuzz.out");
    } catch (const CExc&) {
        return 0;
    }
    volatile uint32_t sink = 0;
    obj.IsExecutable();
    try {
        sink = sink + obj.GetEntryPoint();
    } catch (const CExc&) {
    }
    std::vector<uint8_t> buffer;
    for (int i = 0; i < obj.GetSectionCount(); ++i) {
        const CoffSectionHeader* h = obj.GetSectionHeader(i);
        sink = sink + static_cast<uint32_t>(obj.GetSectionName(i).size());
        try {
            const uint8_t* bytes = obj.GetSectionData(i);
            for (uint32_t j = 0; j < h->size; ++j) sink = sink + bytes[j];
        } catch (const CExc&) {
        }
        // As the executable block copies a section padded to whole words.
        buffer.resize(std::min<uint32_t>(((h->size + 3) & ~3u), 1 << 16));
        obj.GetSectionBytes(i, static_cast<uint32_t>(buffer.size()), buffer.data());
        for (uint8_t b : buffer) sink = sink + b;
    }
    try {
        uint32_t value = 0;
        obj.FindSymbol("_c_int00", &value);
        sink = sink + value;
    } catch (const CExc&) {
    }
    return 0;
}
