#include "BenchHost.h"

#include "firmware/images/BootFileBuilder.h"
#include "firmware/images/CoffBuilder.h"
#include "firmware/images/ProgrammerBuilder.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace ccs_test {

using namespace qel::bench;

namespace {

void Expect(HResult r, const char* what) {
    if (Failed(r))
        throw std::runtime_error(std::string(what) + " failed");
}

bool FileExists(const std::string& path) {
    return std::ifstream(path).good();
}

}  // namespace

BenchHost::BenchHost(const std::string& stateFolder, const std::string& description) {
    BenchOptions options;
    options.stateFolder = stateFolder;
    options.descriptionText = description;
    IApplication* raw = nullptr;
    const HResult created = QelBenchCreate(options, &raw);
    if (created == kClassNotRegistered)
        throw BenchUnavailable("no bench server in this build");
    Expect(created, "QelBenchCreate");
    app = CCApplication(raw, false);
    Expect(raw->QueryInterface(IBenchControl::kIid, reinterpret_cast<void**>(&control_)),
           "IBenchControl");
    boards = app.GetDspBoards();
    board = boards.Item(0);
    tasks = board.GetDspTasks();
}

BenchHost::~BenchHost() {
    if (control_ != nullptr)
        control_->Release();
}

int BenchHost::ProcessorIndex(const std::string& name) {
    for (int i = 0; i < tasks.Count(); ++i) {
        if (tasks.Item(i).GetName() == name)
            return i;
    }
    throw std::runtime_error("no processor " + name);
}

CCDspUser BenchHost::User(int processor) {
    return tasks.Item(processor).GetDspUser();
}

const TimFiles& Qt6201() {
    static const TimFiles tim{"fp_qt6201.out", 0x11, 0x0, 0x800};
    return tim;
}

const TimFiles& Qt6403() {
    static const TimFiles tim{"fp_qt6403.out", 0x21, 0x0, 0x800};
    return tim;
}

ProgrammerHost::ProgrammerHost(BenchHost& benchHost, int processorIndex, const TimFiles& timFiles,
                               std::string tempFolder, Buffers bufferPlan)
    : bench(benchHost),
      processor(processorIndex),
      tim(timFiles),
      buffers(bufferPlan),
      user(benchHost.User(processorIndex)) {
    user.SetOwner(this);
    // The build's programmer when there is one, else one made here.
    programmerPath_ = std::string("firmware/programmers/") + tim.programmerName;
    if (!FileExists(programmerPath_)) {
        programmerPath_ = tempFolder + "/" + tim.programmerName;
        qel::firmware::ProgrammerSpec layout;
        layout.base = tim.base;
        layout.commandBlockAddress = tim.commandBlock;
        layout.timType = tim.timType;
        qel::firmware::MakeProgrammer(layout).WriteTo(programmerPath_);
    }
    fdbPath_ = tempFolder + "/fdb.out";
    qel::firmware::CoffBuilder fdb;
    fdb.AddSection(".fdb", tim.base, qel::firmware::MakeFdbPayload(tim.timType), 0x40);
    fdb.SetEntryPoint(tim.base);
    fdb.WriteTo(fdbPath_);
}

ProgrammerHost::~ProgrammerHost() {
    user.Abort();
}

uint32_t ProgrammerHost::LoadProgrammer() {
    if (user.GetExecState() == CCS_EXEC_RUNNING)
        user.Halt();
    user.Load(fdbPath_.c_str());
    user.Load(programmerPath_.c_str());
    words_.clear();
    values_.clear();
    for (int i = 0; i < 12; ++i) {
        CCDspAddr address(user, tim.commandBlock + 4 * uint32_t(i));
        values_.emplace_back(user, CCS_TYPE_DATA32, 0);
        words_.emplace_back(user, address, 4);
    }
    user.Run();
    return Command(1, {tim.base, tim.base, buffers.transfer, buffers.transferSize, buffers.sector,
                       buffers.save, buffers.saveSize});
}

