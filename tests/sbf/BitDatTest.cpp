// .bit headers and .dat trailers, and the SBF files built from them.
#include "tests/fixtures/BitstreamFixtures.h"
#include "tests/fixtures/TestTempDir.h"

#include "engine/formats/SBFManage.h"
#include "platform/FileTime.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace qel::fixtures;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) Append(out, p);
    return out;
}

const Bytes kSync = {0xFF, 0xFF, 0xFF, 0xFF};

// ---------------------------------------------------------------------------
// Finding the 0xFFFFFFFF word

struct SyncCase {
    const char* name;
    Bytes file;
    int result;
    uint64_t position;
};

std::vector<SyncCase> SyncCases() {
    Bytes acrossChunks(65534, 0x7F);
    Append(acrossChunks, kSync);
    return {
        {"AtTheStart", kSync, 0, 3},
        {"AfterOneByte", Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF, 1}, 0, 4},
        {"BrokenRunFirst", Bytes{0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 7},
        {"FiveInARow", Bytes(5, 0xFF), 0, 3},
        {"AcrossReadChunks", acrossChunks, 0, 65537},
        {"ThreeOnly", Bytes(3, 0xFF), 5, 0},
        {"Empty", Bytes{}, 5, 0},
        {"NoneInAHeader", MakeBitFile(BitHeader{}, Bytes{1, 2, 3, 4}), 5, 0},
    };
}

class OpenBitFileTest : public ::testing::TestWithParam<SyncCase> {};

