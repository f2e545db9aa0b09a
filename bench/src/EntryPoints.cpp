// The entry points: attach to the server of this process, create one, and
// probe the named lock that tells whether a server runs anywhere.
#include "QelBench.h"
#include "Server.h"
#include "Settings.h"
#include "platform/LockedFile.h"

#include <cstdio>

namespace qel::bench {

std::string GuidToString(const Guid& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                  g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

std::string QelBenchLockName() {
    return "TiGoCodeComposerMutex" + GuidToString(kClsidApplication);
}

HResult QelBenchGetActiveObject(const Guid& clsid, IUnknown** out) {
    if (!out)
        return kPointer;
    *out = nullptr;
    if (!(clsid == kClsidApplication))
        return kClassNotRegistered;
    *out = ActiveApplication();
    return *out ? kOk : kUnavailable;
}

HResult QelBenchCreateInstance(const Guid& clsid, const Guid& iid, void** out) {
    if (!out)
        return kPointer;
    *out = nullptr;
    if (!(clsid == kClsidApplication))
        return kClassNotRegistered;
    BenchOptions options;
    options.registerActive = true;
    IApplication* app = nullptr;
    HResult hr = QelBenchCreate(options, &app);
    if (Failed(hr))
        return hr;
    hr = app->QueryInterface(iid, out);
    app->Release();
    return hr;
}

HResult QelBenchRun(IUnknown* object) {
    if (!object)
        return kPointer;
    void* app = nullptr;
    if (Failed(object->QueryInterface(IApplication::kIid, &app)) || !app)
        return kNoInterface;
    static_cast<IApplication*>(app)->Release();
    return kOk;
}

bool QelBenchNamedLockExists(const std::string& name) {
    const std::string folder = ResolveStateFolder({}) + "/locks";
    if (!platform::MakeFolders(folder))
        return false;
    platform::LockedFile probe;
    if (!probe.Open(folder + "/" + name + ".lock", true))
        return false;
    if (!probe.TryLock(platform::LockedFile::Mode::Exclusive))
        return true;
    probe.Unlock();
    return false;
}

HResult QelBenchCreate(const BenchOptions& options, IApplication** out) {
    if (!out)
        return kPointer;
    *out = nullptr;
    std::shared_ptr<Core> core;
    std::string error;
    const HResult hr = Core::Create(options, core, error);
    if (Failed(hr)) {
        std::fprintf(stderr, "qel_bench: %s\n", error.c_str());
        return hr;
    }
    return CreateApplication(core, options.registerActive, out);
}

std::string QelBenchDefaultDescription() {
    return DefaultDescriptionText();
}

std::string QelBenchStateFolder() {
    return ResolveStateFolder({});
}

}  // namespace qel::bench
