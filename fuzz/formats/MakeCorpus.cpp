// qel-make-formats-corpus FUZZ_CORPUS_DIR: writes small seed files for
// fuzz_objfile and fuzz_bootfile.
#include "firmware/images/BootFileBuilder.h"
#include "firmware/images/CoffBuilder.h"
#include "firmware/images/ProgrammerBuilder.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;
using namespace qel::firmware;

namespace {

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + 3 * i);
    return bytes;
}

void WriteObjFiles(const fs::path& dir) {
    fs::create_directories(dir);
    CoffBuilder exe;
    exe.SetEntryPoint(0x100);
    exe.AddSection(".text", 0x100, Bytes(24, 1));
    exe.AddSection(".long_data_name", 0x8000, Bytes(6, 2), 0x40);
    CoffSectionSpec bss;
    bss.name = ".bss";
    bss.size = 0x1000;
    bss.flags = 0x80;
    bss.noRawData = true;
    exe.AddSection(bss);
    CoffSymbolSpec file;
    file.name = ".file";
    file.auxCount = 1;
    exe.AddSymbol(file);
    exe.AddSymbol("_c_int00", 0x100);
    exe.AddSymbol("_a_long_symbol", 0x8000);
    WriteFileBytes((dir / "executable.out").string(), exe.Build());

    CoffBuilder bare;
    bare.SetOptionalHeaderSize(0).SetExecutable(false);
    bare.AddSection(".data", 0, Bytes(8, 3), 0x40);
    WriteFileBytes((dir / "no_optional_header.out").string(), bare.Build());

    ProgrammerSpec programmer;
    programmer.codeSize = 32;
    programmer.timType = 0x11;
    WriteFileBytes((dir / "programmer.out").string(), MakeProgrammer(programmer).Build());
}

BootFileBuilder SmallBoot() {
    BootFileBuilder b;
    b.SetInitSize(64).SetLoaderPayload(Bytes(8, 4)).SetFdbPayload(MakeFdbPayload(0x11, 12));
    return b;
}

void WriteBootFiles(const fs::path& dir) {
    fs::create_directories(dir);
    WriteFileBytes((dir / "width1.out").string(), SmallBoot().Build());
    WriteFileBytes((dir / "width2.out").string(),
                   SmallBoot().SetInitSize(128).SetInitWidth(2).Build());
    CoffBuilder two = SmallBoot().Coff();
    two.AddSection(".text", 0x1000, Bytes(8, 5));
    two.SetEntryPoint(0x1000);
    WriteFileBytes((dir / "with_code.out").string(), two.Build());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: qel-make-formats-corpus FUZZ_CORPUS_DIR\n");
        return 2;
    }
    WriteObjFiles(fs::path(argv[1]) / "objfile");
    WriteBootFiles(fs::path(argv[1]) / "bootfile");
    return 0;
}
