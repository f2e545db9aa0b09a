// Interface of the TIM description library libQelTimInfo.so, as its callers
// see it: plain C entry points and abstract database and record objects whose
// slot order is the contract with the library.
#pragma once

#include <cstdint>

#define QELTIMINFO_API extern "C" __attribute__((visibility("default")))

// Every failure of the library. Text() gives the message.
struct __attribute__((visibility("default"))) TimExc {
    TimExc();
    explicit TimExc(const char* message);
    virtual const char* Text() const;
    virtual ~TimExc() = default;
    char text[128];
};
struct __attribute__((visibility("default"))) except_int_not_found : TimExc {
    using TimExc::TimExc;
};
struct __attribute__((visibility("default"))) except_str_not_found : TimExc {
    using TimExc::TimExc;
};

inline TimExc::TimExc() : text{} {}
inline TimExc::TimExc(const char* message) : text{} {
    for (int i = 0; message && message[i] && i < 127; ++i) text[i] = message[i];
}
inline const char* TimExc::Text() const {
    return text;
}

// One entry of a list section ("Memory", "Set"): three numbers and three
// strings, the first string being the entry's name. Owned by the caller.
struct TIMRec {
    explicit TIMRec(uint32_t tagValue = 0) : tag(tagValue), number{}, text{} {}
    uint32_t tag;
    uint32_t number[3];
    char text[3][256];
};

class __attribute__((visibility("default"))) CQelTimRecord {
  public:
    virtual ~CQelTimRecord() {}
    virtual const char* Name() const = 0;
    virtual uint32_t Code() const = 0;
    // 0 while the entry exists, non-zero after the last.
    virtual int GetEntry(const char* section, TIMRec* out, int index) const = 0;
    // Missing keys throw except_int_not_found / except_str_not_found.
    virtual int GetInt(const char* key, int n) const = 0;
    virtual const char* GetString(const char* key, const char* unused) const = 0;
};

class __attribute__((visibility("default"))) CQelTimInfo {
  public:
    virtual ~CQelTimInfo() {}
    virtual const char* Version() const = 0;
    virtual uint32_t Count() const = 0;
    virtual CQelTimRecord* FindByName(const char* name) const = 0;
    virtual CQelTimRecord* At(uint32_t index) const = 0;
    virtual const char* DataFolder() const = 0;
    virtual const char* NameOf(uint32_t code) const = 0;
    virtual CQelTimRecord* Find(uint32_t code) const = 0;
};

typedef CQelTimInfo* (*QelTimInfoOpenFn)(uint32_t argument);
typedef void (*QelTimInfoCloseFn)(CQelTimInfo* database);
typedef void* (*QelModLibOpenFn)(uint32_t argument);
typedef void (*QelModLibCloseFn)(void* library);

QELTIMINFO_API CQelTimInfo* QelTimInfoOpen(uint32_t argument);
QELTIMINFO_API void QelTimInfoClose(CQelTimInfo* database);
QELTIMINFO_API void* QelModLibOpen(uint32_t argument);
QELTIMINFO_API void QelModLibClose(void* library);
