#include "programmer/Commands.h"

#include "QelBench.h"
#include "include/BlockTypes.h"
#include "platform/FileTime.h"
#include "programmer/Engine.h"
#include "programmer/Errors.h"
#include "programmer/Interrupt.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

namespace qel::programmer {

namespace {

using Json = nlohmann::ordered_json;

// The engine's codes for a file it could not open: a verification that
// ends with one of them compared nothing.
constexpr uint32_t kFileOpenErrors[] = {11, 19, 0x10005};

bool IsFileOpenError(uint32_t code) {
    for (uint32_t c : kFileOpenErrors)
        if (c == code)
            return true;
    return false;
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[1200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

std::string Hex8(uint32_t v) {
    return Format("0x%08X", v);
}

std::string TimLabel(const TimCatalog& tims, uint32_t code) {
    const std::string name = tims.NameOf(code);
    return (name.empty() ? std::string("unknown") : name) + Format(" (0x%X)", code);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// An engine error in a few words, for a row of the list.
std::string Brief(const EngineError& e) {
    return e.code < 0x10000 ? Format("error %u (%s)", e.code, e.message.c_str())
                            : Format("error 0x%X (%s)", e.code, e.message.c_str());
}

std::string Where(const ProcessorName& p) {
    return Format("Board %d ", p.board) + Quoted(p.boardName) +
           Format(", processor %d ", p.processor) + Quoted(p.name);
}

std::string Size(uint64_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return Format("%llu MiB", static_cast<unsigned long long>(bytes >> 20));
    if (bytes >= (1u << 20))
        return Format("%.1f MiB", static_cast<double>(bytes) / (1u << 20));
    if (bytes >= 1024)
        return Format("%.1f KiB", static_cast<double>(bytes) / 1024);
    return Format("%llu bytes", static_cast<unsigned long long>(bytes));
}

std::string WriteTime(const BlockHeader& h) {
    const uint64_t fileTime = (uint64_t{h.writeTimeHigh} << 32) | h.writeTimeLow;
    if (fileTime == 0)
        return "-";
    const platform::LocalTime t = platform::FileTimeToLocal(fileTime);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
}

std::string Version(uint32_t v) {
    return Format("%u.%u", v >> 16, v & 0xFFFF);
}

std::string Text(const char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n]) ++n;
    return std::string(field, n);
}

std::string UserKind(uint32_t subtype) {
    switch (subtype) {
        case block::kSubTypeExec:
            return "executable";
        case block::kSubTypeApp:
            return "Diamond app";
        case block::kSubTypeData:
            return "data";
        case block::kSubTypeSRecord:
            return "S-record";
        default:
            return Format("kind 0x%X", subtype);
    }
}

std::string BlockName(uint32_t position, uint32_t type) {
    if (position == 0)
        return "init image";
    switch (block::ClassOf(type)) {
        case block::kTypeBootLoader:
            return "boot loader";
        case block::kTypeFdb:
            return "Flash Data Block";
        case block::kTypeFpga:
            return "FPGA bitstream";
        case block::kTypeDynamics:
            return "dynamic values";
        case block::kTypeUser:
            return "user " + UserKind(block::SubTypeOf(type));
        case block::kTypeTermination:
            return "termination";
        default:
            return Format("type 0x%X", type);
    }
}

// The engine and the processor a command works on, connected and with its
// TIM type selected.
struct Target {
    TimCatalog tims;
    Engine engine;
    ProcessorName where;
    std::shared_ptr<FlashSession> flash;
    std::string timName;
    uint32_t timCode = 0;
    bool detected = false;
};

std::unique_ptr<Target> Open(const Options& options, Display& display, bool verbose) {
    auto t = std::make_unique<Target>();
    t->where = t->engine.Find(options.board, options.processor);
    t->flash = t->engine.Session(t->where, display, t->tims, options.waitNotice);
    if (verbose)
        display.Info(Where(t->where));
    else
        display.Detail(Where(t->where));
    display.SetQuiet(!verbose && display.GetVerbosity() != Verbosity::Verbose);
    t->flash->Connect();
    const uint32_t detected = t->flash->DetectedCode();
    t->detected = detected != 0;
    const std::string detection = t->detected ? "Detected TIM type " + TimLabel(t->tims, detected)
                                              : std::string("TIM type not detected");
    if (verbose)
        display.Info(detection);
    else
        display.Detail(detection);
    t->timName = options.tim;
    if (t->timName.empty()) {
        if (!t->detected)
            throw Failure(Where(t->where) +
                          ": the TIM type was not detected; name it with --tim ('qel-flash tims' "
                          "lists them)");
        t->timName = t->tims.NameOf(detected);
    }
    const FlashSession::Result r = t->flash->Select(t->timName);
    display.SetQuiet(false);
    if (r == FlashSession::Cancelled)
        throw Failure(
            "selecting TIM type " + t->timName + " cancelled: the module keeps its TIM type",
            kExitCancelled);
    Guard("reading the TIM type", [&] { (*t->flash)->GetTimType(&t->timCode); });
    return t;
}

struct ChainEntry {
    BlockHeader header{};
    std::vector<uint8_t> extra;
    bool modified = false;
};

std::vector<ChainEntry> ReadChain(IFFlash* flash) {
    return Guard("reading the block chain", [&] {
        uint32_t count = 0;
        flash->GetBlockCount(&count);
        std::vector<ChainEntry> chain(count);
        for (uint32_t i = 0; i < count; ++i) {
            chain[i].extra.assign(2048, 0);
            flash->GetBlock(i, &chain[i].header, chain[i].extra.data(), 2048);
            chain[i].modified = flash->IsBlockModified(i);
        }
        return chain;
    });
}

struct ChainReport {
    uint32_t flashSize = 0;
    uint32_t used = 0;
    uint32_t dynamicsCount = 0;
    bool boot = false;
    std::vector<ChainEntry> chain;
    std::vector<std::pair<uint32_t, uint32_t>> dynamics;
};

ChainReport ReadReport(Target& t) {
    IFFlash* flash = t.flash->Get();
    ChainReport r;
    r.chain = ReadChain(flash);
    Guard("reading the flash size", [&] {
        flash->GetFlashSize(&r.flashSize);
        flash->GetUsedSize(&r.used);
        flash->GetDynamicCount(&r.dynamicsCount);
        if (r.chain.size() > 1)
            r.boot = flash->IsBoot();
    });
    for (uint32_t i = 0; i < r.dynamicsCount; ++i) {
        uint32_t address = 0, value = 0;
        Guard("reading a dynamic value", [&] { flash->GetDynamic(i, &address, &value); });
        r.dynamics.emplace_back(address, value);
    }
    return r;
}

std::string BootLoaderName(const ChainEntry& e) {
    return Text(reinterpret_cast<const char*>(e.extra.data()) + 56, 16);
}

Json ChainJson(const ChainReport& r) {
    Json j;
    j["flash"] = {{"size", r.flashSize},
                  {"used", r.used},
                  {"free", r.used < r.flashSize ? r.flashSize - r.used : 0}};
    Json blocks = Json::array();
    uint64_t offset = 0;
    for (uint32_t i = 0; i < r.chain.size(); ++i) {
        const ChainEntry& e = r.chain[i];
        const BlockHeader& h = e.header;
        Json b = {{"position", i},
                  {"offset", offset},
                  {"size", h.totalSize},
                  {"block", BlockName(i, h.type)},
                  {"modified", e.modified}};
        if (i > 0) {
            b["type"] = h.type;
            b["id"] = h.id;
            b["version"] = Version(h.version);
            b["crc"] = h.crc;
            const std::string written = WriteTime(h);
            b["written"] = written == "-" ? Json(nullptr) : Json(written);
            b["dataLength"] = h.dataLength;
        }
        const uint32_t low = block::ClassOf(h.type);
        if (i == 1 && low == block::kTypeBootLoader) {
            b["name"] = BootLoaderName(e);
            b["boots"] = r.boot;
        } else if (low == block::kTypeFpga && i > 0) {
            b["file"] = Text(reinterpret_cast<const char*>(e.extra.data()) + 512, 1024);
            b["comment"] = Text(reinterpret_cast<const char*>(e.extra.data()), 512);
        } else if (low == block::kTypeUser) {
            UserBlockRecord record;
            std::memcpy(&record, e.extra.data(), sizeof(record));
            b["file"] = Text(record.fileName, sizeof(record.fileName));
            b["bootable"] = record.bootable != 0;
            b["bigEndian"] = record.bigEndian != 0;
        }
        blocks.push_back(std::move(b));
        offset += h.totalSize;
    }
    j["blocks"] = std::move(blocks);
    Json dynamics = Json::array();
    for (const auto& [address, value] : r.dynamics)
        dynamics.push_back({{"address", address}, {"value", value}});
    j["dynamics"] = std::move(dynamics);
    return j;
}

void PrintChain(const ChainReport& r, Display& display) {
    const std::vector<ChainEntry>& chain = r.chain;
    const uint32_t flashSize = r.flashSize, used = r.used, dynamics = r.dynamicsCount;
    const bool boot = r.boot;
    display.Line(Format("Flash: %s (%u bytes), %u bytes used (%.1f %%), %u free",
                        Size(flashSize).c_str(), flashSize, used,
                        flashSize ? 100.0 * used / flashSize : 0.0,
                        used < flashSize ? flashSize - used : 0));
    display.Line("");
    display.Line(Format("%3s  %-10s %8s  %-17s  %-10s  %-7s  %-10s  %s", "pos", "offset", "size",
                        "block", "id", "version", "CRC", "written"));
    uint64_t offset = 0;
    bool anyModified = false;
    for (uint32_t i = 0; i < chain.size(); ++i) {
        const ChainEntry& e = chain[i];
        const BlockHeader& h = e.header;
        anyModified = anyModified || e.modified;
        std::string line = Format("%3u%c 0x%08llX %8u  %-17s", i, e.modified ? '*' : ' ',
                                  static_cast<unsigned long long>(offset), h.totalSize,
                                  BlockName(i, h.type).c_str());
        if (i > 0) {
            line += Format("  %s  %-7s  %s  %s", Hex8(h.id).c_str(), Version(h.version).c_str(),
                           Hex8(h.crc).c_str(), WriteTime(h).c_str());
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        display.Line(line);
        std::string more;
        const uint32_t low = block::ClassOf(h.type);
        if (i == 1 && low == block::kTypeBootLoader) {
            const std::string name = BootLoaderName(e);
            more = name.empty() ? "empty" : "name " + Quoted(name);
            if (!name.empty())
                more += boot ? ", boots" : ", boot off";
        } else if (low == block::kTypeFpga && i > 0) {
            const std::string file =
                Text(reinterpret_cast<const char*>(e.extra.data()) + 512, 1024);
            const std::string comment = Text(reinterpret_cast<const char*>(e.extra.data()), 512);
            more = file.empty() ? "empty" : "file " + file;
            if (!comment.empty())
                more += ", comment " + Quoted(comment);
        } else if (low == block::kTypeDynamics && i > 0) {
            more = Format("%u value%s", dynamics, dynamics == 1 ? "" : "s");
        } else if (low == block::kTypeUser) {
            UserBlockRecord record;
            std::memcpy(&record, e.extra.data(), sizeof(record));
            more = "file " + Text(record.fileName, sizeof(record.fileName));
            if (record.bootable)
                more += ", bootable";
            if (record.bigEndian)
                more += ", big-endian";
            more += Format(", %u data bytes", h.dataLength);
        }
        if (!more.empty())
            display.Line(std::string(26, ' ') + more);
        offset += h.totalSize;
    }
    if (anyModified)
        display.Line("(* not yet written)");
    if (dynamics > 0) {
        display.Line("");
        display.Line("Dynamic values:");
        for (uint32_t i = 0; i < r.dynamics.size(); ++i) {
            display.Line(Format("  %u  address %s  value %s", i, Hex8(r.dynamics[i].first).c_str(),
                                Hex8(r.dynamics[i].second).c_str()));
        }
    }
}

void PrintChain(Target& t, Display& display) {
    PrintChain(ReadReport(t), display);
}

// Bytes of the flash that are not erased (0xFF), read through the bench's
// control interface when the simulated bench serves this process; nullopt
// when the flash cannot be read that way.
std::optional<uint64_t> CountUnerased(Target& t, uint32_t flashSize) {
    using namespace qel::bench;
    const std::optional<uint32_t> address = t.tims.FlashAddress(t.timCode);
    if (!address || flashSize == 0)
        return std::nullopt;
    IUnknown* application = nullptr;
    if (QelBenchGetActiveObject(kClsidApplication, &application) != kOk || !application)
        return std::nullopt;
    IBenchControl* control = nullptr;
    const HResult hr =
        application->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control));
    application->Release();
    if (hr != kOk || !control)
        return std::nullopt;
    std::vector<uint8_t> buffer(64 * 1024);
    uint64_t unerased = 0;
    bool ok = true;
    for (uint32_t done = 0; ok && done < flashSize;) {
        const uint32_t n =
            std::min<uint32_t>(static_cast<uint32_t>(buffer.size()), flashSize - done);
        ok = control->PeekMemory(t.where.board, t.where.processor, *address + done, buffer.data(),
                                 n) == kOk;
        for (uint32_t i = 0; ok && i < n; ++i) unerased += buffer[i] != 0xFF;
        done += n;
    }
    control->Release();
    if (!ok)
        return std::nullopt;
    return unerased;
}

// What a commit over a flash without a valid chain replaces: nothing when
// the flash is erased.
struct Replacement {
    bool needed = false;  // the flash holds something the default chain replaces
    std::string what;
};

Replacement WhatIsReplaced(Target& t) {
    Replacement r;
    if (!t.flash->Reverted() || t.flash->TimChangeAccepted())
        return r;
    uint32_t flashSize = 0;
    Guard("reading the flash size", [&] { (*t.flash)->GetFlashSize(&flashSize); });
    const std::optional<uint64_t> unerased = CountUnerased(t, flashSize);
    if (unerased && *unerased == 0)
        return r;  // erased: nothing to lose
    r.needed = true;
    r.what =
        "The flash holds no valid chain of blocks (damaged, or written by something "
        "else), so the engine starts from its default chain: a commit replaces the whole "
        "flash, ";
    r.what += unerased ? Format("%llu of %u bytes of which are not erased.",
                                static_cast<unsigned long long>(*unerased), flashSize)
                       : Format("%u bytes, whose contents could not be read here.", flashSize);
    return r;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string Absolute(const std::string& file) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(file, error);
    return error ? file : path.lexically_normal().string();
}

// A file for the engine must be a regular file that fits the flash: a
// device or a FIFO would be read without end, or block for good.
void CheckInputFile(Target& t, const std::string& what, const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return;  // the engine reports a file it cannot open, with its own error
    if (!S_ISREG(st.st_mode))
        throw Failure(what + " " + path + " is not a regular file");
    uint32_t flashSize = 0;
    Guard("reading the flash size", [&] { (*t.flash)->GetFlashSize(&flashSize); });
    if (flashSize && static_cast<uint64_t>(st.st_size) > flashSize)
        throw Failure(what + " " + path + " holds " + std::to_string(st.st_size) +
                      " bytes, more than the whole flash (" + std::to_string(flashSize) +
                      " bytes)");
}

UserBlockRecord MakeRecord(const std::string& file, bool bootable, bool bigEndian) {
    UserBlockRecord record{};
    record.bootable = bootable ? 1 : 0;
    record.bigEndian = bigEndian ? 1 : 0;
    if (file.size() >= sizeof(record.fileName))
        throw Failure("the file name is longer than " +
                      std::to_string(sizeof(record.fileName) - 1) + " characters: " + file);
    std::memcpy(record.fileName, file.c_str(), file.size() + 1);
    return record;
}

std::optional<uint32_t> FindDynamic(IFFlash* flash, uint32_t address) {
    uint32_t count = 0;
    flash->GetDynamicCount(&count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t a = 0, v = 0;
        flash->GetDynamic(i, &a, &v);
        if (a == address)
            return i;
    }
    return std::nullopt;
}

void ApplyEdit(Target& t, const Edit& e, Display& display) {
    IFFlash* flash = t.flash->Get();
    switch (e.kind) {
        case Edit::AddBlock: {
            const UserBlockSpec& b = e.block;
            const std::string file = Absolute(b.file);
            CheckInputFile(t, "the file", file);
            const UserBlockRecord record = MakeRecord(file, b.bootable, b.bigEndian);
            uint32_t before = 0;
            Guard("counting the user blocks", [&] { flash->GetUserBlockCount(&before); });
            t.flash->Edit("adding user block " + file, [&] {
                flash->AddUserBlock(b.subtype, &record, b.id, b.major, b.minor, b.at);
            });
            const uint32_t index = b.at < 0 || static_cast<uint32_t>(b.at) >= before
                                       ? before
                                       : static_cast<uint32_t>(b.at);
            BlockHeader h{};
            UserBlockRecord stored{};
            Guard("reading the new user block", [&] { flash->GetUserBlock(index, &h, &stored); });
            display.Line(Format("Added user block %u: %s %s, id %s, version %s%s, %u data bytes",
                                index, b.kind.c_str(), b.file.c_str(), Hex8(b.id).c_str(),
                                Version(h.version).c_str(), b.bootable ? ", bootable" : "",
                                h.dataLength));
            break;
        }
        case Edit::RemoveBlock: {
            BlockHeader h{};
            UserBlockRecord record{};
            const std::string doing = "removing user block " + std::to_string(e.first);
            t.flash->Edit(doing, [&] {
                flash->GetUserBlock(e.first, &h, &record);
                flash->RemoveUserBlock(e.first);
            });
            display.Line(Format("Removed user block %u (%s)", e.first,
                                Text(record.fileName, sizeof(record.fileName)).c_str()));
            break;
        }
        case Edit::MoveBlock:
            t.flash->Edit(Format("moving user block %u to %u", e.first, e.second),
                          [&] { flash->MoveUserBlock(e.first, e.second); });
            display.Line(Format("Moved user block %u to place %u", e.first, e.second));
            break;
        case Edit::SetDynamic: {
            const std::string doing = "setting dynamic value " + Hex8(e.first);
            // The engine marks the block modified even for the value it holds:
            // an unchanged value is left alone so a repeated job writes nothing.
            const char* outcome = t.flash->Edit(doing, [&] {
                if (auto index = FindDynamic(flash, e.first)) {
                    uint32_t address = 0, value = 0;
                    flash->GetDynamic(*index, &address, &value);
                    if (value == e.second)
                        return " (unchanged)";
                    flash->SetDynamic(*index, e.first, e.second);
                    return " (replaced)";
                }
                flash->AddDynamic(e.first, e.second);
                return "";
            });
            display.Line(Format("Dynamic value %s = %s%s", Hex8(e.first).c_str(),
                                Hex8(e.second).c_str(), outcome));
            break;
        }
        case Edit::RemoveDynamic: {
            const std::string doing = "removing dynamic value " + Hex8(e.first);
            const bool found = t.flash->Edit(doing, [&] {
                auto index = FindDynamic(flash, e.first);
                if (index)
                    flash->RemoveDynamic(*index);
                return index.has_value();
            });
            if (!found)
                throw Failure("there is no dynamic value at address " + Hex8(e.first));
            display.Line("Removed dynamic value " + Hex8(e.first));
            break;
        }
        case Edit::ClearDynamics:
            t.flash->Edit("clearing the dynamic values", [&] { flash->ClearDynamics(); });
            display.Line("Cleared the dynamic values");
            break;
    }
}

void SetBootLoader(Target& t, const std::string& file, Display& display) {
    IFFlash* flash = t.flash->Get();
    std::string path = file;
    if (path.empty()) {
        path = Guard("finding the standard boot loader", [&] {
            char buffer[1024];
            uint32_t size = sizeof(buffer);
            flash->GetDefaultLoader(buffer, &size);
            return std::string(buffer);
        });
    } else {
        path = Absolute(path);
        CheckInputFile(t, "the boot loader", path);
    }
    t.flash->Edit("loading boot loader " + path,
                  [&] { flash->SetBootLoader(file.empty() ? nullptr : path.c_str()); });
    // The name field holds 16 characters without a terminator when full; the
    // block record carries all of them.
    BlockHeader h{};
    std::vector<uint8_t> record(BOOTLOADER_RECORD_SIZE + 64, 0);
    Guard("reading the boot loader", [&] { flash->GetBlock(1, &h, record.data(), record.size()); });
    const std::string name = Text(reinterpret_cast<const char*>(record.data()) + 56, 16);
    display.Line("Boot loader " + Quoted(name) + " version " + Version(h.version) + " from " +
                 (file.empty() ? FileName(path) + " (standard)" : file));
}

void SetBitstream(Target& t, const std::string& file, Display& display) {
    IFFlash* flash = t.flash->Get();
    const std::string path = file.empty() ? std::string() : Absolute(file);
    if (!path.empty())
        CheckInputFile(t, "the bitstream", path);
    const int asked = t.flash->BitstreamQuestions();
    t.flash->Edit(
        path.empty() ? std::string("finding the standard bitstream") : "loading bitstream " + path,
        [&] { flash->SetBitstream(path.empty() ? nullptr : path.c_str()); });
    if (t.flash->BitstreamQuestions() != asked && !t.flash->BitstreamAccepted()) {
        throw Failure("the bitstream was not taken: it was not made for " + t.timName,
                      kExitCancelled);
    }
    BlockHeader h{};
    std::vector<uint8_t> extra(FPGA_RECORD_SIZE);
    Guard("reading the FPGA block", [&] { flash->GetFpgaBlock(&h, extra.data()); });
    const std::string taken = Text(reinterpret_cast<const char*>(extra.data()) + 512, 1024);
    display.Line("Bitstream version " + Version(h.version) + " from " +
                 (file.empty() ? FileName(taken) + " (standard)" : file));
}

}  // namespace

int ListCommand(const Options& options, Display& display) {
    TimCatalog tims;
    Engine engine;
    const std::vector<ProcessorName> all = engine.Processors();
    std::vector<std::shared_ptr<FlashSession>> sessions;
    for (const ProcessorName& p : all)
        sessions.push_back(engine.Session(p, display, tims, options.waitNotice));
    std::vector<int> reaches(all.size(), -1);  // --probe: 1 reaches, 0 does not
    std::vector<std::string> failed(all.size());
    std::vector<std::string> probe(all.size());
    bool anyFailed = false;
    auto fail = [&](size_t i, const EngineError& e) {
        failed[i] = e.what() + (" failed: " + Brief(e));
        std::fprintf(stderr, "qel-flash: %s on processor %d \"%s\" failed\n%s", e.what(),
                     all[i].processor, all[i].name.c_str(), DescribeEngineError(e).c_str());
        anyFailed = true;
    };
    // Every flash object has its own worker: run the command on all at once,
    // then collect the outcomes. A started command is always waited for.
    auto runAll = [&](const std::vector<size_t>& which, auto start, const char* doing) {
        std::vector<size_t> started;
        for (size_t i : which) {
            try {
                start(i);
                started.push_back(i);
            } catch (const EngineError& e) {
                fail(i, e);
            }
        }
        for (size_t i : started) {
            try {
                sessions[i]->WaitFinished(doing);
            } catch (const EngineError& e) {
                fail(i, e);
            }
        }
    };
    display.SetQuiet(true);
    std::vector<size_t> everyone(all.size());
    for (size_t i = 0; i < all.size(); ++i) everyone[i] = i;
    runAll(
        everyone, [&](size_t i) { sessions[i]->StartConnect(); }, "connecting");
    if (options.probe) {
        // Detection found an init image, so the flash holds something: a
        // processor whose programmer then reads no chain cannot reach it.
        std::vector<size_t> probing;
        for (size_t i = 0; i < all.size(); ++i) {
            if (!failed[i].empty())
                continue;
            if (sessions[i]->DetectedCode())
                probing.push_back(i);
            else
                probe[i] = "not probed: no TIM type detected";
        }
        runAll(
            probing,
            [&](size_t i) { sessions[i]->StartSelect(tims.NameOf(sessions[i]->DetectedCode())); },
            "selecting the detected TIM type");
        for (size_t i : probing) {
            if (!failed[i].empty())
                continue;
            reaches[i] = sessions[i]->ChainRead() ? 1 : 0;
            probe[i] = sessions[i]->ChainRead()
                           ? "reaches the flash"
                           : "does not reach the flash (or its chain is damaged)";
        }
    }
    display.SetQuiet(false);
    if (options.json) {
        Json boards = Json::array();
        for (size_t i = 0; i < all.size(); ++i) {
            const ProcessorName& p = all[i];
            if (boards.empty() || boards.back()["board"] != p.board)
                boards.push_back(
                    {{"board", p.board}, {"name", p.boardName}, {"processors", Json::array()}});
            const uint32_t code = sessions[i]->DetectedCode();
            Json proc = {{"processor", p.processor}, {"name", p.name}};
            proc["tim"] = code ? Json{{"name", tims.NameOf(code)}, {"code", code}} : Json(nullptr);
            if (!failed[i].empty())
                proc["error"] = failed[i];
            if (options.probe)
                proc["reachesFlash"] = reaches[i] < 0 ? Json(nullptr) : Json(reaches[i] == 1);
            boards.back()["processors"].push_back(std::move(proc));
        }
        display.Line(Json{{"boards", std::move(boards)}}.dump(2));
        return anyFailed ? kExitFailed : kExitDone;
    }
    int board = -1;
    for (size_t i = 0; i < all.size(); ++i) {
        const ProcessorName& p = all[i];
        if (p.board != board) {
            board = p.board;
            display.Line(Format("board %d ", board) + Quoted(p.boardName));
        }
        const uint32_t code = sessions[i]->DetectedCode();
        std::string line = Format("  processor %d  %-8s  ", p.processor, p.name.c_str());
        std::string tim = code ? "TIM type " + TimLabel(tims, code) : "TIM type not detected";
        if (!failed[i].empty())
            tim = failed[i];
        if (!probe[i].empty())
            tim = Format("%-28s  ", tim.c_str()) + probe[i];
        display.Line(line + tim);
    }
    if (!options.probe)
        display.Info("(--probe tells which processors reach their flash)");
    return anyFailed ? kExitFailed : kExitDone;
}

int TimsCommand(const Options& options, Display& display) {
    TimCatalog tims;
    if (options.json) {
        Json list = Json::array();
        for (const TimCatalog::Entry& e : tims.Entries())
            list.push_back({{"name", e.name}, {"code", e.code}, {"comment", e.comment}});
        display.Line(Json{{"folder", tims.DataFolder()}, {"tims", std::move(list)}}.dump(2));
        return kExitDone;
    }
    display.Line("TIM types (" + tims.DataFolder() + "):");
    for (const TimCatalog::Entry& e : tims.Entries())
        display.Line(Format("  %-10s 0x%02X  %s", e.name.c_str(), e.code, e.comment.c_str()));
    return kExitDone;
}

int ShowCommand(const Options& options, Display& display) {
    auto t = Open(options, display, false);
    std::string how =
        t->detected && t->timCode == t->flash->DetectedCode() ? "detected" : "selected";
    if (options.json) {
        Json j = {{"board", t->where.board},
                  {"boardName", t->where.boardName},
                  {"processor", t->where.processor},
                  {"processorName", t->where.name},
                  {"tim", {{"name", t->tims.NameOf(t->timCode)}, {"code", t->timCode}}},
                  {"detected", how == "detected"},
                  {"validChain", t->flash->ChainRead()}};
        j.update(ChainJson(ReadReport(*t)));
        display.Line(j.dump(2));
        return kExitDone;
    }
    display.Line(Where(t->where) + ": TIM type " + TimLabel(t->tims, t->timCode) + ", " + how);
    if (!t->flash->ChainRead())
        display.Line(
            "The flash holds no valid chain (erased or inconsistent): this is the "
            "engine's default chain.");
    PrintChain(*t, display);
    return kExitDone;
}

int ProgramCommand(const Options& options, Display& display) {
    auto t = Open(options, display, true);
    display.Line("Selected TIM type " + TimLabel(t->tims, t->timCode));
    // Found before the edits: they change nothing on the flash.
    const Replacement replacement = WhatIsReplaced(*t);
    if (options.bootLoader)
        SetBootLoader(*t, *options.bootLoader, display);
    if (options.bitstream)
        SetBitstream(*t, *options.bitstream, display);
    for (const Edit& e : options.edits) ApplyEdit(*t, e, display);
    if (options.dryRun) {
        display.Line("");
        PrintChain(*t, display);
        if (replacement.needed)
            display.Line(replacement.what + (options.replaceAll
                                                 ? " --replace-all lets a commit do so."
                                                 : " A commit needs --replace-all (or a yes "
                                                   "on the terminal)."));
        display.Line("Dry run: nothing written.");
        return kExitDone;
    }
    const bool modified = Guard("checking for changes", [&] { return (*t->flash)->IsModified(); });
    if (!modified) {
        display.Line("Nothing to write: the flash already holds this chain.");
        return kExitDone;
    }
    if (replacement.needed) {
        if (options.replaceAll) {
            display.Info(replacement.what + " Replacing it (--replace-all).");
        } else if (!display.Ask(replacement.what + "\nReplace everything on the flash?", false)) {
            throw Failure(
                "not committed: the flash was left as it was (--replace-all replaces "
                "what it holds)",
                kExitCancelled);
        }
    }
    t->flash->Commit();
    uint32_t blocks = 0, used = 0, size = 0;
    Guard("reading the flash use", [&] {
        (*t->flash)->GetBlockCount(&blocks);
        (*t->flash)->GetUsedSize(&used);
        (*t->flash)->GetFlashSize(&size);
    });
    display.Line(Format("Committed: %u blocks, %s of %s used.", blocks, Size(used).c_str(),
                        Size(size).c_str()));
    return kExitDone;
}

int EraseCommand(const Options& options, Display& display) {
    auto t = Open(options, display, true);
    t->flash->Erase();
    uint32_t size = 0;
    Guard("reading the flash size", [&] { (*t->flash)->GetFlashSize(&size); });
    display.Line("Erased the flash (" + Size(size) + ").");
    return kExitDone;
}

int VerifyCommand(const Options& options, Display& display) {
    auto t = Open(options, display, false);
    IFFlash* flash = t->flash->Get();
    uint32_t count = 0;
    Guard("counting the user blocks", [&] { flash->GetUserBlockCount(&count); });
    Json results = Json::array();
    if (!options.json)
        display.Line(Where(t->where) + ": TIM type " + TimLabel(t->tims, t->timCode) +
                     Format(", %u user block%s", count, count == 1 ? "" : "s"));
    std::vector<uint32_t> indices;
    if (options.verifyIndex) {
        indices.push_back(*options.verifyIndex);
    } else {
        for (uint32_t i = 0; i < count; ++i) indices.push_back(i);
    }
    if (indices.empty())
        throw Failure("nothing to verify: the flash holds no user blocks");
    int failures = 0;
    for (uint32_t index : indices) {
        BlockHeader h{};
        UserBlockRecord record{};
        Guard(Format("reading user block %u", index),
              [&] { flash->GetUserBlock(index, &h, &record); });
        const std::string file = options.verifyFile.empty()
                                     ? Text(record.fileName, sizeof(record.fileName))
                                     : Absolute(options.verifyFile);
        Json result = {{"index", index}, {"file", file}};
        try {
            Guard(Format("verifying user block %u against %s", index, file.c_str()),
                  [&] { flash->VerifyUserBlock(index, file.c_str()); });
            result["outcome"] = "matches";
            if (!options.json)
                display.Line(Format("user block %u: matches %s", index, file.c_str()));
        } catch (const EngineError& e) {
            ++failures;
            // A file that cannot be opened leaves the question open; any
            // other failure (contents, format) means the block is not the file's.
            const bool differs = !IsFileOpenError(e.code);
            result["outcome"] = differs ? "differs" : "error";
            result["error"] = {{"code", e.code}, {"message", e.message}, {"detail", e.detail}};
            std::fflush(stdout);
            std::fprintf(stderr, "qel-flash: %s failed\n%s", e.what(),
                         DescribeEngineError(e).c_str());
            if (!options.json)
                display.Line(differs ? Format("user block %u: DIFFERS from %s", index, file.c_str())
                                     : Format("user block %u: not verified: %s (%s)", index,
                                              file.c_str(), e.message.c_str()));
        }
        results.push_back(std::move(result));
    }
    if (options.json) {
        display.Line(Json{
            {"board", t->where.board},
            {"processor", t->where.processor},
            {"tim", {{"name", t->tims.NameOf(t->timCode)}, {"code", t->timCode}}},
            {"blocks", std::move(results)},
            {"failed",
             failures}}.dump(2));
        return failures ? kExitFailed : kExitDone;
    }
    if (failures) {
        display.Line(Format("%d of %zu user block%s failed verification.", failures, indices.size(),
                            indices.size() == 1 ? "" : "s"));
        return kExitFailed;
    }
    return kExitDone;
}

}  // namespace qel::programmer
