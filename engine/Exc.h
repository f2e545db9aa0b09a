// The engine's error record with its fixed message table.
#pragma once

#include "Telmar.h"

#include <cstdarg>
#include <cstdint>

// Each code of the message table with its enum name and its text (the text
// of CExc::GetMessage); the enum and the table are both made from it.
#define QEL_EXC_MESSAGES(X)                                                                    \
    X(ERR_NO_BLOCK_SIGNATURE, 1, "No block signature")                                         \
    X(ERR_NOT_VALID_BLOCK, 2, "Not a valid block")                                             \
    X(ERR_CANNOT_CREATE_BLOCK, 3, "Could not create block")                                    \
    X(ERR_CANNOT_FIND_BLOCK, 4, "Could not find block")                                        \
    X(ERR_NO_BOOT_SECTION, 5, "No Halvern boot section found")                                 \
    X(ERR_UNKNOWN_TIM_TYPE, 6, "Unknown TIM type")                                             \
    X(ERR_INVALID_PARAMETER, 7, "Invalid parameter")                                           \
    X(ERR_NO_TIM_SELECTED, 8, "No Tim selected")                                               \
    X(ERR_NOT_ENOUGH_SPACE, 9, "Not enough flash space")                                       \
    X(ERR_NO_FILENAME, 10, "No filename")                                                      \
    X(ERR_CANNOT_OPEN_FILE, 11, "Could not open the file")                                     \
    X(ERR_FILE_SIZE_NOT_FACTOR_4, 12, "File size not a factor of four")                        \
    X(ERR_CANNOT_READ_FILE, 13, "Could not read file")                                         \
    X(ERR_NO_ROM_FLAG, 14, "Application was build without \\ROM flag")                         \
    X(ERR_NOT_STANDALONE, 15, "Application was not build standalone")                          \
    X(ERR_NOT_EXECUTABLE, 16, "File not executable")                                           \
    X(ERR_CANNOT_ALLOCATE_SECTION, 17, "Could not allocate section")                           \
    X(ERR_NO_SAFE_BOOTLOADER_PLACE, 18, "Could not find safe place for bootloader")            \
    X(ERR_CANNOT_OPEN_OBJ, 19, "Could not open obj file")                                      \
    X(ERR_INDEX_OUT_OF_RANGE, 20, "Index out of range")                                        \
    X(ERR_BUFFER_TOO_SMALL, 21, "Buffer too small")                                            \
    X(ERR_WRONG_FAMILY, 22, "Wrong processor family")                                          \
    X(ERR_WRONG_SUBFAMILY, 23, "Wrong processor sub-family")                                   \
    X(ERR_BOARD_NOT_FOUND, 24, "Board not found")                                              \
    X(ERR_PROCESSOR_NOT_FOUND, 25, "Processor not found")                                      \
    X(ERR_SECTION_NOT_FOUND, 26, "Section not found")                                          \
    X(ERR_NO_FLASH_ACCESS, 27, "This processor does not have access to the flash")             \
    X(ERR_VERIFY_FAILED, 28, "User block verify failed")                                       \
    X(ERR_BAD_HEX_DIGIT, 29, "Bad hex digit")                                                  \
    X(ERR_BAD_HEX_CHARACTER, 30, "Bad hex character")                                          \
    X(ERR_END_OF_FILE, 31, "End of file")                                                      \
    X(ERR_UNEXPECTED_RECORD_START, 32, "Record start with unexpected characterd")              \
    X(ERR_BAD_RECORD_LENGTH, 33, "Bad record length")                                          \
    X(ERR_RECORD_OUT_OF_SEQUENCE, 34, "Record out of sequence")                                \
    X(ERR_CHECKSUM, 35, "Checksum error")                                                      \
    X(ERR_RECORD_SIZE_NOT_FACTOR_4, 36, "Record size not a factor of four")                    \
    X(ERR_MISSING_RECORD_HEADER, 37, "Missing record header")                                  \
    X(ERR_NO_DATA_SIZE, 38, "Could not get the data size")                                     \
    X(ERR_NO_SUITABLE_SBF, 39, "Could not find a suitable .sbf file")                          \
    X(ERR_WRONG_OPTIONAL_HEADER, 40, "Wrong optional header size for coff file")               \
    X(ERR_NO_OPTIONAL_HEADER, 41, "Coff optional header not found")                            \
    X(ERR_NO_BOOTLOADER_PATH, 42, "Bootloader path entry not found")                           \
    X(ERR_NO_BITSTREAM_PATH, 43, "Bitstreams path entry not found")                            \
    X(ERR_NO_FPROG_PATH, 44, "FProg path entry not found")                                     \
    X(ERR_DIAMOND_FORMAT, 45,                                                                  \
      "This Diamond app file format is not supported.\nRebuild your application with V3.0 or " \
      "above")                                                                                 \
    X(ERR_LOAD_FPROG, 0x10001, "Could not load fprog")                                         \
    X(ERR_LOAD_FDB, 0x10002, "Could not load the Flash Data Block (FDB)")                      \
    X(ERR_NO_CMDREG, 0x10003, "Could not locate Cmdreg")                                       \
    X(ERR_NO_READFILE_SYMBOL, 0x10004, "No symbol (Readfile)")                                 \
    X(ERR_OPEN_READFILE, 0x10005, "Could not open readfile")                                   \
    X(ERR_CREATE_TEMP_FILE, 0x10006, "Could not create temp file")                             \
    X(ERR_NO_TRANSFER_BUFFER, 0x10007, "No transfer buffer")                                   \
    X(ERR_ALLOCATE_MEMORY, 0x10008, "Could not allocate memory")                               \
    X(ERR_CCS_OPERATION, 0x10009, "CCS operation failed")                                      \
    X(ERR_CCS_EXCEPTION, 0x1000a, "CCS exception occured")                                     \
    X(ERR_CCS_NOT_STARTED, 0x1000b, "CCS not started")                                         \
    X(ERR_CCS_MEMORY_ABORTED, 0x1000c, "CCS memory access request aborted")                    \
    X(ERR_CCS_LOAD_FAILED, 0x1000d, "CCS file load failed")                                    \
    X(ERR_CCS_RESET_FAILED, 0x1000e, "CCS DSP reset failed")                                   \
    X(ERR_CCS_RESTART_FAILED, 0x1000f, "CCS DSP restart failed")                               \
    X(ERR_NOT_VALID_INIT_BLOCK, 0x10010, "Not a valid init block")                             \
    X(ERR_TIMINFO_EXCEPTION, 0x10011, "QelTimInfo library exception occured")                  \
    X(ERR_TIMINFO_INIT, 0x10012, "Could not initialise QelTimInfo library")                    \
    X(ERR_TIM_VALUE_NOT_FOUND, 0x10013, "Value not found in TIM file")                         \
    /* One job owns a processor's flash from its connect to its close. */                      \
    X(ERR_PROCESSOR_IN_USE, 0x10020, "Processor in use by another program")                    \
    X(ERR_FLASH_CHANGED, 0x10021, "The flash changed since it was read")

