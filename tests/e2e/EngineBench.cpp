#include "EngineBench.h"

#include "tests/fixtures/ImageBuilders.h"
#include "platform/SettingsHive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace qel::e2e {

int NoticeLog::Callback(int kind, int a, intptr_t b, uintptr_t context) {
    auto* log = reinterpret_cast<NoticeLog*>(context);
    std::lock_guard<std::mutex> guard(log->mutex_);
    Notice notice{kind, a, b, {}};
    if (kind == 2 && a == 0 && b) notice.text = reinterpret_cast<const char*>(b);
    log->notices_.push_back(notice);
    if (kind == 0) {
        ++log->finished_;
        log->lastResult_ = a;
        log->changed_.notify_all();
    }
    return kind == 3 ? log->answer_ : 0;
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

EngineBench::EngineBench(const std::string& benchDescription) {
    setenv("QEL4410_REGISTRY", temp_.File("registry").c_str(), 1);
    setenv("QEL4410_BENCH_STATE", temp_.File("bench").c_str(), 1);
    if (benchDescription.empty()) {
        unsetenv("QEL4410_BENCH");
    } else {
        setenv("QEL4410_BENCH", temp_.Write("bench.txt", {benchDescription.begin(),
                                                         benchDescription.end()})
                                    .c_str(),
               1);
    }
    unsetenv("QEL4410_BENCH_TIMING");
    auto key = qel::platform::SettingsKey::Open(qel::platform::Hive::LocalMachine,
                                                "SOFTWARE\\Halvern\\QEL4410\\Telmar",
                                                qel::platform::KeyAccess::ReadWrite);
    if (!key) throw std::runtime_error("cannot write the engine's settings");
    const std::string firmware = qel::platform::DynamicLibrary::ExecutableFolder() + "/firmware";
    key->SetString("BootloaderPath", firmware + "/bootloaders");
    key->SetString("BitstreamPath", firmware + "/bitstreams");
    key->SetString("FprogPath", firmware + "/programmers");

    if (!library_.Load("Telmar.dll")) throw std::runtime_error(library_.LastError());
    open_ = reinterpret_cast<TelmarOpenFn>(library_.Symbol("TelmarOpen"));
    close_ = reinterpret_cast<TelmarCloseFn>(library_.Symbol("TelmarClose"));
    auto poll = reinterpret_cast<void (*)(uint32_t, uint32_t)>(
        library_.Symbol("TelmarSetPollIntervalsForTests"));
    if (!open_ || !close_ || !poll) throw std::runtime_error("libTelmar.so lacks an entry point");
    poll(0, 0);
}

EngineBench::~EngineBench() { Close(); }

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
    if (!system_) throw std::runtime_error("TelmarOpen gave null");
    system_->Connect();
    std::unique_lock<std::mutex> lock(stateMutex_);
    stateChanged_.wait(lock, [&] { return state_ == 2 || state_ == 0; });
    if (state_ != 2) throw std::runtime_error("the engine could not connect to the bench");
    return system_;
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
    if (!system_) Open();
    return system_->GetFlash(board, processor);
}

qel::bench::IBenchControl* EngineBench::Control() {
    if (control_) return control_;
    qel::bench::IUnknown* application = nullptr;
    if (qel::bench::QelBenchGetActiveObject(qel::bench::kClsidApplication, &application) !=
        qel::bench::kOk) {
        throw std::runtime_error("no bench server runs");
    }
    void* control = nullptr;
    application->QueryInterface(qel::bench::IBenchControl::kIid, &control);
    application->Release();
    control_ = static_cast<qel::bench::IBenchControl*>(control);
    if (!control_) throw std::runtime_error("the bench has no control interface");
    return control_;
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

std::string EngineBench::WriteExecutable(const std::string& name, uint32_t address,
                                         size_t bytes, uint8_t seed) const {
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
    if (!error) return "(no error record)";
    char text[512];
    snprintf(text, sizeof(text), "error 0x%X \"%s\" detail \"%s\" in %s line %u", error->code,
             error->GetMessage(), error->detail, error->source, error->line);
    return text;
}

}  // namespace qel::e2e
