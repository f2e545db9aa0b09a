// Reference counting, smart pointers and connection points shared by the
// bench's automation objects.
#pragma once

#include "QelBench.h"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace qel::bench {

// Owns one reference.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    // Adds a reference of its own.
    explicit ComPtr(T* p) : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    // Takes over a reference the caller holds.
    static ComPtr Adopt(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    void Reset() {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }
    // Hands the reference out (for out-parameters).
    T* Detach() { return std::exchange(p_, nullptr); }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

// Adds a reference unless the count already reached zero (an object on its
// way out of a weak table).
inline bool TryAddRef(std::atomic<uint32_t>& refs) {
    uint32_t n = refs.load(std::memory_order_relaxed);
    while (n != 0)
        if (refs.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel))
            return true;
    return false;
}

// One interface, reference counted; the object deletes itself at zero.
template <class I>
class RefCounted : public I {
  public:
    HResult QueryInterface(const Guid& iid, void** out) override {
        if (!out)
            return kPointer;
        *out = nullptr;
        if (iid == I::kIid || iid == IUnknown::kIid) {
            *out = static_cast<I*>(this);
            this->AddRef();
            return kOk;
        }
        return kNoInterface;
    }
    uint32_t AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t Release() override {
        const uint32_t n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0)
            delete this;
        return n;
    }

  protected:
    std::atomic<uint32_t> refs_{1};
};

// A connection point for one events interface, embedded in its owner: its
// references are the owner's.
template <class Events>
class ConnectionPoint final : public IConnectionPoint {
  public:
    explicit ConnectionPoint(IUnknown* owner) : owner_(owner) {}
    ~ConnectionPoint() override { DropAll(); }

    HResult QueryInterface(const Guid& iid, void** out) override {
        if (!out)
            return kPointer;
        *out = nullptr;
        if (iid == IConnectionPoint::kIid || iid == IUnknown::kIid) {
            *out = static_cast<IConnectionPoint*>(this);
            AddRef();
            return kOk;
        }
        return kNoInterface;
    }
    uint32_t AddRef() override { return owner_->AddRef(); }
    uint32_t Release() override { return owner_->Release(); }

    HResult GetConnectionInterface(Guid* iid) override {
        if (!iid)
            return kPointer;
        *iid = Events::kIid;
        return kOk;
    }
    HResult Advise(IUnknown* sink, uint32_t* cookie) override {
        if (!sink || !cookie)
            return kPointer;
        *cookie = 0;
        void* typed = nullptr;
        if (Failed(sink->QueryInterface(Events::kIid, &typed)) || !typed)
            return kCannotConnect;
        std::lock_guard lock(mu_);
        const uint32_t c = NextCookie();
        sinks_.push_back({c, static_cast<Events*>(typed)});
        *cookie = c;
        return kOk;
    }
    HResult Unadvise(uint32_t cookie) override {
        Events* sink = nullptr;
        {
            std::lock_guard lock(mu_);
            for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
                if (it->cookie == cookie) {
                    sink = it->sink;
                    sinks_.erase(it);
                    break;
                }
            }
        }
        if (!sink)
            return kNotConnected;
        sink->Release();
        return kOk;
    }

    // Calls f(sink) for every sink registered now, outside the lock, so a
    // sink may unadvise (or advise) from inside the call.
    template <class F>
    void Fire(F&& f) {
        std::vector<Events*> copy;
        {
            std::lock_guard lock(mu_);
            if (sinks_.empty())
                return;
            copy.reserve(sinks_.size());
            for (auto& s : sinks_) {
                s.sink->AddRef();
                copy.push_back(s.sink);
            }
        }
        for (Events* s : copy) {
            f(s);
            s->Release();
        }
    }

    size_t SinkCount() const {
        std::lock_guard lock(mu_);
        return sinks_.size();
    }

    void DropAll() {
        std::vector<Events*> gone;
        {
            std::lock_guard lock(mu_);
            for (auto& s : sinks_) gone.push_back(s.sink);
            sinks_.clear();
        }
        for (Events* s : gone) s->Release();
    }

  private:
    static uint32_t NextCookie() {
        static std::atomic<uint32_t> counter{0};
        uint32_t c;
        do {
            c = counter.fetch_add(1, std::memory_order_relaxed) + 1;
        } while (c == 0);
        return c;
    }

    struct Entry {
        uint32_t cookie;
        Events* sink;
    };
    IUnknown* owner_;
    mutable std::mutex mu_;
    std::vector<Entry> sinks_;
};

}  // namespace qel::bench
