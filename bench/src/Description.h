// The bench description: carrier boards, the modules seated on them, their
// flash, processors, timing and fault switches. A readable text file; the
// format is told in DefaultDescriptionText().
#pragma once

#include "QelBench.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qel::bench {

struct Region {
    uint32_t start = 0;
    uint32_t size = 0;
    std::string name;
    uint64_t End() const { return uint64_t{start} + size; }
};

// All zero: off (requests complete as fast as the host can move the bytes).
struct Timing {
    uint64_t bandwidth = 0;         // bytes per second of memory transfers, 0 = unlimited
    uint32_t latencyUs = 0;         // per request
    uint32_t eraseMs = 0;           // per sector
    uint32_t programNsPerByte = 0;  // flash programming
    bool IsOff() const {
        return bandwidth == 0 && latencyUs == 0 && eraseMs == 0 && programNsPerByte == 0;
    }
};
Timing RealisticTiming();

struct FaultSetting {
    Fault fault = Fault::FailMemory;
    uint32_t count = 0;
};

struct ProcessorDesc {
    std::string name;
    uint32_t id = 0;
    bool flashAccess = false;
    std::vector<Region> regions;
    std::vector<FaultSetting> faults;
};

enum class Boot {
    Copy,    // reset copies the start of the flash to address 0
    Mapped,  // the processor boots from the flash where it is mapped
};

struct ModuleDesc {
    std::string name;
    std::string tim;       // TIM type name, for people
    uint32_t timType = 0;  // for people; 0 when not given
    std::string image;     // plain file name in the state folder
    uint32_t flashSize = 0;
    uint32_t sectorSize = 0;
    uint32_t flashAddress = 0;
    Boot boot = Boot::Copy;
    uint32_t bootCopySize = 1024;
    Timing timing;
    std::vector<ProcessorDesc> processors;
    uint32_t SectorCount() const { return sectorSize ? flashSize / sectorSize : 0; }
};

struct BoardDesc {
    std::string name;
    std::vector<ModuleDesc> modules;
};

struct BenchDesc {
    std::string name;
    std::vector<BoardDesc> boards;
};

// Parses and checks a description. On failure `error` says where and why
// ("line 12: ...").
std::optional<BenchDesc> ParseDescription(std::string_view text, std::string& error);

// The embedded default bench: one carrier board with a module of every sample
// TIM type. Its comment header documents the format.
const std::string& DefaultDescriptionText();

// Names of the fault switches as the description writes them.
const char* FaultName(Fault fault);
std::optional<Fault> FaultFromName(std::string_view name);

// An image name is a file name inside the state folder: not empty, no '/',
// not "." or "..".
bool ImageNameAllowed(std::string_view name);

// Counts a fault switch takes: missing-events an interface number 1..13 but
// not 8 (0 offers all again); the others 0..kMaxFaultCount (0 disarms; a
// power cut counts flash writes, the rest requests or commands). Empty when
// the count fits, else why not.
inline constexpr uint32_t kMaxFaultCount = 1000000;
std::string FaultCountProblem(Fault fault, uint32_t count);

// Replaces every module's timing (QEL4410_BENCH_TIMING: "off" / "realistic").
void OverrideTiming(BenchDesc& desc, const Timing& timing);

// Processor id word: family in bits 22-31, sub-family in bits 10-21,
// revision in bits 3-9.
constexpr uint32_t MakeProcessorId(uint32_t family, uint32_t subFamily, uint32_t revision) {
    return (family << 22) | ((subFamily & 0xFFF) << 10) | ((revision & 0x7F) << 3);
}

}  // namespace qel::bench
