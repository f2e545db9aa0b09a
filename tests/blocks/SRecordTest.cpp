#include "BlockTestUtil.h"
#include "FakeOwner.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockUserSRecord.h"
#include "tests/fixtures/TestTempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

using blocktest::CodeOf;
using blocktest::Record;
using qel::fixtures::TestTempDir;

namespace {

using Bytes = std::vector<uint8_t>;

// One record with a correct checksum: 'S', type, count, address, data.
std::string SRec(int type, const Bytes& address, const Bytes& data) {
    const size_t count = address.size() + data.size() + 1;
    unsigned sum = static_cast<unsigned>(count);
    std::string out = "S" + std::to_string(type);
    char hex[3];
    auto put = [&](unsigned b) {
        std::snprintf(hex, sizeof(hex), "%02X", b & 0xFF);
        out += hex;
    };
    put(static_cast<unsigned>(count));
    for (uint8_t b : address) {
        put(b);
        sum += b;
    }
    for (uint8_t b : data) {
        put(b);
        sum += b;
    }
    put(~sum);
    return out + "\n";
}

Bytes Addr32(uint32_t a) {
    return {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
            static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)};
}

Bytes Data(size_t n, uint8_t first) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + 3 * i);
    return b;
}

const std::string kHeader = SRec(0, {0, 0}, {'h', 'd', 'r'});
const std::string kEnd = SRec(7, Addr32(0x1000), {});

// Pads text with blanks to a multiple of 4, as the reader demands of files.
std::string Padded(std::string text) {
    while (text.size() % 4 != 0) text += ' ';
    return text;
}

Bytes Parse(const std::string& text, uint32_t* length = nullptr) {
    FakeOwner owner;
    CBlockUserSRecord block(&owner, 0);
    Bytes out;
    const uint32_t n =
        block.ParseText(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &out);
    if (length)
        *length = n;
    return out;
}

uint32_t ParseCode(const std::string& text) {
    return CodeOf([&] { Parse(text); });
}

std::string TwoRecords(uint32_t second) {
    return kHeader + SRec(3, Addr32(0x1000), Data(16, 1)) +
           SRec(3, Addr32(second), Data(16, 0x80)) + kEnd;
}

TEST(SRecordTest, ContiguousRecordsGiveTheirDataThenSixteenZeros) {
    const std::string text = Padded(TwoRecords(0x1010));
    uint32_t length = 0;
    const Bytes out = Parse(text, &length);
    EXPECT_EQ(length, text.size() / 2 + 16);
    ASSERT_GE(out.size(), length);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), Data(16, 1));
    EXPECT_EQ(Bytes(out.begin() + 16, out.begin() + 32), Data(16, 0x80));
    EXPECT_EQ(Bytes(out.begin() + 32, out.end()), Bytes(out.size() - 32, 0));
    EXPECT_EQ(out.size() % 4, 0u);
}

struct FormCase {
    const char* name;
    std::string (*transform)(const std::string&);
};

class SRecordFormTest : public testing::TestWithParam<FormCase> {};

