#include "builder/GorlinApp.h"

#include "QELExc.h"
#include "builder/GorlinIcon.h"

#include <QApplication>
#include <QCommandLineParser>

std::unique_ptr<CGorlinDlg> CreateGorlinDlg(IGorlinPrompts& prompts, const char* timLibrary) {
    try {
        return std::make_unique<CGorlinDlg>(prompts, timLibrary);
    } catch (const QelExcept& e) {
        prompts.Message(nullptr, QString::fromLocal8Bit(e.message), QStringLiteral("Error"),
                        IGorlinPrompts::Icon::Error);
        return nullptr;
    }
}

int RunGorlin(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Gorlin"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setOrganizationName(QStringLiteral("Halvern"));
    // Ties the window to gorlin.desktop (task bars, Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("gorlin"));
    QApplication::setWindowIcon(GorlinIcon());

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Packs an FPGA bitstream (.bit or .dat) for chosen TIM types into an SBF file, "
        "and shows what an SBF file holds."));
    options.addHelpOption();
    options.addVersionOption();
    options.process(app);  // --help and --version print and exit here
    if (!options.positionalArguments().isEmpty()) {
        options.showHelp(2);
    }

    CQtPrompts prompts;
    std::unique_ptr<CGorlinDlg> dialog = CreateGorlinDlg(prompts);
    if (!dialog)
        return 1;
    dialog->exec();
    return 0;
}
