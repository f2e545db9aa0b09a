// The builder's rules without a window: version edits, generated names,
// device names, the TIM types offered and their order, what a build passes
// on, and the SBF shown.
#include "builder/GorlinModel.h"

#include "QelTimInfo.h"
#include "tests/fixtures/BitstreamFixtures.h"
#include "tests/fixtures/TestTempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace qel::fixtures;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// ---------------------------------------------------------------------------
// A TIM database in memory

class FakeRecord : public CQelTimRecord {
  public:
    FakeRecord(std::string name, std::optional<int> timType)
        : name_(std::move(name)), timType_(timType) {}
    const char* Name() const override { return name_.c_str(); }
    uint32_t Code() const override { return static_cast<uint32_t>(timType_.value_or(0)); }
    int GetEntry(const char*, TIMRec*, int) const override { return 1; }
    int GetInt(const char* key, int) const override {
        if (std::string(key) != "TimType" || !timType_)
            throw except_int_not_found(key);
        return *timType_;
    }
    const char* GetString(const char* key, const char*) const override {
        throw except_str_not_found(key);
    }

  private:
    std::string name_;
    std::optional<int> timType_;
};

class FakeDatabase : public CQelTimInfo {
  public:
    explicit FakeDatabase(std::vector<FakeRecord> records) : records_(std::move(records)) {}
    const char* Version() const override { return "test"; }
    uint32_t Count() const override { return static_cast<uint32_t>(records_.size()); }
    CQelTimRecord* FindByName(const char*) const override { return nullptr; }
    CQelTimRecord* At(uint32_t i) const override {
        return i < records_.size() ? const_cast<FakeRecord*>(&records_[i]) : nullptr;
    }
    const char* DataFolder() const override { return ""; }
    const char* NameOf(uint32_t) const override { return ""; }
    CQelTimRecord* Find(uint32_t) const override { return nullptr; }

  private:
    std::vector<FakeRecord> records_;
};

// In the database's order: three offered types, one that is not (low bits 2)
// and one without a type at all.
FakeDatabase SampleDatabase() {
    return FakeDatabase({{"QT-6201", 0x11},
                         {"QT-TEST10", 0x0A},
                         {"QT-6202C", 0x19},
                         {"NO-TYPE", std::nullopt},
                         {"QT-NINE", 9}});
}

std::vector<std::string> Names(const CGorlinModel& model, const std::vector<size_t>& order) {
    std::vector<std::string> names;
    for (size_t i : order) names.push_back(model.Targets()[i].name);
    return names;
}

std::vector<std::string> CheckedNames(const CGorlinModel& model) {
    std::vector<std::string> names;
    for (const GorlinTarget& target : model.Targets())
        if (target.checked)
            names.push_back(target.name);
    return names;
}

// ---------------------------------------------------------------------------
// Version from the edits

