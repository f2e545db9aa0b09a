// Base of every debugger automation wrapper: owns one reference to one
// automation object, checks every call and turns failure codes into
// CCException.
#pragma once

#include "bench/include/QelBench.h"
#include "engine/ccs/CCException.h"

namespace qel::ccs {

using bench::Guid;
using bench::HResult;

// Throws CCException(code) for a failure code.
inline void Check(HResult result) {
    if (bench::Failed(result))
        throw CCException(result);
}

}  // namespace qel::ccs

template <class I>
class CComWrapper {
  public:
    using Interface = I;

    explicit CComWrapper(const char* className) noexcept : className_(className) {}
    // addRef false: takes over the caller's reference; true: adds its own.
    CComWrapper(I* object, bool addRef, const char* className) noexcept
        : object_(object), className_(className) {
        if (object_ != nullptr && addRef)
            object_->AddRef();
    }
    CComWrapper(const CComWrapper& other) noexcept
        : object_(other.object_), className_(other.className_) {
        if (object_ != nullptr)
            object_->AddRef();
    }
    CComWrapper& operator=(const CComWrapper& other) noexcept {
        ReplaceObject(other.object_);
        return *this;
    }
    virtual ~CComWrapper() {
        if (object_ != nullptr)
            object_->Release();
    }

    virtual bool IsValid() const { return object_ != nullptr; }
    virtual bool IsNull() const { return !IsValid(); }
    virtual const char* ClassName() const { return className_; }
    // Notification plumbing; only the wrappers with notifications override it.
    virtual void ConnectEvents(bool /*on*/, const qel::bench::Guid& /*events*/) {}
    virtual bool IsConnected(const qel::bench::Guid& /*events*/) const { return false; }
    virtual void ConnectAllEvents(bool /*on*/) {}
    virtual bool AllConnected() const { return false; }

    // The wrapped object (no reference added); null for an empty wrapper.
    I* GetInterface() const noexcept { return object_; }

    // Throws the empty-wrapper exception when there is no object.
    void CheckValid() const { (void)Checked(); }

  protected:
    // The wrapped object for a call: checked first. A wrapper without an
    // object is exactly what IsNull reports, so no virtual call is needed on
    // this path, which runs once per word moved.
    I* Checked() const {
        if (object_ == nullptr)
            qel::ccs::ThrowInvalidWrapper(ClassName());
        return object_;
    }
    // Holds `object` (adding a reference) instead of the current one.
    void ReplaceObject(I* object) noexcept {
        if (object == object_)
            return;
        if (object != nullptr)
            object->AddRef();
        I* old = object_;
        object_ = object;
        if (old != nullptr)
            old->Release();
    }

  private:
    I* object_ = nullptr;
    const char* className_;
};
