#include "EngineBench.h"

#include "platform/SettingsHive.h"
#include "tests/fixtures/ImageBuilders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace qel::e2e {

int NoticeLog::Callback(int kind, int a, intptr_t b, uintptr_t context) {
    auto* log = reinterpret_cast<NoticeLog*>(context);
    std::lock_guard<std::mutex> guard(log->mutex_);
    Notice notice{kind, a, b, {}};
    // Texts live for the call only: status texts and the file of question 2.
    if (((kind == 2 && a == 0) || (kind == 3 && a == 2)) && b) {
        notice.text = reinterpret_cast<const char*>(b);
    }
    log->notices_.push_back(notice);
    if (kind == 0) {
        ++log->finished_;
        log->lastResult_ = a;
        log->changed_.notify_all();
    }
    return kind == 3 ? log->answer_.load() : 0;
}

int NoticeLog::WaitFinished() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return finished_ > 0; });
    --finished_;
    return lastResult_;
}

std::vector<NoticeLog::Notice> NoticeLog::Take() {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::exchange(notices_, {});
}

std::vector<NoticeLog::Notice> NoticeLog::OfKind(const std::vector<Notice>& notices, int kind) {
    std::vector<Notice> out;
    for (const Notice& n : notices) {
        if (n.kind == kind)
            out.push_back(n);
    }
    return out;
}

std::vector<std::string> NoticeLog::Texts(const std::vector<Notice>& notices) {
    std::vector<std::string> out;
    for (const Notice& n : notices) {
        if (n.kind == 2 && n.a == 0)
            out.push_back(n.text);
    }
    return out;
}

bool NoticeLog::HasText(const std::vector<Notice>& notices, const std::string& text) {
    for (const std::string& t : Texts(notices)) {
        if (t == text)
            return true;
    }
    return false;
}