enum ExcCode : uint32_t {
#define QEL_EXC_CODE(name, value, text) name = value,
    QEL_EXC_MESSAGES(QEL_EXC_CODE)
#undef QEL_EXC_CODE
    // Raised without a table entry: their text is "Unknown error".
    ERR_EMPTY_DIRECTORY = 0x100001,
    ERR_DSP_USER_ABORTED = 0x100003,
};

class __attribute__((visibility("default"))) CExc : public CFlashExc {
  public:
    CExc();
    CExc(uint32_t code, const char* source, uint32_t line, const char* detail = nullptr);
    virtual ~CExc();
    CExc(const CExc&) = default;
    CExc& operator=(const CExc&) = default;

    const char* GetMessage() const override;

    void SetSource(const char* text);
    void SetDetail(const char* text);
    void FormatDetail(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The text of any code; "Unknown error" outside the table.
    static const char* MessageOf(uint32_t code);
};

// Raise an engine error from the current line.
#define QEL_RAISE(code, source) throw CExc((code), (source), __LINE__)
#define QEL_RAISE_DETAIL(code, source, detail) throw CExc((code), (source), __LINE__, (detail))
// Raise with a printf-style detail text.
#define QEL_RAISE_FORMAT(code, source, ...)    \
    do {                                       \
        CExc exc_((code), (source), __LINE__); \
        exc_.FormatDetail(__VA_ARGS__);        \
        throw exc_;                            \
    } while (0)
