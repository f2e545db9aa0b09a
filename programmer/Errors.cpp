#include "programmer/Errors.h"

#include "QELExc.h"
#include "Telmar.h"

#include <cstdio>

namespace qel::programmer {

namespace {

std::string Bounded(const char* text, size_t size) {
    size_t n = 0;
    while (n < size && text[n]) ++n;
    return std::string(text, n);
}

}  // namespace

EngineError::EngineError(const std::string& doing, const CFlashExc& error)
    : std::runtime_error(doing),
      code(error.code),
      message(error.GetMessage() ? error.GetMessage() : ""),
      detail(Bounded(error.detail, sizeof(error.detail))),
      source(Bounded(error.source, sizeof(error.source))),
      line(error.line) {}

EngineError::EngineError(const std::string& doing, const QELExc& error)
    : std::runtime_error(doing),
      code(error.code),
      message(Bounded(error.message, sizeof(error.message))),
      detail(error.nAddition ? std::to_string(error.nAddition) : std::string()),
      source(Bounded(error.file, sizeof(error.file))),
      line(error.line) {}

std::string DescribeEngineError(const EngineError& error) {
    char code[32];
    // The engine's own codes are small; those of the lower layers read better in hex.
    if (error.code < 0x10000)
        std::snprintf(code, sizeof(code), "%u", error.code);
    else
        std::snprintf(code, sizeof(code), "0x%X", error.code);
    std::string text = "  error:  " + std::string(code) + " (" + error.message + ")\n";
    text += "  detail: " + (error.detail.empty() ? std::string("(none)") : error.detail) + "\n";
    text += "  source: " + (error.source.empty() ? std::string("(unknown)") : error.source) +
            ", line " + std::to_string(error.line) + "\n";
    return text;
}

}  // namespace qel::programmer
