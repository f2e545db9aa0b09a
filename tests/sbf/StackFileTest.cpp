// Item stack, CRC-16 and stack files (load, save, round trip).
#include "tests/fixtures/BitstreamFixtures.h"
#include "tests/fixtures/TestTempDir.h"

#include "engine/formats/SBFCrc16.h"
#include "engine/formats/SBFManage.h"

#include <gtest/gtest.h>

#include <random>

using namespace qel::fixtures;

namespace {

std::vector<Bytes> ItemsOf(const CItemStack& stack) {
    return std::vector<Bytes>(stack.Items().begin(), stack.Items().end());
}

// ---------------------------------------------------------------------------
// CRC-16

TEST(Crc16, CheckValueOverTheNineDigits) {
    const char digits[] = "123456789";
    EXPECT_EQ(CCrc16::Of(digits, 9), 0x29B1);
}

TEST(Crc16, TableIsTheStandardOne) {
    const uint16_t expected[] = {0x0000, 0x1021, 0x2042, 0x3063, 0x4084, 0x50A5, 0x60C6, 0x70E7};
    for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(CCrc16::TableEntry(i), expected[i]) << int(i);
    EXPECT_EQ(CCrc16::TableEntry(255), 0x1EF0);
}

TEST(Crc16, EmptyInputKeepsTheInitialValue) {
    EXPECT_EQ(CCrc16::Of(nullptr, 0), 0xFFFF);
    EXPECT_EQ(CCrc16::Of("x", 0), 0xFFFF);
}

// The sliced loop against the bitwise definition, at every length and
// alignment around its 8-byte step, and fed in pieces.
TEST(Crc16, MatchesBitwiseDefinitionAtEveryLengthAndSplit) {
    std::mt19937 rng(7);
    Bytes data(300);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t length = 0; length + offset <= 90; ++length) {
            const uint8_t* p = data.data() + offset;
            ASSERT_EQ(CCrc16::Of(p, length), ReferenceCrc16(p, length))
                << "offset " << offset << " length " << length;
        }
    }
    for (size_t split = 0; split <= data.size(); split += 13) {
        const uint16_t first = CCrc16::Update(CCrc16::kInitial, data.data(), split);
        EXPECT_EQ(CCrc16::Update(first, data.data() + split, data.size() - split),
                  ReferenceCrc16(data.data(), data.size()));
    }
}

// ---------------------------------------------------------------------------
// Item stack