struct VersionCase {
    const char* name;
    const char* major;
    const char* minor;
    uint32_t version;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

class VersionFromEditsTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionFromEditsTest, Version) {
    EXPECT_EQ(CGorlinModel::VersionFromEdits(GetParam().major, GetParam().minor),
              GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, VersionFromEditsTest,
    ::testing::Values(VersionCase{"BothEmpty", "", "", 0x00010000},
                      VersionCase{"BothZero", "0", "0", 0x00010000},
                      VersionCase{"ZeroMajor", "0", "5", 0x00000005},
                      VersionCase{"Plain", "2", "7", 0x00020007},
                      VersionCase{"EmptyMinor", "3", "", 0x00030000},
                      VersionCase{"EmptyMajorKeepsMinor", "", "4", 0x00010004},
                      VersionCase{"NotNumbers", "x", "y", 0x00010000},
                      VersionCase{"LeadingBlanksAndTail", " 12", "\t3rc", 0x000C0003},
                      VersionCase{"Signed", "+4", "-1", 0x0004FFFF},
                      VersionCase{"SixteenBitsEach", "65537", "65538", 0x00010002},
                      VersionCase{"Overflow", "99999999999", "0", 0xFFFF0000}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Generated names

struct NameCase {
    const char* name;
    const char* input;
    const char* device;
    uint32_t version;
    const char* generated;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class GenerateNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(GenerateNameTest, Name) {
    const NameCase& c = GetParam();
    EXPECT_EQ(CGorlinModel::GenerateName(c.input, c.device, c.version), c.generated);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, GenerateNameTest,
    ::testing::Values(NameCase{"WindowsPath", "C:\\bits\\top.bit", "2v1000", 0x00010000,
                               "C:\\bits\\top_2v1000v1p0.sbf"},
                      // Points in folder names stay: the name is cut in the file name only.
                      NameCase{"FolderWithAPoint", "C:\\v1.2\\top.bit", "2v1000", 0x00010000,
                               "C:\\v1.2\\top_2v1000v1p0.sbf"},
                      NameCase{"HomeWithAPoint", "/home/j.smith/top.bit", "2v1000", 0x00010000,
                               "/home/j.smith/top_2v1000v1p0.sbf"},
                      NameCase{"RelativeFolder", "../bits/top.bit", "2v1000", 0x00010000,
                               "../bits/top_2v1000v1p0.sbf"},
                      NameCase{"TwoPointsInTheFileName", "/bits/top.v2.bit", "2v1000", 0x00010000,
                               "/bits/top_2v1000v1p0.sbf"},
                      NameCase{"HiddenFile", "/bits/.bit", "2v1000", 0x00010000,
                               "/bits/_2v1000v1p0.sbf"},
                      NameCase{"LinuxPath", "/home/eng/bits/top.bit", "3s500e", 0x0002000B,
                               "/home/eng/bits/top_3s500ev2p11.sbf"},
                      NameCase{"NoDevice", "/data/top.dat", "", 0x00010000, "/data/top_v1p0.sbf"},
                      NameCase{"NoExtension", "top", "2v1000", 0x00000005, "top_2v1000v0p5.sbf"},
                      NameCase{"EmptyInput", "", "2v1000", 0x00010000, ""}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Device names from .bit header summaries

struct DeviceCase {
    const char* name;
    const char* info;
    const char* device;
};

void PrintTo(const DeviceCase& c, std::ostream* os) {
    *os << c.name;
}

class DeviceNameTest : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceNameTest, Device) {
    EXPECT_EQ(CGorlinModel::DeviceNameFromInfo(GetParam().info), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(
    Summaries, DeviceNameTest,
    ::testing::Values(
        DeviceCase{"Standard", " top.ncd\r\n 2v1000fg456\r\n 2024/05/17\r\n 12:34:56\r\n",
                   "2v1000"},
        DeviceCase{"FullPartName", " top.ncd\r\n xc2v3000ff1152\r\n", "xc2v3000"},
        // The letters before the pin count go, even when the device's own
        // name ends in one.
        DeviceCase{"LettersBeforeThePinCount", " top.ncd\r\n 3s500eft256\r\n", "3s500"},
        DeviceCase{"BlankLinesBeforePart", "top\n\r\n   2v3000ff1152\r\n", "2v3000"},
        DeviceCase{"NoCarriageReturn", "top\n2v1000fg456", "2v1000"},
        DeviceCase{"OnlyLetters", "top\r\nabc\r\n", ""}, DeviceCase{"OneLine", " top.ncd\r\n", ""},
        DeviceCase{"NoLineFeed", " top.ncd", ""}, DeviceCase{"Empty", "", ""}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// The TIM types offered

struct ListedCase {
    int timType;
    bool listed;
};

void PrintTo(const ListedCase& c, std::ostream* os) {
    *os << c.timType;
}

class ListedTimTypeTest : public ::testing::TestWithParam<ListedCase> {};

TEST_P(ListedTimTypeTest, LowThreeBitsOne) {
    EXPECT_EQ(CGorlinModel::IsListedTimType(GetParam().timType), GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(Types, ListedTimTypeTest,
                         ::testing::Values(ListedCase{9, true}, ListedCase{10, false},
                                           ListedCase{1, true}, ListedCase{0x11, true},
                                           ListedCase{0x0A, false}, ListedCase{0x0F, false},
                                           ListedCase{0, false}, ListedCase{-7, true}));

TEST(GorlinTargets, NewestFirstWhileTheTreeKeepsTheDatabaseOrder) {
    const FakeDatabase database = SampleDatabase();
    CGorlinModel model;
    model.LoadTargets(database);
    std::vector<size_t> stored(model.Targets().size());
    for (size_t i = 0; i < stored.size(); ++i) stored[i] = i;
    EXPECT_THAT(Names(model, stored), ElementsAre("QT-NINE", "QT-6202C", "QT-6201"));
    EXPECT_THAT(Names(model, model.DisplayOrder()), ElementsAre("QT-6201", "QT-6202C", "QT-NINE"));
    EXPECT_EQ(model.Targets()[0].record, database.At(4));

    for (size_t i = 0; i < model.Targets().size(); ++i) model.SetChecked(i, true);
    EXPECT_THAT(model.CheckedTypes(), ElementsAre(9u, 0x19u, 0x11u));
}

TEST(GorlinTargets, CheckTypesClearsOthersAndIgnoresUnknownTypes) {
    CGorlinModel model;
    model.LoadTargets(SampleDatabase());
    model.SetChecked(2, true);  // QT-6201
    model.CheckTypes({0x19, 0x77, 0x0A});
    EXPECT_THAT(CheckedNames(model), ElementsAre("QT-6202C"));
    model.UncheckAll();
    EXPECT_THAT(model.CheckedTypes(), IsEmpty());
}

// ---------------------------------------------------------------------------
// Input, build and the SBF shown

class GorlinModelFiles : public ::testing::Test {
  protected:
    GorlinModelFiles() { model_.LoadTargets(database_); }

    std::string WriteBit(const std::string& name, const std::string& part) {
        BitHeader header;
        header.part = part;
        const std::string path = dir_.File(name);
        WriteFile(path, MakeBitFile(header, MakeBitstreamBody(4096)));
        return path;
    }

    FakeDatabase database_ = SampleDatabase();
    CGorlinModel model_;
    TestTempDir dir_;
};

TEST_F(GorlinModelFiles, InputChangedReadsTheDeviceOfABitFileAndKeepsItOtherwise) {
    model_.InputChanged(WriteBit("top.bit", "2v1000fg456"));
    EXPECT_FALSE(model_.DatMode());
    EXPECT_EQ(model_.DeviceName(), "2v1000");

    model_.InputChanged(dir_.File("missing.bit"));
    EXPECT_EQ(model_.DeviceName(), "2v1000");

    model_.InputChanged(dir_.File("other.dat"));
    EXPECT_TRUE(model_.DatMode());
    EXPECT_EQ(model_.DeviceName(), "2v1000");

    model_.InputChanged(WriteBit("small.bit", "2v3000ff1152"));
    EXPECT_FALSE(model_.DatMode());
    EXPECT_EQ(model_.DeviceName(), "2v3000");
}

TEST(GorlinModelDatMode, IsDecidedByTheFileNamesExtensionInEitherCase) {
    EXPECT_TRUE(CGorlinModel::IsDatInput("/data/TOP.DAT"));
    EXPECT_TRUE(CGorlinModel::IsDatInput("C:\\bits\\top.Dat"));
    EXPECT_FALSE(CGorlinModel::IsDatInput("/data/x.dat/top.bit"));
    EXPECT_FALSE(CGorlinModel::IsDatInput("/data/top.dat.bit"));
    EXPECT_FALSE(CGorlinModel::IsDatInput(".dat"));
}

struct RequestCase {
    const char* name;
    const char* input;
    GorlinBuildRequest expected;
};

void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.name;
}

class BuildRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(BuildRequestTest, PassesToTheStackFileCode) {
    const FakeDatabase database = SampleDatabase();
    CGorlinModel model;
    model.LoadTargets(database);
    model.SetChecked(0, true);  // QT-NINE
    model.SetChecked(2, true);  // QT-6201
    model.InputChanged(GetParam().input);
    EXPECT_EQ(model.MakeBuildRequest(GetParam().input, "out.sbf", "2", "3", "a comment"),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, BuildRequestTest,
    ::testing::Values(
        RequestCase{"Bit",
                    "/none/top.bit",
                    {false, "/none/top.bit", "out.sbf", 0x00020003, {9, 0x11}, "a comment"}},
        // The trailer of a .dat file gives version and comment.
        RequestCase{"Dat", "/none/top.dat", {true, "/none/top.dat", "out.sbf", 0, {9, 0x11}, ""}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(GorlinModelFiles, BuiltSbfShowsItsTypesAndSummary) {
    const std::string bit = WriteBit("top.bit", "2v1000fg456");
    const std::string sbf = dir_.File("top.sbf");
    model_.InputChanged(bit);
    model_.CheckTypes({0x11, 9});
    ASSERT_EQ(model_.Build(model_.MakeBuildRequest(bit, sbf, "1", "2", "first")), SBF_OK);

    model_.UncheckAll();
    const std::optional<SbfDescriptor> shown = model_.ReadSbfToShow(sbf);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->version, 0x00010002u);
    EXPECT_THAT(shown->timTypes, ElementsAre(9u, 0x11u));
    EXPECT_EQ(shown->comment, "first");
    EXPECT_EQ(shown->sourcePath, bit);
    EXPECT_EQ(CGorlinModel::DeviceNameFromInfo(shown->info), "2v1000");
    EXPECT_THAT(CheckedNames(model_), ElementsAre("QT-NINE", "QT-6201"));
}

TEST_F(GorlinModelFiles, UnreadableSbfChangesNothing) {
    model_.CheckTypes({0x19});
    WriteFile(dir_.File("bad.sbf"), Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    for (const std::string& path : {std::string(), dir_.File("missing.sbf"), dir_.File("bad.sbf")})
        EXPECT_FALSE(model_.ReadSbfToShow(path)) << path;
    EXPECT_THAT(CheckedNames(model_), ElementsAre("QT-6202C"));
}

TEST(GorlinInfo, StaleWhenInputOrFileDiffersFromTheShownSbf) {
    CGorlinModel model;
    model.RememberShown("top.bit", "top.sbf");
    EXPECT_FALSE(model.InfoIsStale("top.bit", "top.sbf"));
    EXPECT_TRUE(model.InfoIsStale("top2.bit", "top.sbf"));
    EXPECT_TRUE(model.InfoIsStale("top.bit", "top2.sbf"));
    EXPECT_TRUE(CGorlinModel().InfoIsStale("top.bit", ""));
    EXPECT_FALSE(CGorlinModel().InfoIsStale("", ""));
}

}  // namespace
