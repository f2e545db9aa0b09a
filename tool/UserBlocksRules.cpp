#include "tool/UserBlocksRules.h"

#include "BlockTypes.h"
#include "platform/FileTime.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

namespace block = qel::block;

struct TypeEntry {
    const char* addText;
    const char* editText;
    uint32_t subType;
};

constexpr TypeEntry kTypes[kBlockTypeCount] = {
    {"Raw binary file", "Raw data file", block::kSubTypeData},
    {"3L Diamond application", "3L Diamond application", block::kSubTypeApp},
    {"Code Composer Studio executable", "Code Composer Studio executable", block::kSubTypeExec},
    {"S-Record format file", "S-Record file", block::kSubTypeSRecord},
};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

const char* AddDialogTypeText(BlockTypeIndex index) {
    return kTypes[static_cast<int>(index)].addText;
}

const char* EditDialogTypeText(BlockTypeIndex index) {
    return kTypes[static_cast<int>(index)].editText;
}

uint32_t SubTypeOfTypeIndex(BlockTypeIndex index) {
    return kTypes[static_cast<int>(index)].subType;
}

BlockTypeIndex TypeIndexOfHeaderType(uint32_t headerType) {
    if (headerType < 0x00010000 || headerType > 0x0011FFFF)
        return BlockTypeIndex::RawData;
    switch (block::SubTypeOf(headerType)) {
        case block::kSubTypeExec:
            return BlockTypeIndex::Executable;
        case block::kSubTypeApp:
            return BlockTypeIndex::Application;
        case block::kSubTypeSRecord:
            return BlockTypeIndex::SRecord;
        default:
            return BlockTypeIndex::RawData;
    }
}

namespace {

// The file's own name: a dot in a folder's name says nothing of its type.
std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool HasDot(const std::string& path) {
    return FileNameOf(path).find('.') != std::string::npos;
}

BlockTypeIndex GuessTypeIndex(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.find('.');
    if (dot == std::string::npos)
        return BlockTypeIndex::RawData;
    const std::string extension = Upper(name.substr(dot + 1));
    if (extension == "APP")
        return BlockTypeIndex::Application;
    if (extension == "OUT")
        return BlockTypeIndex::Executable;
    if (extension == "HEX")
        return BlockTypeIndex::SRecord;
    return BlockTypeIndex::RawData;
}

std::string FormatBlockDate(uint32_t low, uint32_t high) {
    if (low == 0 && high == 0)
        return "N/A";
    const qel::platform::LocalTime t =
        qel::platform::FileTimeToLocal(static_cast<uint64_t>(high) << 32 | low);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d  %02d:%02d", t.day, t.month, t.year, t.hour,
                  t.minute);
    return text;
}

UserBlockRow DescribeUserBlock(const UserBlockEntry& entry, int userIndex) {
    const BlockHeader& header = entry.header;
    UserBlockRow row;
    switch (block::SubTypeOf(header.type)) {
        case block::kSubTypeExec:
            row.columns[0] = "Program";
            row.image = BlockTypeImage::Program;
            break;
        case block::kSubTypeApp:
            row.columns[0] = "Application";
            row.image = BlockTypeImage::Application;
            break;
        case block::kSubTypeData:
            row.columns[0] = "Raw data";
            row.image = BlockTypeImage::RawData;
            break;
        case block::kSubTypeSRecord:
            row.columns[0] = "S-Record";
            row.image = BlockTypeImage::SRecord;
            break;
        default:
            row.columns[0] = "Unknown";
            row.image = BlockTypeImage::Unknown;
            break;
    }
    row.columns[1] = Hex(header.id);
    row.columns[2] = std::to_string(userIndex);
    row.columns[3] = std::to_string(static_cast<int>(header.dataLength));
    row.columns[4] =
        std::to_string(header.version >> 16) + "." + std::to_string(header.version & 0xFFFF);
    row.columns[5] = FormatBlockDate(header.writeTimeLow, header.writeTimeHigh);
    row.columns[6] = std::string(entry.record.fileName,
                                 strnlen(entry.record.fileName, sizeof entry.record.fileName));
    row.columns[7] = entry.record.bigEndian != 0 ? "Big" : "Small";
    row.bootFlag = entry.record.bootable != 0;
    return row;
}

