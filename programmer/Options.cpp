#include "programmer/Options.h"

#include "include/BlockTypes.h"
#include "platform/CommandLine.h"
#include "programmer/Errors.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace qel::programmer {

const char* const kUsageText =
    "Usage: qel-flash [OPTIONS] COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "Reads, programs and erases the flash of QEL4410 DSP modules through the\n"
    "flash engine libTelmar.so, bound at run time as the programming tool binds it.\n"
    "\n"
    "Commands:\n"
    "  list [--probe]             boards and processors, each processor's detected TIM\n"
    "                             type; --probe also selects that type and tells\n"
    "                             whether the flash programmer read the flash\n"
    "  tims                       the TIM types of the TIM description library\n"
    "  show BOARD PROCESSOR       the flash of one processor: its chain of blocks with\n"
    "                             offsets, sizes, types, ids, versions, CRCs, write\n"
    "                             times and files, the dynamic values, size and use\n"
    "  program BOARD PROCESSOR JOB-OPTIONS\n"
    "                             change the flash and commit it (below)\n"
    "  erase BOARD PROCESSOR      erase the whole flash\n"
    "  verify BOARD PROCESSOR [INDEX [FILE]]\n"
    "                             compare user blocks with files: every block with the\n"
    "                             file it was made from, or block INDEX with FILE\n"
    "\n"
    "BOARD and PROCESSOR are numbers from 0, as 'list' shows them, or names.\n"
    "\n"
    "Options of show, program, erase and verify:\n"
    "  --tim NAME                 the TIM type to select (default: the detected one)\n"
    "\n"
    "Job options of program. --bootloader and --bitstream come first, the others\n"
    "apply in the order given; INDEX counts user blocks from 0:\n"
    "  --bootloader standard|FILE\n"
    "                             the TIM's standard boot loader, or this boot loader file\n"
    "  --bitstream standard|FILE  the newest bitstream for the TIM from the bitstream\n"
    "                             folder, or this SBF, .bit or .dat file\n"
    "  --add KIND FILE            add a user block; KIND is exec (COFF executable), app\n"
    "                             (Diamond application), data (raw data) or srec\n"
    "                             (S-record file). These follow an --add and qualify it:\n"
    "      --id N                   block id (default 0)\n"
    "      --version MAJOR[.MINOR]  block version (default 0.0); also --block-version\n"
    "      --bootable               the boot loader starts this block\n"
    "      --big-endian             read the file with each 32-bit word byte-reversed\n"
    "      --at INDEX               its place among the user blocks (default: last)\n"
    "  --remove INDEX             remove user block INDEX\n"
    "  --move FROM TO             move user block FROM to place TO\n"
    "  --dynamic ADDRESS=VALUE    set a dynamic value (a new address is appended)\n"
    "  --remove-dynamic ADDRESS   remove the dynamic value of ADDRESS\n"
    "  --clear-dynamics           remove every dynamic value\n"
    "  --dry-run                  show the chain that would be written; write nothing\n"
    "  --replace-all              commit even when the flash holds no valid chain of\n"
    "                             blocks: whatever it holds is replaced (without it,\n"
    "                             that is asked on the terminal, or refused)\n"
    "\n"
    "General options:\n"
    "  --yes, --no                answer the engine's questions: whether to go on with\n"
    "                             another TIM type than the module holds, whether to\n"
    "                             take a bitstream not made for the TIM. Without them\n"
    "                             they are asked on the terminal, and answered no when\n"
    "                             there is none.\n"
    "  --registry FOLDER          settings folder (sets QEL4410_REGISTRY)\n"
    "  --json                     list, tims, show and verify: the result as one JSON\n"
    "                             document on standard output (see the README)\n"
    "  -q, --quiet                no status texts, progress or remarks; results,\n"
    "                             questions and errors only\n"
    "  -v, --verbose              more remarks (where the engine is, what it detected)\n"
    "  --wait-notice SECONDS      say what a step waits for once it took this long\n"
    "                             (default 5)\n"
    "  -h, --help                 this text\n"
    "  -V, --version              the program's name and version\n"
    "\n"
    "Results go to standard output; status texts, progress, questions and errors\n"
    "to standard error. Options may stand anywhere; --name=value is --name value.\n"
    "Numbers are decimal or 0x hexadecimal. Missing engine folder settings\n"
    "(BootloaderPath, BitstreamPath, FprogPath) are filled with the firmware\n"
    "folders beside this program (firmware/), else those of the installation\n"
    "(share/qel4410).\n"
    "\n"
    "Environment:\n"
    "  QEL4410_REGISTRY      settings folder (HKEY_LOCAL_MACHINE.reg,\n"
    "                        HKEY_CURRENT_USER.reg); default\n"
    "                        $XDG_CONFIG_HOME/qel4410/registry or\n"
    "                        ~/.config/qel4410/registry\n"
    "  QEL4410_TIMDATA       folder of the TIM descriptions (*.tim)\n"
    "  QEL4410_BENCH         bench description file of the simulated bench\n"
    "  QEL4410_BENCH_STATE   folder of the bench's flash images and fault switches\n"
    "  QEL4410_BENCH_TIMING  off or realistic: the bench's timing\n"
    "  TMPDIR                where the engine's private temporary folder goes\n"
    "\n"
    "Ctrl-C closes the engine (stopping what the DSP does) and exits with 130; a\n"
    "second Ctrl-C ends at once.\n"
    "\n"
    "Exit status: 0 done, 1 failed (engine errors are shown with code, text, detail,\n"
    "source and line), 2 wrong command line, 3 cancelled by an answer, 130\n"
    "interrupted.\n";

