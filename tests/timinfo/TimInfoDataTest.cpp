// The shipped TIM descriptions, read through the library as every tool
// reads them: they must match the TIM types the tools, the firmware files
// and the bench were built for.
#include "QelTimInfo.h"
#include "platform/DynamicLibrary.h"
#include "tests/timinfo/TimInfoTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qel::timinfo::test {
namespace {

struct Entry {
    uint32_t a, b, c;
    std::string name;
};

struct AgreedType {
    const char* name;
    uint32_t code;
    int family, subFamily;  // -1: key absent
    int processors;
    int chipErase;  // -1: key absent
    uint32_t flashAddr, flashOffset, sectorSize, sectorCount, maxVersion;
    const char* loader;
    const char* util;
    std::vector<Entry> memory;
    std::vector<Entry> set;
};

const std::vector<Entry> kMemory16M = {{0, 0x40000, 0, "INTERNAL"},
                                       {0x80000000, 0x1000000, 0, "SDRAM"}};
const std::vector<Entry> kEmifSet = {{0, 0x01800000, 0x3300, "EMIF_GCTL"},
                                     {1, 0x01800004, 1, "IGNORED"},
                                     {0, 0x01800008, 0x20, "EMIF_CE1"}};

const AgreedType kAgreed[] = {
    {"QT-6201", 0x11, 7, 20, 1, 0, 0x90000000, 0, 0x10000, 32, 7, "bl_qt6201.out", "fp_qt6201.out",
     kMemory16M, kEmifSet},
    {"QT-6202C",
     0x19,
     7,
     20,
     1,
     1,
     0x90000000,
     0,
     0x20000,
     32,
     7,
     "bl_qt6202c.out",
     "fp_qt6202c.out",
     kMemory16M,
     {}},
    {"QT-6403",
     0x21,
     7,
     21,
     3,
     0,
     0x90000000,
     0,
     0x10000,
     64,
     7,
     "bl_qt6403.out",
     "fp_qt6403.out",
     {{0, 0x40000, 0, "INTERNAL"}, {0x80000000, 0x2000000, 0, "SDRAM"}},
     kEmifSet},
    {"QT-6415W",
     0x29,
     8,
     100,
     1,
     0,
     0x64000000,
     0,
     0x40000,
     64,
     7,
     "bl_qt6415w.out",
     "fp_qt6415w.out",
     {{0, 0x100000, 0, "INTERNAL"}, {0x80000000, 0x4000000, 0, "SDRAM"}},
     {}},
    {"QT-6710B",
     0x31,
     9,
     30,
     1,
     0,
     0xA0000000,
     0x10000000,
     0x10000,
     16,
     7,
     "bl_qt6710b.out",
     "fp_qt6710b.out",
     {{0, 0x20000, 0, "INTERNAL"}, {0x80000000, 0x800000, 0, "SDRAM"}},
     {}},
    {"QT-6100L",
     0x39,
     7,
     20,
     1,
     0,
     0x90000000,
     0,
     0x10000,
     16,
     4,
     "bl_qt6100l.out",
     "fp_qt6100l.out",
     {{0, 0x40000, 0, "INTERNAL"}, {0x80000000, 0x800000, 0, "SDRAM"}},
     {}},
    {"QT-6300N",
     0x41,
     -1,
     -1,
     1,
     -1,
     0x90000000,
     0,
     0x10000,
     32,
     7,
     "bl_qt6300n.out",
     "fp_qt6300n.out",
     kMemory16M,
     {}},
    {"QT-TEST10",
     0x0A,
     7,
     20,
     1,
     0,
     0x90000000,
     0,
     0x10000,
     16,
     7,
     "bl_qt6201.out",
     "fp_qt6201.out",
     {{0, 0x40000, 0, "INTERNAL"}},
     {}},
};

// The shipped database, found the way the tools find it: without the variable.
class ShippedData : public ::testing::Test {
  protected:
    void SetUp() override {
        database_.reset(QelTimInfoOpen(0));
        ASSERT_NE(database_, nullptr) << QelTimInfoLastError();
    }
    struct Close {
        void operator()(CQelTimInfo* d) const { QelTimInfoClose(d); }
    };
    DataVariable unset_{nullptr};
    std::unique_ptr<CQelTimInfo, Close> database_;
};

std::vector<Entry> Entries(const CQelTimRecord& record, const char* section) {
    std::vector<Entry> out;
    TIMRec rec(0);
    for (int i = 0; record.GetEntry(section, &rec, i) == 0; ++i) {
        EXPECT_LT(i, 100) << "GetEntry never ends";
        if (i >= 100)
            break;
        out.push_back({rec.number[0], rec.number[1], rec.number[2], rec.text[0]});
    }
    return out;
}

bool operator==(const Entry& x, const Entry& y) {
    return x.a == y.a && x.b == y.b && x.c == y.c && x.name == y.name;
}
void PrintTo(const Entry& e, std::ostream* os) {
    *os << std::hex << "{0x" << e.a << " 0x" << e.b << " 0x" << e.c << " " << e.name << "}";
}

TEST_F(ShippedData, HoldsEveryAgreedTypeInFileNameOrder) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < database_->Count(); ++i) {
        ASSERT_NE(database_->At(i), nullptr);
        names.push_back(database_->At(i)->Name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"QT-6100L", "QT-6201", "QT-6202C", "QT-6300N",
                                               "QT-6403", "QT-6415W", "QT-6710B", "QT-TEST10"}));
    EXPECT_EQ(database_->At(database_->Count()), nullptr);
}

