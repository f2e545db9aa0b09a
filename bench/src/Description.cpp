#include "Description.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>

namespace qel::bench {

Timing RealisticTiming() {
    Timing t;
    t.bandwidth = 2 * 1024 * 1024;  // an emulator link
    t.latencyUs = 500;
    t.eraseMs = 250;
    t.programNsPerByte = 2000;
    return t;
}

namespace {

struct FaultNameEntry {
    Fault fault;
    const char* name;
};
constexpr FaultNameEntry kFaultNames[] = {
    {Fault::FailMemory, "fail-memory"},
    {Fault::FailLoad, "fail-load"},
    {Fault::RestartFailure, "restart-failure"},
    {Fault::UnrequestedHalt, "unrequested-halt"},
    {Fault::UnrequestedReset, "unrequested-reset"},
    {Fault::UnrequestedAddress, "unrequested-address"},
    {Fault::MissingEvents, "missing-events"},
    {Fault::RefuseRequest, "refuse"},
    {Fault::ProgrammerHang, "programmer-hang"},
    {Fault::PowerCut, "power-cut"},
    {Fault::ProgressLockstep, "progress-lockstep"},
};

// Splits a line into words; "double quoted" words may hold spaces. A '#'
// outside quotes ends the line.
bool SplitWords(std::string_view line, std::vector<std::string>& words, std::string& error) {
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '#')
            break;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        std::string word;
        bool quoted = false;
        while (i < line.size()) {
            const char d = line[i];
            if (d == '"') {
                quoted = !quoted;
                ++i;
                continue;
            }
            if (!quoted && (std::isspace(static_cast<unsigned char>(d)) || d == '#'))
                break;
            word += d;
            ++i;
        }
        if (quoted) {
            error = "unterminated quote";
            return false;
        }
        words.push_back(std::move(word));
    }
    return true;
}

std::optional<uint64_t> ParseNumber(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    uint64_t scale = 1;
    const char last = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!hex && (last == 'K' || last == 'M')) {
        scale = last == 'K' ? 1024 : 1024 * 1024;
        text.remove_suffix(1);
    }
    std::string s(text);
    if (s.empty() || s[0] == '-' || s[0] == '+')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno != 0 || end == s.c_str() || *end != '\0')
        return std::nullopt;
    if (v > UINT64_MAX / scale)
        return std::nullopt;
    return v * scale;
}