std::optional<uint32_t> ParseNumber(const std::string& text) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty())
        return std::nullopt;
    for (char c : digits) {
        const bool ok =
            hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9');
        if (!ok)
            return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    if (*end || value > 0xFFFFFFFFull || digits.size() > 20)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

namespace {

struct Kind {
    const char* name;
    uint32_t subtype;
};
constexpr std::array<Kind, 4> kKinds{{{"exec", block::kSubTypeExec},
                                      {"app", block::kSubTypeApp},
                                      {"data", block::kSubTypeData},
                                      {"srec", block::kSubTypeSRecord}}};

bool IsJobCommand(const std::string& c) {
    return c == "program";
}
bool TakesProcessor(const std::string& c) {
    return c == "show" || c == "program" || c == "erase" || c == "verify";
}

class Parser {
  public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    Options Parse() {
        std::vector<std::string> positional;
        try {
            while (!args_.Done()) {
                if (args_.NextIsOption())
                    Option(args_.Take());
                else
                    positional.push_back(args_.Take());
            }
        } catch (const platform::CommandLineError& e) {
            throw UsageError(e.what());
        }
        if (options_.help || options_.version)
            return options_;
        if (positional.empty())
            throw UsageError("no command given");
        options_.command = positional[0];
        const std::string& c = options_.command;
        if (c != "list" && c != "tims" && !TakesProcessor(c))
            throw UsageError("unknown command '" + c + "'");
        CheckOptionsFit();
        size_t expected = 1;
        if (TakesProcessor(c)) {
            if (positional.size() < 3)
                throw UsageError(c + " needs BOARD PROCESSOR");
            options_.board = positional[1];
            options_.processor = positional[2];
            expected = 3;
        }
        if (c == "verify" && positional.size() > 3) {
            auto index = ParseNumber(positional[3]);
            if (!index)
                throw UsageError("INDEX must be a number, not '" + positional[3] + "'");
            options_.verifyIndex = *index;
            if (positional.size() > 4)
                options_.verifyFile = positional[4];
            expected = std::min<size_t>(positional.size(), 5);
        }
        if (positional.size() > expected)
            throw UsageError("unexpected argument '" + positional[expected] + "'");
        if (c == "program" && !options_.bootLoader && !options_.bitstream && options_.edits.empty())
            throw UsageError("program needs at least one job option (see --help)");
        return options_;
    }

  private:
    std::string Value(const std::string& option, const std::string& what = "a value") {
        try {
            return args_.Value(option, what);
        } catch (const platform::CommandLineError& e) {
            throw UsageError(e.what());
        }
    }

    uint32_t Number(const std::string& option, const std::string& what) {
        const std::string text = Value(option, what);
        auto n = ParseNumber(text);
        if (!n)
            throw UsageError(option + ": " + what + " must be a number, not '" + text + "'");
        return *n;
    }

    UserBlockSpec& LastAdd(const std::string& option) {
        if (options_.edits.empty() || options_.edits.back().kind != Edit::AddBlock)
            throw UsageError(option + " must follow --add KIND FILE");
        return options_.edits.back().block;
    }

    void Once(const std::string& option) {
        for (const std::string& seen : seenModifiers_)
            if (seen == option)
                throw UsageError(option + " given twice for one --add");
        seenModifiers_.push_back(option);
    }

    void Option(const std::string& o) {
        if (o == "-h" || o == "--help") {
            options_.help = true;
        } else if (o == "-V" || (o == "--version" && !QualifyingAdd())) {
            options_.version = true;
        } else if (o == "-q" || o == "--quiet" || o == "-v" || o == "--verbose") {
            const Verbosity v = o == "-q" || o == "--quiet" ? Verbosity::Quiet : Verbosity::Verbose;
            if (options_.verbosity != Verbosity::Normal && options_.verbosity != v)
                throw UsageError("--quiet and --verbose exclude each other");
            options_.verbosity = v;
        } else if (o == "--json") {
            options_.json = true;
            used_.push_back(o);
        } else if (o == "--replace-all") {
            options_.replaceAll = true;
            used_.push_back(o);
        } else if (o == "--wait-notice") {
            const std::string text = Value(o, "SECONDS");
            char* end = nullptr;
            const double seconds = std::strtod(text.c_str(), &end);
            if (text.empty() || *end || !(seconds > 0) || seconds > 86400)
                throw UsageError("--wait-notice: '" + text + "' is not a number of seconds");
            options_.waitNotice = seconds;
        } else if (o == "--yes" || o == "--no") {
            const AnswerPolicy p = o == "--yes" ? AnswerPolicy::Yes : AnswerPolicy::No;
            if (options_.answers != AnswerPolicy::Ask && options_.answers != p)
                throw UsageError("--yes and --no exclude each other");
            options_.answers = p;
        } else if (o == "--registry") {
            options_.registry = Value(o, "a folder");
            if (options_.registry.empty())
                throw UsageError("--registry needs a folder");
        } else if (o == "--tim") {
            options_.tim = Value(o, "a TIM type name");
            used_.push_back(o);
        } else if (o == "--probe") {
            options_.probe = true;
            used_.push_back(o);
        } else if (o == "--dry-run") {
            options_.dryRun = true;
            used_.push_back(o);
        } else if (o == "--bootloader" || o == "--bitstream") {
            std::string v = Value(o, "'standard' or a file");
            if (v.empty())
                throw UsageError(o + " needs 'standard' or a file");
            if (v == "standard")
                v.clear();
            auto& slot = o == "--bootloader" ? options_.bootLoader : options_.bitstream;
            if (slot)
                throw UsageError(o + " given twice");
            slot = v;
            used_.push_back(o);
        } else if (o == "--add") {
            Edit e;
            e.kind = Edit::AddBlock;
            e.block.kind = Value(o, "KIND FILE");
            for (const Kind& k : kKinds)
                if (e.block.kind == k.name)
                    e.block.subtype = k.subtype;
            if (!e.block.subtype)
                throw UsageError("--add: unknown kind '" + e.block.kind +
                                 "' (exec, app, data or srec)");
            e.block.file = Value(o, "a file after the kind");
            if (e.block.file.empty())
                throw UsageError("--add needs a file");
            options_.edits.push_back(e);
            seenModifiers_.clear();
            used_.push_back(o);
        } else if (o == "--id") {
            UserBlockSpec& b = LastAdd(o);
            Once(o);
            b.id = Number(o, "the id");
        } else if (o == "--version" || o == "--block-version") {
            UserBlockSpec& b = LastAdd(o);
            Once("--version");
            const std::string text = Value(o, "MAJOR[.MINOR]");
            const size_t dot = text.find('.');
            auto major = ParseNumber(text.substr(0, dot));
            auto minor = dot == std::string::npos ? std::optional<uint32_t>(0)
                                                  : ParseNumber(text.substr(dot + 1));
            if (!major || !minor || *major > 0xFFFF || *minor > 0xFFFF)
                throw UsageError("--version: '" + text + "' is not MAJOR[.MINOR] (0 to 65535)");
            b.major = *major;
            b.minor = *minor;
        } else if (o == "--bootable") {
            LastAdd(o).bootable = true;
            Once(o);
        } else if (o == "--big-endian") {
            LastAdd(o).bigEndian = true;
            Once(o);
        } else if (o == "--at") {
            UserBlockSpec& b = LastAdd(o);
            Once(o);
            const uint32_t at = Number(o, "the index");
            if (at > 0x7FFFFFFF)
                throw UsageError("--at: index too large");
            b.at = static_cast<int32_t>(at);
        } else if (o == "--remove") {
            Edit e;
            e.kind = Edit::RemoveBlock;
            e.first = Number(o, "INDEX");
            Add(o, e);
        } else if (o == "--move") {
            Edit e;
            e.kind = Edit::MoveBlock;
            e.first = Number(o, "FROM");
            e.second = Number(o, "TO");
            Add(o, e);
        } else if (o == "--dynamic") {
            const std::string text = Value(o, "ADDRESS=VALUE");
            const size_t eq = text.find('=');
            auto address = ParseNumber(text.substr(0, eq));
            auto value = eq == std::string::npos ? std::nullopt : ParseNumber(text.substr(eq + 1));
            if (!address || !value)
                throw UsageError("--dynamic: '" + text + "' is not ADDRESS=VALUE");
            Edit e;
            e.kind = Edit::SetDynamic;
            e.first = *address;
            e.second = *value;
            Add(o, e);
        } else if (o == "--remove-dynamic") {
            Edit e;
            e.kind = Edit::RemoveDynamic;
            e.first = Number(o, "ADDRESS");
            Add(o, e);
        } else if (o == "--clear-dynamics") {
            Edit e;
            e.kind = Edit::ClearDynamics;
            Add(o, e);
        } else {
            throw UsageError("unknown option '" + o + "'");
        }
    }

    // --version right after an --add (and its qualifiers) is the block's.
    bool QualifyingAdd() const {
        return !options_.edits.empty() && options_.edits.back().kind == Edit::AddBlock;
    }

    void Add(const std::string& option, const Edit& e) {
        options_.edits.push_back(e);
        used_.push_back(option);
    }

    // Options that belong to one command only are refused with the others.
    void CheckOptionsFit() const {
        const std::string& c = options_.command;
        for (const std::string& o : used_) {
            bool fits = false;
            if (o == "--tim")
                fits = TakesProcessor(c);
            else if (o == "--json")
                fits = c == "list" || c == "tims" || c == "show" || c == "verify";
            else if (o == "--probe")
                fits = c == "list";
            else
                fits = IsJobCommand(c);
            if (!fits)
                throw UsageError(o + " does not apply to " + c);
        }
    }

    platform::ArgReader args_;
    Options options_;
    std::vector<std::string> used_;
    std::vector<std::string> seenModifiers_;
};

}  // namespace

Options ParseCommandLine(const std::vector<std::string>& args) {
    return Parser(args).Parse();
}

}  // namespace qel::programmer
