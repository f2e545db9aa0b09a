// qel-bench: look at and change the simulated bench from a shell.
#include "Description.h"
#include "FlashChain.h"
#include "FlashImage.h"
#include "Settings.h"
#include "include/BlockTypes.h"
#include "platform/CommandLine.h"
#include "platform/LockedFile.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace qel::bench;
namespace block = qel::block;

namespace {

constexpr const char* kUsage =
    "Usage: qel-bench [OPTIONS] COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "The simulated bench that stands in for the debugger and the hardware.\n"
    "\n"
    "Commands:\n"
    "  list                               boards, modules, processors, flash images and\n"
    "                                     the fault switches armed in the state folder\n"
    "  show BOARD PROCESSOR               the flash of the module that holds PROCESSOR,\n"
    "                                     as its chain of blocks\n"
    "  erase BOARD PROCESSOR              erase that module's flash (every byte 0xFF)\n"
    "  fault BOARD PROCESSOR KIND [COUNT] arm a fault switch for every bench started\n"
    "                                     from now on (COUNT defaults to 1; 0 disarms)\n"
    "  fault --clear                      disarm every stored fault switch\n"
    "  description                        print the bench description in use\n"
    "\n"
    "BOARD and PROCESSOR are numbers from 0 or names, as qel-flash takes them:\n"
    "processors are numbered across the board, as the debugger lists them\n"
    "('qel-bench list' shows each module's processors).\n"
    "\n"
    "Fault kinds and their COUNT: fail-memory, fail-load, restart-failure,\n"
    "unrequested-halt, unrequested-reset, unrequested-address, refuse,\n"
    "programmer-hang, progress-lockstep (requests or commands, 0 to 1000000),\n"
    "power-cut (the K-th flash write, 1 to 1000000), missing-events (the one\n"
    "notification interface missing, 1 to 13 but not 8).\n"
    "\n"
    "Options:\n"
    "  --description FILE    the bench description (a regular file of at most 1 MiB)\n"
    "  --state FOLDER        the state folder (flash images, stored fault switches)\n"
    "  -h, --help            this text\n"
    "  -V, --version         the program's name and version\n"
    "\n"
    "Environment:\n"
    "  QEL4410_BENCH         the bench description file, unless --description\n"
    "  QEL4410_BENCH_STATE   the state folder, unless --state\n"
    "  QEL4410_BENCH_TIMING  off or realistic: replaces the description's timing\n"
    "  QEL4410_REGISTRY      settings folder holding the \"Description\" and \"State\"\n"
    "                        settings (SOFTWARE\\Halvern\\QEL4410\\Bench)\n"
    "Without them the description is the embedded default bench and the state\n"
    "folder $XDG_DATA_HOME/qel4410/bench (~/.local/share/qel4410/bench).\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 wrong command line.\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "qel-bench: %s\n\nRun 'qel-bench --help' for the commands.\n",
                 problem.c_str());
    return 2;
}

int Fail(const std::string& problem) {
    std::fprintf(stderr, "qel-bench: %s\n", problem.c_str());
    return 1;
}

std::optional<int> Index(const std::string& text) {
    if (text.empty() || text.size() > 6)
        return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9')
            return std::nullopt;
    return std::atoi(text.c_str());
}

// Up to 32 bits of decimal digits.
std::optional<uint32_t> Count(const std::string& text) {
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9')
            return std::nullopt;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<uint32_t>(v);
}

std::string Hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof(b), "0x%08X", v);
    return b;
}

