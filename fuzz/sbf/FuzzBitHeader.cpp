// .bit files: the 0xFFFFFFFF search and the header summary on any bytes, from
// the file and from memory, and the SBF built from them read back.
#include "FuzzSupport.h"

#include "engine/formats/SBFManage.h"

using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int64_t sync = CSBFManage::FindSyncWord(data, size);
    const std::string bit = WriteTemp("fuzz_bit_header.bit", data, size);
    CSBFManage sbf;
    const int opened = sbf.OpenBitFile(bit.c_str());
    Check(opened == (sync < 0 ? 5 : 0), "open result follows the search");
    if (opened != 0) {
        Check(sbf.ReadBitHeaderInfo().empty(), "no summary without the word");
        return 0;
    }
    Check(sbf.Position() == static_cast<uint64_t>(sync), "position");

    const std::string info = sbf.ReadBitHeaderInfo();
    Check(info == CSBFManage::BitHeaderInfo(data, size, static_cast<size_t>(sync)),
          "file and memory summaries agree");
    for (size_t i = 0; i < info.size(); ++i) {
        const char c = info[i];
        Check((c >= 0x20 && c <= 0x7E) || c == '\r' || c == '\n', "printable summary");
    }
    // A header cut short of its range gives nothing rather than a read past it.
    for (size_t cut : {size_t{0}, size / 2, static_cast<size_t>(sync)})
        CSBFManage::BitHeaderInfo(data, cut, static_cast<size_t>(sync));

    const std::string sbfPath = qel::platform::PrivateTempPath("fuzz_bit_header.sbf");
    Check(sbf.BuildFromBit(bit.c_str(), sbfPath.c_str(), 0x00010000, {0x11}, "N/A") == 0, "build");
    SbfDescriptor d;
    uint32_t format = 0;
    Check(sbf.ReadSbf(sbfPath.c_str(), &d, &format) == 0 && format == 1, "read back");
    Check(d.info == info && d.comment == "N/A" && d.version == 0x00010000, "descriptor");
    const uint32_t length = d.dataItems.PopU32();
    const auto bits = Decompress(d.dataItems.PopItem(length));
    Bytes expected(data + sync, data + sync + 4 * ((size - static_cast<size_t>(sync)) / 4));
    for (uint8_t& b : expected) {
        uint8_t r = 0;
        for (int k = 0; k < 8; ++k)
            if (b & (1 << k))
                r = static_cast<uint8_t>(r | (0x80 >> k));
        b = r;
    }
    Check(bits && *bits == expected, "bitstream round trip");
    return 0;
}