TEST_P(OpenBitFileTest, ResultAndPosition) {
    const SyncCase& c = GetParam();
    TestTempDir dir;
    const std::string path = dir.File("in.bit");
    WriteFile(path, c.file);
    CSBFManage sbf;
    EXPECT_EQ(sbf.OpenBitFile(path.c_str()), c.result);
    if (c.result == 0) {
        EXPECT_EQ(sbf.Position(), c.position);
        EXPECT_EQ(sbf.FileSize(), c.file.size());
        EXPECT_EQ(CSBFManage::FindSyncWord(c.file.data(), c.file.size()),
                  static_cast<int64_t>(c.position));
    } else {
        EXPECT_EQ(CSBFManage::FindSyncWord(c.file.data(), c.file.size()), -1);
        EXPECT_EQ(sbf.ReadBitHeaderInfo(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenBitFileTest, ::testing::ValuesIn(SyncCases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(OpenBitFile, MissingFileOrFolderCannotBeOpened) {
    TestTempDir dir;
    CSBFManage sbf;
    EXPECT_EQ(sbf.OpenBitFile(dir.File("absent.bit").c_str()), 2);
    EXPECT_EQ(sbf.OpenBitFile(dir.Path().c_str()), 2);
    EXPECT_EQ(sbf.OpenBitFile(nullptr), 2);
    EXPECT_FALSE(sbf.IsOpen());
}

TEST(OpenBitFile, ReopeningReplacesTheOpenFile) {
    TestTempDir dir;
    WriteFile(dir.File("a.bit"), MakeBitFile(BitHeader{}, kSync));
    BitHeader other;
    other.part = "3s400pq208";
    WriteFile(dir.File("b.bit"), MakeBitFile(other, kSync));
    CSBFManage sbf;
    ASSERT_EQ(sbf.OpenBitFile(dir.File("a.bit").c_str()), 0);
    ASSERT_EQ(sbf.OpenBitFile(dir.File("b.bit").c_str()), 0);
    EXPECT_NE(sbf.ReadBitHeaderInfo().find("3s400pq208"), std::string::npos);
    EXPECT_EQ(sbf.OpenBitFile(dir.File("absent.bit").c_str()), 2);
    EXPECT_EQ(sbf.ReadBitHeaderInfo(), "");
}

// ---------------------------------------------------------------------------
// Header summary

struct HeaderCase {
    const char* name;
    Bytes file;
    std::string info;
};

Bytes Prefix(uint8_t lengthByte) {
    Bytes p(12, 0x0F);
    p[0] = 0;
    p[1] = lengthByte;
    return p;
}

std::vector<HeaderCase> HeaderCases() {
    BitHeader longDesign;
    longDesign.design = std::string(64, 'd');  // length 65 is 'A'
    return {
        {"Standard", MakeBitFile(BitHeader{}, kSync),
         " top.ncd;UserID=0xFFFFFFFF\r\n 2v1000fg456\r\n 2024/05/17\r\n 12:34:56\r\n"},
        {"LengthByteThatIsPrintable", MakeBitFile(longDesign, kSync),
         "A" + longDesign.design + "\r\n 2v1000fg456\r\n 2024/05/17\r\n 12:34:56\r\n"},
        // Sync word ends at 30 (bit 2 set): the range ends at 26, inside "world".
        {"RangeEndsWithBitTwoCleared",
         Cat({Prefix(9), Text("a"), {0}, Text("hello"), {0}, Text("b"), {0}, Text("world"), kSync}),
         "hello\r\nworl\r\n"},
        {"TwoFieldsOnly",
         Cat({Prefix(9),
              Text("a"),
              {0},
              Text("hello"),
              {0},
              Text("b"),
              {0},
              Text("world"),
              {0},
              Bytes(8, 0x20),
              kSync}),
         "hello\r\nworld\r\n"},
        {"ControlBytesBecomeSpaces",
         Cat({Prefix(9),
              Text("a"),
              {0},
              Text("he"),
              {0x01, 0x80},
              Text("lo"),
              {0},
              Bytes(8, 0x20),
              kSync}),
         "he  lo\r\n"},
        {"FirstFieldLongerThanTheHeader", Cat({Prefix(0x7F), Bytes(30, 0x41), kSync}), ""},
        {"NegativeFirstFieldLength", Cat({Prefix(0x80), Text("a"), {0}, Text("x"), {0}, kSync}),
         ""},
        {"SyncWordAtTheStart", Cat({kSync, Text("a"), {0}, Text("x"), {0}}), ""},
    };
}

class HeaderInfoTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderInfoTest, FromFileAndFromMemory) {
    const HeaderCase& c = GetParam();
    TestTempDir dir;
    const std::string path = dir.File("in.bit");
    WriteFile(path, c.file);
    CSBFManage sbf;
    ASSERT_EQ(sbf.OpenBitFile(path.c_str()), 0);
    EXPECT_EQ(sbf.ReadBitHeaderInfo(), c.info);
    EXPECT_EQ(CSBFManage::BitHeaderInfo(c.file.data(), c.file.size(), sbf.Position()), c.info);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderInfoTest, ::testing::ValuesIn(HeaderCases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(HeaderInfo, HeaderShorterThanItsRangeGivesNothing) {
    const Bytes file = MakeBitFile(BitHeader{}, kSync);
    const auto position = static_cast<size_t>(CSBFManage::FindSyncWord(file.data(), file.size()));
    for (size_t size : {size_t{0}, size_t{1}, size_t{12}, position - 8})
        EXPECT_EQ(CSBFManage::BitHeaderInfo(file.data(), size, position), "") << size;
    EXPECT_EQ(CSBFManage::BitHeaderInfo(nullptr, 100, position), "");
}

TEST(HeaderInfo, NothingOpenGivesNothing) {
    CSBFManage sbf;
    EXPECT_EQ(sbf.ReadBitHeaderInfo(), "");
}

// ---------------------------------------------------------------------------
// Building from .bit files

SbfDescriptor ReadBack(const std::string& path, uint32_t* format = nullptr) {
    CSBFManage sbf;
    SbfDescriptor d;
    uint32_t word = 0;
    EXPECT_EQ(sbf.ReadSbf(path.c_str(), &d, &word), 0);
    if (format)
        *format = word;
    return d;
}

Bytes Bitstream(SbfDescriptor& d) {
    const uint32_t length = d.dataItems.PopU32();
    return d.dataItems.PopItem(length);
}

// What the stored source time must be: the wall-clock reading of utc in the
// local time zone, as 100 ns units since 1601.
uint64_t ExpectedLocalFileTime(std::chrono::system_clock::time_point utc) {
    using namespace std::chrono;
    const uint64_t utcTicks =
        qel::platform::kUnixEpochFileTime +
        static_cast<uint64_t>(duration_cast<nanoseconds>(utc.time_since_epoch()).count() / 100);
    const auto l = qel::platform::FileTimeToLocal(utcTicks);
    const sys_days date = year{l.year} / l.month / l.day;
    const auto local = date + hours{l.hour} + minutes{l.minute} + seconds{l.second};
    return qel::platform::kUnixEpochFileTime +
           static_cast<uint64_t>(duration_cast<seconds>(local.time_since_epoch()).count()) *
               10000000 +
           utcTicks % 10000000;
}

TEST(BuildFromBit, WritesTheDescriptorAndTheReversedCompressedBody) {
    using namespace std::chrono;
    TestTempDir dir;
    const std::string bit = dir.File("top.bit");
    const std::string out = dir.File("top.sbf");
    const Bytes file = MakeBitFile(BitHeader{}, MakeBitstreamBody(200001, 9));
    WriteFile(bit, file);
    const auto when =
        sys_days{2023y / 7 / 14} + hours{9} + minutes{26} + seconds{53} + milliseconds{250};
    std::filesystem::last_write_time(bit, file_clock::from_sys(when));

    CSBFManage sbf;
    ASSERT_EQ(sbf.BuildFromBit(bit.c_str(), out.c_str(), 0x00020003, {0x11, 0x19}, "first build"),
              0);

    const size_t position = BitHeaderSize(BitHeader{}) + 3;
    const Bytes reversed =
        ReverseBits(Bytes(file.begin() + static_cast<long>(position), file.end()));
    const Bytes compressed = CSBFManage::CompressZeroRuns(reversed.data(), reversed.size());
    SbfSpec layout;
    layout.version = 0x00020003;
    layout.timTypes = {0x11, 0x19};
    const uint64_t time = ExpectedLocalFileTime(when);
    layout.timeLow = static_cast<uint32_t>(time);
    layout.timeHigh = static_cast<uint32_t>(time >> 32);
    layout.comment = "first build";
    layout.sourcePath = bit;
    layout.info = " top.ncd;UserID=0xFFFFFFFF\r\n 2v1000fg456\r\n 2024/05/17\r\n 12:34:56\r\n";
    layout.dataItems = DataItems(compressed);
    EXPECT_EQ(ReadFile(out), MakeSbfFile(layout));

    SbfDescriptor d = ReadBack(out);
    const auto unpacked = DecompressZeroRuns(Bitstream(d));
    ASSERT_TRUE(unpacked.has_value());
    EXPECT_EQ(*unpacked, Bytes(reversed.begin(), reversed.begin() + 4 * (reversed.size() / 4)));
    EXPECT_EQ(unpacked->at(0), 0xFF);  // the body starts at the sync word's last byte
}

TEST(BuildFromBit, EmptyTimListReadsBackEmpty) {
    TestTempDir dir;
    WriteFile(dir.File("a.bit"), MakeBitFile(BitHeader{}, MakeBitstreamBody(4000)));
    CSBFManage sbf;
    ASSERT_EQ(
        sbf.BuildFromBit(dir.File("a.bit").c_str(), dir.File("a.sbf").c_str(), 0x10000, {}, ""), 0);
    EXPECT_TRUE(ReadBack(dir.File("a.sbf")).timTypes.empty());
}

struct FailedBuildCase {
    const char* name;
    std::optional<Bytes> input;  // nullopt: no input file
    bool outputFolderMissing;
    int result;
};

class BuildFromBitFailureTest : public ::testing::TestWithParam<FailedBuildCase> {};

TEST_P(BuildFromBitFailureTest, ResultAndNothingWritten) {
    const FailedBuildCase& c = GetParam();
    TestTempDir dir;
    const std::string in = dir.File("in.bit");
    const std::string out = c.outputFolderMissing ? dir.File("gone/out.sbf") : dir.File("out.sbf");
    if (c.input)
        WriteFile(in, *c.input);
    CSBFManage sbf;
    EXPECT_EQ(sbf.BuildFromBit(in.c_str(), out.c_str(), 0x10000, {0x11}, "N/A"), c.result);
    EXPECT_FALSE(std::filesystem::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildFromBitFailureTest,
    ::testing::Values(
        FailedBuildCase{"NoSyncWord", MakeBitFile(BitHeader{}, Bytes(64, 0x5A)), false, 5},
        FailedBuildCase{"EmptyFile", Bytes{}, false, 5},
        FailedBuildCase{"MissingInput", std::nullopt, false, 2},
        FailedBuildCase{"OutputNotCreatable", MakeBitFile(BitHeader{}, kSync), true, 1}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// .dat trailers

struct VersionCase {
    const char* name;
    const char* trailer;
    uint32_t version;
};

class DatVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(DatVersionTest, Walk) {
    EXPECT_EQ(CSBFManage::DatVersion(GetParam().trailer), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DatVersionTest,
    ::testing::Values(VersionCase{"MajorMinorThenSpace", "2.7 ", 0x00020007},
                      VersionCase{"MinorRunsToTheEnd", "2.7", 0x00020000},
                      VersionCase{"NoDigits", "design top", 0x00010000},
                      VersionCase{"Empty", "", 0x00010000},
                      VersionCase{"InsideText", "top v12.34-beta", 0x000C0022},
                      VersionCase{"SecondPointIsIgnored", "1.2.3 ", 0x00010017},
                      VersionCase{"PointBeforeDigitsIsIgnored", "x.5 ", 0x00010000},
                      VersionCase{"LetterAfterPointKeepsMajor", "3.x4 ", 0x00030000},
                      VersionCase{"LaterPairWins", "v2.x 3.4 ", 0x00030004},
                      VersionCase{"LettersResetDigits", "ab12cd3.4;", 0x00030004},
                      VersionCase{"HalvesKeepSixteenBits", "70000.65537 ", 0x11700001},
                      VersionCase{"HugeNumbersDoNotWrap", "99999999999999.1 ", 0xFFFF0001}),
    [](const auto& p) { return std::string(p.param.name); });

struct TrailerCase {
    const char* name;
    Bytes file;
    bool valid;
    size_t start;
    std::string text;
};

std::vector<TrailerCase> TrailerCases() {
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    return {
        {"Standard", MakeDatFile(data, "top 2.7 ok"), true, 12, "top 2.7 ok"},
        {"EndsWithoutZero", MakeDatFile(data, "v1.0 x", 0), true, 12, "v1.0 x"},
        {"ControlBytesBecomeSpaces",
         MakeDatFile(data,
                     "a\tb\x7F"
                     "c"),
         true, 12, "a b c"},
        {"ExactlyFourBytesBefore", Bytes{9, 9, 9, 0, 'x'}, true, 4, "x"},
        {"NoDataBeforeTrailer", MakeDatFile({}, "t"), true, 4, "t"},
        {"OnlyZeros", Bytes(64, 0), false, 0, ""},
        {"Empty", Bytes{}, false, 0, ""},
        {"NoZeroBeforeTrailer", Text("just text, no zero"), false, 0, ""},
        {"NoZeroBeforeTrailerButAfter", Cat({Text("abc"), Bytes(5, 0)}), false, 0, ""},
        {"FewerThanFourBytesBefore", Bytes{7, 0, 'a', 'b', 0}, false, 0, ""},
    };
}

class DatTrailerTest : public ::testing::TestWithParam<TrailerCase> {};

TEST_P(DatTrailerTest, Found) {
    const TrailerCase& c = GetParam();
    const DatTrailer t = CSBFManage::FindDatTrailer(c.file.data(), c.file.size());
    EXPECT_EQ(t.valid, c.valid);
    if (!c.valid)
        return;
    EXPECT_EQ(t.start, c.start);
    EXPECT_EQ(t.dataLength, c.start - 4);
    EXPECT_EQ(t.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, DatTrailerTest, ::testing::ValuesIn(TrailerCases()),
                         [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Building from .dat files

TEST(BuildFromDat, WritesTheTrailerAsCommentAndTheBodyCompressed) {
    TestTempDir dir;
    const std::string dat = dir.File("top.dat");
    const std::string out = dir.File("top.sbf");
    const Bytes body = MakeBitstreamBody(50000, 4);
    WriteFile(dat, MakeDatFile(body, "Design top\x01 2.7 built"));

    CSBFManage sbf;
    ASSERT_EQ(sbf.BuildFromDat(dat.c_str(), out.c_str(), {0x29, 0x31}), 0);

    SbfSpec layout;
    layout.version = 0x00020007;
    layout.timTypes = {0x29, 0x31};
    layout.comment = "Design top  2.7 built";
    layout.sourcePath = dat;
    layout.dataItems = DataItems(CSBFManage::CompressZeroRuns(body.data(), body.size()));
    EXPECT_EQ(ReadFile(out), MakeSbfFile(layout));

    uint32_t format = 0;
    SbfDescriptor d = ReadBack(out, &format);
    EXPECT_EQ(format, 1u);
    EXPECT_EQ(DecompressZeroRuns(Bitstream(d)), body);  // no bit reversal
}

TEST(BuildFromDat, TrailerWithoutMinorGivesMajorOnly) {
    TestTempDir dir;
    WriteFile(dir.File("a.dat"), MakeDatFile(MakeBitstreamBody(400), "rev 2.7"));
    CSBFManage sbf;
    ASSERT_EQ(sbf.BuildFromDat(dir.File("a.dat").c_str(), dir.File("a.sbf").c_str(), {0x11}), 0);
    EXPECT_EQ(ReadBack(dir.File("a.sbf")).version, 0x00020000u);
}

class BuildFromDatFailureTest : public ::testing::TestWithParam<FailedBuildCase> {};

TEST_P(BuildFromDatFailureTest, ResultAndNothingWritten) {
    const FailedBuildCase& c = GetParam();
    TestTempDir dir;
    const std::string in = dir.File("in.dat");
    const std::string out = c.outputFolderMissing ? dir.File("gone/out.sbf") : dir.File("out.sbf");
    if (c.input)
        WriteFile(in, *c.input);
    CSBFManage sbf;
    EXPECT_EQ(sbf.BuildFromDat(in.c_str(), out.c_str(), {0x11}), c.result);
    EXPECT_FALSE(std::filesystem::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildFromDatFailureTest,
    ::testing::Values(FailedBuildCase{"OnlyZeros", Bytes(4096, 0), false, 1},
                      FailedBuildCase{"EmptyFile", Bytes{}, false, 1},
                      FailedBuildCase{"NoZeroBeforeTrailer", Bytes(4096, 0x41), false, 1},
                      FailedBuildCase{"TrailerTooCloseToStart", Bytes{1, 0, 'v', '1'}, false, 1},
                      FailedBuildCase{"MissingInput", std::nullopt, false, 2},
                      FailedBuildCase{"OutputNotCreatable", MakeDatFile(Bytes(8, 1), "1.0 "), true,
                                      1}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
