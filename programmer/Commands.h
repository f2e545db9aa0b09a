// The commands of qel-flash. Each returns the exit status or throws (Errors.h).
#pragma once

#include "programmer/Display.h"
#include "programmer/Options.h"

namespace qel::programmer {

int ListCommand(const Options& options, Display& display);
int TimsCommand(const Options& options, Display& display);
int ShowCommand(const Options& options, Display& display);
int ProgramCommand(const Options& options, Display& display);
int EraseCommand(const Options& options, Display& display);
int VerifyCommand(const Options& options, Display& display);

}  // namespace qel::programmer
