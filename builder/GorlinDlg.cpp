#include "builder/GorlinDlg.h"

#include "RegEdit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kTargetIndexRole = Qt::UserRole;
constexpr int kStatusSize = 32;

std::string Std(const QString& text) {
    return text.toStdString();
}

QString Qt6(const std::string& text) {
    return QString::fromStdString(text);
}

QPushButton* BrowseButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(QStringLiteral("..."), parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    button->setMaximumWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    return button;
}

QLineEdit* VersionEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(5);
    edit->setAlignment(Qt::AlignRight);
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12);
    return edit;
}

// The folder a file dialog starts in: the one of the path already given.
QString FolderOf(const QString& path) {
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    return info.absoluteDir().exists() ? info.absolutePath() : QString();
}

}  // namespace

CGorlinDlg::CGorlinDlg(IGorlinPrompts& prompts, const char* timLibrary, QWidget* parent)
    : QDialog(parent), prompts_(prompts), timLibrary_(timLibrary) {
    setObjectName(QStringLiteral("GorlinDlg"));
    setWindowTitle(QStringLiteral("Gorlin"));
    setWindowIcon(GorlinIcon());
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);
    CreateControls();
    ConnectControls();
    Start();
}

CGorlinDlg::~CGorlinDlg() = default;

void CGorlinDlg::CreateControls() {
    // Help menu: the About box, also on F1.
    auto* menuBar = new QMenuBar(this);
    QMenu* help = menuBar->addMenu(tr("&Help"));
    about_ = help->addAction(tr("&About Gorlin..."));
    about_->setObjectName(QStringLiteral("actionAbout"));
    about_->setShortcut(QKeySequence::HelpContents);
    about_->setShortcutContext(Qt::WindowShortcut);
    addAction(about_);

    // Output (.sbf) file
    auto* output = new QGroupBox(QStringLiteral("Output (.sbf) file"), this);
    file_ = new QLineEdit(output);
    file_->setObjectName(QStringLiteral("editFile"));
    browseFile_ = BrowseButton(output, "buttonBrowseFile");
    autoName_ = new QCheckBox(QStringLiteral("Auto-generate name"), output);
    autoName_->setObjectName(QStringLiteral("checkAutoName"));
    auto* outputLayout = new QGridLayout(output);
    outputLayout->addWidget(new QLabel(QStringLiteral("File"), output), 0, 0);
    outputLayout->addWidget(file_, 0, 1);
    outputLayout->addWidget(browseFile_, 0, 2);
    outputLayout->addWidget(autoName_, 1, 1, 1, 2);
    outputLayout->setColumnStretch(1, 1);

    // Build parameters
    auto* parameters = new QGroupBox(QStringLiteral("Build parameters"), this);
    input_ = new QLineEdit(parameters);
    input_->setObjectName(QStringLiteral("editInput"));
    browseInput_ = BrowseButton(parameters, "buttonBrowseInput");
    major_ = VersionEdit(parameters, "editMajor");
    minor_ = VersionEdit(parameters, "editMinor");
    comment_ = new QPlainTextEdit(parameters);
    comment_->setObjectName(QStringLiteral("editComment"));
    comment_->setTabChangesFocus(true);
    info_ = new QPlainTextEdit(parameters);
    info_->setObjectName(QStringLiteral("editInfo"));
    info_->setReadOnly(true);
    info_->setTabChangesFocus(true);
    info_->setLineWrapMode(QPlainTextEdit::NoWrap);
    info_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* version = new QHBoxLayout;
    version->addWidget(major_);
    version->addWidget(new QLabel(QStringLiteral("."), parameters));
    version->addWidget(minor_);
    version->addStretch(1);
    auto* parametersLayout = new QGridLayout(parameters);
    parametersLayout->addWidget(new QLabel(QStringLiteral("Input (.bit)"), parameters), 0, 0);
    parametersLayout->addWidget(input_, 0, 1);
    parametersLayout->addWidget(browseInput_, 0, 2);
    parametersLayout->addWidget(new QLabel(QStringLiteral("Version:"), parameters), 1, 0);
    parametersLayout->addLayout(version, 1, 1, 1, 2);
    parametersLayout->addWidget(new QLabel(QStringLiteral("Comment:"), parameters), 2, 0,
                                Qt::AlignTop);
    parametersLayout->addWidget(comment_, 2, 1, 1, 2);
    parametersLayout->addWidget(new QLabel(QStringLiteral("Info:"), parameters), 3, 0,
                                Qt::AlignTop);
    parametersLayout->addWidget(info_, 3, 1, 1, 2);
    parametersLayout->setColumnStretch(1, 1);
    parametersLayout->setRowStretch(2, 1);
    parametersLayout->setRowStretch(3, 2);

    // Target TIMs
    auto* targetBox = new QGroupBox(QStringLiteral("Target TIMs"), this);
    targets_ = new QTreeWidget(targetBox);
    targets_->setObjectName(QStringLiteral("treeTargets"));
    targets_->setHeaderHidden(true);
    targets_->setColumnCount(1);
    targets_->setRootIsDecorated(true);
    targets_->setMinimumWidth(targets_->fontMetrics().horizontalAdvance(QStringLiteral("M")) * 14);
    clear_ = new QPushButton(QStringLiteral("&Clear"), targetBox);
    clear_->setObjectName(QStringLiteral("buttonClear"));
    clear_->setAutoDefault(false);
    auto* targetLayout = new QVBoxLayout(targetBox);
    targetLayout->addWidget(targets_, 1);
    targetLayout->addWidget(clear_, 0, Qt::AlignRight);

    // Buttons and the build status
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusIcon"));
    status_->setFixedSize(kStatusSize, kStatusSize);
    QSizePolicy keepPlace = status_->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);  // the buttons do not move when it shows
    status_->setSizePolicy(keepPlace);
    status_->hide();
    build_ = new QPushButton(QStringLiteral("Build *.sbf"), this);
    build_->setObjectName(QStringLiteral("buttonBuild"));
    build_->setAutoDefault(false);
    close_ = new QPushButton(QStringLiteral("Close"), this);
    close_->setObjectName(QStringLiteral("buttonClose"));
    close_->setAutoDefault(false);

    auto* middle = new QHBoxLayout;
    middle->addWidget(parameters, 3);
    middle->addWidget(targetBox, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_);
    buttons->addStretch(1);
    buttons->addWidget(build_);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addWidget(output);
    layout->addLayout(middle, 1);
    layout->addLayout(buttons);

    setTabOrder(file_, browseFile_);
    setTabOrder(browseFile_, autoName_);
    setTabOrder(autoName_, input_);
    setTabOrder(input_, browseInput_);
    setTabOrder(browseInput_, major_);
    setTabOrder(major_, minor_);
    setTabOrder(minor_, comment_);
    setTabOrder(comment_, info_);
    setTabOrder(info_, targets_);
    setTabOrder(targets_, clear_);
    setTabOrder(clear_, build_);
    setTabOrder(build_, close_);
    resize(760, 500);
}