TEST_F(ShippedData, IsReadFromTimdataBesideTheLibrary) {
    const std::string expected = platform::DynamicLibrary::ExecutableFolder() + "/timdata";
    EXPECT_TRUE(std::filesystem::equivalent(database_->DataFolder(), expected))
        << database_->DataFolder();
}

TEST_F(ShippedData, ListsAllButTheTestTypeWhenFilteredByTheLowThreeBits) {
    std::vector<std::string> listed;
    for (uint32_t i = 0; i < database_->Count(); ++i)
        if ((database_->At(i)->GetInt("TimType", 0) & 7) == 1)
            listed.push_back(database_->At(i)->Name());
    EXPECT_EQ(listed.size(), database_->Count() - 1);
    EXPECT_EQ(std::find(listed.begin(), listed.end(), "QT-TEST10"), listed.end());
}

TEST_F(ShippedData, UnknownNamesAndCodesFindNothing) {
    EXPECT_EQ(database_->FindByName("qt-6201"), nullptr) << "names are case-sensitive";
    EXPECT_EQ(database_->FindByName("QT-62"), nullptr);
    EXPECT_EQ(database_->FindByName(""), nullptr);
    EXPECT_EQ(database_->FindByName(nullptr), nullptr);
    for (uint32_t code : {0u, 7u, 0x12u, 0xFFFFFFFFu}) {
        EXPECT_EQ(database_->Find(code), nullptr) << code;
        ASSERT_NE(database_->NameOf(code), nullptr) << code;
        EXPECT_STREQ(database_->NameOf(code), "Unknown TIM type") << code;
    }
}

TEST_F(ShippedData, GetEntryStopsOnBadArgumentsAndKeepsTheTag) {
    const CQelTimRecord* record = database_->FindByName("QT-6201");
    ASSERT_NE(record, nullptr);
    TIMRec rec(0xCAFE);
    EXPECT_NE(record->GetEntry("Nothing", &rec, 0), 0);
    EXPECT_NE(record->GetEntry("memory", &rec, 0), 0) << "sections are case-sensitive";
    EXPECT_NE(record->GetEntry("Memory", &rec, -1), 0);
    EXPECT_NE(record->GetEntry(nullptr, &rec, 0), 0);
    EXPECT_NE(record->GetEntry("Memory", nullptr, 0), 0);
    ASSERT_EQ(record->GetEntry("Memory", &rec, 1), 0);
    EXPECT_EQ(rec.tag, 0xCAFEu);
    EXPECT_STREQ(rec.text[1], "");
    EXPECT_STREQ(rec.text[2], "");
}

// Missing keys, both kinds, caught by their own type and as TimExc.
struct MissingKey {
    const char* key;
    bool integer;
};

void PrintTo(const MissingKey& c, std::ostream* os) {
    *os << c.key;
}

class MissingKeyTest : public ShippedData, public ::testing::WithParamInterface<MissingKey> {};

