#include "tool/KovraApp.h"

#include "QELExc.h"
#include "tool/KovraIcons.h"

#include <QApplication>
#include <QCommandLineParser>

std::unique_ptr<CKovraDlg> CreateKovraDlg(IKovraPrompts& prompts, const KovraLibraries& libraries) {
    std::unique_ptr<CKovraDlg> dialog;
    try {
        dialog = std::make_unique<CKovraDlg>(prompts, libraries);
    } catch (const QelExcept& e) {
        prompts.Message(nullptr, {e.message, "Error", KovraMessage::Icon::Error});
        return nullptr;
    }
    if (!dialog->EngineBound())
        return nullptr;
    return dialog;
}

int RunKovra(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovra"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setOrganizationName(QStringLiteral("Halvern"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kovra"));
    QApplication::setWindowIcon(KovraIcon());

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Programs the flash of the DSP modules the debugger knows: TIM type, boot loader, "
        "bitstream, user blocks and dynamic values."));
    options.addHelpOption();
    options.addVersionOption();
    options.process(app);
    if (!options.positionalArguments().isEmpty())
        options.showHelp(2);

    CQtPrompts prompts;
    std::unique_ptr<CKovraDlg> dialog = CreateKovraDlg(prompts);
    if (!dialog)
        return 1;
    if (!dialog->Initialise()) {
        dialog->Shutdown();
        return 1;
    }
    dialog->exec();
    dialog->Shutdown();
    return 0;
}
