#include "builder/GorlinApp.h"

#include "QELExc.h"
#include "builder/GorlinIcon.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <string_view>

namespace {

// What the help text adds to Qt's: the variables the program reads.
constexpr const char* kEnvironmentHelp =
    "\n"
    "Environment:\n"
    "  QEL4410_REGISTRY  settings folder (HKEY_LOCAL_MACHINE.reg,\n"
    "                    HKEY_CURRENT_USER.reg); default\n"
    "                    $XDG_CONFIG_HOME/qel4410/registry or\n"
    "                    ~/.config/qel4410/registry\n"
    "  QEL4410_TIMDATA   folder of the TIM descriptions (*.tim)\n"
    "  QT_QPA_PLATFORM   Qt platform plug-in, for example offscreen to run\n"
    "                    without a display\n";

bool AsksForTextOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help" || arg == "-V" || arg == "-v" || arg == "--version")
            return true;
    }
    return false;
}

}  // namespace

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
    // Help and version need no display: a plain core application answers
    // them where no window could open.
    std::unique_ptr<QCoreApplication> app;
    if (AsksForTextOnly(argc, argv)) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        // Ties the window to gorlin.desktop (task bars, Wayland).
        QGuiApplication::setDesktopFileName(QStringLiteral("gorlin"));
        QApplication::setWindowIcon(GorlinIcon());
    }
    QCoreApplication::setApplicationName(QStringLiteral("Gorlin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QEL_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Halvern"));

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Packs an FPGA bitstream (.bit or .dat) for chosen TIM types into an SBF file, "
        "and shows what an SBF file holds."));
    const QCommandLineOption help = options.addHelpOption();
    // -V as in the console tools; -v as Qt has it.
    const QCommandLineOption version(
        {QStringLiteral("V"), QStringLiteral("v"), QStringLiteral("version")},
        QStringLiteral("Displays version information."));
    options.addOption(version);
    // Errors and --help-all are Qt's own: it prints and exits.
    if (!options.parse(QCoreApplication::arguments()) || options.isSet(QStringLiteral("help-all")))
        options.process(*app);
    if (options.isSet(help)) {
        std::fputs(qPrintable(options.helpText() + QLatin1String(kEnvironmentHelp)), stdout);
        return 0;
    }
    if (options.isSet(version)) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!options.positionalArguments().isEmpty()) {
        std::fputs(qPrintable(options.helpText() + QLatin1String(kEnvironmentHelp)), stderr);
        return 2;
    }

    CQtPrompts prompts;
    std::unique_ptr<CGorlinDlg> dialog = CreateGorlinDlg(prompts);
    if (!dialog)
        return 1;
    dialog->exec();
    return 0;
}
