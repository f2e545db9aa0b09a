#include "engine/blocks/BlockUserSRecord.h"

#include "engine/Exc.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace {
constexpr const char* kSource = "BlockUserSRecord";
constexpr uint32_t kTrailerBytes = 16;

// Class of each character inside a record: a hex value 0-15, a letter
// beyond F, or anything else. Characters NextChar skips never get here.
constexpr uint8_t kBadDigit = 0xFE;
constexpr uint8_t kBadCharacter = 0xFF;

constexpr std::array<uint8_t, 256> MakeDigitTable() {
    std::array<uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        uint8_t v = kBadCharacter;
        if (c >= '0' && c <= '9') {
            v = static_cast<uint8_t>(c - '0');
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            const int letter = (c & ~0x20) - 55;
            v = letter > 15 ? kBadDigit : static_cast<uint8_t>(letter);
        }
        table[static_cast<size_t>(c)] = v;
    }
    return table;
}
constexpr std::array<uint8_t, 256> kDigits = MakeDigitTable();

// Line ends, blanks, control and non-ASCII bytes carry no meaning.
inline bool Meaningful(uint8_t c) {
    return c > 32 && c < 127;
}
}  // namespace

CBlockUserSRecord::CBlockUserSRecord(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockUser(flash, flashOffset, SubSRecord) {}

char CBlockUserSRecord::NextChar() {
    while (position_ < textLength_) {
        const uint8_t c = textData_[position_++];
        if (Meaningful(c)) {
            current_ = static_cast<char>(c);
            return current_;
        }
    }
    QEL_RAISE(ERR_END_OF_FILE, kSource);
}

uint8_t CBlockUserSRecord::ReadHexByte() {
    uint8_t value = 0;
    for (int digit = 0; digit < 2; ++digit) {
        const uint8_t v = kDigits[static_cast<uint8_t>(NextChar())];
        if (v == kBadDigit)
            QEL_RAISE(ERR_BAD_HEX_DIGIT, kSource);
        if (v == kBadCharacter)
            QEL_RAISE(ERR_BAD_HEX_CHARACTER, kSource);
        value = static_cast<uint8_t>(value << 4 | v);
    }
    checksum_ += value;
    return value;
}

void CBlockUserSRecord::ParseRecord(uint8_t* out, size_t room, uint32_t* dataLength,
                                    uint32_t* type) {
    checksum_ = 0;
    if (NextChar() != 'S')
        QEL_RAISE(ERR_UNEXPECTED_RECORD_START, kSource);
    *type = static_cast<uint32_t>(NextChar() - '0');
    const uint32_t count = ReadHexByte();
    if (*type == 3) {
        if (count <= 5)
            QEL_RAISE(ERR_BAD_RECORD_LENGTH, kSource);
        uint32_t address = 0;
        for (int i = 0; i < 4; ++i) address = address << 8 | ReadHexByte();
        if (!sequenceStarted_) {
            expectedAddress_ = address;
            sequenceStarted_ = true;
        } else if (address != expectedAddress_) {
            QEL_RAISE(ERR_RECORD_OUT_OF_SEQUENCE, kSource);
        }
        const uint32_t bytes = count - 5;
        // Two characters per byte keep the data within text length / 2; a
        // record past that would be a fault in this reader, not in the file.
        if (bytes > room)
            QEL_RAISE(ERR_BAD_RECORD_LENGTH, kSource);
        *dataLength = bytes;
        for (uint32_t i = 0; i < bytes; ++i) out[i] = ReadHexByte();
        expectedAddress_ += bytes;
        ReadHexByte();
    } else {
        for (uint32_t i = 0; i < count; ++i) ReadHexByte();
    }
    // The checksum is the one's complement of the low byte of the sum of
    // every byte before it.
    if ((checksum_ & 0xFF) != 0xFF)
        QEL_RAISE(ERR_CHECKSUM, kSource);
}

uint32_t CBlockUserSRecord::ParseText(const uint8_t* text, size_t length,
                                      std::vector<uint8_t>* out) {
    // A fresh run for every file: a block read twice must not continue the
    // address sequence of the first read.
    textData_ = text;
    textLength_ = text ? length : 0;
    position_ = 0;
    expectedAddress_ = 0;
    sequenceStarted_ = false;

    const size_t payloadLength = textLength_ / 2 + kTrailerBytes;
    if (payloadLength > UINT32_MAX - 3)
        QEL_RAISE(ERR_NOT_ENOUGH_SPACE, kSource);
    try {
        out->assign((payloadLength + 3) & ~size_t{3}, 0);
    } catch (const std::bad_alloc&) {
        QEL_RAISE(ERR_ALLOCATE_MEMORY, kSource);
    }
    const size_t dataRoom = payloadLength - kTrailerBytes;

    uint32_t dataLength = 0;
    uint32_t type = 0;
    ParseRecord(out->data(), dataRoom, &dataLength, &type);
    if (type != 0)
        QEL_RAISE(ERR_MISSING_RECORD_HEADER, kSource);

    size_t write = 0;
    for (;;) {
        ParseRecord(out->data() + write, dataRoom - write, &dataLength, &type);
        if (type == 7)
            break;
        if (type == 3) {
            if (dataLength % 4 != 0)
                QEL_RAISE(ERR_RECORD_SIZE_NOT_FACTOR_4, kSource);
            write += dataLength;
        }
    }
    std::memset(out->data() + write, 0, kTrailerBytes);
    return static_cast<uint32_t>(payloadLength);
}

void CBlockUserSRecord::ReadFile(std::vector<uint8_t>* data, uint32_t* length) {
    // The text is only needed while it is parsed.
    struct Release {
        CBlockUserSRecord* block;
        ~Release() {
            block->text_ = std::vector<uint8_t>();
            block->textData_ = nullptr;
            block->textLength_ = 0;
        }
    } release{this};

    uint32_t textLength = 0;
    ReadPlainFile(record_, &text_, &textLength);
    if (textLength % 4 != 0)
        QEL_RAISE(ERR_FILE_SIZE_NOT_FACTOR_4, kSource);
    try {
        *length = ParseText(text_.data(), textLength, data);
    } catch (CExc& e) {
        // Where in the file: the line of the character read last.
        const auto line =
            1 +
            std::count(text_.data(), text_.data() + std::min<size_t>(position_, textLength), '\n');
        if (e.detail[0] == '\0')
            e.FormatDetail("File: %s, line %ld", record_.fileName, static_cast<long>(line));
        throw;
    }
}
