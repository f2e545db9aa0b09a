#include "builder/GorlinPrompts.h"

#include "builder/AboutDlg.h"

#include <QFileDialog>
#include <QMessageBox>

void CQtPrompts::Message(QWidget* parent, const QString& text, const QString& caption, Icon icon) {
    QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information, caption,
                    text, QMessageBox::Ok, parent);
    box.exec();
}

QString CQtPrompts::OpenFile(QWidget* parent, const FileQuery& query) {
    QStringList filters;
    for (const FileFilter& filter : query.filters)
        filters << filter.description + " (" + filter.patterns.join(' ') + ")";
    QFileDialog dialog(parent, query.title, query.folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    // The descriptions already name the extension; the patterns would repeat it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setDefaultSuffix(query.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

void CQtPrompts::About(QWidget* parent) {
    CAboutDlg about(parent);
    about.exec();
}
