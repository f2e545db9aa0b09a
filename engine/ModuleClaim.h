// The claim a flash object holds on its processor from its first connect to
// its destruction, so that two jobs (two processes, or two engines in one
// process) never interleave their reads and writes of one flash. It is an
// advisory lock on a file in the user's runtime folder: it goes with the
// object, or with the process when that dies.
#pragma once

#include "platform/LockedFile.h"

#include <string>

class CModuleClaim {
  public:
    // Raises ERR_PROCESSOR_IN_USE, naming the holder, when another job has
    // the processor. Claims are told apart by settings folder: each names a
    // set of boards of its own. Where no lock file can be made the claim is
    // not enforced.
    void Acquire(int board, int processor);
    bool Held() const { return file_.IsOpen(); }

    // $QEL4410_RUNTIME_DIR, else $XDG_RUNTIME_DIR/qel4410, else
    // /tmp/qel4410-<uid>.
    static std::string Folder();

  private:
    qel::platform::LockedFile file_;
};
