#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace qel::platform {

namespace {

int Descriptor(StandardStream stream) {
    switch (stream) {
        case StandardStream::Input:
            return STDIN_FILENO;
        case StandardStream::Output:
            return STDOUT_FILENO;
        case StandardStream::Error:
            return STDERR_FILENO;
    }
    return -1;
}

}  // namespace

bool IsTerminal(StandardStream stream) {
    return isatty(Descriptor(stream)) == 1;
}

int TerminalColumns(StandardStream stream) {
    winsize size{};
    if (!IsTerminal(stream) || ioctl(Descriptor(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

}  // namespace qel::platform
