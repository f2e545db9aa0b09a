#include "engine/blocks/BlockFpga.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockOwner.h"
#include "engine/formats/InputFile.h"
#include "engine/formats/SBFManage.h"
#include "platform/FileExtension.h"
#include "platform/TempFolder.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace {
constexpr const char* kSource = "BlockFpga";
constexpr uint32_t kCommentField = sizeof(CBlockFpga::Record::comment);
constexpr uint32_t kNameField = sizeof(CBlockFpga::Record::fileName);

uint32_t ExtraSizeFor(size_t nameLength) {
    return kCommentField + static_cast<uint32_t>((nameLength + 4) & ~size_t{3});
}

// Copies at most field - 1 characters and terminates.
void CopyText(char* field, size_t fieldSize, const char* text, size_t length) {
    const size_t n = std::min(length, fieldSize - 1);
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text, n);
}

// The converted bitstream lives only until it has been read back.
class TempSbf {
  public:
    explicit TempSbf(uint32_t instance) {
        try {
            // One name per flash object: two processors may convert at once.
            path_ = qel::platform::PrivateTempPath("_tmp" + std::to_string(instance) + ".sdf");
        } catch (const std::exception&) {
            QEL_RAISE(ERR_CREATE_TEMP_FILE, kSource);
        }
        Remove();
    }
    ~TempSbf() { Remove(); }
    TempSbf(const TempSbf&) = delete;
    TempSbf& operator=(const TempSbf&) = delete;

    const char* Path() const { return path_.c_str(); }
    void Remove() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

  private:
    std::string path_;
};

bool ReadsAsSbf(CSBFManage& sbf, const char* path, SbfDescriptor* descriptor, uint32_t* format) {
    return sbf.ReadSbf(path, descriptor, format) == SBF_OK && descriptor->magic == SBF_MAGIC;
}
}  // namespace

CBlockFpga::CBlockFpga(CBlockOwner* flash, uint32_t flashOffset) : CBlockAlign(flash, flashOffset) {
    header_.type = Type;
    ClearDataLength();
}

uint8_t* CBlockFpga::GetExtraHeader(uint32_t* size) {
    if (size)
        *size = sizeof(record_);
    return reinterpret_cast<uint8_t*>(&record_);
}

uint32_t CBlockFpga::GetExtraHeaderSize() const {
    return ExtraSizeFor(strnlen(record_.fileName, kNameField - 1));
}

void CBlockFpga::ReadExtraHeader(const uint8_t* extra) {
    // Only a damaged flash gives an extra header shorter than the comment and
    // an empty name, longer than the record, or a name without its NUL.
    const uint32_t dataOffset = header_.dataOffset;
    const uint32_t minimum = sizeof(BlockHeader) + ExtraSizeFor(0);
    const bool fits = dataOffset >= minimum && dataOffset - sizeof(BlockHeader) <= sizeof(record_);
    const uint32_t size = fits ? dataOffset - static_cast<uint32_t>(sizeof(BlockHeader)) : 0;
    if (!fits || !memchr(extra + kCommentField, 0, size - kCommentField)) {
        QEL_RAISE_FORMAT(ERR_NOT_VALID_BLOCK, kSource,
                         "Block at flash offset 0x%08X has a damaged extra header", flashOffset_);
    }
    std::memcpy(&record_, extra, size);
}

void CBlockFpga::SetBitstream(const char* path) {
    if (!path)
        QEL_RAISE(ERR_NO_FILENAME, kSource);
    if (!flash_)
        return;
    const uint32_t timType = flash_->TimTypeCode();
    CheckInputFile(path, ERR_CANNOT_OPEN_FILE, kSource, MaxBitstreamFile);

    CSBFManage sbf;
    SbfDescriptor descriptor;
    uint32_t format = 0;
    if (!ReadsAsSbf(sbf, path, &descriptor, &format)) {
        // Not an SBF file: convert a .bit or .dat file for this TIM alone.
        TempSbf temp(flash_->InstanceNumber());
        const std::vector<uint32_t> timTypes{timType};
        const int built = qel::platform::HasExtension(path, ".bit")
                              ? sbf.BuildFromBit(path, temp.Path(), 0x00010000, timTypes, "N/A")
                              : sbf.BuildFromDat(path, temp.Path(), timTypes);
        if (built != SBF_OK || !ReadsAsSbf(sbf, temp.Path(), &descriptor, &format)) {
            QEL_RAISE_FORMAT(ERR_CANNOT_OPEN_FILE, kSource, "File: %s", path);
        }
    }

    const auto& types = descriptor.timTypes;
    if (std::find(types.begin(), types.end(), timType) == types.end() &&
        flash_->Ask(QuestionWrongTim, reinterpret_cast<intptr_t>(path)) == 0) {
        return;
    }

    // Everything is taken into locals first: a file that fails half-way
    // leaves the block as it was.
    std::vector<uint8_t> payload;
    uint32_t length = 0;
    Record record{};
    try {
        length = descriptor.dataItems.PopU32();
        CopyText(record.fileName, kNameField, path, std::strlen(path));
        CopyText(record.comment, kCommentField, descriptor.comment.c_str(),
                 descriptor.comment.size());
        const uint64_t size = uint64_t{sizeof(BlockHeader)} +
                              ExtraSizeFor(strnlen(record.fileName, kNameField - 1)) + length;
        CheckAlignedSpace(size, kSource);
        payload = descriptor.dataItems.PopItem(length);
        // WriteData queues paddedLength bytes.
        payload.resize((length + 3) & ~3u, 0);
    } catch (const CStackException&) {
        // The stack code's own error would reach the caller as an unknown
        // exception: report it as the engine's.
        QEL_RAISE_FORMAT(ERR_CANNOT_READ_FILE, kSource, "File: %s", path);
    } catch (const std::bad_alloc&) {
        QEL_RAISE(ERR_ALLOCATE_MEMORY, kSource);
    }
    data_ = std::move(payload);
    header_.aux = format;
    header_.version = descriptor.version;
    record_ = record;
    SetDataLength(length);
    header_.writeTimeLow = 0;
    header_.writeTimeHigh = 0;
    SetModified(true);
}
