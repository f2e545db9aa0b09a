#include "engine/blocks/BlockUserApp.h"

#include "engine/Exc.h"
#include "engine/blocks/LittleEndian.h"

#include <new>

using qel::blocks::GetLe32;

namespace {
constexpr const char* kSource = "BlockUserApp";
// Files of some tool versions start with 8 bytes that are not part of the
// image; their first word has 0xCC in its top byte.
constexpr uint32_t kPrefixBytes = 8;
// Marker, a word, and the word that must be 0 for a standalone image.
constexpr uint32_t kMinimumImage = 12;
}  // namespace

CBlockUserApp::CBlockUserApp(CBlockOwner* flash, uint32_t flashOffset)
    : CBlockUser(flash, flashOffset, SubApp) {}

void CBlockUserApp::ReadFile(std::vector<uint8_t>* data, uint32_t* length) {
    std::vector<uint8_t> file;
    uint32_t size = 0;
    ReadPlainFile(record_, &file, &size);
    if (size % 4 != 0)
        QEL_RAISE(ERR_FILE_SIZE_NOT_FACTOR_4, kSource);

    uint32_t start = 0;
    if (size >= 4 && file[3] == 0xCC)
        start = kPrefixBytes;
    // Too short to hold the marker and the standalone word: not an image of
    // a supported version.
    if (size < start + kMinimumImage || GetLe32(&file[start]) >> 16 != 0xBBBB) {
        QEL_RAISE(ERR_DIAMOND_FORMAT, kSource);
    }
    if (GetLe32(&file[start + 8]) != 0)
        QEL_RAISE(ERR_NOT_STANDALONE, kSource);

    const uint32_t imageSize = size - start;
    try {
        data->assign(file.begin() + start, file.begin() + start + imageSize);
    } catch (const std::bad_alloc&) {
        QEL_RAISE(ERR_ALLOCATE_MEMORY, kSource);
    }
    *length = imageSize;
}
