#include "Exc.h"

#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

struct Message {
    uint32_t code;
    const char* text;
};

constexpr Message kMessages[] = {
#define QEL_EXC_MESSAGE(name, value, text) {name, text},
    QEL_EXC_MESSAGES(QEL_EXC_MESSAGE)
#undef QEL_EXC_MESSAGE
};

constexpr bool CodesAreUnique() {
    for (size_t i = 0; i < std::size(kMessages); ++i) {
        for (size_t j = i + 1; j < std::size(kMessages); ++j) {
            if (kMessages[i].code == kMessages[j].code)
                return false;
        }
    }
    return true;
}
static_assert(CodesAreUnique(), "two codes of the message table share a value");

// Copies at most size - 1 characters and always terminates.
void CopyText(char* target, size_t size, const char* text) {
    size_t n = text ? strnlen(text, size - 1) : 0;
    memcpy(target, text ? text : "", n);
    memset(target + n, 0, size - n);
}

}  // namespace

CExc::CExc() : CFlashExc{} {}

CExc::CExc(uint32_t excCode, const char* excSource, uint32_t excLine, const char* excDetail)
    : CFlashExc{} {
    code = excCode;
    line = excLine;
    SetSource(excSource);
    SetDetail(excDetail);
}

CExc::~CExc() = default;

const char* CExc::GetMessage() const {
    return MessageOf(code);
}

const char* CExc::MessageOf(uint32_t excCode) {
    for (const Message& m : kMessages) {
        if (m.code == excCode)
            return m.text;
    }
    return "Unknown error";
}

void CExc::SetSource(const char* text) {
    CopyText(source, sizeof(source), text);
}

void CExc::SetDetail(const char* text) {
    CopyText(detail, sizeof(detail), text);
}

void CExc::FormatDetail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(detail, sizeof(detail), format, args);
    va_end(args);
}
