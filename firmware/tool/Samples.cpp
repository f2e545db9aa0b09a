#include "firmware/tool/Samples.h"

#include "firmware/images/CoffBuilder.h"

namespace qel::firmware {

namespace {

constexpr uint32_t kSdram = 0x80000000;

// hello.out: a code section at the start of SDRAM, a constant section with
// its greeting and an uninitialised stack that adds nothing to the boot image.
void WriteHello(const std::filesystem::path& file) {
    std::vector<uint8_t> code;
    // A few recognisable instruction words; the bench never executes them.
    for (uint32_t i = 0; i < 64; ++i) PutU32(code, 0x0C000000u | (i * 0x00010203u & 0x00FFFFFFu));
    const char greeting[] = "Hello from the QEL4410 flash!\n";
    std::vector<uint8_t> text(greeting, greeting + sizeof(greeting));
    CoffSectionSpec stack;
    stack.name = ".stack";
    stack.physicalAddress = kSdram + 0x8000;
    stack.size = 0x1000;
    stack.flags = 0x80;
    stack.noRawData = true;
    CoffBuilder()
        .SetEntryPoint(kSdram)
        .AddSection(".text", kSdram, code, 0x20)
        .AddSection(".const", kSdram + 0x1000, text, 0x40)
        .AddSection(stack)
        .AddSymbol("_c_int00", kSdram, 1)
        .AddSymbol("_greeting", kSdram + 0x1000, 2)
        .WriteTo(file.string());
}

}  // namespace

void WriteSamples(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    WriteHello(folder / "hello.out");
}

}  // namespace qel::firmware
