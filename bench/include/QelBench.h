// The simulated bench: the debugger's automation server and the hardware
// behind it, as abstract interfaces with COM-like rules.
//
// Rules shared by every interface here:
// - Objects are reference counted: AddRef/Release; an out-pointer returned by
//   a method carries one reference that the caller owns and releases.
// - Methods return an HResult: negative is a failure code, 0 (kOk) success.
// - QueryInterface(iid) hands out the other interfaces of an object; the
//   application and each DSP user also answer IConnectionPointContainer.
// - Notifications: FindConnectionPoint(events iid) -> Advise(sink) gives a
//   non-zero cookie; Unadvise(cookie) ends it. The connection point asks the
//   sink for the events interface with QueryInterface (a sink that does not
//   answer it is refused with kCannotConnect).
// - Halt, Reset, Load, ReadMem and WriteMem return at once and complete later
//   through a notification, delivered on a bench thread (one per board), in
//   the order the requests were made. Everything else answers at once.
// - A memory object's host copy must not be touched by the caller while a
//   ReadMem/WriteMem on it is in flight.
// - Booleans that travel as VariantBool: only kVariantTrue (-1) means true
//   where the receiver says so; the bench sends kVariantTrue / kVariantFalse.
#pragma once

#include <cstdint>
#include <string>

#define QEL_BENCH_API __attribute__((visibility("default")))

namespace qel::bench {

// ---------------------------------------------------------------- basics

using HResult = int32_t;
using VariantBool = int16_t;

inline constexpr VariantBool kVariantTrue = -1;
inline constexpr VariantBool kVariantFalse = 0;

inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kNotImplemented = static_cast<HResult>(0x80004001);
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003);
inline constexpr HResult kFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kUnexpected = static_cast<HResult>(0x8000FFFF);
inline constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057);
inline constexpr HResult kBadIndex = static_cast<HResult>(0x8002000B);
// FindConnectionPoint for an interface the object does not offer.
inline constexpr HResult kNoConnection = static_cast<HResult>(0x80040200);
// Unadvise with an unknown cookie.
inline constexpr HResult kNotConnected = static_cast<HResult>(0x80040200);
inline constexpr HResult kCannotConnect = static_cast<HResult>(0x80040202);
inline constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154);
// QelBenchGetActiveObject: no server runs in this process.
inline constexpr HResult kUnavailable = static_cast<HResult>(0x800401E3);
// A request refused by the "refuse" fault switch.
inline constexpr HResult kRequestRefused = static_cast<HResult>(0x80041001);
// A request to a target whose power was cut (until it is reset).
inline constexpr HResult kTargetDead = static_cast<HResult>(0x80041002);
// The bench description or state folder is unusable.
inline constexpr HResult kBadDescription = static_cast<HResult>(0x80041003);
// A call that would wait for the bench made from a bench thread.
inline constexpr HResult kWrongThread = static_cast<HResult>(0x80041004);

inline constexpr bool Failed(HResult r) {
    return r < 0;
}
inline constexpr bool Succeeded(HResult r) {
    return r >= 0;
}

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
inline constexpr bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i])
            return false;
    return true;
}
// Registry form, upper case, braces included: "{DE4FA3E7-B47F-11D1-B009-0040055C1953}".
QEL_BENCH_API std::string GuidToString(const Guid& guid);

class IUnknown {
  public:
    static constexpr Guid kIid{
        0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual HResult QueryInterface(const Guid& iid, void** out) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

  protected:
    virtual ~IUnknown() = default;
};

// The application class (the identifier the engine attaches to or creates).
inline constexpr Guid kClsidApplication{
    0xDE4FA3E7, 0xB47F, 0x11D1, {0xB0, 0x09, 0x00, 0x40, 0x05, 0x5C, 0x19, 0x53}};

class IApplication;
class IDspBoards;
class IDspBoard;
class IDspTasks;
class IDspTask;
class IDspUser;
class IDspMemory;
class IDspValue;
class IDspRegister;
class ILValue;

// ---------------------------------------------------------------- objects

class IApplication : public IUnknown {
  public:
    static constexpr Guid kIid{
        0xCEA67E80, 0xC3E5, 0x11D1, {0x9F, 0x77, 0x00, 0x40, 0x05, 0x2B, 0x95, 0x93}};
    virtual HResult GetDspBoards(IDspBoards** boards) = 0;
};

class IDspBoards : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x51B0F8D1, 0x6E3A, 0x4C20, {0x9A, 0x51, 0x51, 0x45, 0x4C, 0x42, 0x00, 0x01}};
    virtual HResult Count(int32_t* count) = 0;
    // kBadIndex outside 0 .. Count-1.
    virtual HResult Item(int32_t index, IDspBoard** board) = 0;
};

