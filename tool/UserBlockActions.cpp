#include "tool/UserBlockActions.h"

#include <cstdio>

namespace {

// An error of the tool's own, shown in the same box as the engine's.
struct CToolExc : CFlashExc {
    explicit CToolExc(const char* message, const std::string& what) : CFlashExc{} {
        line = 0;
        std::snprintf(source, sizeof source, "%s", "Kovra");
        std::snprintf(detail, sizeof detail, "%s", what.c_str());
        code = 0;
        std::snprintf(text_, sizeof text_, "%s", message);
    }
    virtual ~CToolExc() = default;
    const char* GetMessage() const override { return text_; }

  private:
    char text_[64];
};

UserBlockRecord RecordOrThrow(const BlockProperties& block) {
    UserBlockRecord record;
    if (!MakeRecord(block, record))
        throw CToolExc("The file name is too long", block.fileName.substr(0, 100));
    return record;
}

}  // namespace

uint32_t CUserBlockActions::Count() {
    uint32_t count = 0;
    flash_.GetUserBlockCount(&count);
    return count;
}

bool CUserBlockActions::AnyBootable() {
    const uint32_t count = Count();
    for (uint32_t i = 0; i < count; ++i) {
        BlockHeader header;
        UserBlockRecord record;
        flash_.GetUserBlock(i, &header, &record);
        if (record.bootable != 0)
            return true;
    }
    return false;
}

void CUserBlockActions::MakeOnlyBootable(uint32_t index) {
    const uint32_t count = Count();
    for (uint32_t i = 0; i < count; ++i) flash_.SetUserBlockBootable(i, i == index);
    flash_.SetBoot(true);
}

uint32_t CUserBlockActions::Insert(const BlockProperties& block, int32_t position) {
    const UserBlockRecord record = RecordOrThrow(block);
    flash_.AddUserBlock(SubTypeOfTypeIndex(block.type), &record, block.id, block.major, block.minor,
                        position);
    // The engine appends for a position past the end.
    const uint32_t count = Count();
    return position >= 0 && static_cast<uint32_t>(position) < count
               ? static_cast<uint32_t>(position)
               : count - 1;
}

void CUserBlockActions::Add(const BlockProperties& block, int32_t position) {
    const uint32_t index = Insert(block, position);
    if (block.bootable)
        MakeOnlyBootable(index);
}

void CUserBlockActions::Edit(uint32_t index, const BlockProperties& before,
                             const BlockProperties& after) {
    switch (CompareEdit(before, after)) {
        case EditOutcome::Unchanged:
            return;
        case EditOutcome::Rebuild:
            // The new block goes in front of the old one, which goes only
            // once the new one was made from its file.
            Insert(after, static_cast<int32_t>(index));
            flash_.RemoveUserBlock(index + 1);
            break;
        case EditOutcome::EditInPlace: {
            const UserBlockRecord record = RecordOrThrow(after);
            flash_.EditUserBlock(index, after.id, after.major << 16 | after.minor, &record);
            break;
        }
    }
    if (after.bootable)
        MakeOnlyBootable(index);
}

void CUserBlockActions::Delete(const std::vector<int>& selectedAscending) {
    for (uint32_t index : DeleteIndices(selectedAscending)) flash_.RemoveUserBlock(index);
}

void CUserBlockActions::Move(uint32_t from, uint32_t to) {
    flash_.MoveUserBlock(from, to);
}

VerifyOutcome CUserBlockActions::Verify(uint32_t index, std::string& fileName) {
    UserBlockEntry entry;
    flash_.GetUserBlock(index, &entry.header, &entry.record);
    fileName = PropertiesOf(entry).fileName;
    try {
        flash_.VerifyUserBlock(index, fileName.c_str());
    } catch (const CFlashExc& e) {
        return e.code == kErrorCannotOpenFile ? VerifyOutcome::FileMissing
                                              : VerifyOutcome::Different;
    }
    return VerifyOutcome::Verified;
}

bool CUserBlockActions::Update(uint32_t index) {
    UserBlockEntry entry;
    flash_.GetUserBlock(index, &entry.header, &entry.record);
    try {
        flash_.VerifyUserBlock(index, entry.record.fileName);
        return false;
    } catch (const CFlashExc&) {
    }
    // Rebuilt in front of the old block, which is removed only when that
    // worked: a file that can no longer be read loses nothing.
    flash_.AddUserBlock(entry.header.type >> 16, &entry.record, entry.header.id,
                        entry.header.version >> 16, entry.header.version & 0xFFFF,
                        static_cast<int32_t>(index));
    flash_.RemoveUserBlock(index + 1);
    return true;
}

void CUserBlockActions::Update(const std::vector<uint32_t>& indices, const Failed& failed) {
    for (uint32_t index : indices) {
        try {
            Update(index);
        } catch (const CFlashExc& e) {
            failed(e);
        }
    }
}

void CUserBlockActions::UpdateAll(const Failed& failed) {
    std::vector<uint32_t> all(Count());
    for (uint32_t i = 0; i < all.size(); ++i) all[i] = i;
    Update(all, failed);
}

void CUserBlockActions::BootFrom(uint32_t index) {
    MakeOnlyBootable(index);
}

void CUserBlockActions::CancelBoot(uint32_t index) {
    flash_.SetUserBlockBootable(index, false);
    flash_.SetBoot(false);
}

void CUserBlockActions::Drop(const std::vector<std::string>& files, int32_t at, const Ask& ask) {
    for (const std::string& file : files) {
        BlockProperties block;
        block.type = GuessTypeIndex(file);
        block.major = 1;
        block.minor = 0;
        block.fileName = file;
        if (block.type != BlockTypeIndex::RawData && !AnyBootable())
            block.bootable = ask(BootableQuestion()) == KovraMessage::Answer::Yes;
        Add(block, at);
        if (at >= 0)
            ++at;
    }
}