TEST_P(SRecordFormTest, ParsesTheSameAsUpperCaseLines) {
    const std::string plain = TwoRecords(0x1010);
    const std::string other = GetParam().transform(plain);
    Bytes expected = Parse(plain);
    Bytes got = Parse(other);
    // Payload lengths follow the text length; the data and zeros must agree.
    expected.resize(48);
    got.resize(48);
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Forms, SRecordFormTest,
                         testing::Values(FormCase{"LowerCase",
                                                  [](const std::string& in) {
                                                      std::string o = in;
                                                      for (char& c : o) {
                                                          if (c != 'S')
                                                              c = static_cast<char>(std::tolower(
                                                                  static_cast<unsigned char>(c)));
                                                      }
                                                      return o;
                                                  }},
                                         FormCase{"OneLine",
                                                  [](const std::string& in) {
                                                      std::string o;
                                                      for (char c : in) {
                                                          if (c != '\n')
                                                              o += c;
                                                      }
                                                      return o;
                                                  }},
                                         FormCase{"SplitInsideBytes",
                                                  [](const std::string& in) {
                                                      std::string o;
                                                      for (size_t i = 0; i < in.size(); ++i) {
                                                          o += in[i];
                                                          if (i % 5 == 2)
                                                              o += "\r\n\t ";
                                                      }
                                                      return o;
                                                  }},
                                         FormCase{"HighAndControlBytes",
                                                  [](const std::string& in) {
                                                      std::string o;
                                                      for (char c : in) {
                                                          o += c;
                                                          o += static_cast<char>(0x80);
                                                          o += '\x7f';
                                                          o += '\x01';
                                                      }
                                                      return o;
                                                  }},
                                         FormCase{"OtherRecordsBetween",
                                                  [](const std::string& in) {
                                                      const size_t cut = in.find("S3", 1);
                                                      return in.substr(0, cut) +
                                                             SRec(1, {0x10, 0}, {1, 2}) +
                                                             SRec(2, {0, 0x10, 0}, {3}) +
                                                             SRec(5, {0, 2}, {}) +
                                                             SRec(8, {0, 0, 0}, {}) +
                                                             in.substr(cut);
                                                  }}),
                         blocktest::ByName());

struct ErrorCase {
    const char* name;
    std::string text;
    uint32_t code;
};

class SRecordErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(SRecordErrorTest, Raises) {
    EXPECT_EQ(ParseCode(GetParam().text), GetParam().code);
}

std::string WithChecksumOff() {
    std::string rec = SRec(3, Addr32(0x1000), Data(4, 1));
    rec[rec.size() - 2] = rec[rec.size() - 2] == '0' ? '1' : '0';
    return kHeader + rec + kEnd;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, SRecordErrorTest,
    testing::Values(
        ErrorCase{"OutOfSequence", TwoRecords(0x1020), ERR_RECORD_OUT_OF_SEQUENCE},
        ErrorCase{"BackwardsSequence", TwoRecords(0x1000), ERR_RECORD_OUT_OF_SEQUENCE},
        ErrorCase{"SixDataBytes", kHeader + SRec(3, Addr32(0x1000), Data(6, 1)) + kEnd,
                  ERR_RECORD_SIZE_NOT_FACTOR_4},
        ErrorCase{"EndsWithS9", kHeader + SRec(3, Addr32(0x1000), Data(4, 1)) + SRec(9, {0, 0}, {}),
                  ERR_END_OF_FILE},
        ErrorCase{"Empty", "", ERR_END_OF_FILE},
        ErrorCase{"OnlyBlanks", "   \r\n\t", ERR_END_OF_FILE},
        ErrorCase{"CutInsideARecord", kHeader + "S30D0000", ERR_END_OF_FILE},
        ErrorCase{"NoHeader", SRec(3, Addr32(0x1000), Data(4, 1)) + kEnd,
                  ERR_MISSING_RECORD_HEADER},
        ErrorCase{"NotS", kHeader + "X" + kEnd, ERR_UNEXPECTED_RECORD_START},
        ErrorCase{"CountFive", kHeader + "S3050000100005\n" + kEnd, ERR_BAD_RECORD_LENGTH},
        ErrorCase{"CountZero", kHeader + "S300FF\n" + kEnd, ERR_BAD_RECORD_LENGTH},
        ErrorCase{"Checksum", WithChecksumOff(), ERR_CHECKSUM},
        ErrorCase{"ZeroCountOtherType", kHeader + "S100" + kEnd, ERR_CHECKSUM},
        ErrorCase{"LetterBeyondF", kHeader + "S1G3" + kEnd, ERR_BAD_HEX_DIGIT},
        ErrorCase{"LowerLetterBeyondF", kHeader + "S1g3" + kEnd, ERR_BAD_HEX_DIGIT},
        ErrorCase{"Punctuation", kHeader + "S1#3" + kEnd, ERR_BAD_HEX_CHARACTER},
        ErrorCase{"AtSign", kHeader + "S1@3" + kEnd, ERR_BAD_HEX_CHARACTER}),
    blocktest::ByName());