void CGorlinDlg::ConnectControls() {
    connect(browseInput_, &QPushButton::clicked, this, &CGorlinDlg::OnBrowseInput);
    connect(browseFile_, &QPushButton::clicked, this, &CGorlinDlg::OnBrowseFile);
    connect(input_, &QLineEdit::textChanged, this, &CGorlinDlg::OnInputChanged);
    connect(file_, &QLineEdit::textChanged, this, &CGorlinDlg::RefreshInfo);
    connect(major_, &QLineEdit::textChanged, this, &CGorlinDlg::OnVersionChanged);
    connect(minor_, &QLineEdit::textChanged, this, &CGorlinDlg::OnVersionChanged);
    // Set by the program, the box only switches the File edit; a click also
    // generates the name.
    connect(autoName_, &QCheckBox::toggled, file_, &QWidget::setDisabled);
    connect(autoName_, &QCheckBox::clicked, this, &CGorlinDlg::OnAutoNameClicked);
    connect(clear_, &QPushButton::clicked, this, &CGorlinDlg::OnClear);
    connect(build_, &QPushButton::clicked, this, &CGorlinDlg::OnBuild);
    connect(close_, &QPushButton::clicked, this, &CGorlinDlg::reject);
    connect(about_, &QAction::triggered, this, [this] { prompts_.About(this); });
}

