// Small hand-driven automation objects: they count references, record the
// calls made on them and let a test deliver notifications itself, on the
// thread it chooses. The bench model covers the rest.
#pragma once

#include "bench/include/QelBench.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace ccs_test {

using namespace qel::bench;

// Reference counting and QueryInterface over a table of identifiers. The
// object is never deleted by Release: the test owns it and checks the count.
template <class... Interfaces>
class FakeObject : public Interfaces... {
  public:
    HResult QueryInterface(const Guid& iid, void** out) override {
        if (out == nullptr)
            return kPointer;
        *out = nullptr;
        if (refuseAll)
            return kNoInterface;
        void* found = nullptr;
        ((iid == Interfaces::kIid ? (found = static_cast<Interfaces*>(this), 0) : 0), ...);
        if (found == nullptr && iid == IUnknown::kIid)
            found = FirstInterface();
        if (found == nullptr)
            return kNoInterface;
        AddRef();
        *out = found;
        return kOk;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }

    std::atomic<int32_t> refs{1};
    bool refuseAll = false;

  private:
    void* FirstInterface() {
        return static_cast<std::tuple_element_t<0, std::tuple<Interfaces...>>*>(this);
    }
};

class FakeValue : public FakeObject<IDspValue> {
  public:
    HResult GetValue(uint32_t* value) override {
        *value = number;
        return kOk;
    }
    HResult SetValue(uint32_t value) override {
        number = value;
        return kOk;
    }
    HResult Assign(IDspValue* source) override {
        ++assigns;
        return source->GetValue(&number);
    }
    HResult GetType(int32_t* typeCode) override {
        *typeCode = type;
        return kOk;
    }
    uint32_t number = 0;
    int32_t type = kTypeData32;
    int assigns = 0;
};

class FakeMemory : public FakeObject<IDspMemory> {
  public:
    HResult SetValue(IDspValue* value, int32_t index) override {
        uint32_t v = 0;
        value->GetValue(&v);
        return SetWord(uint32_t(index) * 4, v);
    }
    HResult GetWord(uint32_t byteOffset, uint32_t* word) override {
        if (byteOffset + 4 > bytes.size())
            return kInvalidArg;
        std::memcpy(word, bytes.data() + byteOffset, 4);
        return kOk;
    }
    HResult Assign(IDspMemory* source) override {
        ++assigns;
        uint32_t size = 0;
        source->GetSize(&size);
        bytes.assign(size, 0);
        source->GetAddress(&address);
        return source->ReadBytes(0, bytes.data(), size);
    }
    HResult GetAddress(uint32_t* out) override {
        *out = address;
        return kOk;
    }
    HResult GetSize(uint32_t* size) override {
        *size = uint32_t(bytes.size());
        return kOk;
    }
    HResult ReadBytes(uint32_t offset, void* buffer, uint32_t length) override {
        if (offset + length > bytes.size())
            return kInvalidArg;
        std::memcpy(buffer, bytes.data() + offset, length);
        return kOk;
    }
    HResult WriteBytes(uint32_t offset, const void* buffer, uint32_t length) override {
        if (offset + length > bytes.size())
            return kInvalidArg;
        std::memcpy(bytes.data() + offset, buffer, length);
        return kOk;
    }
    HResult SetWord(uint32_t byteOffset, uint32_t word) override {
        return WriteBytes(byteOffset, &word, 4);
    }
    uint32_t address = 0;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(16, 0);
    int assigns = 0;
};

// One connection point that keeps its advised sinks.
class FakeConnectionPoint : public FakeObject<IConnectionPoint> {
  public:
    explicit FakeConnectionPoint(const Guid& iid) : events(iid) {}
    HResult GetConnectionInterface(Guid* iid) override {
        *iid = events;
        return kOk;
    }
    HResult Advise(IUnknown* sink, uint32_t* cookie) override {
        if (refuseAdvise)
            return kCannotConnect;
        IUnknown* typed = nullptr;
        if (Failed(sink->QueryInterface(events, reinterpret_cast<void**>(&typed))))
            return kCannotConnect;
        std::lock_guard<std::mutex> lock(mutex);
        *cookie = ++lastCookie;
        sinks[*cookie] = typed;
        ++advises;
        return kOk;
    }
    HResult Unadvise(uint32_t cookie) override {
        IUnknown* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex);
            auto it = sinks.find(cookie);
            if (it == sinks.end())
                return kNotConnected;
            sink = it->second;
            sinks.erase(it);
        }
        sink->Release();
        return kOk;
    }
    // The sinks now advised, as the events interface, each with a reference
    // the caller releases.
    template <class Events>
    std::vector<Events*> Sinks() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Events*> out;
        for (auto& [cookie, sink] : sinks) {
            sink->AddRef();
            out.push_back(static_cast<Events*>(sink));
        }
        return out;
    }
    // Identities only, no references.
    std::vector<IUnknown*> SinkPointers() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<IUnknown*> out;
        for (auto& [cookie, sink] : sinks) out.push_back(sink);
        return out;
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return sinks.size();
    }

    Guid events;
    bool refuseAdvise = false;
    int advises = 0;
    std::mutex mutex;
    uint32_t lastCookie = 0;
    std::map<uint32_t, IUnknown*> sinks;
};