uint32_t Crc32(const uint8_t* data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

ImageChain WalkImage(const std::vector<uint8_t>& image) {
    auto word = [&](uint64_t at) {
        uint32_t v = 0xFFFFFFFFu;
        if (at + 4 <= image.size())
            memcpy(&v, image.data() + at, 4);
        return v;
    };
    ImageChain chain;
    if (word(20) != 0x19283746u)
        return chain;
    chain.hasInit = true;
    chain.initSize = word(16);
    uint64_t offset = chain.initSize;
    while (offset + sizeof(BlockHeader) <= image.size() && chain.blocks.size() < 4096) {
        ImageBlock block;
        block.offset = static_cast<uint32_t>(offset);
        memcpy(&block.header, image.data() + offset, sizeof(BlockHeader));
        const BlockHeader& h = block.header;
        if (h.signature != BLOCK_SIGNATURE || h.totalSize < h.dataOffset ||
            h.dataOffset < sizeof(BlockHeader)) {
            break;
        }
        const uint64_t payload = offset + h.dataOffset;
        block.payloadIntact = payload + h.dataLength <= image.size() &&
                              Crc32(image.data() + payload, h.dataLength) == h.crc;
        chain.blocks.push_back(block);
        if ((h.type & 0xFFFF) == 0xFFFF) {
            chain.terminated = true;
            break;
        }
        offset += h.totalSize;
    }
    return chain;
}

EngineBench::EngineBench(const std::string& benchDescription) {
    unsetenv("QEL4410_TIMDATA");
    setenv("QEL4410_REGISTRY", temp_.File("registry").c_str(), 1);
    setenv("QEL4410_BENCH_STATE", temp_.File("bench").c_str(), 1);
    if (benchDescription.empty()) {
        unsetenv("QEL4410_BENCH");
    } else {
        setenv("QEL4410_BENCH",
               temp_.Write("bench.txt", {benchDescription.begin(), benchDescription.end()}).c_str(),
               1);
    }
    unsetenv("QEL4410_BENCH_TIMING");
    auto key = qel::platform::SettingsKey::Open(qel::platform::Hive::LocalMachine,
                                                "SOFTWARE\\Halvern\\QEL4410\\Telmar",
                                                qel::platform::KeyAccess::ReadWrite);
    if (!key)
        throw std::runtime_error("cannot write the engine's settings");
    const std::string firmware = qel::platform::DynamicLibrary::ExecutableFolder() + "/firmware";
    key->SetString("BootloaderPath", firmware + "/bootloaders");
    key->SetString("BitstreamPath", firmware + "/bitstreams");
    key->SetString("FprogPath", firmware + "/programmers");

    if (!library_.Load("Telmar.dll"))
        throw std::runtime_error(library_.LastError());
    open_ = reinterpret_cast<TelmarOpenFn>(library_.Symbol("TelmarOpen"));
    close_ = reinterpret_cast<TelmarCloseFn>(library_.Symbol("TelmarClose"));
    poll_ = reinterpret_cast<void (*)(uint32_t, uint32_t)>(
        library_.Symbol("TelmarSetPollIntervalsForTests"));
    if (!open_ || !close_ || !poll_)
        throw std::runtime_error("libTelmar.so lacks an entry point");
    poll_(0, 0);
}

void EngineBench::SetPollIntervals(uint32_t baseMs, uint32_t extraMs) {
    poll_(baseMs, extraMs);
}

EngineBench::~EngineBench() {
    Close();
    poll_(0, 0);
}

void EngineBench::StateCallback(void* context, int state) {
    auto* self = static_cast<EngineBench*>(context);
    std::lock_guard<std::mutex> guard(self->stateMutex_);
    self->state_ = state;
    self->stateChanged_.notify_all();
}

IFSystem* EngineBench::Open() {
    Close();
    {
        std::lock_guard<std::mutex> guard(stateMutex_);
        state_ = -1;
    }
    system_ = open_(&EngineBench::StateCallback, this, 0);
    if (!system_)
        throw std::runtime_error("TelmarOpen gave null");
    system_->Connect();
    std::unique_lock<std::mutex> lock(stateMutex_);
    stateChanged_.wait(lock, [&] { return state_ == 2 || state_ == 0; });
    if (state_ != 2)
        throw std::runtime_error("the engine could not connect to the bench");
    return system_;
}

IFSystem* EngineBench::OpenAnother() {
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        int state = -1;
    };
    static State another;
    {
        std::lock_guard<std::mutex> guard(another.mutex);
        another.state = -1;
    }
    IFSystem* system = open_(
        [](void* context, int state) {
            auto* s = static_cast<State*>(context);
            std::lock_guard<std::mutex> guard(s->mutex);
            s->state = state;
            s->changed.notify_all();
        },
        &another, 0);
    if (!system)
        throw std::runtime_error("TelmarOpen gave null");
    system->Connect();
    std::unique_lock<std::mutex> lock(another.mutex);
    another.changed.wait(lock, [&] { return another.state == 2 || another.state == 0; });
    if (another.state != 2)
        throw std::runtime_error("the second engine could not connect to the bench");
    return system;
}

void EngineBench::Close() {
    if (control_) {
        control_->Release();
        control_ = nullptr;
    }
    if (system_) {
        close_(system_);
        system_ = nullptr;
    }
}

IFFlash* EngineBench::Flash(int board, int processor) {
    if (!system_)
        Open();
    return system_->GetFlash(board, processor);
}

qel::bench::IBenchControl* EngineBench::Control() {
    if (control_)
        return control_;
    qel::bench::IUnknown* application = nullptr;
    if (qel::bench::QelBenchGetActiveObject(qel::bench::kClsidApplication, &application) !=
        qel::bench::kOk) {
        throw std::runtime_error("no bench server runs");
    }
    void* control = nullptr;
    application->QueryInterface(qel::bench::IBenchControl::kIid, &control);
    application->Release();
    control_ = static_cast<qel::bench::IBenchControl*>(control);
    if (!control_)
        throw std::runtime_error("the bench has no control interface");
    return control_;
}

void EngineBench::SetSetting(const std::string& name, const std::string& value) {
    auto key = qel::platform::SettingsKey::Open(qel::platform::Hive::LocalMachine,
                                                "SOFTWARE\\Halvern\\QEL4410\\Telmar",
                                                qel::platform::KeyAccess::ReadWrite);
    if (!key || key->SetString(name, value) != 0) {
        throw std::runtime_error("cannot write the engine's setting " + name);
    }
}