void CGorlinDlg::Start() {
    if (!timLibrary_.Open()) {
        // No targets and no stored settings: the dialog still opens.
        prompts_.Message(this, QStringLiteral("Could not open QelTimInfo library"),
                         QStringLiteral("Error"), IGorlinPrompts::Icon::Error);
        return;
    }
    model_.LoadTargets(*timLibrary_.Database());
    auto* root = new QTreeWidgetItem(targets_, QStringList(QStringLiteral("Target")));
    root->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    for (size_t index : model_.DisplayOrder()) {
        auto* item = new QTreeWidgetItem(root, QStringList(Qt6(model_.Targets()[index].name)));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setData(0, kTargetIndexRole, QVariant::fromValue<qulonglong>(index));
        item->setCheckState(0, Qt::Unchecked);
    }
    root->setExpanded(true);

    std::string stored;
    if (CRegEdit(kGorlinSettingsKey, kGorlinSettingsApp).GetString(kGorlinSbfValue, stored) ==
        CRegEdit::Done) {
        file_->setText(Qt6(stored));
        autoName_->setChecked(false);
    } else {
        autoName_->setChecked(true);
    }

    // The stored SBF is read once the dialog is on the screen.
    QMetaObject::invokeMethod(
        this, [this] { ShowSbf(file_->text()); }, Qt::QueuedConnection);
    HideStatus();
}

void CGorlinDlg::OnBrowseInput() {
    const IGorlinPrompts::FileQuery query{
        QStringLiteral("Select bit file"),
        {{QStringLiteral("Bit files (.bit)"), {QStringLiteral("*.bit"), QStringLiteral("*.BIT")}},
         {QStringLiteral("Dat files (.dat)"), {QStringLiteral("*.dat"), QStringLiteral("*.DAT")}},
         {QStringLiteral("All Files (*.*)"), {QStringLiteral("*")}}},
        QStringLiteral("bit"),
        FolderOf(input_->text())};
    const QString path = prompts_.OpenFile(this, query);
    if (path.isEmpty())
        return;
    autoName_->setChecked(true);
    if (input_->text() == path)
        OnInputChanged();  // the same file again: read it again
    else
        input_->setText(path);
}

void CGorlinDlg::OnBrowseFile() {
    const IGorlinPrompts::FileQuery query{
        QStringLiteral("Select sbf file"),
        {{QStringLiteral("Sbf files (.sbf)"), {QStringLiteral("*.sbf"), QStringLiteral("*.SBF")}},
         {QStringLiteral("All Files (*.*)"), {QStringLiteral("*")}}},
        QStringLiteral("sbf"),
        FolderOf(file_->text())};
    const QString path = prompts_.OpenFile(this, query);
    if (path.isEmpty())
        return;
    autoName_->setChecked(false);
    file_->setText(path);
    ShowSbf(path);
}

void CGorlinDlg::OnInputChanged() {
    model_.InputChanged(Std(input_->text()));
    const bool dat = model_.DatMode();
    {
        // Refresh and name generation follow below, once.
        const QSignalBlocker blockMajor(major_);
        const QSignalBlocker blockMinor(minor_);
        major_->setReadOnly(dat);
        minor_->setReadOnly(dat);
        comment_->setReadOnly(dat);
        if (dat) {
            // The .dat file's trailer decides version and comment.
            major_->setText(QStringLiteral("1"));
            minor_->setText(QStringLiteral("0"));
            comment_->clear();
        }
    }
    RefreshInfo();
    if (autoName_->isChecked())
        GenerateName();
}

void CGorlinDlg::OnVersionChanged() {
    RefreshInfo();
    if (autoName_->isChecked())
        GenerateName();
}

void CGorlinDlg::OnAutoNameClicked(bool checked) {
    if (checked)
        GenerateName();
}

void CGorlinDlg::OnClear() {
    model_.UncheckAll();
    WriteChecksToTree();
}