class IDspBoard : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x51B0F8D1, 0x6E3A, 0x4C20, {0x9A, 0x51, 0x51, 0x45, 0x4C, 0x42, 0x00, 0x02}};
    virtual HResult GetDspTasks(IDspTasks** tasks) = 0;
    virtual HResult GetName(std::string* name) = 0;
};

class IDspTasks : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x51B0F8D1, 0x6E3A, 0x4C20, {0x9A, 0x51, 0x51, 0x45, 0x4C, 0x42, 0x00, 0x03}};
    virtual HResult Count(int32_t* count) = 0;
    virtual HResult Item(int32_t index, IDspTask** task) = 0;
};

class IDspTask : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x51B0F8D1, 0x6E3A, 0x4C20, {0x9A, 0x51, 0x51, 0x45, 0x4C, 0x42, 0x00, 0x04}};
    virtual HResult GetName(std::string* name) = 0;
    // Every call hands out the same DSP user object of this processor.
    virtual HResult GetDspUser(IDspUser** user) = 0;
};

// Type codes of values.
inline constexpr int32_t kTypeData32 = 7;
inline constexpr int32_t kTypeUnused = 9;
inline constexpr int32_t kTypeAddress = 27;

// Execution states (GetExecState).
inline constexpr int32_t kExecHalted = 0;
inline constexpr int32_t kExecRunning = 1;

class IDspUser : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x51B0F8D1, 0x6E3A, 0x4C20, {0x9A, 0x51, 0x51, 0x45, 0x4C, 0x42, 0x00, 0x05}};
    // A memory object of `size` bytes (a multiple of 4 is not required, at
    // most 256 MiB) at the address that `address` holds; its host copy starts
    // zeroed. `page` is 0.
    virtual HResult CreateMemory(IDspValue* address, uint32_t size, int32_t page,
                                 IDspMemory** memory) = 0;
    virtual HResult CreateValue(int32_t typeCode, uint32_t value, IDspValue** out) = 0;
    // Start the loaded program at its entry point; returns at once, no
    // notification. `text` may be null or empty.
    virtual HResult Run(const char* text) = 0;
    virtual HResult RunEx(const char* text, int32_t count) = 0;
    // Completes with IDspUserEvents::OnHalted.
    virtual HResult Halt() = 0;
    // Halts, restarts the module's boot and completes with OnResetDone(status).
    virtual HResult Reset() = 0;
    virtual HResult GetProcessorId(uint32_t* id) = 0;
    // Loads a COFF executable's sections into target memory (halting first);
    // completes with OnProgramLoaded(status, kVariantFalse), status 0 = loaded.
    virtual HResult Load(const char* path, VariantBool flag) = 0;
    virtual HResult GetExecState(int32_t* state) = 0;
    // Target memory -> host copy; completes with OnMemoryDone(memory, failed).
    virtual HResult ReadMem(IDspMemory* memory, VariantBool flag1, VariantBool flag2) = 0;
    // Host copy -> target memory; completes with OnMemoryDone(memory, failed).
    virtual HResult WriteMem(IDspMemory* memory, VariantBool flag1, VariantBool flag2) = 0;
};

