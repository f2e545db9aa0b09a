#include "tool/KovraPrompts.h"

#include "tool/AboutDlg.h"

#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

namespace {

QMessageBox::StandardButton ButtonOf(KovraMessage::Answer answer) {
    switch (answer) {
        case KovraMessage::Answer::Yes:
            return QMessageBox::Yes;
        case KovraMessage::Answer::No:
            return QMessageBox::No;
        case KovraMessage::Answer::Cancel:
            return QMessageBox::Cancel;
        case KovraMessage::Answer::Ok:
            break;
    }
    return QMessageBox::Ok;
}

}  // namespace

KovraMessage::Answer CQtPrompts::Message(QWidget* parent, const KovraMessage& message) {
    QMessageBox::Icon icon = QMessageBox::Information;
    switch (message.icon) {
        case KovraMessage::Icon::Warning:
            icon = QMessageBox::Warning;
            break;
        case KovraMessage::Icon::Error:
            icon = QMessageBox::Critical;
            break;
        case KovraMessage::Icon::Question:
            icon = QMessageBox::Question;
            break;
        case KovraMessage::Icon::Information:
            break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (message.buttons == KovraMessage::Buttons::YesNo)
        buttons = QMessageBox::Yes | QMessageBox::No;
    else if (message.buttons == KovraMessage::Buttons::YesNoCancel)
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    QMessageBox box(icon, QString::fromStdString(message.caption),
                    QString::fromStdString(message.text), buttons, parent);
    box.setDefaultButton(ButtonOf(message.defaultAnswer));
    if (message.systemModal)
        box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return KovraMessage::Answer::Yes;
        case QMessageBox::No:
            return KovraMessage::Answer::No;
        case QMessageBox::Cancel:
            return KovraMessage::Answer::Cancel;
        default:
            return message.buttons == KovraMessage::Buttons::Ok ? KovraMessage::Answer::Ok
                                                                : KovraMessage::Answer::Cancel;
    }
}

QString CQtPrompts::OpenFile(QWidget* parent, const FileQuery& query) {
    // The dialog shows each filter's own text; the patterns added for it to
    // read stay hidden.
    QStringList filters;
    for (const FileFilter& filter : query.filters)
        filters << filter.description + " (" + filter.patterns.join(' ') + ")";
    QFileDialog dialog(parent, query.title, query.folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(query.defaultSuffix);
    if (!query.fileName.isEmpty())
        dialog.selectFile(query.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

void CQtPrompts::About(QWidget* parent) {
    CAboutDlg about(parent);
    about.exec();
}

int CQtPrompts::Exec(QDialog& dialog) {
    return dialog.exec();
}

void CQtPrompts::Menu(QMenu& menu, const QPoint& at) {
    menu.exec(at);
}