uint32_t ProgrammerHost::Word(int index) {
    user.ReadMem(words_.at(index));
    return words_[index].GetWord(0);
}

void ProgrammerHost::SetWord(int index, uint32_t value) {
    values_.at(index).SetValue(value);
    words_.at(index).SetValue(values_[index], 0);
    user.WriteMem(words_[index]);
}

void ProgrammerHost::StartCommand(uint32_t code, std::initializer_list<uint32_t> args) {
    SetWord(kWordControl, 1);
    if (Word(kWordStatus) != kStatusReady)
        throw std::runtime_error("programmer not ready");
    int i = 1;
    for (uint32_t arg : args) SetWord(i++, arg);
    SetWord(kWordCode, code);
    SetWord(kWordControl, 2);
}

uint32_t ProgrammerHost::Command(uint32_t code, std::initializer_list<uint32_t> args) {
    StartCommand(code, args);
    // The model says when it is done; the host then reads what a poll would.
    Expect(bench.Control().WaitProgrammerIdle(0, processor), "WaitProgrammerIdle");
    if (Word(kWordStatus) != kStatusComplete)
        throw std::runtime_error("command not complete");
    return Word(kWordResult);
}

std::vector<uint8_t> WordsOf(const CCDspMemory& memory, uint32_t length) {
    std::vector<uint8_t> out(length);
    for (uint32_t offset = 0; offset < length; offset += 4) {
        const uint32_t word = memory.GetWord(offset);
        std::memcpy(out.data() + offset, &word, std::min<uint32_t>(4, length - offset));
    }
    return out;
}

void ProgrammerHost::WriteTarget(uint32_t address, const std::vector<uint8_t>& bytes,
                                 uint32_t piece) {
    for (uint32_t done = 0; done < bytes.size();) {
        const uint32_t n = std::min<uint32_t>(piece, uint32_t(bytes.size()) - done);
        CCDspMemory memory(user, CCDspAddr(user, address + done), n);
        memory.WriteBytes(0, bytes.data() + done, n);
        user.WriteMem(memory);
        done += n;
    }
}

std::vector<uint8_t> ProgrammerHost::ReadTarget(uint32_t address, uint32_t length, uint32_t piece) {
    std::vector<uint8_t> out;
    out.reserve(length);
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min(piece, length - done);
        CCDspMemory memory(user, CCDspAddr(user, address + done), n);
        user.ReadMem(memory);
        const std::vector<uint8_t> bytes = WordsOf(memory, n);
        out.insert(out.end(), bytes.begin(), bytes.end());
        done += n;
    }
    return out;
}

uint32_t ProgrammerHost::Program(const std::vector<Record>& records) {
    Stage(records);
    return Command(4);
}

void ProgrammerHost::Stage(const std::vector<Record>& records) {
    std::vector<uint8_t> staged;
    for (const Record& r : records) {
        for (uint32_t field : {r.source, r.offset, uint32_t(r.data.size())}) {
            for (int b = 0; b < 4; ++b) staged.push_back(uint8_t(field >> (8 * b)));
        }
        if (r.source == 0)
            staged.insert(staged.end(), r.data.begin(), r.data.end());
    }
    staged.resize(staged.size() + 12, 0);
    WriteTarget(buffers.transfer, staged);
}

std::vector<uint8_t> ProgrammerHost::ReadFlash(uint32_t offset, uint32_t length) {
    std::vector<uint8_t> out;
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min<uint32_t>(32768, length - done);
        if (Command(2, {offset + done, n}) != 0)
            throw std::runtime_error("flash read failed");
        // Target memory moves in whole words.
        const std::vector<uint8_t> piece = ReadTarget(buffers.transfer, (n + 3) & ~3u);
        out.insert(out.end(), piece.begin(), piece.begin() + n);
        done += n;
    }
    return out;
}

std::vector<uint8_t> Pattern(uint32_t length, uint32_t seed) {
    std::vector<uint8_t> out(length);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return out;
}

}  // namespace ccs_test
