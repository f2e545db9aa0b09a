// Every modal window the tool opens goes through this seam: message boxes,
// file dialogs and the About box. The program uses CQtPrompts; tests put a
// scripted answerer in its place, so nothing modal waits for a user.
// Always called on the user-interface thread.
#pragma once

#include "tool/KovraCore.h"

#include <QList>
#include <QString>
#include <QStringList>

class QDialog;
class QMenu;
class QPoint;
class QWidget;

class IKovraPrompts {
  public:
    struct FileFilter {
        QString description;  // shown as it stands, patterns and all
        QStringList patterns;
    };
    struct FileQuery {
        QString title;
        QList<FileFilter> filters;
        QString defaultSuffix;
        QString folder;
        QString fileName;
    };

    virtual ~IKovraPrompts() = default;
    virtual KovraMessage::Answer Message(QWidget* parent, const KovraMessage& message) = 0;
    // An existing file, or an empty string when cancelled.
    virtual QString OpenFile(QWidget* parent, const FileQuery& query) = 0;
    virtual void About(QWidget* parent) = 0;
    // Runs one of the tool's own modal dialogs; QDialog::Accepted or Rejected.
    virtual int Exec(QDialog& dialog) = 0;
    // Opens a popup menu at a screen position; the chosen action triggers.
    virtual void Menu(QMenu& menu, const QPoint& at) = 0;
};

class CQtPrompts : public IKovraPrompts {
  public:
    KovraMessage::Answer Message(QWidget* parent, const KovraMessage& message) override;
    QString OpenFile(QWidget* parent, const FileQuery& query) override;
    void About(QWidget* parent) override;
    int Exec(QDialog& dialog) override;
    void Menu(QMenu& menu, const QPoint& at) override;
};
