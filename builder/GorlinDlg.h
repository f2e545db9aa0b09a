// The builder's main dialog. It owns the TIM library binding and the state
// class, builds the controls and forwards every control event to the state
// class; it draws what that class decides. Every modal window goes through
// IGorlinPrompts.
#pragma once

#include "builder/GorlinIcon.h"
#include "builder/GorlinModel.h"
#include "builder/GorlinPrompts.h"
#include "builder/GorlinTimLibrary.h"

#include <QDialog>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Where the builder keeps its settings.
inline constexpr const char* kGorlinSettingsKey = "Software\\Halvern\\QEL4410";
inline constexpr const char* kGorlinSettingsApp = "Gorlin";
inline constexpr const char* kGorlinSbfValue = "Sbf";

class CGorlinDlg : public QDialog {
    Q_OBJECT
  public:
    // Binds the TIM library first: a library or entry point that is missing
    // throws the binder's QelExcept before any control exists. Then builds the
    // controls and starts (TIM list, stored settings); the SBF named by the
    // File edit is shown from the event loop, once the dialog is up.
    explicit CGorlinDlg(IGorlinPrompts& prompts, const char* timLibrary = "QelTimInfo.dll",
                        QWidget* parent = nullptr);
    ~CGorlinDlg() override;

  public slots:
    // Close, Escape and the window's close button all end here: the File
    // text is stored first.
    void reject() override;

  private:
    void CreateControls();
    void ConnectControls();
    void Start();

    void OnBrowseInput();
    void OnBrowseFile();
    void OnInputChanged();
    void OnVersionChanged();
    void OnAutoNameClicked(bool checked);
    void OnClear();
    void OnBuild();

    void RefreshInfo();
    void GenerateName();
    void ShowSbf(const QString& path);
    void ReadChecksFromTree();
    void WriteChecksToTree();
    QList<QTreeWidgetItem*> TargetItems() const;
    void ShowStatus(GorlinStatus status);
    void HideStatus();
    void SetBuildControlsEnabled(bool enabled);
    void SaveSettings();

    IGorlinPrompts& prompts_;
    CGorlinTimLibrary timLibrary_;
    CGorlinModel model_;

    QLineEdit* file_ = nullptr;
    QPushButton* browseFile_ = nullptr;
    QCheckBox* autoName_ = nullptr;
    QLineEdit* input_ = nullptr;
    QPushButton* browseInput_ = nullptr;
    QLineEdit* major_ = nullptr;
    QLineEdit* minor_ = nullptr;
    QPlainTextEdit* comment_ = nullptr;
    QPlainTextEdit* info_ = nullptr;
    QTreeWidget* targets_ = nullptr;
    QPushButton* clear_ = nullptr;
    QPushButton* build_ = nullptr;
    QPushButton* close_ = nullptr;
    QLabel* status_ = nullptr;
    QAction* about_ = nullptr;
};
