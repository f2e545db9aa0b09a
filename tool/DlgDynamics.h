// The Dynamics page: the current processor's dynamic values, added, edited,
// deleted and cleared through its flash object; the engine's change notice
// refills the list. CDlgAddDynamic is the small dialog for one pair.
#pragma once

#include "Telmar.h"
#include "tool/KovraPage.h"

#include <QDialog>

#include <cstdint>

class CKovraDlg;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CDlgAddDynamic : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgAddDynamic(QWidget* parent = nullptr);
    // Shows the pair as "0x%08X"; an unreadable text then keeps it.
    void Prefill(uint32_t address, uint32_t value);
    uint32_t Address() const { return address_; }
    uint32_t Value() const { return value_; }

  public slots:
    void accept() override;

  private:
    QLineEdit* address_edit_ = nullptr;
    QLineEdit* value_edit_ = nullptr;
    uint32_t address_ = 0;
    uint32_t value_ = 0;
};

class CDlgDynamics : public CKovraEnginePage {
    Q_OBJECT
  public:
    explicit CDlgDynamics(CKovraDlg& dialog, QWidget* parent = nullptr);
    void Populate() override;
    void EnableDialog(bool enable) override;
    int SelectedIndex() const { return selected_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnAdd();
    void OnEdit();
    void OnDelete();
    void OnClear();
    void ShowMenu(const QPoint& at);
    QTreeWidget* list_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* clear_ = nullptr;
    QCheckBox* hex_ = nullptr;
    int selected_ = -1;
};
