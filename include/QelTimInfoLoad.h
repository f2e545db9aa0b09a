// Binds the TIM description library by name. The constructor loads it and
// looks up its four entry points; failures throw QelExcept (code 0x80002).
#pragma once

#include "QelTimInfo.h"

#include <memory>

namespace qel::platform {
class DynamicLibrary;
}

class CQelTimInfoLoad {
  public:
    static constexpr uint32_t ErrorCode = 0x80002;

    // libraryName defaults to the library's Windows name, mapped to libQelTimInfo.so.
    explicit CQelTimInfoLoad(const char* libraryName = "QelTimInfo.dll");
    ~CQelTimInfoLoad();
    CQelTimInfoLoad(const CQelTimInfoLoad&) = delete;
    CQelTimInfoLoad& operator=(const CQelTimInfoLoad&) = delete;

    QelTimInfoOpenFn QelTimInfoOpen = nullptr;
    QelTimInfoCloseFn QelTimInfoClose = nullptr;
    QelModLibOpenFn QelModLibOpen = nullptr;
    QelModLibCloseFn QelModLibClose = nullptr;

  private:
    std::unique_ptr<qel::platform::DynamicLibrary> library_;
};
