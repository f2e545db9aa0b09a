// Public contract of the flash engine library libTelmar.so.
//
// Callers bind TelmarOpen/TelmarClose by name and talk to the engine only
// through the abstract classes below; their slot order is the contract between
// separately built programs. Everything here lives in the global namespace
// with default symbol visibility, so that a CFlashExc thrown inside the engine
// is caught by type in the caller.
#pragma once

#include <cstdint>

#define TELMAR_API extern "C" __attribute__((visibility("default")))

// The 48-byte header at the start of every block but the init image.
struct BlockHeader {
    uint32_t type;
    uint32_t id;
    uint32_t signature;  // always BLOCK_SIGNATURE
    uint32_t totalSize;
    uint32_t dataOffset;
    uint32_t paddedLength;
    uint32_t dataLength;
    uint32_t version;  // major in the high half, minor in the low half
    uint32_t crc;
    uint32_t writeTimeLow;  // FILETIME (UTC, 100 ns since 1601)
    uint32_t writeTimeHigh;
    uint32_t aux;
};
static_assert(sizeof(BlockHeader) == 48);

constexpr uint32_t BLOCK_SIGNATURE = 0x12341234;

// The extra-header record of every user block.
struct UserBlockRecord {
    uint32_t bootable;
    uint32_t bigEndian;
    char fileName[1024];
};
static_assert(sizeof(UserBlockRecord) == 1032);

constexpr uint32_t BOOTLOADER_RECORD_SIZE = 72;
constexpr uint32_t FPGA_RECORD_SIZE = 1536;

// The engine's error record. Callers catch it by reference; GetMessage gives
// the text of the code from the engine's fixed table.
struct __attribute__((visibility("default"))) CFlashExc {
    uint32_t line;
    char source[128];
    char detail[128];
    uint32_t code;

    virtual const char* GetMessage() const = 0;

  protected:
    // Only GetMessage is virtual: CExc adds the virtual destructor.
    ~CFlashExc() = default;
};

// Notices: kind 0 finished (a = 0 done, 1 cancelled, 2 failed), 1 progress
// (a = position, b = total), 2 status (a = 0: b is the text), 3 question
// (only kind whose result counts), 4 chain changed.
typedef int (*FlashCallback)(int kind, int a, intptr_t b, uintptr_t context);

// The notice kinds and their first argument, by name (the values are the
// contract and do not change).
constexpr int TELMAR_NOTICE_FINISHED = 0;       // a: TELMAR_FINISHED_*
constexpr int TELMAR_NOTICE_PROGRESS = 1;       // a = position, b = total
constexpr int TELMAR_NOTICE_STATUS = 2;         // a: TELMAR_STATUS_*
constexpr int TELMAR_NOTICE_QUESTION = 3;       // a: TELMAR_QUESTION_*; the result answers
constexpr int TELMAR_NOTICE_CHAIN_CHANGED = 4;  // the block chain changed

constexpr int TELMAR_FINISHED_DONE = 0;
constexpr int TELMAR_FINISHED_CANCELLED = 1;
constexpr int TELMAR_FINISHED_FAILED = 2;  // GetLastError has the record

constexpr int TELMAR_STATUS_TEXT = 0;          // b: the text, valid during the call
constexpr int TELMAR_STATUS_TIM_DETECTED = 1;  // b: the TIM code found in the flash
constexpr int TELMAR_STATUS_TIM_NOT_DETECTED = 2;
constexpr int TELMAR_STATUS_CHAIN_READ = 3;     // the flash's chain was read
constexpr int TELMAR_STATUS_DEFAULT_CHAIN = 4;  // no valid chain: the default one instead

// b: the module's TIM code; non-zero cancels the selection.
constexpr int TELMAR_QUESTION_CHANGE_TIM = 1;
// b: the bitstream file; non-zero takes it.
constexpr int TELMAR_QUESTION_FOREIGN_BITSTREAM = 2;
// A chip erase without progress follows; the answer does not matter.
constexpr int TELMAR_QUESTION_CHIP_ERASE = 3;
typedef void (*StateCallback)(void* context, int state);