// A block of target memory (address, size) with its host copy.
class IDspMemory : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x4C259150, 0xD306, 0x11D1, {0x93, 0x2B, 0x00, 0x40, 0x05, 0x5C, 0x19, 0x64}};
    // Puts the value's 32-bit number into element `index` (bytes 4*index..+3)
    // of the host copy; kInvalidArg past the end.
    virtual HResult SetValue(IDspValue* value, int32_t index) = 0;
    // The 32-bit little-endian word at `byteOffset` of the host copy.
    virtual HResult GetWord(uint32_t byteOffset, uint32_t* word) = 0;
    // Takes over the source's address, size and host copy.
    virtual HResult Assign(IDspMemory* source) = 0;
    virtual HResult GetAddress(uint32_t* address) = 0;
    virtual HResult GetSize(uint32_t* size) = 0;
    // Bulk access to the host copy (one copy, no per-word call).
    virtual HResult ReadBytes(uint32_t offset, void* buffer, uint32_t length) = 0;
    virtual HResult WriteBytes(uint32_t offset, const void* buffer, uint32_t length) = 0;
    virtual HResult SetWord(uint32_t byteOffset, uint32_t word) = 0;
};

class IDspValue : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x7D7052DC, 0xC9BE, 0x11D1, {0x93, 0x29, 0x00, 0x40, 0x05, 0x5C, 0x19, 0x64}};
    virtual HResult GetValue(uint32_t* value) = 0;
    virtual HResult SetValue(uint32_t value) = 0;
    // Takes over the source's type code and number.
    virtual HResult Assign(IDspValue* source) = 0;
    virtual HResult GetType(int32_t* typeCode) = 0;
};

// Minimal: the bench itself never hands registers or lvalues out.
class IDspRegister : public IUnknown {
  public:
    static constexpr Guid kIid{
        0xEF58F0F2, 0xD85F, 0x11D1, {0x93, 0x2D, 0x00, 0x40, 0x05, 0x5C, 0x19, 0x64}};
    virtual HResult GetName(std::string* name) = 0;
    virtual HResult GetValue(uint32_t* value) = 0;
};

class ILValue : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x23B8AB60, 0x7D7F, 0x11D3, {0x82, 0x7C, 0x00, 0x10, 0x5A, 0x9E, 0x1B, 0xC5}};
    virtual HResult GetName(std::string* name) = 0;
    virtual HResult GetValue(uint32_t* value) = 0;
};

// ---------------------------------------------------------------- connection points

class IConnectionPoint : public IUnknown {
  public:
    static constexpr Guid kIid{
        0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
    virtual HResult GetConnectionInterface(Guid* iid) = 0;
    // The sink is asked for the events interface; the connection point keeps
    // that reference until Unadvise. *cookie is never 0 on success.
    virtual HResult Advise(IUnknown* sink, uint32_t* cookie) = 0;
    // kNotConnected for an unknown cookie. Safe from inside a notification.
    virtual HResult Unadvise(uint32_t cookie) = 0;
};

class IConnectionPointContainer : public IUnknown {
  public:
    static constexpr Guid kIid{
        0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
    // kNoConnection when the object does not offer that events interface.
    virtual HResult FindConnectionPoint(const Guid& iid, IConnectionPoint** point) = 0;
};

// ---------------------------------------------------------------- notifications
//
// Sinks implement these. Arguments that are interface pointers are valid for
// the call only (AddRef to keep them). The return value is ignored by the
// bench. Methods are listed in the interface's own order (1, 2, ...).

class ICodeComposerAppEvents : public IUnknown {
  public:
    static constexpr Guid kIid{
        0xFC299D20, 0xDDC0, 0x11D1, {0xB7, 0x91, 0x00, 0x00, 0xB4, 0x3E, 0x4E, 0xE2}};
    virtual HResult OnAppStarted() = 0;
    virtual HResult OnAppExiting() = 0;
    virtual HResult OnBoardsChanged() = 0;
    virtual HResult OnWorkspaceChanged() = 0;
};

class IDspUserEvents : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x57E96100, 0xD93D, 0x11D1, {0x8F, 0xDA, 0x44, 0x45, 0x53, 0x54, 0x61, 0x6F}};
    // 1: the sink's answer is returned to the server.
    virtual HResult OnTextRequest(std::string* text) = 0;
    // 2
    virtual HResult OnRunning() = 0;
    // 3: the target halted (address = program counter, type kTypeAddress).
    virtual HResult OnHalted(IDspValue* address) = 0;
    // 4
    virtual HResult OnStepped() = 0;
    // 5: a ReadMem/WriteMem finished; failed is kVariantTrue on failure.
    virtual HResult OnMemoryDone(IDspMemory* memory, VariantBool failed) = 0;
    // 6
    virtual HResult OnMemoryChanged(IDspMemory* memory, VariantBool flag) = 0;
    // 7
    virtual HResult OnRegisterDone(IDspRegister* reg, VariantBool flag) = 0;
    // 8
    virtual HResult OnBusyChanged(VariantBool busy) = 0;
    // 9 and 10: the program counter was moved / the target stopped at an
    // address without a request of this client.
    virtual HResult OnPcChanged(IDspValue* address) = 0;
    virtual HResult OnStoppedAt(IDspValue* address) = 0;
    // 11 to 14
    virtual HResult OnBreakpointSet(IDspValue* address) = 0;
    virtual HResult OnBreakpointCleared(IDspValue* address) = 0;
    virtual HResult OnProbePointSet(IDspValue* address) = 0;
    virtual HResult OnProbePointCleared(IDspValue* address) = 0;
    // 15
    virtual HResult OnSymbolsChanged() = 0;
    // 16
    virtual HResult OnValueChanged(IDspValue* value, int32_t number, const char* text) = 0;
    // 17: Load finished; status 0 = loaded.
    virtual HResult OnProgramLoaded(int32_t status, VariantBool flag) = 0;
    // 18: Reset finished; status 0 = done.
    virtual HResult OnResetDone(int32_t status) = 0;
    // 19: the target restarted; status 0 = done.
    virtual HResult OnRestartDone(int32_t status) = 0;
};

