// What the main dialog asks of each of its pages, and the no-access page
// shown instead of them for the further processors of a TIM.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <string>

class CKovraDlg;
class IFFlash;
class QPushButton;
struct CpuRecord;

// The engine's and the rules' texts as the widgets take them.
inline QString Qt6(const std::string& text) {
    return QString::fromStdString(text);
}

// A page's button: named for the tests, and never the default button, so
// that Enter in a page's list or box does not press it.
QPushButton* PageButton(const QString& text, const QString& objectName, QWidget* parent);

class CKovraPage : public QWidget {
    Q_OBJECT
  public:
    explicit CKovraPage(QWidget* parent = nullptr) : QWidget(parent) {}
    // Refills the page from the current record.
    virtual void Populate() {}
    virtual void EnableDialog(bool enable) { setEnabled(enable); }
};

// A page that works on the current processor's flash object.
class CKovraEnginePage : public CKovraPage {
    Q_OBJECT
  public:
    explicit CKovraEnginePage(CKovraDlg& dialog, QWidget* parent = nullptr)
        : CKovraPage(parent), dialog_(dialog) {}

  protected:
    CpuRecord* Current() const;
    // The current record's flash object, or null.
    IFFlash* Flash() const;
    // Runs an engine call when the page may (enabled, a flash object to
    // call); an engine error goes to the exception box.
    void Guarded(const std::function<void(IFFlash&)>& call);

    CKovraDlg& dialog_;
    bool enabled_ = true;
};

class CDlgNoAccess : public CKovraPage {
    Q_OBJECT
  public:
    explicit CDlgNoAccess(QWidget* parent = nullptr);
};