std::optional<uint32_t> ParseU32(std::string_view text) {
    auto v = ParseNumber(text);
    if (!v || *v > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<uint32_t>(*v);
}

std::string SafeFilePart(const std::string& s) {
    std::string out;
    for (char c : s)
        out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return out;
}

class Parser {
  public:
    std::optional<BenchDesc> Run(std::string_view text, std::string& error) {
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t nl = text.find('\n', pos);
            if (nl == std::string_view::npos)
                nl = text.size();
            std::string_view line = text.substr(pos, nl - pos);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            ++line_;
            std::vector<std::string> words;
            std::string why;
            if (!SplitWords(line, words, why) || (!words.empty() && !Statement(words, why))) {
                error = "line " + std::to_string(line_) + ": " + why;
                return std::nullopt;
            }
            pos = nl + 1;
        }
        std::string why;
        if (!Finish(why)) {
            error = why;
            return std::nullopt;
        }
        return std::move(desc_);
    }

  private:
    using Keys = std::map<std::string, std::string>;

    static bool SplitKeys(const std::vector<std::string>& words, size_t first, Keys& keys,
                          std::string& why) {
        for (size_t i = first; i < words.size(); ++i) {
            const size_t eq = words[i].find('=');
            if (eq == std::string::npos || eq == 0) {
                why = "expected key=value, found '" + words[i] + "'";
                return false;
            }
            keys[words[i].substr(0, eq)] = words[i].substr(eq + 1);
        }
        return true;
    }

    static bool TakeU32(Keys& keys, const char* key, uint32_t& out, std::string& why,
                        bool required) {
        auto it = keys.find(key);
        if (it == keys.end()) {
            if (required)
                why = std::string("missing ") + key + "=";
            return !required;
        }
        auto v = ParseU32(it->second);
        if (!v) {
            why = std::string("bad number for ") + key + ": '" + it->second + "'";
            return false;
        }
        out = *v;
        keys.erase(it);
        return true;
    }

    static bool NoneLeft(const Keys& keys, std::string& why) {
        if (keys.empty())
            return true;
        why = "unknown key '" + keys.begin()->first + "'";
        return false;
    }

    bool ParseTiming(const std::vector<std::string>& w, Timing& t, std::string& why) {
        if (w.size() == 2 && w[1] == "off") {
            t = Timing{};
            return true;
        }
        if (w.size() == 2 && w[1] == "realistic") {
            t = RealisticTiming();
            return true;
        }
        Keys keys;
        if (!SplitKeys(w, 1, keys, why))
            return false;
        Timing n;
        uint32_t bw = 0;
        if (!TakeU32(keys, "bandwidth", bw, why, false) ||
            !TakeU32(keys, "latency", n.latencyUs, why, false) ||
            !TakeU32(keys, "erase", n.eraseMs, why, false) ||
            !TakeU32(keys, "program", n.programNsPerByte, why, false) || !NoneLeft(keys, why))
            return false;
        n.bandwidth = bw;
        t = n;
        return true;
    }

    bool Statement(const std::vector<std::string>& w, std::string& why) {
        const std::string& kw = w[0];
        if (kw == "bench") {
            if (w.size() != 2)
                return Fail(why, "bench NAME");
            desc_.name = w[1];
            return true;
        }
        if (kw == "timing") {
            if (w.size() < 2)
                return Fail(why, "timing off|realistic|key=value ...");
            if (module_)
                return ParseTiming(w, module_->timing, why);
            if (!desc_.boards.empty())
                return Fail(why,
                            "timing belongs before the first board "
                            "or inside a module");
            return ParseTiming(w, defaultTiming_, why);
        }
        if (kw == "board") {
            if (w.size() != 2)
                return Fail(why, "board NAME");
            desc_.boards.push_back(BoardDesc{w[1], {}});
            module_ = nullptr;
            processor_ = nullptr;
            return true;
        }
        if (kw == "module") {
            if (desc_.boards.empty())
                return Fail(why, "module outside a board");
            if (w.size() < 2)
                return Fail(why, "module NAME tim=TIM [type=CODE] [image=FILE]");
            Keys keys;
            if (!SplitKeys(w, 2, keys, why))
                return false;
            ModuleDesc m;
            m.name = w[1];
            m.timing = defaultTiming_;
            if (keys.count("tim")) {
                m.tim = keys["tim"];
                keys.erase("tim");
            }
            if (keys.count("image")) {
                m.image = keys["image"];
                keys.erase("image");
                if (!ImageNameAllowed(m.image))
                    return Fail(why,
                                "image must be a plain file name inside the state folder "
                                "(no folder, no '..', no absolute path): '" +
                                    m.image + "'");
            }
            if (!TakeU32(keys, "type", m.timType, why, false) || !NoneLeft(keys, why))
                return false;
            auto& board = desc_.boards.back();
            if (m.image.empty())
                m.image = "board" + std::to_string(desc_.boards.size() - 1) + "-module" +
                          std::to_string(board.modules.size()) + "-" +
                          SafeFilePart(m.tim.empty() ? m.name : m.tim) + ".img";
            board.modules.push_back(std::move(m));
            module_ = &board.modules.back();
            processor_ = nullptr;
            haveFlash_ = false;
            return true;
        }
        if (kw == "flash") {
            if (!module_)
                return Fail(why, "flash outside a module");
            Keys keys;
            if (!SplitKeys(w, 1, keys, why))
                return false;
            std::string boot = "copy";
            if (keys.count("boot")) {
                boot = keys["boot"];
                keys.erase("boot");
            }
            if (boot == "copy")
                module_->boot = Boot::Copy;
            else if (boot == "mapped")
                module_->boot = Boot::Mapped;
            else
                return Fail(why, "boot must be copy or mapped");
            if (!TakeU32(keys, "size", module_->flashSize, why, true) ||
                !TakeU32(keys, "sector", module_->sectorSize, why, true) ||
                !TakeU32(keys, "address", module_->flashAddress, why, true) ||
                !TakeU32(keys, "copy", module_->bootCopySize, why, false) || !NoneLeft(keys, why))
                return false;
            const uint32_t s = module_->sectorSize;
            if (s == 0 || (s & (s - 1)) != 0)
                return Fail(why, "sector size must be a power of two");
            if (module_->flashSize == 0 || module_->flashSize % s != 0)
                return Fail(why, "flash size must be a non-zero multiple of the sector size");
            if (uint64_t{module_->flashAddress} + module_->flashSize > 0x100000000ull)
                return Fail(why, "flash does not fit in the address space");
            haveFlash_ = true;
            return true;
        }
        if (kw == "processor") {
            if (!module_)
                return Fail(why, "processor outside a module");
            if (w.size() < 3)
                return Fail(why, "processor NAME id=WORD | family= subfamily= revision=");
            Keys keys;
            if (!SplitKeys(w, 2, keys, why))
                return false;
            ProcessorDesc p;
            p.name = w[1];
            p.flashAccess = module_->processors.empty();
            if (keys.count("flash")) {
                const std::string f = keys["flash"];
                keys.erase("flash");
                if (f == "yes")
                    p.flashAccess = true;
                else if (f == "no")
                    p.flashAccess = false;
                else
                    return Fail(why, "flash must be yes or no");
            }
            if (keys.count("id")) {
                if (!TakeU32(keys, "id", p.id, why, true))
                    return false;
            } else {
                uint32_t fam = 0, sub = 0, rev = 0;
                if (!TakeU32(keys, "family", fam, why, true) ||
                    !TakeU32(keys, "subfamily", sub, why, true) ||
                    !TakeU32(keys, "revision", rev, why, true))
                    return false;
                if (fam > 0x3FF || sub > 0xFFF || rev > 0x7F)
                    return Fail(why, "family, subfamily or revision out of range");
                p.id = MakeProcessorId(fam, sub, rev);
            }
            if (!NoneLeft(keys, why))
                return false;
            module_->processors.push_back(std::move(p));
            processor_ = &module_->processors.back();
            return true;
        }
        if (kw == "memory") {
            if (!processor_)
                return Fail(why, "memory outside a processor");
            if (w.size() != 4)
                return Fail(why, "memory START SIZE NAME");
            auto start = ParseU32(w[1]);
            auto size = ParseU32(w[2]);
            if (!start || !size || *size == 0)
                return Fail(why, "bad memory start or size");
            Region r{*start, *size, w[3]};
            if (r.End() > 0x100000000ull)
                return Fail(why, "region does not fit in the address space");
            processor_->regions.push_back(r);
            return true;
        }
        if (kw == "fault") {
            if (!processor_)
                return Fail(why, "fault outside a processor");
            if (w.size() < 2 || w.size() > 3)
                return Fail(why, "fault KIND [COUNT]");
            auto f = FaultFromName(w[1]);
            if (!f)
                return Fail(why, "unknown fault '" + w[1] + "'");
            uint32_t count = 1;
            if (w.size() == 3) {
                auto c = ParseU32(w[2]);
                if (!c)
                    return Fail(why, "bad fault count");
                count = *c;
            }
            if (const std::string problem = FaultCountProblem(*f, count); !problem.empty())
                return Fail(why, problem);
            processor_->faults.push_back({*f, count});
            return true;
        }
        return Fail(why, "unknown statement '" + kw + "'");
    }

    static bool Fail(std::string& why, const std::string& text) {
        why = text;
        return false;
    }

    bool Finish(std::string& why) {
        if (desc_.boards.empty())
            return Fail(why, "the bench has no board");
        for (auto& b : desc_.boards) {
            if (b.modules.empty())
                return Fail(why, "board '" + b.name + "' has no module");
            for (auto& m : b.modules) {
                const std::string where = "module '" + m.name + "' on board '" + b.name + "'";
                if (m.flashSize == 0)
                    return Fail(why, where + " has no flash");
                if (m.processors.empty())
                    return Fail(why, where + " has no processor");
                for (auto& p : m.processors) {
                    if (p.regions.empty())
                        return Fail(why,
                                    "processor '" + p.name + "' of " + where + " has no memory");
                    std::vector<Region> all = p.regions;
                    if (p.flashAccess || m.boot == Boot::Mapped)
                        all.push_back({m.flashAddress, m.flashSize, "FLASH"});
                    std::sort(all.begin(), all.end(),
                              [](const Region& a, const Region& c) { return a.start < c.start; });
                    for (size_t i = 1; i < all.size(); ++i)
                        if (all[i - 1].End() > all[i].start)
                            return Fail(why, "processor '" + p.name + "' of " + where + ": " +
                                                 all[i - 1].name + " overlaps " + all[i].name);
                }
            }
        }
        return true;
    }

    BenchDesc desc_;
    Timing defaultTiming_;
    ModuleDesc* module_ = nullptr;
    ProcessorDesc* processor_ = nullptr;
    bool haveFlash_ = false;
    int line_ = 0;
};

}  // namespace

std::optional<BenchDesc> ParseDescription(std::string_view text, std::string& error) {
    Parser p;
    return p.Run(text, error);
}

const char* FaultName(Fault fault) {
    for (const auto& e : kFaultNames)
        if (e.fault == fault)
            return e.name;
    return "?";
}

std::optional<Fault> FaultFromName(std::string_view name) {
    for (const auto& e : kFaultNames)
        if (name == e.name)
            return e.fault;
    return std::nullopt;
}

bool ImageNameAllowed(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string FaultCountProblem(Fault fault, uint32_t count) {
    const std::string kind = FaultName(fault);
    if (fault == Fault::MissingEvents) {
        if (count > 13 || count == 8)
            return kind +
                   " takes an interface number 1 to 13 but not 8 (0 offers all again), not " +
                   std::to_string(count);
        return {};
    }
    if (count > kMaxFaultCount)
        return kind + " takes a count from 0 to " + std::to_string(kMaxFaultCount) + ", not " +
               std::to_string(count);
    return {};
}

void OverrideTiming(BenchDesc& desc, const Timing& timing) {
    for (auto& b : desc.boards)
        for (auto& m : b.modules) m.timing = timing;
}

}  // namespace qel::bench
