// qel-flash: the console programmer. Binds libTelmar.so by name, as the
// programming tool does, and drives one engine command line at a time.
#include "platform/DynamicLibrary.h"
#include "platform/ModulePath.h"
#include "programmer/Commands.h"
#include "programmer/EngineSettings.h"
#include "programmer/Errors.h"
#include "programmer/Interrupt.h"
#include "programmer/Options.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

using namespace qel::programmer;

namespace {

int Run(const Options& options) {
    if (!options.registry.empty())
        setenv("QEL4410_REGISTRY", options.registry.c_str(), 1);
    Display display = Display::ForConsole(options.answers, options.verbosity);
    display.SetInterruptDescriptor(InterruptDescriptor());
    const std::string& c = options.command;
    if (c == "tims")
        return TimsCommand(options, display);
    FillMissingEngineFolders(
        qel::platform::FirmwareRoots(qel::platform::DynamicLibrary::ExecutableFolder()),
        options.verbosity != Verbosity::Quiet);
    if (c == "list")
        return ListCommand(options, display);
    if (c == "show")
        return ShowCommand(options, display);
    if (c == "program")
        return ProgramCommand(options, display);
    if (c == "erase")
        return EraseCommand(options, display);
    return VerifyCommand(options, display);
}

}  // namespace

int main(int argc, char** argv) {
    InstallInterruptHandling();
    Options options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "qel-flash: %s\nRun 'qel-flash --help' for the command line.\n",
                     e.what());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsageText, stdout);
        return kExitDone;
    }
    if (options.version) {
        std::printf("qel-flash %s\n", QEL_VERSION);
        return kExitDone;
    }
    int status = kExitFailed;
    try {
        status = Run(options);
    } catch (const Interrupted&) {
        std::fflush(stdout);
        std::fprintf(stderr, "qel-flash: interrupted; the engine is closed\n");
        status = kExitInterrupted;
    } catch (const EngineError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "qel-flash: %s failed\n%s", e.what(), DescribeEngineError(e).c_str());
        status = kExitFailed;
    } catch (const Failure& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "qel-flash: %s\n", e.what());
        status = e.Status();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "qel-flash: %s\n", e.what());
        status = kExitFailed;
    }
    // A Ctrl-C that came after the last wait still ends the run as interrupted.
    return InterruptRequested() ? kExitInterrupted : status;
}