class IDspUserEvents2 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0xAC3A04C7, 0xE7D1, 0x11D4, {0x81, 0x76, 0x00, 0x50, 0xDA, 0x92, 0xBD, 0x5A}};
    virtual HResult OnLValueChanged(ILValue* value, int32_t number, VariantBool flag,
                                    const char* text) = 0;
    virtual HResult OnWatchesCleared() = 0;
};

class IDspUserEvents3 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0xD034C474, 0x7A73, 0x464D, {0xA6, 0x57, 0xE7, 0x99, 0xC6, 0xA8, 0x5F, 0x8E}};
    virtual HResult OnConfigChanged() = 0;
};

class IDspUserEvents4 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x206BAB83, 0x4A8F, 0x423B, {0xB7, 0xF8, 0xCF, 0x28, 0xF0, 0x96, 0x0E, 0x27}};
    virtual HResult OnBuildStarted() = 0;
    virtual HResult OnBuildFinished() = 0;
    virtual HResult OnBuildCancelled() = 0;
    virtual HResult OnRealtimeChanged(VariantBool on) = 0;
    virtual HResult OnProjectChanged() = 0;
};

class IDspUserEvents5 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x7968DB6E, 0x1E1B, 0x411A, {0xB5, 0xCA, 0x22, 0xF6, 0xD1, 0xE5, 0x16, 0x8B}};
    virtual HResult OnTargetConnecting() = 0;
    virtual HResult OnTargetConnected(VariantBool connected) = 0;
};

class IDspUserEvents6 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x6B596476, 0xC982, 0x4585, {0xB2, 0x03, 0x34, 0xA5, 0xA9, 0xAE, 0x6A, 0xDD}};
    virtual HResult OnDebugSessionChanged() = 0;
};

class IDspUserEvents7 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x25532336, 0xA02D, 0x4C9E, {0x89, 0x9C, 0xA7, 0x1A, 0x2E, 0x02, 0x87, 0x21}};
    virtual HResult OnSymbolsLoaded() = 0;
};

// There is no IDspUserEvents8.

class IDspUserEvents9 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0xD1D4A68B, 0x801F, 0x4042, {0xA2, 0x51, 0x6C, 0x72, 0x8D, 0xBF, 0x9F, 0x22}};
    virtual HResult OnGelReloaded() = 0;
};

class IDspUserEvents10 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x265E1A04, 0xFAC9, 0x415E, {0xAE, 0x14, 0xA6, 0x8C, 0x22, 0x53, 0x83, 0x78}};
    virtual HResult OnClockChanged(VariantBool on) = 0;
};

class IDspUserEvents11 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x4454B6DB, 0x5D31, 0x442A, {0xB5, 0x35, 0xEA, 0x38, 0x86, 0x51, 0x49, 0xE5}};
    virtual HResult OnMemoryMapChanged() = 0;
};