// Connection points for a set of events interfaces.
class FakeEventsSource {
  public:
    explicit FakeEventsSource(std::vector<Guid> offered) {
        for (const Guid& iid : offered) points.emplace_back(new FakeConnectionPoint(iid));
    }
    ~FakeEventsSource() {
        for (FakeConnectionPoint* p : points) delete p;
    }
    FakeConnectionPoint* Find(const Guid& iid) {
        for (FakeConnectionPoint* p : points)
            if (p->events == iid)
                return p;
        return nullptr;
    }
    // Runs call on every sink of the events interface.
    template <class Events>
    std::vector<HResult> Fire(const std::function<HResult(Events*)>& call) {
        std::vector<HResult> results;
        if (FakeConnectionPoint* p = Find(Events::kIid)) {
            for (Events* sink : p->Sinks<Events>()) {
                results.push_back(call(sink));
                sink->Release();
            }
        }
        return results;
    }
    std::vector<FakeConnectionPoint*> points;
};

class FakeUser : public FakeObject<IDspUser, IConnectionPointContainer> {
  public:
    explicit FakeUser(std::vector<Guid> offered = {std::begin(kUserEventsIids),
                                                   std::end(kUserEventsIids)})
        : source(std::move(offered)) {}

    HResult FindConnectionPoint(const Guid& iid, IConnectionPoint** point) override {
        FakeConnectionPoint* p = source.Find(iid);
        if (p == nullptr)
            return kNoConnection;
        p->AddRef();
        *point = p;
        return kOk;
    }
    HResult CreateMemory(IDspValue* address, uint32_t size, int32_t, IDspMemory** out) override {
        Record("CreateMemory");
        if (address == nullptr)
            return kPointer;
        auto* m = new FakeMemory();
        address->GetValue(&m->address);
        m->bytes.assign(size, 0);
        created.emplace_back(m);
        *out = m;
        return kOk;
    }
    HResult CreateValue(int32_t type, uint32_t value, IDspValue** out) override {
        Record("CreateValue");
        auto* v = new FakeValue();
        v->type = type;
        v->number = value;
        values.emplace_back(v);
        *out = v;
        return kOk;
    }
    HResult Run(const char* text) override { return Record(std::string("Run:") + text); }
    HResult RunEx(const char* text, int32_t count) override {
        return Record(std::string("RunEx:") + text + ":" + std::to_string(count));
    }
    HResult Halt() override { return Record("Halt"); }
    HResult Reset() override { return Record("Reset"); }
    HResult GetProcessorId(uint32_t* id) override {
        *id = 0x01C05008;
        return Record("GetProcessorId");
    }
    HResult Load(const char* path, VariantBool flag) override {
        return Record(std::string("Load:") + path + ":" + std::to_string(flag));
    }
    HResult GetExecState(int32_t* state) override {
        *state = kExecRunning;
        return Record("GetExecState");
    }
    HResult ReadMem(IDspMemory*, VariantBool f1, VariantBool f2) override {
        return Record("ReadMem:" + std::to_string(f1) + ":" + std::to_string(f2));
    }
    HResult WriteMem(IDspMemory*, VariantBool f1, VariantBool f2) override {
        return Record("WriteMem:" + std::to_string(f1) + ":" + std::to_string(f2));
    }

    // Every request goes through here: it is logged, then onRequest runs
    // (a test delivers notifications from it), then the answer is `refuse`
    // or kOk.
    HResult Record(const std::string& call) {
        {
            std::lock_guard<std::mutex> lock(callMutex);
            calls.push_back(call);
        }
        if (onRequest)
            onRequest(call);
        return refuse;
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(callMutex);
        return calls;
    }
    ~FakeUser() {
        for (FakeMemory* m : created) delete m;
        for (FakeValue* v : values) delete v;
    }

    FakeEventsSource source;
    std::function<void(const std::string&)> onRequest;
    HResult refuse = kOk;
    std::mutex callMutex;
    std::vector<std::string> calls;
    std::vector<FakeMemory*> created;
    std::vector<FakeValue*> values;
};

}  // namespace ccs_test