TEST(SRecordTest, TextAfterTheEndRecordIsNeverRead) {
    const std::string text = TwoRecords(0x1010) + "garbage that is no record @#!";
    const Bytes out = Parse(text);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), Data(16, 1));
}

TEST(SRecordTest, FirstRecordAtAddressZeroFixesTheSequence) {
    const std::string good =
        kHeader + SRec(3, Addr32(0), Data(4, 1)) + SRec(3, Addr32(4), Data(4, 9)) + kEnd;
    EXPECT_EQ(ParseCode(good), 0u);
    const std::string bad =
        kHeader + SRec(3, Addr32(0), Data(4, 1)) + SRec(3, Addr32(0x100), Data(4, 9)) + kEnd;
    EXPECT_EQ(ParseCode(bad), ERR_RECORD_OUT_OF_SEQUENCE);
}

TEST(SRecordTest, LargestRecordsStayWithinTheBuffer) {
    std::string text = kHeader;
    for (uint32_t i = 0; i < 64; ++i)
        text += SRec(3, Addr32(0x4000 + 248 * i), Data(248, static_cast<uint8_t>(i)));
    text += kEnd;
    uint32_t length = 0;
    const Bytes out = Parse(text, &length);
    EXPECT_EQ(Bytes(out.begin() + 248, out.begin() + 496), Data(248, 1));
    EXPECT_GE(out.size(), length);
}

// --- through the block and its file --------------------------------------------

TEST(SRecordBlockTest, FileBecomesThePayload) {
    TestTempDir dir;
    FakeOwner owner;
    CBlockUserSRecord block(&owner, 0);
    EXPECT_EQ(block.GetHeader()->type, 0x00110005u);
    const std::string text = Padded(TwoRecords(0x1010));
    const UserBlockRecord r = Record(dir.Write("image.s3", Bytes(text.begin(), text.end())));
    block.SetFromFile(&r, 2, true);
    EXPECT_EQ(block.GetHeader()->dataLength, text.size() / 2 + 16);
    EXPECT_EQ(Bytes(block.Data().begin(), block.Data().begin() + 16), Data(16, 1));
    // A second read of the same block starts a new address sequence.
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&r, 2, true); }), 0u);
}

TEST(SRecordBlockTest, BigEndianSwapsTheTextFirst) {
    TestTempDir dir;
    FakeOwner owner;
    CBlockUserSRecord block(&owner, 0);
    std::string text = Padded(TwoRecords(0x1010));
    std::string swapped = text;
    for (size_t at = 0; at + 4 <= swapped.size(); at += 4) {
        std::swap(swapped[at], swapped[at + 3]);
        std::swap(swapped[at + 1], swapped[at + 2]);
    }
    const UserBlockRecord r =
        Record(dir.Write("image.s3", Bytes(swapped.begin(), swapped.end())), true);
    block.SetFromFile(&r, 2, true);
    EXPECT_EQ(Bytes(block.Data().begin(), block.Data().begin() + 16), Data(16, 1));
}

TEST(SRecordBlockTest, FileErrorsKeepTheOldHeader) {
    TestTempDir dir;
    FakeOwner owner;
    CBlockUserSRecord block(&owner, 0);
    const std::string odd = Padded(TwoRecords(0x1010)) + "x";
    const UserBlockRecord notFour = Record(dir.Write("odd.s3", Bytes(odd.begin(), odd.end())));
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&notFour, 1, true); }), ERR_FILE_SIZE_NOT_FACTOR_4);
    const std::string bad = Padded(TwoRecords(0x1020));
    const UserBlockRecord outOfSequence =
        Record(dir.Write("bad.s3", Bytes(bad.begin(), bad.end())));
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&outOfSequence, 1, true); }),
              ERR_RECORD_OUT_OF_SEQUENCE);
    const UserBlockRecord missing = Record(dir.File("none.s3"));
    EXPECT_EQ(CodeOf([&] { block.SetFromFile(&missing, 1, true); }), ERR_CANNOT_OPEN_FILE);
    EXPECT_EQ(block.GetHeader()->dataLength, 0u);
    EXPECT_EQ(block.GetTotalSize(), 128u);
}

}  // namespace
