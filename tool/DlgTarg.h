// The General page: the current processor's TIM type, boot loader and FPGA
// bitstream. Choosing a TIM type makes the engine select it; Standard and
// Browse hand a file (or none, for the TIM's standard one) to the engine,
// whose change notice refills the page. CStatusIcon, CDlgTimInfo and
// CDlgSearching are the page's small companions.
#pragma once

#include "tool/KovraPage.h"

#include <QDialog>
#include <QLabel>

class CKovraDlg;
struct CpuRecord;
class CQelTimRecord;
class QComboBox;
class QPlainTextEdit;
class QPushButton;

// Whether what a box shows is on the flash (0, a green tick) or changed and
// not yet written (1, a yellow wrench).
class CStatusIcon : public QLabel {
    Q_OBJECT
  public:
    explicit CStatusIcon(QWidget* parent = nullptr);
    // Other states change nothing.
    void SetState(int state);
    int State() const { return state_; }

  private:
    int state_ = -1;
};

// "TIM details": a TIM description's name and comment.
class CDlgTimInfo : public QDialog {
    Q_OBJECT
  public:
    CDlgTimInfo(const QString& name, const QString& comment, QWidget* parent = nullptr);
};

// "Searching ...", up while the engine looks for the standard bitstream.
class CDlgSearching : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgSearching(QWidget* parent = nullptr);
};

class CDlgTarg : public CKovraEnginePage {
    Q_OBJECT
  public:
    explicit CDlgTarg(CKovraDlg& dialog, QWidget* parent = nullptr);
    void FillTimTypes();
    void Populate() override;
    void EnableDialog(bool enable) override;

  private:
    void OnTimTypeChosen(int index);
    bool IsSelectedType(const CpuRecord& record, const CQelTimRecord& tim) const;
    void OnDetails();
    void OnBootStandard();
    void OnBootBrowse();
    void OnFpgaStandard();
    void OnFpgaBrowse();
    void ShowBox(QPlainTextEdit* edit, CStatusIcon* icon, const std::string& text, bool shown,
                 int state);
    QPlainTextEdit* fpgaText_ = nullptr;
    QPlainTextEdit* bootText_ = nullptr;
    CStatusIcon* fpgaIcon_ = nullptr;
    CStatusIcon* bootIcon_ = nullptr;
    QPushButton* fpgaBrowse_ = nullptr;
    QPushButton* fpgaStandard_ = nullptr;
    QPushButton* bootStandard_ = nullptr;
    QPushButton* bootBrowse_ = nullptr;
    QComboBox* timTypes_ = nullptr;
    QPushButton* details_ = nullptr;
    CDlgSearching* searching_ = nullptr;
};