void CGorlinDlg::OnBuild() {
    ReadChecksFromTree();
    if (model_.CheckedTypes().empty()) {
        prompts_.Message(this, QStringLiteral("You need to select at least one target TIM type"),
                         QStringLiteral("Error"), IGorlinPrompts::Icon::Information);
        ShowStatus(GorlinStatus::Failure);
        return;
    }
    const GorlinBuildRequest request =
        model_.MakeBuildRequest(Std(input_->text()), Std(file_->text()), Std(major_->text()),
                                Std(minor_->text()), Std(comment_->toPlainText()));
    SetBuildControlsEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int result = model_.Build(request);
    QApplication::restoreOverrideCursor();
    SetBuildControlsEnabled(true);
    if (result != SBF_OK) {
        info_->setPlainText(QStringLiteral("Fail to build sbf file!!!"));
        ShowStatus(GorlinStatus::Failure);
        return;
    }
    ShowSbf(file_->text());
    ShowStatus(GorlinStatus::Success);
}

void CGorlinDlg::RefreshInfo() {
    if (model_.InfoIsStale(Std(input_->text()), Std(file_->text())))
        info_->clear();
    HideStatus();
}

void CGorlinDlg::GenerateName() {
    const std::string name = CGorlinModel::GenerateName(
        Std(input_->text()), model_.DeviceName(),
        CGorlinModel::VersionFromEdits(Std(major_->text()), Std(minor_->text())));
    if (!name.empty())
        file_->setText(Qt6(name));
}

void CGorlinDlg::ShowSbf(const QString& path) {
    info_->clear();
    const std::optional<SbfDescriptor> shown = model_.ReadSbfToShow(Std(path));
    if (!shown)
        return;
    WriteChecksToTree();
    // The input first: it decides dat mode, and the stored version and comment
    // then stand in the edits whatever the source was.
    input_->setText(Qt6(shown->sourcePath));
    {
        const QSignalBlocker blockMajor(major_);
        const QSignalBlocker blockMinor(minor_);
        major_->setText(QString::number(shown->version >> 16));
        minor_->setText(QString::number(shown->version & 0xFFFF));
        comment_->setPlainText(Qt6(shown->comment));
    }
    // The summary's lines end in CR LF; the box wants plain line feeds.
    info_->setPlainText(Qt6(shown->info).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    model_.RememberShown(shown->sourcePath, Std(path));
}

QList<QTreeWidgetItem*> CGorlinDlg::TargetItems() const {
    QList<QTreeWidgetItem*> items;
    for (int top = 0; top < targets_->topLevelItemCount(); ++top) {
        QTreeWidgetItem* root = targets_->topLevelItem(top);
        for (int child = 0; child < root->childCount(); ++child) items << root->child(child);
    }
    return items;
}

void CGorlinDlg::ReadChecksFromTree() {
    for (QTreeWidgetItem* item : TargetItems())
        model_.SetChecked(item->data(0, kTargetIndexRole).toULongLong(),
                          item->checkState(0) == Qt::Checked);
}

void CGorlinDlg::WriteChecksToTree() {
    for (QTreeWidgetItem* item : TargetItems()) {
        const size_t index = item->data(0, kTargetIndexRole).toULongLong();
        item->setCheckState(0, model_.Targets()[index].checked ? Qt::Checked : Qt::Unchecked);
    }
}

void CGorlinDlg::ShowStatus(GorlinStatus status) {
    const bool success = status == GorlinStatus::Success;
    status_->setPixmap(GorlinStatusPixmap(status, kStatusSize, devicePixelRatioF()));
    status_->setProperty("status", success ? QStringLiteral("success") : QStringLiteral("failure"));
    status_->setToolTip(success ? tr("Built") : tr("Not built"));
    status_->show();
}

void CGorlinDlg::HideStatus() {
    status_->hide();
    status_->setProperty("status", QString());
}

void CGorlinDlg::SetBuildControlsEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{input_, comment_, major_, minor_,
                                                            browseInput_, browseFile_, build_})
        control->setEnabled(enabled);
}

void CGorlinDlg::SaveSettings() {
    // A settings store that cannot be written loses the value, nothing else.
    CRegEdit(kGorlinSettingsKey, kGorlinSettingsApp).SetString(kGorlinSbfValue, Std(file_->text()));
}

void CGorlinDlg::reject() {
    SaveSettings();
    QDialog::reject();
}