TEST_P(MissingKeyTest, ThrowsItsOwnTypeWithAUsefulText) {
    const CQelTimRecord* record = database_->FindByName("QT-6300N");
    ASSERT_NE(record, nullptr);
    const MissingKey& c = GetParam();
    auto read = [&] {
        if (c.integer)
            record->GetInt(c.key, 0);
        else
            record->GetString(c.key, nullptr);
    };
    if (c.integer)
        EXPECT_THROW(read(), except_int_not_found);
    else
        EXPECT_THROW(read(), except_str_not_found);
    try {
        read();
        FAIL() << "no exception";
    } catch (const TimExc& e) {
        const std::string text = e.Text();
        EXPECT_NE(text.find(c.key), std::string::npos) << text;
        EXPECT_NE(text.find("QT-6300N"), std::string::npos) << text;
        EXPECT_NE(text.find("not found"), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, MissingKeyTest,
                         ::testing::Values(MissingKey{"Family", true},
                                           MissingKey{"SubFamily", true},
                                           MissingKey{"UseChipErase", true},
                                           MissingKey{"Memory", true}, MissingKey{"timtype", true},
                                           MissingKey{"Nothing", false},
                                           MissingKey{"loader", false}));

void PrintTo(const AgreedType& t, std::ostream* os) {
    *os << t.name;
}

class AgreedTypeTest : public ShippedData, public ::testing::WithParamInterface<AgreedType> {};

TEST_P(AgreedTypeTest, IsFoundByNameAndCode) {
    const AgreedType& t = GetParam();
    CQelTimRecord* record = database_->FindByName(t.name);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->Name(), t.name);
    EXPECT_EQ(record->Code(), t.code);
    EXPECT_EQ(database_->Find(t.code), record);
    EXPECT_STREQ(database_->NameOf(t.code), t.name);
}

TEST_P(AgreedTypeTest, CarriesTheAgreedValues) {
    const AgreedType& t = GetParam();
    const CQelTimRecord* record = database_->FindByName(t.name);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->GetString("Name", nullptr), t.name);
    EXPECT_EQ(static_cast<uint32_t>(record->GetInt("TimType", 0)), t.code);
    EXPECT_EQ(static_cast<uint32_t>(record->GetInt("Flash_Addr", 0)), t.flashAddr);
    EXPECT_EQ(static_cast<uint32_t>(record->GetInt("Flash_Offset", 0)), t.flashOffset);
    EXPECT_EQ(static_cast<uint32_t>(record->GetInt("SectorSize", 0)), t.sectorSize);
    EXPECT_EQ(static_cast<uint32_t>(record->GetInt("SectorCount", 0)), t.sectorCount);
    EXPECT_EQ(static_cast<uint32_t>(record->GetInt("Max_4410_ver", 0)), t.maxVersion);
    EXPECT_EQ(record->GetInt("processors", 0), t.processors);
    EXPECT_STREQ(record->GetString("Loader", nullptr), t.loader);
    EXPECT_STREQ(record->GetString("Util", nullptr), t.util);
    EXPECT_STRNE(record->GetString("Comment", nullptr), "");
    if (t.family < 0) {
        EXPECT_THROW(record->GetInt("Family", 0), except_int_not_found);
        EXPECT_THROW(record->GetInt("SubFamily", 0), except_int_not_found);
    } else {
        EXPECT_EQ(record->GetInt("Family", 0), t.family);
        EXPECT_EQ(record->GetInt("SubFamily", 0), t.subFamily);
    }
    if (t.chipErase < 0)
        EXPECT_THROW(record->GetInt("UseChipErase", 0), except_int_not_found);
    else
        EXPECT_EQ(record->GetInt("UseChipErase", 0), t.chipErase);
}

TEST_P(AgreedTypeTest, EnumeratesMemoryAndSetInFileOrder) {
    const AgreedType& t = GetParam();
    const CQelTimRecord* record = database_->FindByName(t.name);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(Entries(*record, "Memory"), t.memory);
    EXPECT_EQ(Entries(*record, "Set"), t.set);
}

INSTANTIATE_TEST_SUITE_P(Types, AgreedTypeTest, ::testing::ValuesIn(kAgreed), [](const auto& p) {
    std::string name = p.param.name;
    for (char& c : name)
        if (c == '-')
            c = '_';
    return name;
});

}  // namespace
}  // namespace qel::timinfo::test
