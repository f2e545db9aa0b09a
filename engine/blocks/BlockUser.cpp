#include "engine/blocks/BlockUser.h"

#include "engine/Exc.h"
#include "engine/formats/InputFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <system_error>
#include <utility>

namespace {
constexpr const char* kSource = "BlockUser";
// The on-flash extra header: both words and the name with its NUL.
constexpr uint32_t kRecordWords = 8;
constexpr uint32_t kNameField = sizeof(UserBlockRecord::fileName);

uint32_t ExtraSizeFor(size_t nameLength) {
    return static_cast<uint32_t>((nameLength + 4 + kRecordWords) & ~size_t{3});
}
}  // namespace

CBlockUser::CBlockUser(CBlockOwner* flash, uint32_t flashOffset, uint32_t subType)
    : CBlockAlign(flash, flashOffset) {
    header_.type = qel::block::UserType(subType);
    ClearDataLength();
}

uint8_t* CBlockUser::GetExtraHeader(uint32_t* size) {
    if (size)
        *size = sizeof(record_);
    return reinterpret_cast<uint8_t*>(&record_);
}

uint32_t CBlockUser::GetExtraHeaderSize() const {
    return ExtraSizeFor(strnlen(record_.fileName, kNameField - 1));
}

void CBlockUser::ReadExtraHeader(const uint8_t* extra) {
    // Only a damaged flash gives an extra header that is shorter than the two
    // words and a NUL, longer than the record, or a name without its NUL.
    const uint32_t dataOffset = header_.dataOffset;
    const uint32_t minimum = sizeof(BlockHeader) + ExtraSizeFor(0);
    const bool fits = dataOffset >= minimum && dataOffset - sizeof(BlockHeader) <= sizeof(record_);
    const uint32_t size = fits ? dataOffset - static_cast<uint32_t>(sizeof(BlockHeader)) : 0;
    if (!fits || !memchr(extra + kRecordWords, 0, size - kRecordWords)) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                         "Block at flash offset 0x%08X has a damaged extra header", flashOffset_);
    }
    std::memcpy(&record_, extra, size);
}

void CBlockUser::TakeRecord(const UserBlockRecord& record) {
    record_ = record;
    // Sizes are taken from the name's length: it must end inside the record.
    record_.fileName[kNameField - 1] = '\0';
}

uint32_t CBlockUser::SetFromFile(const UserBlockRecord* record, uint32_t id, bool checkSpace) {
    if (!record)
        QEL_RAISE(ERR_NO_FILENAME, kSource);
    SetModified(true);
    TakeRecord(*record);
    uint32_t length = 0;
    ReadFile(&data_, &length);
    if (checkSpace) {
        const uint64_t size = uint64_t{sizeof(BlockHeader)} + GetExtraHeaderSize() + length;
        CheckAlignedSpace(size, kSource);
    }
    header_.id = id;
    return SetDataLength(length);
}

void CBlockUser::ReadFile(std::vector<uint8_t>* data, uint32_t* length) {
    ReadPlainFile(record_, data, length);
}

void CBlockUser::ReadPlainFile(const UserBlockRecord& record, std::vector<uint8_t>* data,
                               uint32_t* length) {
    const char* source = kSource;
    const char* name = record.fileName;
    // A folder opens on some systems but never reads; a pipe or a device
    // may block or never end.
    const uint64_t fileSize = CheckInputFile(name, ERR_CANNOT_OPEN_FILE, source, UINT64_MAX);
    // Payload lengths are 32-bit; such a file can never fit a flash.
    if (fileSize > UINT32_MAX - 3) {
        QEL_RAISE_FORMAT(ERR_NOT_ENOUGH_SPACE, source, "File: %s: %llu bytes", name,
                         static_cast<unsigned long long>(fileSize));
    }
    std::ifstream file(name, std::ios::binary);
    if (!file)
        QEL_RAISE_FORMAT(ERR_CANNOT_OPEN_FILE, source, "File: %s: %s", name, strerror(errno));
    const auto size = static_cast<uint32_t>(fileSize);

    std::vector<uint8_t> buffer;
    try {
        buffer.assign((size + 3) & ~3u, 0);
    } catch (const std::bad_alloc&) {
        QEL_RAISE(ERR_ALLOCATE_MEMORY, source);
    }
    file.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(size));
    if (static_cast<uint64_t>(file.gcount()) != size) {
        QEL_RAISE_FORMAT(ERR_CANNOT_READ_FILE, source, "File: %s", name);
    }
    if (record.bigEndian && size >= 4) {
        for (uint32_t at = 0; at + 4 <= size; at += 4) {
            std::swap(buffer[at], buffer[at + 3]);
            std::swap(buffer[at + 1], buffer[at + 2]);
        }
    }
    *data = std::move(buffer);
    *length = size;
}

void CBlockUser::SetProperties(const UserBlockRecord* record) {
    if (!record)
        QEL_RAISE(ERR_NO_FILENAME, kSource);
    UserBlockRecord incoming = *record;
    incoming.fileName[kNameField - 1] = '\0';
    const uint32_t extra = ExtraSizeFor(strnlen(incoming.fileName, kNameField - 1));
    if (sizeof(BlockHeader) + extra == header_.dataOffset) {
        record_ = incoming;
        HeaderChanged(true);
        return;
    }
    // A name of another length moves the payload inside the block: it is
    // written again at its new offset, so it must be in memory first. Nothing
    // changes when it cannot be read or no longer fits.
    LoadData(false);
    const uint64_t size = uint64_t{sizeof(BlockHeader)} + extra + header_.dataLength;
    CheckAlignedSpace(size, kSource);
    record_ = incoming;
    savedImage_ = 0;
    SetDataLength(header_.dataLength);
    SetModified(true);
}

void CBlockUser::SetBootable(bool bootable) {
    if ((record_.bootable != 0) == bootable)
        return;
    record_.bootable = bootable ? 1 : 0;
    HeaderChanged(true);
}
