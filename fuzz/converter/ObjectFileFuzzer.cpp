// CObjectFile on arbitrary bytes: a damaged file must be refused with a
// QelExcept, and whatever is read must convert to both image formats (into a
// memory map that takes anything) without a read outside the image.
#include "QELExc.h"
#include "converter/Memory.h"
#include "converter/ObjectFile.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<CObjectFile> object;
    try {
        object = std::make_unique<CObjectFile>(std::vector<uint8_t>(data, data + size));
    } catch (const QELExc&) {
        return 0;
    }
    volatile uint32_t sink = object->GetEntryPoint() + object->IsExecutable();
    for (int i = 0; i < object->GetSectionCount(); ++i) {
        const CObjectFile::Section s = object->GetSection(i);
        sink = sink + s.size + s.loadAddress + object->IsLoadable(i);
    }
    static std::FILE* const out = std::fopen("/dev/null", "wb");
    for (bool newFormat : {false, true}) {
        CMemory memory;
        memory.AddRegion(0xFFFFFFFF, 0);
        try {
            newFormat ? object->WriteNewFormat(memory, out) : object->WriteOldFormat(memory, out);
        } catch (const QELExc&) {
        }
    }
    return 0;
}
