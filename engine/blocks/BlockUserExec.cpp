#include "engine/blocks/BlockUserExec.h"

#include "engine/Exc.h"
#include "engine/blocks/BlockOwner.h"
#include "engine/blocks/LittleEndian.h"
#include "engine/formats/Memory.h"
#include "engine/formats/ObjFile.h"

#include <cstring>
#include <new>

using qel::blocks::PutLe32;

namespace {
constexpr const char* kSource = "BlockUserExec";
// Dummy, padded, copy and uninitialised sections are not loaded.
constexpr uint32_t kNotLoaded =
    COFF_SECTION_DUMMY | COFF_SECTION_PADDED | COFF_SECTION_COPY | COFF_SECTION_UNINITIALISED;
// Marker and safe place, then the terminating record (0, entry point).
constexpr uint32_t kImageHeader = 8;
constexpr uint32_t kImageTrailer = 8;
constexpr uint32_t kRecordHeader = 8;

uint64_t Padded(uint32_t size) {
    return (uint64_t{size} + 3) & ~uint64_t{3};
}
}  // namespace

CBlockUserExec::CBlockUserExec(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockUser(flash, flashOffset, SubExec) {}

void CBlockUserExec::ReadFile(std::vector<uint8_t>* data, uint32_t* length) {
    CObjFile file;
    file.Load(record_.fileName);
    if (!file.IsExecutable())
        QEL_RAISE(ERR_NOT_EXECUTABLE, kSource);

    memory* map = flash_ ? flash_->MemoryMap() : nullptr;
    if (!map)
        QEL_RAISE(ERR_NO_TIM_SELECTED, kSource);
    map->Reset();

    const int count = file.GetSectionCount();
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
        CoffSectionHeader* section = file.GetSectionHeader(i);
        if (section->size == 0)
            continue;
        if (section->flags & kNotLoaded) {
            // Not part of the image: skipped below as an empty section.
            section->size = 0;
            continue;
        }
        const uint32_t kind = ((section->flags & COFF_SECTION_CODE) ? MEMORY_CODE : 0) |
                              ((section->flags & COFF_SECTION_DATA) ? MEMORY_DATA : 0);
        total += Padded(section->size) + kRecordHeader;
        if (!map->Allocate(section->size, kind, section->physicalAddress)) {
            QEL_RAISE_FORMAT(ERR_CANNOT_ALLOCATE_SECTION, kSource,
                             "Could not allocate memory for section %s",
                             file.GetSectionName(i).c_str());
        }
    }

    // Aligned before it is carved: rounding up afterwards would let the boot
    // loader's scratch area reach into the next section.
    uint32_t safePlace = 0;
    if (!map->FindFree(SafePlaceBytes, MEMORY_CODE, &safePlace, SafePlaceAlignment)) {
        QEL_RAISE(ERR_NO_SAFE_BOOTLOADER_PLACE, kSource);
    }

    total += kImageHeader + kImageTrailer;
    if (total > UINT32_MAX - 3)
        QEL_RAISE(ERR_NOT_ENOUGH_SPACE, kSource);
    const auto imageLength = static_cast<uint32_t>(total);
    std::vector<uint8_t> image;
    try {
        // Zero-filled: a counted ".debug_frame" section leaves a tail unset.
        image.assign((imageLength + 3) & ~3u, 0);
    } catch (const std::bad_alloc&) {
        QEL_RAISE(ERR_ALLOCATE_MEMORY, kSource);
    }
    const uint32_t entryPoint = file.GetEntryPoint();

    uint8_t* at = image.data();
    PutLe32(at, BootMarker);
    PutLe32(at + 4, safePlace);
    at += kImageHeader;
    for (int i = 0; i < count; ++i) {
        const CoffSectionHeader* section = file.GetSectionHeader(i);
        if (section->size == 0 || (section->flags & kNotLoaded))
            continue;
        if (file.GetSectionName(i) == ".debug_frame")
            continue;
        const auto padded = static_cast<uint32_t>(Padded(section->size));
        PutLe32(at, padded);
        PutLe32(at + 4, section->physicalAddress);
        // The fill up to a whole word is what follows the section in the
        // file, 0 past the file's end.
        file.GetSectionBytes(i, padded, at + kRecordHeader);
        at += kRecordHeader + padded;
    }
    PutLe32(at, 0);
    PutLe32(at + 4, entryPoint);

    *data = std::move(image);
    *length = imageLength;
}
