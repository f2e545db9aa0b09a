// The dialog tests run headless on Qt's offscreen platform unless the caller
// picked a platform (xcb, to watch them).
#include <QApplication>

#include <gtest/gtest.h>

namespace {

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
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qtDefaultHandler = qInstallMessageHandler(QuietHandler);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
