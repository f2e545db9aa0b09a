// The command line of qel-flash, parsed into what the commands need.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qel::programmer {

enum class AnswerPolicy { Ask, Yes, No };
enum class Verbosity { Quiet, Normal, Verbose };

struct UserBlockSpec {
    uint32_t subtype = 0;
    std::string kind;  // as given: exec, app, data, srec
    std::string file;
    uint32_t id = 0;
    uint32_t major = 0;
    uint32_t minor = 0;
    bool bootable = false;
    bool bigEndian = false;
    int32_t at = -1;  // user block index; -1 appends
};

// One change of a programming job; applied in command-line order.
struct Edit {
    enum Kind { AddBlock, RemoveBlock, MoveBlock, SetDynamic, RemoveDynamic, ClearDynamics };
    Kind kind = AddBlock;
    UserBlockSpec block;  // AddBlock
    uint32_t first = 0;   // index, FROM or address
    uint32_t second = 0;  // TO or value
};

struct Options {
    std::string command;  // list, tims, show, program, erase, verify; empty with --help
    bool help = false;
    bool version = false;
    AnswerPolicy answers = AnswerPolicy::Ask;
    Verbosity verbosity = Verbosity::Normal;
    bool json = false;  // list, tims, show, verify: the result as one JSON document
    std::string registry;
    // Seconds a step may take before the programmer says what it waits for.
    double waitNotice = 5.0;

    std::string board;
    std::string processor;
    std::string tim;

    // An empty string means the TIM's standard file.
    std::optional<std::string> bootLoader;
    std::optional<std::string> bitstream;
    std::vector<Edit> edits;
    bool dryRun = false;
    // Commit over a flash that holds no valid chain (every byte of it may go).
    bool replaceAll = false;
    bool probe = false;

    // verify: optional INDEX and FILE
    std::optional<uint32_t> verifyIndex;
    std::string verifyFile;
};

// Throws UsageError.
Options ParseCommandLine(const std::vector<std::string>& args);

// Decimal or 0x hexadecimal, the whole text, 32 bits; nullopt otherwise.
std::optional<uint32_t> ParseNumber(const std::string& text);

extern const char* const kUsageText;

}  // namespace qel::programmer
