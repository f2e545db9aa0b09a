// A TIM's boot loader file: a COFF file whose ".bootl" section holds, back to
// back, the init image, the boot loader block image and the FDB block image.
#pragma once

#include "BlockTypes.h"
#include "engine/formats/ObjFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Words of the init image's own 56-byte header (byte offsets).
constexpr uint32_t INIT_HEADER_SIZE = 56;
constexpr uint32_t INIT_WORD_SIZE = 12;
constexpr uint32_t INIT_WORD_FLASH_SIZE = 16;
constexpr uint32_t INIT_WORD_MAGIC = 20;
constexpr uint32_t INIT_WORD_TIM_TYPE = 40;
constexpr uint32_t INIT_WORD_WIDTH = 44;
constexpr uint32_t INIT_WORD_SECTOR_SIZE = 48;
constexpr uint32_t INIT_WORD_SECTOR_COUNT = 52;
constexpr uint32_t INIT_MAGIC = qel::block::kInitMagic;

class CBootFile {
  public:
    CBootFile();
    ~CBootFile();
    CBootFile(const CBootFile&) = delete;
    CBootFile& operator=(const CBootFile&) = delete;

    // Loads the file (errors of CObjFile::Load) and finds the first ".bootl"
    // section. Without one the three images are null. A ".bootl" section whose
    // parts do not fit it is refused: 0x10010 "Not a valid init block" for an
    // init image of width 0 or other than 1 and 2, or of size below 20; 1 "No
    // block signature" for a boot loader or FDB image without one; 13 "Could
    // not read file" for a part that reaches past the section.
    void Load(const char* path);
    void LoadFromMemory(const uint8_t* data, size_t size, const char* name);

    // Pointers into the loaded file, valid until the next Load or destruction;
    // null until a ".bootl" section has been found. Callers may stamp values
    // into them (the init block writes the TIM type into its image).
    uint8_t* GetInitImage() { return initImage_; }
    uint8_t* GetLoaderImage() { return loaderImage_; }
    uint8_t* GetFdbImage() { return fdbImage_; }
    const uint8_t* GetInitImage() const { return initImage_; }
    const uint8_t* GetLoaderImage() const { return loaderImage_; }
    const uint8_t* GetFdbImage() const { return fdbImage_; }

    // Bytes of each part in the file (init: size / width); 0 without images.
    uint32_t GetInitImageSize() const { return initImageSize_; }
    uint32_t GetLoaderImageSize() const { return loaderImageSize_; }
    uint32_t GetFdbImageSize() const { return fdbImageSize_; }

    // Init image words 12, 44, 48 and 52; 0 without images.
    uint32_t GetInitSize() const;
    uint32_t GetInitWidth() const;
    uint32_t GetSectorSize() const;
    uint32_t GetSectorCount() const;

    // The FDB block's payload (dataLength bytes at its dataOffset), which is
    // loaded at the programmer base; null / 0 without images.
    const uint8_t* GetFdbPayload() const;
    uint32_t GetFdbPayloadSize() const { return fdbPayloadSize_; }

    // The boot loader's 16-character name (extra header offset 56) and its
    // version word; empty / 0 without images.
    std::string GetLoaderName() const;
    uint32_t GetLoaderVersion() const;

    const CObjFile& GetObjFile() const { return objFile_; }

  private:
    void FindImages();
    void Reset();

    uint8_t* initImage_ = nullptr;
    uint8_t* loaderImage_ = nullptr;
    uint8_t* fdbImage_ = nullptr;
    uint32_t initImageSize_ = 0;
    uint32_t loaderImageSize_ = 0;
    uint32_t fdbImageSize_ = 0;
    uint32_t fdbPayloadOffset_ = 0;
    uint32_t fdbPayloadSize_ = 0;
    CObjFile objFile_;
};
