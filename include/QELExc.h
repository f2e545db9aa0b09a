// The shared error record of the TIM library binder and the carrier-board
// driver layer. A plain record: thrown by value, copied byte for byte.
#pragma once

#include <cstdint>

struct QELExc {
    uint32_t code;
    uint32_t line;
    char file[1024];
    uint32_t nAddition;
    char message[1024];
};
static_assert(sizeof(QELExc) == 2060);

class QelExcept : public QELExc {
  public:
    QelExcept() : QELExc{} {}
    // Fills every field; texts are cut to fit and always terminated.
    QelExcept(uint32_t code, uint32_t line, const char* file, const char* message,
              uint32_t addition = 0);
};

inline QelExcept::QelExcept(uint32_t c, uint32_t l, const char* f, const char* m, uint32_t a)
    : QELExc{} {
    code = c;
    line = l;
    nAddition = a;
    for (uint32_t i = 0; f && f[i] && i + 1 < sizeof(file); ++i) file[i] = f[i];
    for (uint32_t i = 0; m && m[i] && i + 1 < sizeof(message); ++i) message[i] = m[i];
}
