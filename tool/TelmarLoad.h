// Binds the flash engine library by name, the way the tool finds it on a
// user's machine: beside the program first, then the usual search path.
// Failures are told through the message sink and leave the pointers null;
// the binder itself never fails.
#pragma once

#include "Telmar.h"
#include "platform/DynamicLibrary.h"

#include <cstdint>
#include <functional>
#include <string>

class CTelmarLoad {
  public:
    // Thrown by Open when the library gave no TelmarOpen.
    struct LoadExc {
        uint32_t argument;
    };
    // text, caption: an error box without owner.
    using MessageSink = std::function<void(const std::string& text, const std::string& caption)>;

    explicit CTelmarLoad(const MessageSink& message, const std::string& library = "Telmar.dll");
    ~CTelmarLoad();
    CTelmarLoad(const CTelmarLoad&) = delete;
    CTelmarLoad& operator=(const CTelmarLoad&) = delete;

    bool IsLoaded() const { return library_.IsLoaded(); }
    // Both entry points were found.
    bool IsComplete() const { return open_ && close_; }

    IFSystem* Open(StateCallback callback, void* context, uint32_t argument);
    void Close(IFSystem* system);

  private:
    qel::platform::DynamicLibrary library_;
    TelmarOpenFn open_ = nullptr;
    TelmarCloseFn close_ = nullptr;
};
