// Every modal window the builder opens goes through this seam: message boxes,
// the open-file dialog and the About box. The program uses CQtPrompts; tests
// put a scripted answerer in its place, so nothing modal ever waits for a user.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

class IGorlinPrompts {
  public:
    enum class Icon { Information, Error };

    struct FileFilter {
        QString description;  // what the user reads, e.g. "Bit files (.bit)"
        QStringList patterns;
        bool operator==(const FileFilter&) const = default;
    };
    struct FileQuery {
        QString title;
        QList<FileFilter> filters;
        QString defaultSuffix;  // without the point
        QString folder;         // where the dialog starts; empty: its own choice
    };

    virtual ~IGorlinPrompts() = default;
    virtual void Message(QWidget* parent, const QString& text, const QString& caption,
                         Icon icon) = 0;
    // An existing file the user chose, or an empty string when cancelled.
    virtual QString OpenFile(QWidget* parent, const FileQuery& query) = 0;
    virtual void About(QWidget* parent) = 0;
};

// The real windows.
class CQtPrompts : public IGorlinPrompts {
  public:
    void Message(QWidget* parent, const QString& text, const QString& caption, Icon icon) override;
    QString OpenFile(QWidget* parent, const FileQuery& query) override;
    void About(QWidget* parent) override;
};