TEST(ItemStack, PopTakesFrontItemsInOrder) {
    CItemStack s;
    s.PushU32(0x04030201);
    s.PushString("abc");
    s.Push(nullptr, 0);
    EXPECT_EQ(s.Count(), 4u);
    EXPECT_EQ(s.Items()[0], (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(s.PopU32(), 0x04030201u);
    EXPECT_EQ(s.PopString(), "abc");
    s.Pop(nullptr, 0);
    EXPECT_TRUE(s.Empty());
}

TEST(ItemStack, FailedPopLeavesTheStackUnchanged) {
    CItemStack s;
    s.Push(Bytes{1, 2, 3});
    const CItemStack before = s;
    uint8_t out[4] = {9, 9, 9, 9};
    for (size_t wrong : {size_t{0}, size_t{2}, size_t{4}}) {
        try {
            s.Pop(out, wrong);
            FAIL() << "pop of " << wrong << " bytes succeeded";
        } catch (const CStackException& e) {
            EXPECT_STREQ(e.GetMessage(), "Read from stack failed");
        }
        EXPECT_EQ(s, before);
        EXPECT_EQ(out[0], 9);
    }
    CItemStack empty;
    EXPECT_THROW(empty.PopU32(), CStackException);
}

TEST(ItemStack, StringWithWrongLengthItemIsNotTaken) {
    CItemStack s;
    s.PushU32(5);
    s.Push(Bytes{'a', 'b'});
    const CItemStack before = s;
    EXPECT_THROW(s.PopString(), CStackException);
    EXPECT_EQ(s, before);
}

TEST(ItemStack, EmptyStringIsALengthZeroItemPair) {
    CItemStack s;
    s.PushString("");
    ASSERT_EQ(s.Count(), 2u);
    EXPECT_EQ(s.Items()[0], U32(0));
    EXPECT_TRUE(s.Items()[1].empty());
    EXPECT_EQ(s.PopString(), "");
}

// ---------------------------------------------------------------------------
// Loading stack files

struct LoadCase {
    const char* name;
    Bytes file;
    uint32_t expectedVersion;
    std::vector<Bytes> items;  // when error is null
    const char* error;
};

Bytes Raw(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) Append(out, p);
    return out;
}

const Bytes kA = {'a', 'b', 'c'};
const Bytes kB = {1, 2, 3, 4, 5, 6, 7, 8};

std::vector<LoadCase> LoadCases() {
    Bytes badCrc = MakeStackFile(0, {kA});
    badCrc.back() ^= 0x01;
    Bytes swappedCrc = MakeStackFile(0, {kA, kB});
    std::swap(swappedCrc[swappedCrc.size() - 1], swappedCrc[swappedCrc.size() - 2]);
    Bytes badVersionAndCrc = MakeStackFile(3, {kA});
    badVersionAndCrc.back() ^= 0x01;
    return {
        {"SixBytesIsAnEmptyStack", WithCrc(U32(0)), 0, {}, nullptr},
        {"FewerThanFourBytesForTheCount", WithCrc(Raw({U32(0), {7, 7, 7}})), 0, {}, nullptr},
        {"CountZero", MakeStackFile(0, {}), 0, {}, nullptr},
        {"CountThreeHoldsTwoItems", MakeStackFile(0, {kA, kB}, 3), 0, {kA, kB}, nullptr},
        {"HugeCountHoldsOneItem", MakeStackFile(0, {kA}, 0xFFFFFFFF), 0, {kA}, nullptr},
        {"CountSmallerThanItemsIgnoresTheRest", MakeStackFile(0, {kA, kB}, 1), 0, {kA}, nullptr},
        {"EmptyItem", MakeStackFile(0, {{}, kA}), 0, {{}, kA}, nullptr},
        {"ItemLengthPastTheEndStops",
         WithCrc(Raw({U32(0), U32(2), U32(3), kA, U32(0xFFFFFFF0), {1, 2, 3}})),
         0,
         {kA},
         nullptr},
        {"ItemLengthOneByteTooLongStops",
         WithCrc(Raw({U32(0), U32(2), U32(3), kA, U32(4), {1, 2, 3}})),
         0,
         {kA},
         nullptr},
        {"LengthWordCutShortStops",
         WithCrc(Raw({U32(0), U32(2), U32(3), kA, {1, 2}})),
         0,
         {kA},
         nullptr},
        {"NonZeroVersionWhenExpected", MakeStackFile(0x12345678, {kB}), 0x12345678, {kB}, nullptr},
        {"VersionMismatch",
         MakeStackFile(1, {kA}),
         0,
         {},
         "Incorrect version number in stack file"},
        {"VersionCheckedBeforeCrc",
         badVersionAndCrc,
         0,
         {},
         "Incorrect version number in stack file"},
        {"CrcWrong", badCrc, 0, {}, "Invalid stack file"},
        {"CrcStoredBigEndian", swappedCrc, 0, {}, "Invalid stack file"},
        {"FiveBytes", Bytes{0, 0, 0, 0, 0}, 0, {}, "Stack file to small"},
        {"SizeCheckedBeforeVersion", Bytes{1, 0, 0, 0, 0}, 0, {}, "Stack file to small"},
        {"EmptyFile", Bytes{}, 0, {}, "Stack file to small"},
    };
}

class LoadStackTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadStackTest, FromFile) {
    const LoadCase& c = GetParam();
    TestTempDir dir;
    const std::string path = dir.File("stack.sbf");
    WriteFile(path, c.file);
    if (c.error) {
        try {
            CSBFManage::LoadStack(c.expectedVersion, path.c_str());
            FAIL() << "loaded";
        } catch (const CStackException& e) {
            EXPECT_STREQ(e.GetMessage(), c.error);
        }
    } else {
        EXPECT_EQ(ItemsOf(CSBFManage::LoadStack(c.expectedVersion, path.c_str())), c.items);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadStackTest, ::testing::ValuesIn(LoadCases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(LoadStack, MissingFileOrFolderIsFileNotFound) {
    TestTempDir dir;
    for (const std::string& path : {dir.File("absent.sbf"), dir.Path()}) {
        try {
            CSBFManage::LoadStack(0, path.c_str());
            FAIL() << path;
        } catch (const CStackException& e) {
            EXPECT_STREQ(e.GetMessage(), "File not found") << path;
        }
    }
    EXPECT_THROW(CSBFManage::LoadStack(0, nullptr), CStackException);
}

// ---------------------------------------------------------------------------
// Saving and the round trip

struct RoundTripCase {
    const char* name;
    uint32_t version;
    std::vector<Bytes> items;
};

std::vector<RoundTripCase> RoundTripCases() {
    Bytes big(1 << 20);
    std::mt19937 rng(3);
    for (auto& b : big) b = static_cast<uint8_t>(rng());
    return {
        {"Empty", 0, {}},
        {"OneEmptyItem", 0, {{}}},
        {"Mixed", 0, {kA, {}, kB, U32(0x89898989), {0}}},
        {"OtherVersion", 0xCAFEF00D, {kB}},
        {"LargeItem", 0, {U32(static_cast<uint32_t>(big.size())), big}},
    };
}

class RoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTripTest, SaveWritesTheFormatAndLoadGivesItBack) {
    const RoundTripCase& c = GetParam();
    CItemStack stack;
    for (const Bytes& item : c.items) stack.Push(item);
    TestTempDir dir;
    const std::string path = dir.File("rt.stk");
    CSBFManage::SaveStack(stack, c.version, path.c_str());
    EXPECT_EQ(ReadFile(path), MakeStackFile(c.version, c.items));
    EXPECT_EQ(ItemsOf(CSBFManage::LoadStack(c.version, path.c_str())), c.items);
}

INSTANTIATE_TEST_SUITE_P(Cases, RoundTripTest, ::testing::ValuesIn(RoundTripCases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(SaveStack, OverwritesAnExistingFile) {
    TestTempDir dir;
    const std::string path = dir.File("over.stk");
    WriteFile(path, Bytes(5000, 0xEE));
    CItemStack stack;
    stack.Push(kA);
    CSBFManage::SaveStack(stack, 0, path.c_str());
    EXPECT_EQ(ReadFile(path), MakeStackFile(0, {kA}));
}

TEST(SaveStack, UncreatableFileIsReported) {
    TestTempDir dir;
    CItemStack stack;
    stack.Push(kA);
    for (const std::string& path : {dir.File("no/such/folder.stk"), dir.Path()}) {
        try {
            CSBFManage::SaveStack(stack, 0, path.c_str());
            FAIL() << path;
        } catch (const CStackException& e) {
            EXPECT_STREQ(e.GetMessage(), "File was not created");
        }
    }
    EXPECT_THROW(CSBFManage::SaveStack(stack, 0, nullptr), CStackException);
}

}  // namespace
