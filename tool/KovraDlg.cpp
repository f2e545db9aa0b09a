#include "tool/KovraDlg.h"

#include "RegEdit.h"
#include "tool/BusyAnimation.h"
#include "tool/DlgAdvanced.h"
#include "tool/DlgDynamics.h"
#include "tool/DlgTarg.h"
#include "tool/DlgUserBlocks.h"
#include "tool/HelpWindow.h"
#include "tool/KovraIcons.h"
#include "tool/KovraPage.h"
#include "tool/Splash.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QTabBar>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kRecordRole = Qt::UserRole;
constexpr int kRootIndex = -1;
constexpr int kHelpContextMainDialog = 102;

KovraMessage::Answer DefaultAnswer(const KovraMessage& message) {
    return message.defaultAnswer;
}

}  // namespace

CKovraDlg::CKovraDlg(IKovraPrompts& prompts, const KovraLibraries& libraries, QWidget* parent)
    : QDialog(parent),
      prompts_(prompts),
      timBinder_(libraries.timInfo.c_str()),
      telmar_(
          [this](const std::string& text, const std::string& caption) {
              prompts_.Message(nullptr, {text, caption, KovraMessage::Icon::Error});
          },
          libraries.telmar) {
    setObjectName(QStringLiteral("KovraDlg"));
    setWindowTitle(QStringLiteral("Halvern Flash Programming Utility"));
    setWindowIcon(KovraIcon());
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);
    CreateControls();
    splash_ = new CSplash(this);
    help_ = new CHelpWindow(this);
}

CKovraDlg::~CKovraDlg() {
    Shutdown();
    // Handed back before the TIM library is unloaded with the binder: its
    // records would otherwise outlive the code that owns them.
    if (openedDatabase_ && timBinder_.QelTimInfoClose)
        timBinder_.QelTimInfoClose(openedDatabase_);
}

void CKovraDlg::CreateControls() {
    auto* menuBar = new QMenuBar(this);
    QMenu* helpMenu = menuBar->addMenu(tr("&Help"));
    about_ = helpMenu->addAction(QStringLiteral("&About Kovra..."));
    about_->setObjectName(QStringLiteral("actionAbout"));
    about_->setShortcut(QKeySequence::HelpContents);
    about_->setShortcutContext(Qt::WindowShortcut);
    addAction(about_);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("treeCpus"));
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setRootIsDecorated(true);
    tree_->setIconSize(QSize(16, 16));
    tree_->setMinimumWidth(
        tree_->fontMetrics().horizontalAdvance(QStringLiteral("QEL carrier board : CPU_3A")) + 56);

    statusGroup_ = new QGroupBox(this);
    statusGroup_->setObjectName(QStringLiteral("groupStatus"));
    status_ = new QLabel(statusGroup_);
    status_->setObjectName(QStringLiteral("labelStatus"));
    status_->setWordWrap(true);
    status_->setMinimumHeight(status_->fontMetrics().height() * 2);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    animation_ = new CBusyAnimation(statusGroup_);
    animation_->setObjectName(QStringLiteral("animationBusy"));
    animation_->setFixedSize(animation_->sizeHint());
    QSizePolicy keep = animation_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);  // the status line does not move when it shows
    animation_->setSizePolicy(keep);
    animation_->hide();
    auto* statusLayout = new QVBoxLayout(statusGroup_);
    statusLayout->addWidget(status_);
    statusLayout->addWidget(animation_, 0, Qt::AlignHCenter | Qt::AlignBottom);

    auto* pageArea = new QWidget(this);
    tabs_ = new QTabBar(pageArea);
    tabs_->setObjectName(QStringLiteral("tabPages"));
    tabs_->setDrawBase(true);
    for (const char* title : {"General", "User blocks", "Dynamics", "Advanced"})
        tabs_->addTab(QLatin1String(title));
    auto* frame = new QWidget(pageArea);
    frame->setObjectName(QStringLiteral("pageFrame"));
    pageStack_ = new QStackedLayout(frame);
    auto* pageLayout = new QVBoxLayout(pageArea);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);
    pageLayout->addWidget(tabs_);
    pageLayout->addWidget(frame, 1);
    CreatePages();

    commit_ = new QPushButton(QStringLiteral("Commit"), this);
    commit_->setObjectName(QStringLiteral("buttonCommit"));
    commit_->setEnabled(false);
    helpButton_ = new QPushButton(QStringLiteral("&Help"), this);
    helpButton_->setObjectName(QStringLiteral("buttonHelp"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("buttonCancel"));
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("buttonOk"));
    for (QPushButton* button : {commit_, helpButton_, cancel_, ok_}) button->setAutoDefault(false);
    percentage_ = new QLabel(this);
    percentage_->setObjectName(QStringLiteral("labelPercentage"));
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progressCommit"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);

    auto* left = new QVBoxLayout;
    left->addWidget(tree_, 1);
    left->addWidget(statusGroup_);
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addWidget(pageArea, 3);
    auto* progressRow = new QGridLayout;
    progressRow->addWidget(percentage_, 0, 0);
    progressRow->addWidget(progress_, 1, 0);
    progressRow->addWidget(commit_, 1, 1, Qt::AlignRight);
    progressRow->setColumnStretch(0, 3);
    progressRow->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(helpButton_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(ok_);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addLayout(top, 1);
    layout->addLayout(progressRow);
    layout->addLayout(buttons);
    resize(860, 540);

    connect(tree_, &QTreeWidget::currentItemChanged, this, &CKovraDlg::OnTreeSelection);
    connect(tabs_, &QTabBar::currentChanged, this, &CKovraDlg::ShowPage);
    connect(commit_, &QPushButton::clicked, this, &CKovraDlg::OnCommit);
    connect(helpButton_, &QPushButton::clicked, this, &CKovraDlg::OnHelp);
    connect(cancel_, &QPushButton::clicked, this, &CKovraDlg::reject);
    connect(ok_, &QPushButton::clicked, this, &CKovraDlg::accept);
    connect(about_, &QAction::triggered, this, [this] { prompts_.About(this); });
}