class IDspUserEvents12 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x97389D4E, 0x5A5E, 0x4BB7, {0xBA, 0xD9, 0xCD, 0xCB, 0x62, 0xA9, 0x86, 0xD5}};
    virtual HResult OnProfilingChanged(VariantBool on) = 0;
};

class IDspUserEvents13 : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x3EEFD7D0, 0x2A0C, 0x4D20, {0xB0, 0x4A, 0xE0, 0x06, 0x05, 0x52, 0x00, 0xEE}};
    virtual HResult OnCpuReset() = 0;
    virtual HResult OnCpuStarted() = 0;
};

// The twelve DSP user notification interfaces, in connection order.
inline constexpr int kUserEventsCount = 12;
inline constexpr Guid kUserEventsIids[kUserEventsCount] = {
    IDspUserEvents::kIid,   IDspUserEvents2::kIid,  IDspUserEvents3::kIid,  IDspUserEvents4::kIid,
    IDspUserEvents5::kIid,  IDspUserEvents6::kIid,  IDspUserEvents7::kIid,  IDspUserEvents9::kIid,
    IDspUserEvents10::kIid, IDspUserEvents11::kIid, IDspUserEvents12::kIid, IDspUserEvents13::kIid};

// ---------------------------------------------------------------- bench control
//
// Not part of the debugger's model: the switches tests and tools use to make
// the hardware misbehave, and direct access for checking. Reached with
// QueryInterface(IBenchControl::kIid) on the application. Boards and
// processors are numbered as in IDspBoards / IDspTasks.

enum class Fault : int32_t {
    // The next `count` memory requests complete with the failure flag.
    FailMemory = 1,
    // The next `count` program loads complete with a non-zero status.
    FailLoad = 2,
    // Each of the next `count` requests is preceded by a restart notification
    // with status 1.
    RestartFailure = 3,
    // Someone else touched the target: each of the next `count` requests is
    // preceded by an unrequested halt (the target really halts) ...
    UnrequestedHalt = 4,
    // ... reset (the target really resets) ...
    UnrequestedReset = 5,
    // ... or address notification (OnPcChanged).
    UnrequestedAddress = 6,
    // `count` = the number (1..13, not 8) of the one DSP user notification
    // interface this processor does not offer; 0 offers all twelve again.
    // Takes effect for later FindConnectionPoint calls.
    MissingEvents = 7,
    // The next `count` requests (any method that issues a request, and Run)
    // return kRequestRefused at once.
    RefuseRequest = 8,
    // The next `count` programmer commands never complete.
    ProgrammerHang = 9,
    // `count` = K >= 1: the power fails right after the K-th flash write that
    // programmer commands 4 make from now on (a flash write programs one
    // sector); the image keeps exactly what was written, and the target fails
    // every request until it is reset (memory and load requests complete with
    // failure, Halt and Run return kTargetDead).
    PowerCut = 10,
    // The next `count` programmer commands that report progress do so in lock
    // step: after each step the model waits until the host has read the
    // progress word, so a host that polls sees every step however fast the
    // modelled flash is.
    ProgressLockstep = 11,
};

// Events a test can send at once, as if someone else acted on the target.
enum class Unrequested : int32_t {
    Halt = 1,      // the target halts; OnHalted
    Reset = 2,     // the target resets; OnResetDone(0)
    Address = 3,   // OnPcChanged
    Address2 = 4,  // OnStoppedAt
};

struct ProgrammerInfo {
    int32_t running = 0;        // a programmer model runs on the target
    uint32_t commandBlock = 0;  // address of its command block
    uint32_t timType = 0;       // from its signature
    uint32_t commandsDone = 0;  // commands completed since it started
    uint32_t lastCommand = 0;   // code of the last command started
    int32_t busy = 0;           // a command is executing now
    int32_t hung = 0;           // a command will never complete
};

