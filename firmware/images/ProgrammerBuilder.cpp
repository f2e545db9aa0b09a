#include "firmware/images/ProgrammerBuilder.h"

#include <stdexcept>

namespace qel::firmware {

CoffBuilder MakeProgrammer(const ProgrammerSpec& layout) {
    if (layout.codeSize < 20)
        throw std::invalid_argument("programmer code below 20 bytes");
    const char magic[] = "QELFPROG";
    std::vector<uint8_t> code(magic, magic + 8);
    PutU32(code, kProgrammerFormatVersion);
    PutU32(code, layout.commandBlockAddress);
    PutU32(code, layout.timType);
    for (uint32_t i = 20; i < layout.codeSize; ++i)
        code.push_back(static_cast<uint8_t>(i * 17 + 1));

    const uint32_t entry = layout.base + kProgrammerCodeOffset;
    CoffBuilder coff;
    coff.SetEntryPoint(entry).AddSection(".fprog", entry, std::move(code), 0x20);
    return coff;
}

}  // namespace qel::firmware
