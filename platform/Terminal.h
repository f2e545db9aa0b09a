// Whether a standard stream is an interactive terminal, and how wide it is.
#pragma once

namespace qel::platform {

enum class StandardStream { Input, Output, Error };

bool IsTerminal(StandardStream stream);
// Columns of the terminal behind the stream; 0 when unknown or not a terminal.
int TerminalColumns(StandardStream stream);

}  // namespace qel::platform
