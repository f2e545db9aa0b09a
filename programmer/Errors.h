// What can go wrong in the console programmer, as exceptions that main turns
// into a message and an exit status.
#pragma once

#include "QELExc.h"
#include "Telmar.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qel::programmer {

enum ExitStatus : int { kExitDone = 0, kExitFailed = 1, kExitUsage = 2, kExitCancelled = 3 };

// A wrong command line: the message and a hint to --help.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Any other failure that is not an engine error record.
class Failure : public std::runtime_error {
  public:
    explicit Failure(const std::string& text, int status = kExitFailed)
        : std::runtime_error(text), status_(status) {}
    int Status() const { return status_; }

  private:
    int status_;
};

// An engine error record, copied out of the library together with what the
// programmer was doing when it arrived.
class EngineError : public std::runtime_error {
  public:
    EngineError(const std::string& doing, const CFlashExc& error);
    EngineError(const std::string& doing, const QELExc& error);

    uint32_t code = 0;
    std::string message;
    std::string detail;
    std::string source;
    uint32_t line = 0;
};

// The record as the lines that main prints after "failed".
std::string DescribeEngineError(const EngineError& error);

// Runs f; an engine or TIM-library error record that it throws becomes an
// EngineError that says what was being done.
template <class F>
auto Guard(const std::string& doing, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const CFlashExc& e) {
        throw EngineError(doing, e);
    } catch (const QELExc& e) {
        throw EngineError(doing, e);
    }
}

}  // namespace qel::programmer
