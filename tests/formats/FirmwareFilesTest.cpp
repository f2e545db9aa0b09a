// The sample TIMs' firmware files that the build writes, read back with the
// engine's readers.
#include "engine/formats/BootFile.h"
#include "engine/formats/ObjFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct SampleFiles {
    const char* stem;  // bl_<stem>.out, fp_<stem>.out
    uint32_t timType;
    uint32_t sectorSize;
    uint32_t sectorCount;
    uint32_t commandBlock;  // programmer base 0 + 0x800, or + 0x10000 for the wide block
};

constexpr SampleFiles kSamples[] = {
    {"qt6201", 0x11, 0x10000, 32, 0x800},  {"qt6202c", 0x19, 0x20000, 32, 0x800},
    {"qt6403", 0x21, 0x10000, 64, 0x800},  {"qt6415w", 0x29, 0x40000, 64, 0x10000},
    {"qt6710b", 0x31, 0x10000, 16, 0x800}, {"qt6100l", 0x39, 0x10000, 16, 0x800},
    {"qt6300n", 0x41, 0x10000, 32, 0x800},
};

uint32_t Word(const uint8_t* p, uint32_t offset) {
    uint32_t v;
    memcpy(&v, p + offset, 4);
    return v;
}

void PrintTo(const SampleFiles& s, std::ostream* os) {
    *os << s.stem;
}

class FirmwareFilesTest : public ::testing::TestWithParam<SampleFiles> {};

TEST_P(FirmwareFilesTest, BootLoaderFileCarriesTheTimsValues) {
    const SampleFiles& s = GetParam();
    const std::string path = std::string(QEL_FIRMWARE_DIR) + "/bootloaders/bl_" + s.stem + ".out";
    CBootFile boot;
    boot.Load(path.c_str());
    ASSERT_NE(boot.GetInitImage(), nullptr);
    EXPECT_TRUE(boot.GetObjFile().IsExecutable());
    EXPECT_EQ(Word(boot.GetInitImage(), INIT_WORD_MAGIC), INIT_MAGIC);
    EXPECT_EQ(Word(boot.GetInitImage(), INIT_WORD_TIM_TYPE), s.timType);
    EXPECT_EQ(boot.GetInitWidth(), 1u);
    EXPECT_EQ(boot.GetInitSize() % 4, 0u);
    EXPECT_EQ(boot.GetSectorSize(), s.sectorSize);
    EXPECT_EQ(boot.GetSectorCount(), s.sectorCount);

    EXPECT_EQ(Word(boot.GetLoaderImage(), 0), 1u);
    EXPECT_EQ(Word(boot.GetLoaderImage(), 16), 120u);  // 72-byte extra header
    EXPECT_NE(boot.GetLoaderVersion(), 0u);
    const std::string name = boot.GetLoaderName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 16u);

    EXPECT_EQ(Word(boot.GetFdbImage(), 0), 2u);
    EXPECT_EQ(Word(boot.GetFdbImage(), 16), 48u);
    ASSERT_GE(boot.GetFdbPayloadSize(), 12u);
    EXPECT_LT(boot.GetFdbPayloadSize(), 0x800u);
    EXPECT_EQ(0, memcmp(boot.GetFdbPayload(), "QELFDB01", 8));
    EXPECT_EQ(Word(boot.GetFdbPayload(), 8), s.timType);
}

TEST_P(FirmwareFilesTest, ProgrammerStartsWithItsSignatureAtTheEntryPoint) {
    const SampleFiles& s = GetParam();
    const std::string path = std::string(QEL_FIRMWARE_DIR) + "/programmers/fp_" + s.stem + ".out";
    CObjFile obj;
    obj.Load(path.c_str());
    EXPECT_TRUE(obj.IsExecutable());
    ASSERT_EQ(obj.GetSectionCount(), 1);
    EXPECT_EQ(obj.GetSectionName(0), ".fprog");
    EXPECT_EQ(obj.GetEntryPoint(), 0x1000u);
    EXPECT_EQ(obj.GetSectionHeader(0)->physicalAddress, 0x1000u);
    EXPECT_NE(obj.GetSectionHeader(0)->flags & COFF_SECTION_CODE, 0u);
    ASSERT_GE(obj.GetSectionHeader(0)->size, 20u);
    const uint8_t* code = obj.GetSectionData(0);
    EXPECT_EQ(0, memcmp(code, "QELFPROG", 8));
    EXPECT_EQ(Word(code, 8), 1u);
    EXPECT_EQ(Word(code, 12), s.commandBlock);
    EXPECT_EQ(Word(code, 16), s.timType);
}

INSTANTIATE_TEST_SUITE_P(SampleTims, FirmwareFilesTest, ::testing::ValuesIn(kSamples),
                         [](const auto& tp) { return std::string(tp.param.stem); });

}  // namespace
