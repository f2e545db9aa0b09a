// Ctrl-C: the first asks the running command to stop (the engine is then
// closed, which aborts what the DSP does, and the program exits with 130);
// a second ends the process at once.
#pragma once

#include "programmer/Errors.h"

namespace qel::programmer {

inline constexpr int kExitInterrupted = 130;

// Blocks SIGINT in this thread and in every thread made after, and starts the
// thread that takes it. Call first in main, before any other thread exists.
void InstallInterruptHandling();
bool InterruptRequested();
// Readable once Ctrl-C was pressed (for waits on the terminal); -1 before
// InstallInterruptHandling.
int InterruptDescriptor();
// Throws Interrupted when Ctrl-C was pressed.
void ThrowIfInterrupted();

class Interrupted : public Failure {
  public:
    Interrupted() : Failure("interrupted", kExitInterrupted) {}
};

}  // namespace qel::programmer
