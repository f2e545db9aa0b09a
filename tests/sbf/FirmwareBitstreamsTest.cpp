// The sample bitstreams that the build's firmware tool writes.
#include "tests/fixtures/BitstreamFixtures.h"

#include "engine/formats/SBFManage.h"

#include <gtest/gtest.h>

using namespace qel::fixtures;

namespace {

const std::string kFolder = std::string(QEL_FIRMWARE_DIR) + "/bitstreams/";

struct SampleCase {
    const char* name;
    uint32_t version;
    std::vector<uint32_t> timTypes;
};

class FirmwareBitstreamTest : public ::testing::TestWithParam<SampleCase> {};

TEST_P(FirmwareBitstreamTest, StackFileDescribesItsBitFile) {
    const SampleCase& c = GetParam();
    const std::string sbfPath = kFolder + c.name + ".sbf";
    const std::string bitPath = kFolder + c.name + ".bit";
    CSBFManage sbf;
    SbfDescriptor d;
    uint32_t format = 0;
    ASSERT_EQ(sbf.ReadSbf(sbfPath.c_str(), &d, &format), 0) << sbfPath;
    EXPECT_EQ(d.magic, SBF_MAGIC);
    EXPECT_EQ(format, 1u);
    EXPECT_EQ(d.version, c.version);
    EXPECT_EQ(d.timTypes, c.timTypes);
    EXPECT_EQ(d.sourcePath, bitPath);
    EXPECT_NE(d.info.find(c.name), std::string::npos) << d.info;

    ASSERT_EQ(sbf.OpenBitFile(bitPath.c_str()), 0);
    const Bytes bit = ReadFile(bitPath);
    const Bytes body =
        ReverseBits(Bytes(bit.begin() + static_cast<long>(sbf.Position()), bit.end()));
    const uint32_t length = d.dataItems.PopU32();
    const auto unpacked = DecompressZeroRuns(d.dataItems.PopItem(length));
    ASSERT_TRUE(unpacked.has_value());
    EXPECT_EQ(*unpacked, Bytes(body.begin(), body.begin() + 4 * (body.size() / 4)));
}

INSTANTIATE_TEST_SUITE_P(Samples, FirmwareBitstreamTest,
                         ::testing::Values(SampleCase{"qt6201_v1p0", 0x00010000, {0x11}},
                                           SampleCase{"qt6201_16_v1p2", 0x00010002, {0x11}},
                                           SampleCase{"qt6201_32_v2p0", 0x00020000, {0x11}},
                                           SampleCase{
                                               "qt6202c_qt6403_v1p0", 0x00010000, {0x19, 0x21}},
                                           SampleCase{"qt6415w_v1p0", 0x00010000, {0x29}},
                                           SampleCase{"qt6710b_v1p0", 0x00010000, {0x31}},
                                           SampleCase{"qt6100l_v1p0", 0x00010000, {0x39}},
                                           SampleCase{"qt6300n_v1p0", 0x00010000, {0x41}}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(FirmwareBitstreams, DatFileNamesVersionTwoSeven) {
    const Bytes dat = ReadFile(kFolder + "qt6201_v2p7.dat");
    const DatTrailer t = CSBFManage::FindDatTrailer(dat.data(), dat.size());
    ASSERT_TRUE(t.valid);
    EXPECT_EQ(t.version, 0x00020007u);
    EXPECT_EQ(t.dataLength % 4, 0u);
}

}  // namespace
