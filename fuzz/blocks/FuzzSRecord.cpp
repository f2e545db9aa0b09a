// The S-record reader on arbitrary text.
#include "engine/Exc.h"
#include "engine/blocks/BlockUserSRecord.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CBlockUserSRecord block(nullptr, 0);
    std::vector<uint8_t> out;
    try {
        const uint32_t length = block.ParseText(data, size, &out);
        if (length > out.size())
            __builtin_trap();
    } catch (const CExc&) {
    }
    return 0;
}