void CKovraDlg::CreatePages() {
    static const char* const names[4] = {"pageGeneral", "pageUserBlocks", "pageDynamics",
                                         "pageAdvanced"};
    pages_[0] = general_ = new CDlgTarg(*this);
    pages_[1] = new CDlgUserBlocks(*this);
    pages_[2] = new CDlgDynamics(*this);
    pages_[3] = new CDlgAdvanced(*this);
    for (int i = 0; i < 4; ++i) {
        if (!pages_[i]) {
            pages_[i] = new CKovraPage;
            pages_[i]->setObjectName(QLatin1String(names[i]));
        }
        pageStack_->addWidget(pages_[i]);
    }
    noAccess_ = new CDlgNoAccess;
    pageStack_->addWidget(noAccess_);
    pageStack_->setCurrentIndex(0);
}

bool CKovraDlg::Initialise() {
    splash_->ShowMessage(QStringLiteral("Please wait while Code Composer starts."));
    database_ = timBinder_.QelTimInfoOpen ? timBinder_.QelTimInfoOpen(0) : nullptr;
    openedDatabase_ = database_;
    core_ = std::make_unique<CKovraCore>(*this, database_);
    core_->SetNoticeObserver(observer_);
    try {
        system_ = telmar_.Open(&CKovraCore::StateCallback, core_.get(), 0);
    } catch (const CTelmarLoad::LoadExc&) {
        system_ = nullptr;
    }
    if (!system_) {
        prompts_.Message(
            this, {"The flash engine could not be started.", "Error", KovraMessage::Icon::Error});
        EnableDialogs(false);
        return false;
    }
    core_->SetSystem(system_);
    system_->Connect();
    EnableDialogs(false);
    return true;
}

void CKovraDlg::Post(KovraCommand command) {
    QMetaObject::invokeMethod(this, CommandName(command), Qt::QueuedConnection);
}

KovraMessage::Answer CKovraDlg::Ask(const KovraMessage& message) {
    if (QThread::currentThread() == thread())
        return prompts_.Message(this, message);
    // An engine thread: the user-interface thread shows the box while this
    // one waits. Shutdown answers what is still open, so that an engine
    // thread waiting here never blocks the engine's close.
    std::unique_lock<std::mutex> lock(promptMutex_);
    if (closing_)
        return DefaultAnswer(message);
    auto request = std::make_shared<PendingPrompt>();
    request->message = message;
    pendingPrompts_.push_back(request);
    QMetaObject::invokeMethod(this, "AnswerPrompts", Qt::QueuedConnection);
    promptDone_.wait(lock, [&] { return request->done || closing_; });
    return request->done ? request->answer : DefaultAnswer(message);
}

