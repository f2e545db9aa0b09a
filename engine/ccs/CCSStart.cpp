// Attaching to or starting the debugger's automation server.
#include "engine/ccs/CCSWrappers.h"

#include "platform/SettingsHive.h"

#include <cstdio>
#include <memory>
#include <string_view>

using namespace qel::bench;

namespace qel::ccs {
namespace {

constexpr const char* kCaption = "Code Composer";

// The key in this user's settings hive.
class CHiveStartSettings final : public CStartSettings {
  public:
    bool Open() override {
        using platform::Hive;
        using platform::KeyAccess;
        using platform::SettingsKey;
        // Opened, never created: a missing key means the debugger was never set up.
        if (!SettingsKey::Open(Hive::CurrentUser, kSettingsKey, KeyAccess::Read))
            return false;
        key_ = SettingsKey::Open(Hive::CurrentUser, kSettingsKey, KeyAccess::ReadWrite);
        return key_ != nullptr;
    }
    void DeleteRealtimeStart() override {
        if (key_)
            key_->DeleteValue(kRealtimeValue);
    }
    void SetRealtimeStart() override {
        // Every change lands in the hive file at once: nothing to flush.
        static constexpr uint8_t kOn = 1;
        if (key_)
            key_->SetBinary(kRealtimeValue, &kOn, 1);
    }
    void Close() override { key_.reset(); }

  private:
    std::unique_ptr<platform::SettingsKey> key_;
};

void StandardErrorMessageBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

CStartSettings* g_settings = nullptr;
MessageBoxFn g_messageBox = nullptr;

void ShowMessage(const char* text) {
    (g_messageBox ? g_messageBox : StandardErrorMessageBox)(kCaption, text);
}

// Creates the server object, runs it and asks for the application; the
// first failing step's code is the result.
HResult CreateApplication(IApplication** out) {
    *out = nullptr;
    IUnknown* object = nullptr;
    HResult result = QelBenchCreateInstance(kClsidApplication, IUnknown::kIid,
                                            reinterpret_cast<void**>(&object));
    if (Failed(result))
        return result;
    if (object == nullptr)
        return kPointer;
    result = QelBenchRun(object);
    if (Succeeded(result)) {
        result = object->QueryInterface(IApplication::kIid, reinterpret_cast<void**>(out));
        if (Succeeded(result) && *out == nullptr)
            result = kNoInterface;
    }
    object->Release();
    return result;
}

}  // namespace

void SetStartSettings(CStartSettings* settings) {
    g_settings = settings;
}
void SetMessageBox(MessageBoxFn messageBox) {
    g_messageBox = messageBox;
}

}  // namespace qel::ccs

CCApplication CCApplication::Start(bool realtime) {
    using namespace qel::ccs;
    CHiveStartSettings hive;
    CStartSettings& settings = g_settings != nullptr ? *g_settings : hive;

    bool keyOpen = settings.Open();
    if (keyOpen) {
        settings.DeleteRealtimeStart();
        if (!realtime) {
            settings.Close();
            keyOpen = false;
        }
    }

    IApplication* application = nullptr;
    HResult result = kOk;
    IUnknown* active = nullptr;
    if (Succeeded(QelBenchGetActiveObject(kClsidApplication, &active)) && active != nullptr) {
        if (Failed(
                active->QueryInterface(IApplication::kIid, reinterpret_cast<void**>(&application))))
            application = nullptr;
        active->Release();
    }
    bool started = application != nullptr;
    if (!started) {
        // Only probed: the server holds this lock while it runs.
        started = QelBenchNamedLockExists(QelBenchLockName());
        if (!started) {
            if (realtime) {
                if (keyOpen) {
                    settings.SetRealtimeStart();
                } else {
                    ShowMessage(
                        "Could not start in realtime mode.\nCode Composer not set up properly.");
                }
            }
            result = CreateApplication(&application);
            if (keyOpen)
                settings.DeleteRealtimeStart();
        }
    }
    if (started) {
        if (realtime)
            ShowMessage("Could not start in realtime mode.\nCode Composer already started.");
        if (application == nullptr)
            result = CreateApplication(&application);
    }
    if (keyOpen)
        settings.Close();

    if (Failed(result))
        throw CCException(result);
    if (application == nullptr)
        throw CCException(kFail);
    return CCApplication(application, false);
}