BlockProperties PropertiesOf(const UserBlockEntry& entry) {
    BlockProperties properties;
    properties.id = entry.header.id;
    properties.major = entry.header.version >> 16;
    properties.minor = entry.header.version & 0xFFFF;
    properties.bootable = entry.record.bootable != 0;
    properties.bigEndian = entry.record.bigEndian != 0;
    properties.type = TypeIndexOfHeaderType(entry.header.type);
    properties.fileName = std::string(entry.record.fileName,
                                      strnlen(entry.record.fileName, sizeof entry.record.fileName));
    return properties;
}

bool MakeRecord(const BlockProperties& properties, UserBlockRecord& record) {
    record = {};
    if (properties.fileName.size() >= sizeof record.fileName)
        return false;
    record.bootable = properties.bootable ? 1 : 0;
    record.bigEndian = properties.bigEndian ? 1 : 0;
    std::memcpy(record.fileName, properties.fileName.data(), properties.fileName.size());
    return true;
}

uint32_t ReadBlockId(const std::string& text) {
    const bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    return static_cast<uint32_t>(
        std::strtoul(text.c_str() + (hex ? 2 : 0), nullptr, hex ? 16 : 10));
}

uint32_t ReadVersionPart(const std::string& text) {
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10)) & 0xFFFF;
}

std::string FormatBlockId(uint32_t id) {
    return Hex(id);
}

PanelState PanelStateOf(BlockTypeIndex type) {
    const bool raw = type == BlockTypeIndex::RawData;
    return {!raw, raw};
}

BlockProperties AcceptedAddProperties(BlockProperties properties) {
    if (properties.type == BlockTypeIndex::RawData)
        properties.bootable = false;
    return properties;
}

EditOutcome CompareEdit(const BlockProperties& before, const BlockProperties& after) {
    if (before == after)
        return EditOutcome::Unchanged;
    if (before.bigEndian != after.bigEndian || before.type != after.type ||
        before.fileName != after.fileName)
        return EditOutcome::Rebuild;
    return EditOutcome::EditInPlace;
}

UserBlockMenu MenuFor(bool onItem, int selectedCount) {
    if (!onItem)
        return UserBlockMenu::Empty;
    return selectedCount < 2 ? UserBlockMenu::Single : UserBlockMenu::Multiple;
}

BootMenuState BootMenuStateOf(uint32_t headerType, bool bootable) {
    const bool raw = block::SubTypeOf(headerType) == block::kSubTypeData;
    return {!raw, !raw && !bootable, !raw && bootable};
}

std::vector<uint32_t> DeleteIndices(const std::vector<int>& selectedAscending) {
    std::vector<uint32_t> indices;
    indices.reserve(selectedAscending.size());
    for (size_t before = 0; before < selectedAscending.size(); ++before)
        indices.push_back(
            static_cast<uint32_t>(selectedAscending[before] - static_cast<int>(before)));
    return indices;
}

KovraMessage VerifyMessage(VerifyOutcome outcome, const std::string& fileName) {
    KovraMessage message;
    message.caption = "Result";
    switch (outcome) {
        case VerifyOutcome::Verified:
            message.text = "Verification suceeded.\n\n" + fileName +
                           "\nhas been correctly programmed into the flash.";
            message.icon = KovraMessage::Icon::Information;
            break;
        case VerifyOutcome::FileMissing:
            message.text = "The following file could not be found:\n" + fileName + "\n";
            message.icon = KovraMessage::Icon::Warning;
            break;
        case VerifyOutcome::Different:
            message.text = "Verification failed.\n\n" + fileName +
                           "\nis different from the data programmed into the flash.";
            message.icon = KovraMessage::Icon::Warning;
            break;
    }
    return message;
}

KovraMessage BootableQuestion() {
    KovraMessage message;
    message.text =
        "No blocks are currently marked as bootable.\nWould you like to make this block as "
        "executable?";
    message.caption = "Bootable block";
    message.icon = KovraMessage::Icon::Question;
    message.buttons = KovraMessage::Buttons::YesNoCancel;
    message.defaultAnswer = KovraMessage::Answer::Yes;
    return message;
}
