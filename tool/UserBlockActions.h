// The User blocks page's sequences of engine calls on one processor's flash
// object, without a window. Every sequence that replaces or re-flags a block
// changes the flash object only after the step that can fail on the user's
// file has succeeded, so that an error leaves the blocks as they were.
// Engine errors are thrown on as CFlashExc, for the exception box.
#pragma once

#include "Telmar.h"
#include "tool/UserBlocksRules.h"

#include <functional>
#include <string>
#include <vector>

// The engine's code for a file it could not open.
inline constexpr uint32_t kErrorCannotOpenFile = 11;

class CUserBlockActions {
  public:
    using Ask = std::function<KovraMessage::Answer(const KovraMessage&)>;
    using Failed = std::function<void(const CFlashExc&)>;

    explicit CUserBlockActions(IFFlash& flash) : flash_(flash) {}

    // Adds the block at the position (-1: at the end); a bootable one then
    // becomes the only bootable block, and the module boots.
    void Add(const BlockProperties& block, int32_t position);
    // Applies the properties dialog's change to the block at the index.
    void Edit(uint32_t index, const BlockProperties& before, const BlockProperties& after);
    // Removes the selected rows; the first error ends it.
    void Delete(const std::vector<int>& selectedAscending);
    void Move(uint32_t from, uint32_t to);
    // Compares the block with its file; `fileName` gets the file's name.
    VerifyOutcome Verify(uint32_t index, std::string& fileName);
    // Rebuilds the block from its file when they differ, at the same place
    // with the same attributes. True when it was rebuilt.
    bool Update(uint32_t index);
    // Updates each block in turn; one that fails is told and kept, and the
    // others are still updated.
    void Update(const std::vector<uint32_t>& indices, const Failed& failed);
    void UpdateAll(const Failed& failed);
    void BootFrom(uint32_t index);
    void CancelBoot(uint32_t index);
    // Files dropped on the list, inserted from `at` on (-1: appended); asks
    // whether a block that can run boots while none does.
    void Drop(const std::vector<std::string>& files, int32_t at, const Ask& ask);

  private:
    uint32_t Count();
    bool AnyBootable();
    // The block at the index is the only bootable one, and the module boots.
    void MakeOnlyBootable(uint32_t index);
    // Inserts, and gives the index the block landed at.
    uint32_t Insert(const BlockProperties& block, int32_t position);

    IFFlash& flash_;
};
