#include "programmer/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace qel::programmer {

namespace {

std::atomic<bool> g_requested{false};
int g_pipe[2] = {-1, -1};

void Watch(sigset_t set) {
    for (int count = 0;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        if (++count == 1) {
            g_requested = true;
            const char text[] =
                "\nqel-flash: interrupted: closing the engine (Ctrl-C again ends at once)\n";
            (void)!write(STDERR_FILENO, text, sizeof(text) - 1);
            (void)!write(g_pipe[1], "x", 1);
        } else {
            const char text[] = "\nqel-flash: interrupted again: ending now\n";
            (void)!write(STDERR_FILENO, text, sizeof(text) - 1);
            _exit(kExitInterrupted);
        }
    }
}

}  // namespace

void InstallInterruptHandling() {
    if (g_pipe[0] >= 0 || pipe(g_pipe) != 0)
        return;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(Watch, set).detach();
}

bool InterruptRequested() {
    return g_requested;
}

int InterruptDescriptor() {
    return g_pipe[0];
}

void ThrowIfInterrupted() {
    if (g_requested)
        throw Interrupted();
}

}  // namespace qel::programmer
