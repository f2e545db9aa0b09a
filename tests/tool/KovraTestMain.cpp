// The dialog tests run headless on Qt's offscreen platform unless the caller
// picked a platform (xcb, to watch them).
#include <QApplication>

#include <gtest/gtest.h>

#include <execinfo.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

// An abort inside Qt's event handling (a fatal message, an exception through
// Qt's frames) would otherwise leave only "Subprocess aborted" in the log.
void PrintStack() {
    void* frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
}

void OnAbort(int) {
    static const char text[] = "\n*** aborted; stack:\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    PrintStack();
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

void OnTerminate() {
    try {
        if (std::exception_ptr current = std::current_exception())
            std::rethrow_exception(current);
        std::fputs("*** terminate without an exception\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "*** uncaught exception: %s\n", e.what());
    } catch (...) {
        std::fputs("*** uncaught exception of an unknown type\n", stderr);
    }
    std::abort();
}

QtMessageHandler qtDefaultHandler = nullptr;

// The offscreen platform says on every shown window that it cannot pass size
// hints on; that line says nothing about the program.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    qtDefaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGABRT, OnAbort);
    std::set_terminate(OnTerminate);
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qtDefaultHandler = qInstallMessageHandler(QuietHandler);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
