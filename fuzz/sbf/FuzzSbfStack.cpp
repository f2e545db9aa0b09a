// Stack files and SBF descriptors: LoadStack/ReadSbf on any bytes, and the
// round trip of whatever they accept. The first input byte picks whether the
// rest gets a correct CRC appended, so the parser behind the CRC is reached.
#include "FuzzSupport.h"

#include "engine/formats/SBFCrc16.h"
#include "engine/formats/SBFManage.h"

using namespace fuzzsupport;

namespace {

bool SameDescriptor(const SbfDescriptor& a, const SbfDescriptor& b) {
    return a.magic == b.magic && a.version == b.version && a.timTypes == b.timTypes &&
           a.sourceTimeLow == b.sourceTimeLow && a.sourceTimeHigh == b.sourceTimeHigh &&
           a.comment == b.comment && a.sourcePath == b.sourcePath && a.info == b.info &&
           a.dataItems == b.dataItems;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    Bytes file(data + 1, data + size);
    if (data[0] & 1) {
        const uint16_t crc = CCrc16::Of(file.data(), file.size());
        file.push_back(static_cast<uint8_t>(crc));
        file.push_back(static_cast<uint8_t>(crc >> 8));
    }
    const uint32_t version = (data[0] & 2) ? 0 : (data[0] >> 2);

    // In memory.
    bool parsed = false;
    CItemStack stack;
    try {
        stack = CSBFManage::ParseStack(version, file.data(), file.size());
        parsed = true;
    } catch (const CStackException&) {
    }

    // Through the file: the same verdict and the same items.
    const std::string path = WriteTemp("fuzz_sbf_stack.sbf", file.data(), file.size());
    try {
        const CItemStack loaded = CSBFManage::LoadStack(version, path.c_str());
        Check(parsed && loaded == stack, "LoadStack agrees with ParseStack");
    } catch (const CStackException&) {
        Check(!parsed, "LoadStack fails like ParseStack");
    }

    if (parsed) {
        // Items saved again load back unchanged.
        const CItemStack again =
            CSBFManage::ParseStack(version, CSBFManage::SerializeStack(stack, version).data(),
                                   CSBFManage::SerializeStack(stack, version).size());
        Check(again == stack, "stack round trip");
    }

    CSBFManage sbf;
    SbfDescriptor d;
    uint32_t format = 0xFFFFFFFF;
    const int result = sbf.ReadSbf(path.c_str(), &d, &format);
    Check(result == 0 || result == 1, "ReadSbf result");
    const bool versionZero =
        file.size() >= 4 && file[0] == 0 && file[1] == 0 && file[2] == 0 && file[3] == 0;
    if (!versionZero)
        Check(result == 1, "only version 0 is an SBF file");
    if (version == 0 && !parsed)
        Check(result == 1, "ReadSbf fails where LoadStack does");
    if (result == 0) {
        const CItemStack encoded = CSBFManage::EncodeSbf(d, format);
        SbfDescriptor back;
        uint32_t backFormat = 0;
        Check(CSBFManage::DecodeSbf(encoded, &back, &backFormat) == 0, "decode of encoded");
        Check(SameDescriptor(d, back) && backFormat == format, "descriptor round trip");
    }
    return 0;
}
