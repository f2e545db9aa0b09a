// The User blocks page's rules without a window: how a block's row reads,
// which type a file is taken for, how the add and edit dialogs' texts are
// read and compared, which menu items are greyed, and the index arithmetic
// of Delete.
#pragma once

#include "tool/KovraCore.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The type lists of the add and edit dialogs, in this order.
enum class BlockTypeIndex : int { RawData = 0, Application = 1, Executable = 2, SRecord = 3 };
inline constexpr int kBlockTypeCount = 4;

const char* AddDialogTypeText(BlockTypeIndex index);
const char* EditDialogTypeText(BlockTypeIndex index);
uint32_t SubTypeOfTypeIndex(BlockTypeIndex index);
// A header's type word as the edit dialog shows it: raw data for anything
// that is not one of the other three user sub-types.
BlockTypeIndex TypeIndexOfHeaderType(uint32_t headerType);
// By the text after the first "." of the file's name, in any case: APP, OUT
// and HEX; raw data for anything else and for a name without a dot.
BlockTypeIndex GuessTypeIndex(const std::string& path);
bool HasDot(const std::string& path);

// The images of the list's type column.
enum class BlockTypeImage : int {
    Program = 0,
    Application = 1,
    RawData = 2,
    SRecord = 3,
    Unknown = 4
};

// One row of the list.
struct UserBlockRow {
    std::array<std::string, 8> columns;  // Type, Id, Index, Bytes, Ver, Date, Filename, Endian
    BlockTypeImage image = BlockTypeImage::Unknown;
    bool bootFlag = false;  // the state image: a yellow flag
};
UserBlockRow DescribeUserBlock(const UserBlockEntry& entry, int userIndex);
// "%02d/%02d/%04d  %02d:%02d" in local time; "N/A" for 0/0.
std::string FormatBlockDate(uint32_t low, uint32_t high);

// What the add and edit dialogs set.
struct BlockProperties {
    uint32_t id = 0;
    uint32_t major = 0;
    uint32_t minor = 0;
    bool bootable = false;
    bool bigEndian = false;
    BlockTypeIndex type = BlockTypeIndex::RawData;
    std::string fileName;

    bool operator==(const BlockProperties&) const = default;
};
BlockProperties PropertiesOf(const UserBlockEntry& entry);
// The engine's record; false when the file name does not fit it.
bool MakeRecord(const BlockProperties& properties, UserBlockRecord& record);

// An ID: hexadecimal after "0x" or "0X", else decimal; 0 when empty.
uint32_t ReadBlockId(const std::string& text);
// A version half: decimal, 0 when empty, kept to its 16 bits.
uint32_t ReadVersionPart(const std::string& text);
std::string FormatBlockId(uint32_t id);

// The add dialog's panel: "Bootable" only for a type that can run,
// "Bigendian" only for raw data.
struct PanelState {
    bool bootableEnabled;
    bool bigEndianEnabled;
};
PanelState PanelStateOf(BlockTypeIndex type);
// The add dialog's result: a raw data block never boots.
BlockProperties AcceptedAddProperties(BlockProperties properties);

enum class EditOutcome { Unchanged, EditInPlace, Rebuild };
// A new type, byte order or file makes a new block; any other change is
// made on the block as it is.
EditOutcome CompareEdit(const BlockProperties& before, const BlockProperties& after);

// The popup menus.
enum class UserBlockMenu { Empty = 131, Single = 151, Multiple = 152 };
UserBlockMenu MenuFor(bool onItem, int selectedCount);
struct BootMenuState {
    bool bootMenu;    // the "&Boot" sub-menu
    bool bootFrom;    // "&Boot from this block"
    bool cancelBoot;  // "&Cancel boot from this block"
};
BootMenuState BootMenuStateOf(uint32_t headerType, bool bootable);

// The engine indices that remove the selected rows (ascending) one by one.
std::vector<uint32_t> DeleteIndices(const std::vector<int>& selectedAscending);

// The message boxes of Verify and of a dropped file.
enum class VerifyOutcome { Verified, FileMissing, Different };
KovraMessage VerifyMessage(VerifyOutcome outcome, const std::string& fileName);
KovraMessage BootableQuestion();