void CKovraDlg::AnswerPrompts() {
    for (;;) {
        std::shared_ptr<PendingPrompt> request;
        {
            const std::lock_guard<std::mutex> guard(promptMutex_);
            if (pendingPrompts_.empty() || closing_)
                return;
            request = pendingPrompts_.front();
            pendingPrompts_.pop_front();
        }
        const KovraMessage::Answer answer = prompts_.Message(this, request->message);
        {
            const std::lock_guard<std::mutex> guard(promptMutex_);
            request->answer = answer;
            request->done = true;
        }
        promptDone_.notify_all();
    }
}

void CKovraDlg::ReleasePrompts() {
    {
        const std::lock_guard<std::mutex> guard(promptMutex_);
        closing_ = true;
        pendingPrompts_.clear();
    }
    promptDone_.notify_all();
}

void CKovraDlg::ShowException(const CFlashExc& error) {
    Ask(ExceptionMessage(error));
}

void CKovraDlg::Shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    splash_->ShowMessage(QStringLiteral("Closing program. Please wait ..."));
    ReleasePrompts();
    telmar_.Close(system_);
    system_ = nullptr;
    database_ = nullptr;
    if (core_) {
        core_->SetSystem(nullptr);
        core_->ClearRecords();
    }
    if (animation_)
        animation_->Stop();
}

CpuRecord* CKovraDlg::RecordOfItem(const QTreeWidgetItem* item) const {
    if (!item || !core_)
        return nullptr;
    const int index = item->data(0, kRecordRole).toInt();
    const std::vector<CpuRecord*> records = core_->Records();
    return index >= 0 && index < static_cast<int>(records.size()) ? records[index] : nullptr;
}

// ---------------------------------------------------------------- commands

void CKovraDlg::Populate() {
    if (!core_)
        return;
    if (core_->Current()) {
        for (CKovraPage* page : pages_) page->Populate();
    }
    UpdateUI();
    commit_->setEnabled(core_->AnyCommittable());
}

void CKovraDlg::TargetInit() {
    if (!core_)
        return;
    general_->FillTimTypes();
    tree_->clear();
    auto* root = new QTreeWidgetItem(tree_, QStringList(QStringLiteral("CPUs")));
    root->setIcon(0, TreeImagePixmap(TreeImage::Root));
    root->setData(0, kRecordRole, kRootIndex);
    const std::vector<CpuRecord*> records = core_->Records();
    for (size_t i = 0; i < records.size(); ++i) {
        auto* item =
            new QTreeWidgetItem(root, QStringList(QString::fromStdString(records[i]->name)));
        item->setData(0, kRecordRole, static_cast<int>(i));
        item->setIcon(0, TreeImagePixmap(TreeImage::Ready));
    }
    root->setExpanded(true);
    if (!records.empty())
        tree_->setCurrentItem(root->child(0));
}

void CKovraDlg::UpdateUI() {
    if (!core_ || !core_->Enumerated()) {
        EnableDialogs(false);
        return;
    }
    CpuRecord* current = core_->Current();
    bool ready = false;
    if (current) {
        const qel::platform::CriticalSectionLock guard(current->lock);
        ready = current->state == CpuState::Ready;
    }
    EnableDialogs(ready);
    SetTreeStates();
    ShowPage(tabs_->currentIndex());
    const bool busy = core_->AnyBusy();
    if (busy != busy_) {
        if (busy) {
            animation_->show();
            animation_->Play(0, 10, 10000);
        } else {
            animation_->hide();
            animation_->Stop();
        }
        busy_ = busy;
    }
}

void CKovraDlg::SetTreeStates() {
    if (!core_)
        return;
    core_->SetTreeStates();
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i) {
        QTreeWidgetItem* item = root->child(i);
        if (CpuRecord* record = RecordOfItem(item)) {
            TreeImage image;
            {
                const qel::platform::CriticalSectionLock guard(record->lock);
                image = record->image;
            }
            item->setIcon(0, TreeImagePixmap(image));
            item->setData(0, Qt::UserRole + 1, static_cast<int>(image));
        }
    }
}

