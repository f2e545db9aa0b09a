// What the main dialog asks of each of its pages, and the no-access page
// shown instead of them for the further processors of a TIM.
#pragma once

#include <QString>
#include <QWidget>

#include <string>

class QPushButton;

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

class CDlgNoAccess : public CKovraPage {
    Q_OBJECT
  public:
    explicit CDlgNoAccess(QWidget* parent = nullptr);
};
