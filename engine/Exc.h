// The engine's error record with its fixed message table.
#pragma once

#include "Telmar.h"

#include <cstdarg>
#include <cstdint>

// Codes of the message table (CExc::GetMessage).
enum ExcCode : uint32_t {
    ERR_NO_BLOCK_SIGNATURE = 1,
    ERR_NOT_VALID_BLOCK = 2,
    ERR_CANNOT_CREATE_BLOCK = 3,
    ERR_CANNOT_FIND_BLOCK = 4,
    ERR_NO_BOOT_SECTION = 5,
    ERR_UNKNOWN_TIM_TYPE = 6,
    ERR_INVALID_PARAMETER = 7,
    ERR_NO_TIM_SELECTED = 8,
    ERR_NOT_ENOUGH_SPACE = 9,
    ERR_NO_FILENAME = 10,
    ERR_CANNOT_OPEN_FILE = 11,
    ERR_FILE_SIZE_NOT_FACTOR_4 = 12,
    ERR_CANNOT_READ_FILE = 13,
    ERR_NO_ROM_FLAG = 14,
    ERR_NOT_STANDALONE = 15,
    ERR_NOT_EXECUTABLE = 16,
    ERR_CANNOT_ALLOCATE_SECTION = 17,
    ERR_NO_SAFE_BOOTLOADER_PLACE = 18,
    ERR_CANNOT_OPEN_OBJ = 19,
    ERR_INDEX_OUT_OF_RANGE = 20,
    ERR_BUFFER_TOO_SMALL = 21,
    ERR_WRONG_FAMILY = 22,
    ERR_WRONG_SUBFAMILY = 23,
    ERR_BOARD_NOT_FOUND = 24,
    ERR_PROCESSOR_NOT_FOUND = 25,
    ERR_SECTION_NOT_FOUND = 26,
    ERR_NO_FLASH_ACCESS = 27,
    ERR_VERIFY_FAILED = 28,
    ERR_BAD_HEX_DIGIT = 29,
    ERR_BAD_HEX_CHARACTER = 30,
    ERR_END_OF_FILE = 31,
    ERR_UNEXPECTED_RECORD_START = 32,
    ERR_BAD_RECORD_LENGTH = 33,
    ERR_RECORD_OUT_OF_SEQUENCE = 34,
    ERR_CHECKSUM = 35,
    ERR_RECORD_SIZE_NOT_FACTOR_4 = 36,
    ERR_MISSING_RECORD_HEADER = 37,
    ERR_NO_DATA_SIZE = 38,
    ERR_NO_SUITABLE_SBF = 39,
    ERR_WRONG_OPTIONAL_HEADER = 40,
    ERR_NO_OPTIONAL_HEADER = 41,
    ERR_NO_BOOTLOADER_PATH = 42,
    ERR_NO_BITSTREAM_PATH = 43,
    ERR_NO_FPROG_PATH = 44,
    ERR_DIAMOND_FORMAT = 45,
    ERR_LOAD_FPROG = 0x10001,
    ERR_LOAD_FDB = 0x10002,
    ERR_NO_CMDREG = 0x10003,
    ERR_NO_READFILE_SYMBOL = 0x10004,
    ERR_OPEN_READFILE = 0x10005,
    ERR_CREATE_TEMP_FILE = 0x10006,
    ERR_NO_TRANSFER_BUFFER = 0x10007,
    ERR_ALLOCATE_MEMORY = 0x10008,
    ERR_CCS_OPERATION = 0x10009,
    ERR_CCS_EXCEPTION = 0x1000a,
    ERR_CCS_NOT_STARTED = 0x1000b,
    ERR_CCS_MEMORY_ABORTED = 0x1000c,
    ERR_CCS_LOAD_FAILED = 0x1000d,
    ERR_CCS_RESET_FAILED = 0x1000e,
    ERR_CCS_RESTART_FAILED = 0x1000f,
    ERR_NOT_VALID_INIT_BLOCK = 0x10010,
    ERR_TIMINFO_EXCEPTION = 0x10011,
    ERR_TIMINFO_INIT = 0x10012,
    ERR_TIM_VALUE_NOT_FOUND = 0x10013,
    // One job owns a processor's flash from its connect to its close.
    ERR_PROCESSOR_IN_USE = 0x10020,
    ERR_FLASH_CHANGED = 0x10021,
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