void CKovraDlg::UpdatePercentage() {
    if (!core_)
        return;
    const PercentageView view = core_->UpdatePercentage();
    percentage_->setText(QString::fromStdString(view.line));
    progress_->setValue(view.percent);
}

void CKovraDlg::EnableDialogsFalse() {
    EnableDialogs(false);
}

void CKovraDlg::HideSplash() {
    const bool hadFocus = splash_->isActiveWindow();
    splash_->hide();
    // The keys go to the main window again, not to the hidden splash.
    if (hadFocus && isVisible())
        activateWindow();
}

void CKovraDlg::UpdateStatusString() {
    if (!core_ || !core_->Current())
        return;
    status_->setText(QString::fromStdString(core_->StatusString()));
}

void CKovraDlg::EnableDialogs(bool enable) {
    for (CKovraPage* page : pages_) page->EnableDialog(enable);
}

QString CKovraDlg::BrowseForFile(const QString& initialFile, const char* valueName,
                                 const QString& defaultStart,
                                 const QList<IKovraPrompts::FileFilter>& filters,
                                 const QString& defaultExtension, const QString& title) {
    std::string start;
    if (CRegEdit(kKovraSettingsKey, kKovraSettingsApp).GetString(valueName, start) !=
        CRegEdit::Done) {
        start = defaultStart.toStdString();
        CRegEdit(kKovraSettingsKey, kKovraSettingsApp).SetString(valueName, start);
    }
    // The dialog wants the bare suffix: "*.sbf" would be appended whole to
    // a name typed without one, which then never names an existing file.
    QString suffix = defaultExtension;
    while (suffix.startsWith(QLatin1Char('*')) || suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    const QString path = prompts_.OpenFile(
        this, {title, filters, suffix, QString::fromStdString(start), initialFile});
    if (path.isEmpty())
        return {};
    CRegEdit(kKovraSettingsKey, kKovraSettingsApp).SetString(valueName, path.toStdString());
    return path;
}

// ---------------------------------------------------------------- controls

void CKovraDlg::OnTreeSelection() {
    QTreeWidgetItem* item = tree_->currentItem();
    CpuRecord* record = RecordOfItem(item);
    if (!record)
        return;  // the root "CPUs"
    SelectProcessor(record);
    Post(KovraCommand::Populate);
}

void CKovraDlg::SelectProcessor(CpuRecord* record) {
    core_->SetCurrent(record);
    CpuState state;
    {
        const qel::platform::CriticalSectionLock guard(record->lock);
        state = record->state;
    }
    core_->SetCpuState(*record, state);
    ShowPage(tabs_->currentIndex());
    // The status line belongs to the processor now selected, not to the
    // one whose notice came last.
    UpdateStatusString();
}

void CKovraDlg::ShowPage(int index) {
    CpuRecord* current = core_ ? core_->Current() : nullptr;
    bool noAccess = false;
    if (current) {
        const qel::platform::CriticalSectionLock guard(current->lock);
        noAccess = current->noRomAccess;
    }
    if (noAccess)
        pageStack_->setCurrentWidget(noAccess_);
    else if (index >= 0 && index < 4)
        pageStack_->setCurrentWidget(pages_[index]);
}

void CKovraDlg::OnCommit() {
    if (core_)
        core_->Commit();
}

void CKovraDlg::OnHelp() {
    std::string path;
    if (CRegEdit(kKovraSettingsKey, kKovraSettingsApp).GetString("Help", path) != CRegEdit::Done) {
        prompts_.Message(
            this, {"Help file not specified. Contact Halvern", "Error", KovraMessage::Icon::Error});
        return;
    }
    help_->Open(QString::fromStdString(path), kHelpContextMainDialog);
}

// ---------------------------------------------------------------- closing

void CKovraDlg::accept() {
    if (core_ && !core_->CanClose())
        return;
    Shutdown();
    QDialog::accept();
}

void CKovraDlg::reject() {
    if (core_ && !core_->ConfirmCancel(busy_))
        return;
    Shutdown();
    QDialog::reject();
}

void CKovraDlg::closeEvent(QCloseEvent* event) {
    if (shutDown_) {
        event->accept();
        return;
    }
    if (core_ && !core_->CanClose()) {
        event->ignore();
        return;
    }
    Shutdown();
    event->ignore();  // done() hides the dialog and ends its loop
    done(QDialog::Rejected);
}
