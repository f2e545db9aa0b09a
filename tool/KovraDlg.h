// The tool's main window: the processor tree, the pages of the selected
// processor, Commit, progress, Help, OK and Cancel. It owns the engine and TIM
// library bindings and the records (CKovraCore); engine threads reach it only
// through queued invocations named after its private commands and through
// the prompt hand-over of Ask.
#pragma once

#include "QelTimInfoLoad.h"
#include "tool/KovraCore.h"
#include "tool/KovraPrompts.h"
#include "tool/TelmarLoad.h"

#include <QDialog>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

class CBusyAnimation;
class CDlgNoAccess;
class CDlgTarg;
class CHelpWindow;
class CKovraPage;
class CSplash;
class QAction;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedLayout;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

// Where the tool keeps its settings.
inline constexpr const char* kKovraSettingsKey = "SOFTWARE\\Halvern\\QEL4410";
inline constexpr const char* kKovraSettingsApp = "Kovra";

struct KovraLibraries {
    std::string telmar = "Telmar.dll";
    std::string timInfo = "QelTimInfo.dll";
};

class CKovraDlg : public QDialog, public IKovraHost {
    Q_OBJECT
  public:
    // Binds both libraries. A TIM library or entry point that is missing
    // throws the binder's QelExcept; a missing engine is told through the
    // prompts and leaves EngineBound false.
    explicit CKovraDlg(IKovraPrompts& prompts, const KovraLibraries& libraries = {},
                       QWidget* parent = nullptr);
    ~CKovraDlg() override;

    bool EngineBound() const { return telmar_.IsComplete(); }
    // The start sequence: splash, TIM database, engine, Connect. False when
    // the engine could not be opened (told through the prompts).
    bool Initialise();
    void Shutdown();

    CKovraCore& Core() { return *core_; }
    IKovraPrompts& Prompts() { return prompts_; }
    // Tests: given to the records before the engine starts.
    void SetNoticeObserver(CKovraCore::NoticeObserver observer) { observer_ = std::move(observer); }
    CSplash* Splash() const { return splash_; }
    CHelpWindow* HelpWindow() const { return help_; }
    bool IsBusy() const { return busy_; }

    // IKovraHost
    void Post(KovraCommand command) override;
    KovraMessage::Answer Ask(const KovraMessage& message) override;
    void ShowException(const CFlashExc& error);

    // The private commands.
    Q_INVOKABLE void Populate();
    Q_INVOKABLE void TargetInit();
    Q_INVOKABLE void UpdateUI();
    Q_INVOKABLE void SetTreeStates();
    Q_INVOKABLE void UpdatePercentage();
    Q_INVOKABLE void EnableDialogsFalse();
    Q_INVOKABLE void HideSplash();
    Q_INVOKABLE void UpdateStatusString();

    void EnableDialogs(bool enable);

    // A file chosen in the file dialog, which starts from the full path kept
    // in the settings value valueName (from defaultStart, then kept there,
    // while it has none); the choice is kept in the value. Empty when
    // cancelled.
    QString BrowseForFile(const QString& initialFile, const char* valueName,
                          const QString& defaultStart,
                          const QList<IKovraPrompts::FileFilter>& filters,
                          const QString& defaultExtension, const QString& title);

  public slots:
    void accept() override;
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    struct PendingPrompt {
        KovraMessage message;
        KovraMessage::Answer answer = KovraMessage::Answer::Cancel;
        bool done = false;
    };

    void CreateControls();
    void CreatePages();
    Q_INVOKABLE void AnswerPrompts();
    void ReleasePrompts();
    void OnTreeSelection();
    void SelectProcessor(CpuRecord* record);
    void ShowPage(int index);
    void OnCommit();
    void OnHelp();
    CpuRecord* RecordOfItem(const QTreeWidgetItem* item) const;

    IKovraPrompts& prompts_;
    CQelTimInfoLoad timBinder_;
    std::unique_ptr<CKovraCore> core_;
    CQelTimInfo* database_ = nullptr;
    CQelTimInfo* openedDatabase_ = nullptr;  // closed by the destructor
    CTelmarLoad telmar_;
    IFSystem* system_ = nullptr;
    bool busy_ = false;
    CKovraCore::NoticeObserver observer_;

    QTreeWidget* tree_ = nullptr;
    QTabBar* tabs_ = nullptr;
    QStackedLayout* pageStack_ = nullptr;
    CKovraPage* pages_[4] = {};
    CDlgTarg* general_ = nullptr;
    CDlgNoAccess* noAccess_ = nullptr;
    QPushButton* commit_ = nullptr;
    QPushButton* helpButton_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* ok_ = nullptr;
    QLabel* percentage_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QGroupBox* statusGroup_ = nullptr;
    QLabel* status_ = nullptr;
    CBusyAnimation* animation_ = nullptr;
    QAction* about_ = nullptr;
    CSplash* splash_ = nullptr;
    CHelpWindow* help_ = nullptr;

    std::mutex promptMutex_;
    std::condition_variable promptDone_;
    std::deque<std::shared_ptr<PendingPrompt>> pendingPrompts_;
    bool closing_ = false;
    bool shutDown_ = false;
};