std::string Size(uint64_t bytes) {
    char b[32];
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        std::snprintf(b, sizeof(b), "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
    else if (bytes >= 1024 && bytes % 1024 == 0)
        std::snprintf(b, sizeof(b), "%llu KiB", static_cast<unsigned long long>(bytes >> 10));
    else
        std::snprintf(b, sizeof(b), "%llu bytes", static_cast<unsigned long long>(bytes));
    return b;
}

struct Context {
    BenchDesc desc;
    std::string source;
    std::string state;
};

// BOARD and PROCESSOR as qel-flash takes them: numbers or names, processors
// counted across the board.
struct Place {
    int board = -1;
    int processor = -1;
    const ModuleDesc* module = nullptr;
};

std::optional<Place> FindProcessor(const Context& ctx, const std::string& b, const std::string& p,
                                   std::string& error) {
    Place place;
    if (auto bi = Index(b)) {
        place.board = *bi;
    } else {
        for (size_t i = 0; i < ctx.desc.boards.size(); ++i)
            if (ctx.desc.boards[i].name == b)
                place.board = static_cast<int>(i);
        if (place.board < 0) {
            error = "there is no board named \"" + b + "\"";
            return std::nullopt;
        }
    }
    if (place.board >= static_cast<int>(ctx.desc.boards.size())) {
        error = "there is no board " + b + " (the bench has " +
                std::to_string(ctx.desc.boards.size()) + ")";
        return std::nullopt;
    }
    const BoardDesc& board = ctx.desc.boards[static_cast<size_t>(place.board)];
    const auto number = Index(p);
    int index = 0;
    for (const ModuleDesc& m : board.modules) {
        for (const ProcessorDesc& proc : m.processors) {
            if ((number && *number == index) || (!number && proc.name == p)) {
                place.processor = index;
                place.module = &m;
                return place;
            }
            ++index;
        }
    }
    error =
        number ? "board " + b + " has no processor " + p + " (it has " + std::to_string(index) + ")"
               : "board " + b + " has no processor named \"" + p + "\"";
    return std::nullopt;
}

int List(const Context& ctx) {
    std::printf("Bench: %s\nDescription: %s\nState folder: %s\n", ctx.desc.name.c_str(),
                ctx.source.c_str(), ctx.state.c_str());
    const auto faults = ReadStoredFaults(ctx.state);
    for (size_t b = 0; b < ctx.desc.boards.size(); ++b) {
        const BoardDesc& board = ctx.desc.boards[b];
        std::printf("\nboard %zu \"%s\"\n", b, board.name.c_str());
        int processor = 0;
        for (size_t m = 0; m < board.modules.size(); ++m) {
            const ModuleDesc& mod = board.modules[m];
            const std::string image = ImagePath(ctx.state, mod);
            std::error_code ec;
            const bool exists = std::filesystem::exists(image, ec);
            std::printf("  module %zu \"%s\" %s", m, mod.name.c_str(), mod.tim.c_str());
            if (mod.timType)
                std::printf(" (type %s)", Hex(mod.timType).c_str());
            std::printf("\n    flash %s in %u sectors of %s at %s, boot %s\n",
                        Size(mod.flashSize).c_str(), mod.SectorCount(),
                        Size(mod.sectorSize).c_str(), Hex(mod.flashAddress).c_str(),
                        mod.boot == Boot::Copy ? "by copy to 0" : "mapped");
            std::printf("    image %s%s\n", image.c_str(),
                        exists ? "" : " (not written yet: erased)");
            if (!mod.timing.IsOff())
                std::printf(
                    "    timing: %llu bytes/s, latency %u us, erase %u ms/sector, program %u "
                    "ns/byte\n",
                    static_cast<unsigned long long>(mod.timing.bandwidth), mod.timing.latencyUs,
                    mod.timing.eraseMs, mod.timing.programNsPerByte);
            for (const ProcessorDesc& p : mod.processors) {
                std::printf(
                    "    processor %d \"%s\" id %s (family %u, sub-family %u, revision %u)%s\n",
                    processor, p.name.c_str(), Hex(p.id).c_str(), p.id >> 22, (p.id >> 10) & 0xFFF,
                    (p.id >> 3) & 0x7F, p.flashAccess ? ", reaches the flash" : "");
                for (const Region& r : p.regions)
                    std::printf("      %s %s %s\n", Hex(r.start).c_str(), Size(r.size).c_str(),
                                r.name.c_str());
                for (const FaultSetting& f : p.faults)
                    std::printf("      fault %s %u (description)\n", FaultName(f.fault), f.count);
                for (const StoredFault& f : faults)
                    if (f.board == static_cast<int>(b) && f.processor == processor)
                        std::printf("      fault %s %u (stored)\n", FaultName(f.setting.fault),
                                    f.setting.count);
                ++processor;
            }
        }
    }
    return 0;
}

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string Text(const std::vector<uint8_t>& extra, size_t at, size_t max) {
    std::string s;
    for (size_t i = at; i < extra.size() && i < at + max && extra[i]; ++i)
        s += (extra[i] >= 32 && extra[i] < 127) ? static_cast<char>(extra[i]) : '?';
    return s;
}

// An image that exists must be a regular file (a FIFO would block).
bool ImageUsable(const std::string& path, std::string& error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return true;
    if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return true;
    error = "the flash image '" + path + "' is not a regular file";
    return false;
}

int Show(const Context& ctx, const std::string& b, const std::string& p) {
    std::string error;
    const auto place = FindProcessor(ctx, b, p, error);
    if (!place)
        return Usage(error);
    const ModuleDesc* mod = place->module;
    if (!ImageUsable(ImagePath(ctx.state, *mod), error))
        return Fail(error);
    FlashImage image(ImagePath(ctx.state, *mod), mod->flashSize, mod->sectorSize);
    bool unreadable = false;
    auto reader = [&](uint32_t offset, uint32_t length, void* out) {
        if (image.Read(offset, out, length))
            return true;
        unreadable = true;
        return false;
    };
    const ChainWalk walk = WalkChain(reader, mod->flashSize);
    if (unreadable)
        return Fail("cannot read the flash image '" + image.Path() + "'");
    std::printf("Module \"%s\" (%s), flash %s, image %s\n", mod->name.c_str(), mod->tim.c_str(),
                Size(mod->flashSize).c_str(), image.Path().c_str());
    if (!walk.validInit) {
        std::printf("No init image at offset 0: %s.\n", U32(walk.init + 20) == 0xFFFFFFFF
                                                            ? "the flash is erased"
                                                            : "no valid init image");
        return 0;
    }
    std::printf("\n  offset      size        block\n");
    std::printf("  %s  %-10u  init image, TIM type %s\n", Hex(0).c_str(), walk.initSize,
                Hex(U32(walk.init + 40)).c_str());
    uint64_t end = walk.initSize;
    for (const ChainBlock& blk : walk.blocks) {
        std::string detail;
        const uint32_t low = block::ClassOf(blk.Type());
        if (low == block::kTypeBootLoader && blk.extra.size() >= 72)
            detail = " \"" + Text(blk.extra, 56, 16) + "\"";
        if (low == block::kTypeUser && blk.extra.size() >= 1032)
            detail = " \"" + Text(blk.extra, 8, 1024) + "\"";
        if (blk.Version())
            detail += " version " + std::to_string(blk.Version() >> 16) + "." +
                      std::to_string(blk.Version() & 0xFFFF);
        if (low == block::kTypeUser)
            detail += " id " + std::to_string(blk.header[1]);
        std::string crc;
        if (blk.DataLength() > 0 &&
            uint64_t{blk.offset} + blk.DataOffset() + blk.DataLength() <= mod->flashSize) {
            std::vector<uint8_t> payload(blk.DataLength());
            if (image.Read(blk.offset + blk.DataOffset(), payload.data(), blk.DataLength()))
                crc =
                    Crc32(payload.data(), payload.size()) == blk.Crc() ? ", CRC good" : ", CRC BAD";
        }
        std::printf("  %s  %-10u  %s%s, %u data bytes%s\n", Hex(blk.offset).c_str(),
                    blk.TotalSize(), BlockTypeName(blk.Type()).c_str(), detail.c_str(),
                    blk.DataLength(), crc.c_str());
        end = uint64_t{blk.offset} + blk.TotalSize();
    }
    if (walk.terminated)
        std::printf(
            "\n%llu bytes used, %llu free.\n", static_cast<unsigned long long>(end),
            static_cast<unsigned long long>(end < mod->flashSize ? mod->flashSize - end : 0));
    else
        std::printf("\nThe chain breaks off after %zu block(s): %s.\n", walk.blocks.size(),
                    walk.stop.c_str());
    return 0;
}

int Erase(const Context& ctx, const std::string& b, const std::string& p) {
    std::string error;
    const auto place = FindProcessor(ctx, b, p, error);
    if (!place)
        return Usage(error);
    const ModuleDesc* mod = place->module;
    if (!ImageUsable(ImagePath(ctx.state, *mod), error))
        return Fail(error);
    if (!qel::platform::MakeFolders(ctx.state))
        return Fail("cannot create the state folder '" + ctx.state + "'");
    FlashImage image(ImagePath(ctx.state, *mod), mod->flashSize, mod->sectorSize);
    FlashImage::Session session(image);
    if (!session.Ok() || !session.Fill(0, 0xFF, mod->flashSize) || !session.Sync())
        return Fail("cannot write the flash image '" + image.Path() + "'");
    std::printf("Erased the flash of module \"%s\" (processor %d) on board %d (%s).\n",
                mod->name.c_str(), place->processor, place->board, Size(mod->flashSize).c_str());
    return 0;
}

int SetFault(const Context& ctx, const std::vector<std::string>& args, bool clear) {
    if (clear) {
        if (!args.empty())
            return Usage("fault --clear takes no other arguments");
        const auto cleared = ReadStoredFaults(ctx.state);
        if (!WriteStoredFaults(ctx.state, {}))
            return Fail("cannot write '" + FaultsFilePath(ctx.state) + "'");
        if (cleared.empty()) {
            std::printf("There were no stored fault switches to clear.\n");
            return 0;
        }
        std::printf("Cleared %zu stored fault switch%s:\n", cleared.size(),
                    cleared.size() == 1 ? "" : "es");
        for (const StoredFault& f : cleared)
            std::printf("  %s %u on board %d processor %d\n", FaultName(f.setting.fault),
                        f.setting.count, f.board, f.processor);
        return 0;
    }
    if (args.size() < 3 || args.size() > 4)
        return Usage("fault needs BOARD PROCESSOR KIND [COUNT]");
    std::string error;
    const auto place = FindProcessor(ctx, args[0], args[1], error);
    if (!place)
        return Usage(error);
    const int b = place->board;
    const int p = place->processor;
    auto kind = FaultFromName(args[2]);
    if (!kind)
        return Usage("unknown fault kind '" + args[2] + "'");
    uint32_t n = 1;
    if (args.size() == 4) {
        auto c = Count(args[3]);
        if (!c)
            return Usage("COUNT must be a number, not '" + args[3] + "'");
        n = static_cast<uint32_t>(*c);
    }
    // 0 disarms any kind; otherwise the count must be one the kind takes.
    if (n > 0) {
        if (const std::string problem = FaultCountProblem(*kind, n); !problem.empty())
            return Usage(problem);
    }
    auto faults = ReadStoredFaults(ctx.state);
    std::erase_if(faults, [&](const StoredFault& f) {
        return f.board == b && f.processor == p && f.setting.fault == *kind;
    });
    if (n > 0)
        faults.push_back({b, p, {*kind, n}});
    if (!WriteStoredFaults(ctx.state, faults))
        return Fail("cannot write '" + FaultsFilePath(ctx.state) + "'");
    if (n > 0)
        std::printf("Armed %s %u on board %d processor %d for benches started from now on.\n",
                    FaultName(*kind), n, b, p);
    else
        std::printf("Disarmed %s on board %d processor %d.\n", FaultName(*kind), b, p);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string descriptionPath, stateFolder;
    std::vector<std::string> positional;
    bool clear = false;
    try {
        qel::platform::ArgReader args(std::vector<std::string>(argv + 1, argv + argc));
        while (!args.Done()) {
            if (!args.NextIsOption()) {
                positional.push_back(args.Take());
                continue;
            }
            const std::string o = args.Take();
            if (o == "--help" || o == "-h") {
                std::fputs(kUsage, stdout);
                return 0;
            }
            if (o == "--version" || o == "-V") {
                std::printf("qel-bench %s\n", QEL_VERSION);
                return 0;
            }
            if (o == "--description" || o == "--state") {
                std::string& slot = o == "--state" ? stateFolder : descriptionPath;
                slot = args.Value(o, o == "--state" ? "a folder" : "a file");
                if (slot.empty())
                    return Usage(o + " needs a value");
            } else if (o == "--clear") {
                clear = true;
            } else {
                return Usage("unknown option '" + o + "'");
            }
        }
    } catch (const qel::platform::CommandLineError& e) {
        return Usage(e.what());
    }
    if (positional.empty())
        return Usage("no command given");
    const std::string command = positional[0];
    const std::vector<std::string> rest(positional.begin() + 1, positional.end());
    if (clear && command != "fault")
        return Usage("--clear belongs to fault");

    Context ctx;
    std::string error;
    auto desc = LoadDescription({}, descriptionPath, ctx.source, error);
    if (!desc)
        return Fail(error);
    ctx.desc = std::move(*desc);
    ctx.state = ResolveStateFolder(stateFolder);

    if (command == "list")
        return rest.empty() ? List(ctx) : Usage("list takes no arguments");
    if (command == "show")
        return rest.size() == 2 ? Show(ctx, rest[0], rest[1]) : Usage("show needs BOARD PROCESSOR");
    if (command == "erase")
        return rest.size() == 2 ? Erase(ctx, rest[0], rest[1])
                                : Usage("erase needs BOARD PROCESSOR");
    if (command == "fault")
        return SetFault(ctx, rest, clear);
    if (command == "description") {
        if (!rest.empty())
            return Usage("description takes no arguments");
        std::string text, source;
        if (!ResolveDescriptionText({}, descriptionPath, text, source, error))
            return Fail(error);
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    return Usage("unknown command '" + command + "'");
}