std::string EngineBench::ShippedTimDescription(const std::string& fileName) {
    std::ifstream in(qel::platform::DynamicLibrary::ExecutableFolder() + "/timdata/" + fileName);
    if (!in)
        throw std::runtime_error("no shipped TIM description " + fileName);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void EngineBench::AddTimDescription(const std::string& fileName, const std::string& text) {
    namespace fs = std::filesystem;
    const fs::path folder = temp_.File("timdata");
    if (!fs::exists(folder)) {
        fs::create_directories(folder);
        const fs::path shipped = qel::platform::DynamicLibrary::ExecutableFolder() + "/timdata";
        for (const auto& entry : fs::directory_iterator(shipped)) {
            if (entry.path().extension() == ".tim") {
                fs::copy_file(entry.path(), folder / entry.path().filename());
            }
        }
        setenv("QEL4410_TIMDATA", folder.c_str(), 1);
    }
    temp_.Write("timdata/" + fileName, {text.begin(), text.end()});
}

void EngineBench::FailWorkerInitialisation(bool fail) {
    auto hook =
        reinterpret_cast<void (*)(int)>(library_.Symbol("TelmarFailWorkerInitialisationForTests"));
    if (!hook)
        throw std::runtime_error("libTelmar.so lacks its worker test entry point");
    hook(fail ? 1 : 0);
}

int EngineBench::Run(IFFlash* flash, NoticeLog& log, const std::function<int()>& trigger) {
    flash->SetCallback(&NoticeLog::Callback, reinterpret_cast<uintptr_t>(&log));
    const int triggered = trigger();
    const int result = triggered == -1 ? log.WaitFinished() : -100 - triggered;
    flash->SetCallback(nullptr, 0);
    return result;
}

void EngineBench::ConnectAndSelect(IFFlash* flash, const char* tim) {
    ASSERT_EQ(flash->Connect(), 0) << Describe(flash->GetLastError());
    uint32_t detail = 99;
    ASSERT_EQ(flash->SelectTimType(tim, &detail), 0) << Describe(flash->GetLastError());
    ASSERT_EQ(detail, 0u);
}

std::string EngineBench::Firmware(const std::string& kind, const std::string& file) const {
    return qel::platform::DynamicLibrary::ExecutableFolder() + "/firmware/" + kind + "/" + file;
}

std::string EngineBench::WriteExecutable(const std::string& name, uint32_t address, size_t bytes,
                                         uint8_t seed) const {
    std::vector<uint8_t> code(bytes);
    for (size_t i = 0; i < bytes; ++i) code[i] = static_cast<uint8_t>(seed + i * 7);
    qel::fixtures::CoffBuilder coff;
    coff.SetEntryPoint(address).AddSection(".text", address, code, 0x20);
    const std::string path = temp_.File(name);
    coff.WriteTo(path);
    return path;
}

std::string EngineBench::WriteData(const std::string& name, size_t bytes, uint8_t seed) const {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(seed ^ (i * 13));
    return temp_.Write(name, data);
}

std::vector<uint8_t> EngineBench::FlashImage(int board, int processor) {
    std::string path;
    Control()->GetFlashImagePath(board, processor, &path);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Describe(const CFlashExc* error) {
    if (!error)
        return "(no error record)";
    char text[512];
    snprintf(text, sizeof(text), "error 0x%X \"%s\" detail \"%s\" in %s line %u", error->code,
             error->GetMessage(), error->detail, error->source, error->line);
    return text;
}

std::vector<ChainEntry> ReadChain(IFFlash* flash) {
    uint32_t count = 0;
    flash->GetBlockCount(&count);
    std::vector<ChainEntry> chain(count);
    for (uint32_t i = 0; i < count; ++i) {
        chain[i].extra.assign(2048, 0);
        flash->GetBlock(i, &chain[i].header, chain[i].extra.data(), 2048);
    }
    return chain;
}

UserBlockRecord UserRecord(const std::string& file, bool bootable) {
    UserBlockRecord r{};
    r.bootable = bootable;
    strncpy(r.fileName, file.c_str(), sizeof(r.fileName) - 1);
    return r;
}

uint32_t ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const CFlashExc& e) {
        return e.code;
    }
    return 0;
}

}  // namespace qel::e2e