class IBenchControl : public IUnknown {
  public:
    static constexpr Guid kIid{
        0x51B0F8D1, 0x6E3A, 0x4C20, {0x9A, 0x51, 0x51, 0x45, 0x4C, 0x42, 0x00, 0x10}};
    virtual HResult SetFault(int32_t board, int32_t processor, Fault fault, uint32_t count) = 0;
    virtual HResult ClearFaults(int32_t board, int32_t processor) = 0;
    // Queued behind the requests already made to that board.
    virtual HResult RaiseUnrequested(int32_t board, int32_t processor, Unrequested event) = 0;
    // Returns when every request made to the bench before the call has
    // completed and its notifications have been delivered. kWrongThread from
    // a notification.
    virtual HResult WaitIdle() = 0;
    // Returns when the processor's programmer model executes no command (a
    // hung command counts as done waiting). kWrongThread from a notification.
    virtual HResult WaitProgrammerIdle(int32_t board, int32_t processor) = 0;
    virtual HResult GetProgrammerInfo(int32_t board, int32_t processor, ProgrammerInfo* info) = 0;
    // Direct target access without requests or notifications; the flash
    // range reads the image. kInvalidArg outside the memory regions.
    virtual HResult PeekMemory(int32_t board, int32_t processor, uint32_t address, void* buffer,
                               uint32_t length) = 0;
    virtual HResult PokeMemory(int32_t board, int32_t processor, uint32_t address,
                               const void* buffer, uint32_t length) = 0;
    // Path of the raw flash image of the module the processor sits on.
    virtual HResult GetFlashImagePath(int32_t board, int32_t processor, std::string* path) = 0;
    // Whether the server was started with "RealtimeStart" set to 1.
    virtual HResult GetRealtime(VariantBool* realtime) = 0;
    // Bytes that crossed the debugger link to and from the processor since
    // the bench started: memory requests and program loads (file size).
    virtual HResult GetLinkTraffic(int32_t board, int32_t processor, uint64_t* toTarget,
                                   uint64_t* fromTarget) = 0;
    // Requests made to the processor since the bench started (halt, reset,
    // program loads, memory requests; each costs the timing model's latency),
    // and the memory reads among them that found the programmer's status
    // word while it was still busy with a command.
    virtual HResult GetLinkRequests(int32_t board, int32_t processor, uint64_t* requests,
                                    uint64_t* busyPolls) = 0;
};

// ---------------------------------------------------------------- entry points
//
// The settings key the start sequence consults (HKEY_CURRENT_USER) and its value.
inline constexpr const char* kSettingsKey = "Software\\GODSP\\Code Composer\\Settings";
inline constexpr const char* kRealtimeValue = "RealtimeStart";
// The name of the lock a running server holds, the stand-in of the named mutex:
// "TiGoCodeComposerMutex" + GuidToString(kClsidApplication).
QEL_BENCH_API std::string QelBenchLockName();

// Attach: the server that runs in this process, if any (one reference to its
// application object, asked for nothing else). kUnavailable otherwise;
// kClassNotRegistered for another class.
QEL_BENCH_API HResult QelBenchGetActiveObject(const Guid& clsid, IUnknown** out);
// Create: a server that becomes this process's active one unless one is
// active already (then it stays private). Its description and state folder
// come from the environment / settings (below). Hands out `iid`.
QEL_BENCH_API HResult QelBenchCreateInstance(const Guid& clsid, const Guid& iid, void** out);
// The run step after creation: kOk for a bench object.
QEL_BENCH_API HResult QelBenchRun(IUnknown* object);
// The named-mutex probe: true when a live bench server (in any process using
// the same state folder) holds the named lock.
QEL_BENCH_API bool QelBenchNamedLockExists(const std::string& name);

// Explicit creation for tests and tools.
struct BenchOptions {
    // Description text; when empty, descriptionPath is read; when both are
    // empty, the configured description (QEL4410_BENCH, settings) or the
    // embedded default bench.
    std::string descriptionText;
    std::string descriptionPath;
    // State folder of the flash images; empty: QEL4410_BENCH_STATE or the
    // per-user default.
    std::string stateFolder;
    // Become this process's active server (if none is).
    bool registerActive = false;
};
QEL_BENCH_API HResult QelBenchCreate(const BenchOptions& options, IApplication** out);

// Environment: QEL4410_BENCH (description file), QEL4410_BENCH_STATE (state
// folder), QEL4410_BENCH_TIMING ("off" or "realistic": overrides every timing
// model of the description).
QEL_BENCH_API std::string QelBenchDefaultDescription();
QEL_BENCH_API std::string QelBenchStateFolder();

}  // namespace qel::bench
