// .dat files: the trailer search and version walk on any bytes, and the SBF
// built from them read back (version, comment, bitstream).
#include "FuzzSupport.h"

#include "engine/formats/SBFManage.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const DatTrailer t = CSBFManage::FindDatTrailer(data, size);
    if (t.valid) {
        Check(t.start >= 4 && t.start <= size, "trailer start inside");
        Check(data[t.start - 1] == 0, "0 byte before the trailer");
        Check(t.dataLength == t.start - 4, "data length");
        Check(!t.text.empty() && t.start + t.text.size() <= size, "trailer inside");
        for (size_t i = t.start + t.text.size(); i < size; ++i) Check(data[i] == 0, "zeros after");
        for (char c : t.text) Check(c >= 0x20 && c <= 0x7E, "printable trailer");
        Check(t.version == CSBFManage::DatVersion(t.text), "version of the text");
    }
    CSBFManage::DatVersion(std::string_view(reinterpret_cast<const char*>(data), size));

    const std::string dat = WriteTemp("fuzz_dat_trailer.dat", data, size);
    const std::string sbfPath = qel::platform::PrivateTempPath("fuzz_dat_trailer.sbf");
    std::remove(sbfPath.c_str());
    CSBFManage sbf;
    const int result = sbf.BuildFromDat(dat.c_str(), sbfPath.c_str(), {0x11});
    Check(result == (t.valid ? 0 : 1), "build result follows the trailer");
    if (result != 0)
        return 0;

    SbfDescriptor d;
    uint32_t format = 0;
    Check(sbf.ReadSbf(sbfPath.c_str(), &d, &format) == 0 && format == 1, "read back");
    Check(d.magic == SBF_MAGIC && d.version == t.version && d.comment == t.text, "descriptor");
    Check(d.info.empty() && d.sourcePath == dat && d.timTypes == std::vector<uint32_t>{0x11},
          "descriptor texts");
    const uint32_t length = d.dataItems.PopU32();
    const Bytes packed = d.dataItems.PopItem(length);
    if (t.dataLength == 0) {
        Check(packed.empty(), "nothing to compress gives nothing");
        return 0;
    }
    const auto bits = Decompress(packed);
    const size_t words = t.dataLength / 4;
    Check(bits && *bits == Bytes(data, data + 4 * words), "bitstream round trip");
    return 0;
}
