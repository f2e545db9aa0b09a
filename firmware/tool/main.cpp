// qel-firmware OUTPUT_DIR: writes the sample TIMs' firmware files, one kind of
// file per function, each into its own folder under OUTPUT_DIR, and sample
// user programs into OUTPUT_DIR/samples.
#include "firmware/images/BootFileBuilder.h"
#include "firmware/images/ProgrammerBuilder.h"
#include "firmware/tool/Bitstreams.h"
#include "firmware/tool/SampleTims.h"
#include "firmware/tool/Samples.h"

#include <cstdio>
#include <exception>
#include <filesystem>

namespace fs = std::filesystem;
using namespace qel::firmware;

namespace {

// Boot loader files ("Loader"): init image, boot loader block, FDB block.
void WriteBootLoaders(const fs::path& folder) {
    fs::create_directories(folder);
    for (const SampleTim& tim : SampleTims()) {
        BootFileBuilder()
            .SetTimType(tim.timType)
            .SetGeometry(tim.sectorSize, tim.sectorCount)
            .SetLoaderName(tim.loaderName)
            .SetLoaderVersion(tim.loaderVersion)
            .SetRegionStart(tim.largestRegionStart)
            .SetFdbPayload(MakeFdbPayload(tim.timType))
            .WriteTo((folder / tim.loaderFile).string());
    }
}

// Flash programmers ("Util").
void WriteProgrammers(const fs::path& folder) {
    fs::create_directories(folder);
    for (const SampleTim& tim : SampleTims()) {
        ProgrammerSpec layout;
        layout.base = tim.internalStart;
        layout.commandBlockAddress = CommandBlockAddress(tim);
        layout.timType = tim.timType;
        MakeProgrammer(layout).WriteTo((folder / tim.programmerFile).string());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: qel-firmware OUTPUT_DIR\n");
        return 2;
    }
    const fs::path out = argv[1];
    try {
        WriteBootLoaders(out / "bootloaders");
        WriteProgrammers(out / "programmers");
        WriteBitstreams(out / "bitstreams");
        WriteSamples(out / "samples");
    } catch (const std::exception& e) {
        fprintf(stderr, "qel-firmware: %s\n", e.what());
        return 1;
    }
    return 0;
}
