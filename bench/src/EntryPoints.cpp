// Placeholder entry points until the server lands.
#include "QelBench.h"

#include <cstdio>

namespace qel::bench {

std::string GuidToString(const Guid& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                  g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

std::string QelBenchLockName() { return "TiGoCodeComposerMutex" + GuidToString(kClsidApplication); }
HResult QelBenchGetActiveObject(const Guid&, IUnknown** out) {
    if (out) *out = nullptr;
    return kUnavailable;
}
HResult QelBenchCreateInstance(const Guid&, const Guid&, void** out) {
    if (out) *out = nullptr;
    return kClassNotRegistered;
}
HResult QelBenchRun(IUnknown*) { return kOk; }
bool QelBenchNamedLockExists(const std::string&) { return false; }
HResult QelBenchCreate(const BenchOptions&, IApplication** out) {
    if (out) *out = nullptr;
    return kClassNotRegistered;
}
std::string QelBenchDefaultDescription() { return {}; }
std::string QelBenchStateFolder() { return {}; }

}  // namespace qel::bench
