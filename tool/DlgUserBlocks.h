// The User blocks page: the current processor's user blocks, changed only
// through its flash object (the engine's change notice refills the list).
// CAcceptListCtrl is the list that takes files dropped from the desktop and
// blocks dragged inside it; CDlgBlockAdd the file dialog with its "Add as
// type" panel; CDlgEditBlock the "Block properties" dialog.
#pragma once

#include "tool/KovraPage.h"
#include "tool/UserBlockActions.h"

#include <QDialog>
#include <QFileDialog>
#include <QTreeWidget>

#include <optional>

class CKovraDlg;
class IKovraPrompts;
struct CpuRecord;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CAcceptListCtrl : public QTreeWidget {
    Q_OBJECT
  public:
    explicit CAcceptListCtrl(QWidget* parent = nullptr);
    // Off while the page is disabled: no drag starts, no drop is taken.
    void SetAccepting(bool accepting) { accepting_ = accepting; }

  signals:
    // Local files dropped from outside, at a point of the viewport.
    void FilesDropped(const QPoint& at, const QStringList& files);
    // A block dragged from one row onto another.
    void BlockMoved(int from, int to);
    void DeletePressed();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;

  private:
    void EndDrag(const QPoint& at);

    bool accepting_ = true;
    int pressed_ = -1;  // the row the left button went down on
    QPoint pressPoint_;
    bool dragging_ = false;
    QLabel* dragImage_ = nullptr;
};

class CDlgBlockAdd : public QFileDialog {
    Q_OBJECT
  public:
    // Starts in the folder given, else in the working folder.
    explicit CDlgBlockAdd(const QString& folder = QString(), QWidget* parent = nullptr);
    // The file and the panel as the dialog was accepted.
    BlockProperties Properties() const;

  public slots:
    // The file under the cursor: its extension picks the type.
    void ChooseFile(const QString& path);

  private:
    void OnTypeChanged(int index);

    QString chosen_;
    QComboBox* type_ = nullptr;
    QCheckBox* bootable_ = nullptr;
    QCheckBox* bigEndian_ = nullptr;
    QLineEdit* id_ = nullptr;
    QLineEdit* major_ = nullptr;
    QLineEdit* minor_ = nullptr;
};

class CDlgEditBlock : public QDialog {
    Q_OBJECT
  public:
    CDlgEditBlock(IKovraPrompts& prompts, const BlockProperties& block, QWidget* parent = nullptr);
    BlockProperties Properties() const;

  private:
    void OnTypeChanged(int index);
    void OnBrowse();

    IKovraPrompts& prompts_;
    QLineEdit* id_ = nullptr;
    QLineEdit* major_ = nullptr;
    QLineEdit* minor_ = nullptr;
    QComboBox* type_ = nullptr;
    QLineEdit* file_ = nullptr;
    QCheckBox* boot_ = nullptr;
    QCheckBox* bigEndian_ = nullptr;
};

class CDlgUserBlocks : public CKovraEnginePage {
    Q_OBJECT
  public:
    explicit CDlgUserBlocks(CKovraDlg& dialog, QWidget* parent = nullptr);
    void Populate() override;
    void EnableDialog(bool enable) override;
    int SelectedIndex() const { return selected_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Runs an engine sequence when the page may, errors to the exception box;
    // `quiet` keeps the engine from re-reading after every step.
    template <class Call>
    void Run(Call&& call, bool quiet = false);
    std::vector<int> SelectedRows() const;
    void UpdateButtons();
    void ShowMenu(const QPoint& at);

    void OnAdd(int32_t position);
    void OnEdit();
    void OnDelete();
    void OnVerify();
    void OnUpdate();
    void OnUpdateAll();
    void OnBootFrom();
    void OnCancelBoot();
    void OnDrop(const QPoint& at, const QStringList& files);
    void OnMove(int from, int to);

    CAcceptListCtrl* list_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* verify_ = nullptr;
    QPushButton* updateAll_ = nullptr;
    int selected_ = -1;
    const CpuRecord* shown_ = nullptr;  // whose blocks the list shows
    QString lastFolder_;                // where the add dialog was left
};