class __attribute__((visibility("default"))) IFFlash {
  public:
    virtual ~IFFlash() {}
    virtual int Connect() = 0;
    virtual bool IsModified() = 0;
    virtual bool IsBlockModified(uint32_t position) = 0;
    virtual int Commit() = 0;
    virtual int SelectTimType(const char* name, uint32_t* detail) = 0;
    virtual void GetTimType(uint32_t* code) = 0;
    virtual void GetDetectState(uint32_t* state) = 0;
    virtual int Erase() = 0;
    virtual void SetCallback(FlashCallback callback, uintptr_t context) = 0;
    virtual void GetCallback(FlashCallback* callback, uintptr_t* context) = 0;
    virtual void NotifyChanged() = 0;
    virtual void GetBlockCount(uint32_t* count) = 0;
    virtual void GetBlock(uint32_t position, BlockHeader* header, void* extra,
                          uint32_t extraSize) = 0;
    virtual void SetBlockId(uint32_t position, uint32_t id) = 0;
    virtual void SetBlockVersion(uint32_t position, uint32_t version) = 0;
    virtual void SetBootLoader(const char* file) = 0;
    virtual void GetBootLoaderInfo(BlockHeader* header, char* name, uint32_t* nameSize) = 0;
    virtual void GetDefaultLoader(char* buffer, uint32_t* size) = 0;
    virtual void SetBoot(bool boot) = 0;
    virtual bool IsBoot() = 0;
    virtual void GetBootloaderPath(char* buffer, uint32_t* size) = 0;
    virtual void SetBitstream(const char* file) = 0;
    virtual void GetFpgaBlock(BlockHeader* header, uint8_t* extra /* FPGA_RECORD_SIZE */) = 0;
    virtual void GetBitstreamPath(char* buffer, uint32_t* size) = 0;
    virtual void GetDynamicCount(uint32_t* count) = 0;
    virtual void GetDynamic(uint32_t index, uint32_t* address, uint32_t* value) = 0;
    virtual void AddDynamic(uint32_t address, uint32_t value) = 0;
    virtual void SetDynamic(uint32_t index, uint32_t address, uint32_t value) = 0;
    virtual void RemoveDynamic(uint32_t index) = 0;
    virtual void ClearDynamics() = 0;
    virtual void GetUserBlockCount(uint32_t* count) = 0;
    virtual void AddUserBlock(uint32_t subtype, const UserBlockRecord* record, uint32_t id,
                              uint32_t major, uint32_t minor, int32_t index) = 0;
    virtual void EditUserBlock(uint32_t index, uint32_t id, uint32_t version,
                               const UserBlockRecord* record) = 0;
    virtual void RemoveUserBlock(uint32_t index) = 0;
    virtual void MoveUserBlock(uint32_t from, uint32_t to) = 0;
    virtual void VerifyUserBlock(uint32_t index, const char* file) = 0;
    virtual void SetUserBlockBootable(uint32_t index, bool bootable) = 0;
    virtual void GetUserBlock(uint32_t index, BlockHeader* header, UserBlockRecord* record) = 0;
    virtual void GetFlashSize(uint32_t* bytes) = 0;
    virtual void GetUsedSize(uint32_t* bytes) = 0;
    virtual const CFlashExc* GetLastError() = 0;
};

class __attribute__((visibility("default"))) IFSystem {
  public:
    virtual ~IFSystem() {}
    virtual int GetState() = 0;
    virtual int Connect() = 0;
    virtual void GetBoardCount(int* count) = 0;
    virtual void GetBoardName(int board, char* buffer, int* size) = 0;
    virtual void GetProcessorCount(int board, int* count) = 0;
    virtual void GetProcessorName(int board, int processor, char* buffer, int* size) = 0;
    virtual IFFlash* GetFlash(int board, int processor) = 0;
};

// Entry points, looked up by name.
typedef IFSystem* (*TelmarOpenFn)(StateCallback callback, void* context, uint32_t timLibArg);
typedef void (*TelmarCloseFn)(IFSystem* system);

TELMAR_API IFSystem* TelmarOpen(StateCallback callback, void* context, uint32_t timLibArg);
TELMAR_API void TelmarClose(IFSystem* system);
