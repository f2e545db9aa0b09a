#include "tool/DlgUserBlocks.h"

#include "tool/KovraDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The local files among what was dropped.
QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
    return files;
}

QPixmap Blank16() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawLetter(QPainter& painter, const QColor& colour, const QString& letter) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(0, 0, 16, 15), Qt::AlignCenter, letter);
}

// The type column's pictures: a coloured cube, a window, a data sheet, a
// letter S and a letter u.
QPixmap TypePicture(BlockTypeImage image) {
    QPixmap pixmap = Blank16();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (image) {
        case BlockTypeImage::Program: {
            const QPointF top[] = {{8, 1.5}, {14.5, 4.5}, {8, 7.5}, {1.5, 4.5}};
            const QPointF left[] = {{1.5, 4.5}, {8, 7.5}, {8, 14.5}, {1.5, 11.5}};
            const QPointF right[] = {{8, 7.5}, {14.5, 4.5}, {14.5, 11.5}, {8, 14.5}};
            painter.setPen(QPen(QColor("#24364f"), 0.8));
            painter.setBrush(QColor("#e25b4b"));
            painter.drawPolygon(top, 4);
            painter.setBrush(QColor("#4f8fd6"));
            painter.drawPolygon(left, 4);
            painter.setBrush(QColor("#5cb85c"));
            painter.drawPolygon(right, 4);
            break;
        }
        case BlockTypeImage::Application:
            painter.setPen(QPen(QColor("#24364f"), 1));
            painter.setBrush(Qt::white);
            painter.drawRect(QRectF(1.5, 2.5, 13, 11));
            painter.fillRect(QRectF(2, 3, 12, 3), QColor("#2f63a8"));
            painter.fillRect(QRectF(4, 8, 5, 1.2), QColor("#6b7785"));
            painter.fillRect(QRectF(4, 10.5, 8, 1.2), QColor("#6b7785"));
            break;
        case BlockTypeImage::RawData: {
            QPainterPath sheet;
            sheet.moveTo(3.5, 1.5);
            sheet.lineTo(10, 1.5);
            sheet.lineTo(12.5, 4);
            sheet.lineTo(12.5, 14.5);
            sheet.lineTo(3.5, 14.5);
            sheet.closeSubpath();
            painter.setPen(QPen(QColor("#6b7785"), 1));
            painter.setBrush(Qt::white);
            painter.drawPath(sheet);
            for (int y = 5; y <= 12; y += 2)
                painter.fillRect(QRectF(5, y, 6, 0.9), QColor("#9aa5b1"));
            break;
        }
        case BlockTypeImage::SRecord:
            DrawLetter(painter, QColor("#8e44ad"), QStringLiteral("S"));
            break;
        case BlockTypeImage::Unknown:
            DrawLetter(painter, QColor("#7f8c8d"), QStringLiteral("u"));
            break;
    }
    return pixmap;
}

// The state picture: a yellow flag for the block the boot loader starts.
QPixmap FlagPicture() {
    QPixmap pixmap = Blank16();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor("#5a4a1a"), 1.2));
    painter.drawLine(QPointF(3.5, 1.5), QPointF(3.5, 14.5));
    const QPointF cloth[] = {{4, 2}, {14, 4.5}, {4, 8}};
    painter.setPen(QPen(QColor("#b8860b"), 0.8));
    painter.setBrush(QColor("#ffd21f"));
    painter.drawPolygon(cloth, 3);
    return pixmap;
}

// The state picture and the type picture side by side, as the list shows them.
QIcon RowIcon(BlockTypeImage image, bool flagged) {
    QPixmap pixmap(34, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    if (flagged)
        painter.drawPixmap(0, 0, FlagPicture());
    painter.drawPixmap(18, 0, TypePicture(image));
    painter.end();
    return QIcon(pixmap);
}

QComboBox* TypeCombo(QWidget* parent, const char* (*text)(BlockTypeIndex)) {
    auto* combo = new QComboBox(parent);
    for (int i = 0; i < kBlockTypeCount; ++i)
        combo->addItem(QLatin1String(text(static_cast<BlockTypeIndex>(i))));
    return combo;
}

QLineEdit* NumberEdit(QWidget* parent, const char* name, int width) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaximumWidth(width);
    return edit;
}

}  // namespace

// ---------------------------------------------------------------- the list

CAcceptListCtrl::CAcceptListCtrl(QWidget* parent) : QTreeWidget(parent) {
    // Files from outside only: blocks are moved by the list's own drag.
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
}

void CAcceptListCtrl::dragEnterEvent(QDragEnterEvent* event) {
    if (accepting_ && !LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CAcceptListCtrl::dragMoveEvent(QDragMoveEvent* event) {
    if (accepting_ && !LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CAcceptListCtrl::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData());
    if (!accepting_ || files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit FilesDropped(event->position().toPoint(), files);
}

void CAcceptListCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        emit DeletePressed();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

bool CAcceptListCtrl::viewportEvent(QEvent* event) {
    const auto rowAt = [this](const QPoint& at) {
        QTreeWidgetItem* item = itemAt(at);
        return item ? indexOfTopLevelItem(item) : -1;
    };
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && accepting_) {
                pressed_ = rowAt(mouse->position().toPoint());
                pressPoint_ = mouse->position().toPoint();
            }
            break;
        }
        case QEvent::MouseMove: {
            if (pressed_ < 0)
                break;
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            if (!dragging_) {
                if ((at - pressPoint_).manhattanLength() < QApplication::startDragDistance())
                    break;
                dragging_ = true;
                dragImage_ = new QLabel(viewport());
                dragImage_->setPixmap(viewport()->grab(visualItemRect(topLevelItem(pressed_))));
                dragImage_->setWindowOpacity(0.7);
                dragImage_->setAttribute(Qt::WA_TransparentForMouseEvents);
                dragImage_->adjustSize();
                dragImage_->show();
            }
            dragImage_->move(at + QPoint(8, 4));
            if (QTreeWidgetItem* under = itemAt(at))
                setCurrentItem(under);
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton)
                break;
            if (dragging_) {
                EndDrag(mouse->position().toPoint());
                return true;
            }
            pressed_ = -1;
            break;
        }
        default:
            break;
    }
    return QTreeWidget::viewportEvent(event);
}

void CAcceptListCtrl::EndDrag(const QPoint& at) {
    const int from = pressed_;
    delete dragImage_;
    dragImage_ = nullptr;
    dragging_ = false;
    pressed_ = -1;
    QTreeWidgetItem* target = itemAt(at);
    const int to = target ? indexOfTopLevelItem(target) : -1;
    if (to >= 0 && to != from)
        emit BlockMoved(from, to);
}

// ---------------------------------------------------------------- add dialog

CDlgBlockAdd::CDlgBlockAdd(const QString& folder, QWidget* parent)
    : QFileDialog(parent, QStringLiteral("Select the file to add"), folder) {
    setObjectName(QStringLiteral("dialogBlockAdd"));
    setOption(QFileDialog::DontUseNativeDialog);
    // The filters' own texts name their patterns the way users know them.
    setOption(QFileDialog::HideNameFilterDetails);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setNameFilters({QStringLiteral("All files (*.*) (*)"),
                    QStringLiteral("Executable files(*.app, *.out) (*.app *.out)")});

    auto* panel = new QGroupBox(QStringLiteral("Add as type"), this);
    type_ = TypeCombo(panel, AddDialogTypeText);
    type_->setObjectName(QStringLiteral("comboAddType"));
    bootable_ = new QCheckBox(QStringLiteral("Bootable"), panel);
    bootable_->setObjectName(QStringLiteral("checkBootable"));
    bigEndian_ = new QCheckBox(QStringLiteral("Bigendian"), panel);
    bigEndian_->setObjectName(QStringLiteral("checkBigEndian"));
    id_ = NumberEdit(panel, "editId", 100);
    major_ = NumberEdit(panel, "editMajor", 40);
    minor_ = NumberEdit(panel, "editMinor", 40);
    auto* version = new QHBoxLayout;
    version->addWidget(major_);
    version->addWidget(new QLabel(QStringLiteral("."), panel));
    version->addWidget(minor_);
    version->addStretch(1);
    auto* form = new QGridLayout(panel);
    form->addWidget(type_, 0, 0, 1, 2);
    form->addWidget(bootable_, 1, 0);
    form->addWidget(bigEndian_, 1, 1);
    form->addWidget(new QLabel(QStringLiteral("ID"), panel), 0, 2);
    form->addWidget(id_, 0, 3);
    form->addWidget(new QLabel(QStringLiteral("Version"), panel), 1, 2);
    form->addLayout(version, 1, 3);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());

    connect(type_, &QComboBox::currentIndexChanged, this, &CDlgBlockAdd::OnTypeChanged);
    connect(this, &QFileDialog::currentChanged, this, &CDlgBlockAdd::ChooseFile);
    connect(this, &QFileDialog::fileSelected, this,
            [this](const QString& file) { chosen_ = file; });
    type_->setCurrentIndex(0);
    OnTypeChanged(0);
}

void CDlgBlockAdd::OnTypeChanged(int index) {
    const PanelState state = PanelStateOf(static_cast<BlockTypeIndex>(index));
    bootable_->setEnabled(state.bootableEnabled);
    bigEndian_->setEnabled(state.bigEndianEnabled);
}

void CDlgBlockAdd::ChooseFile(const QString& path) {
    chosen_ = path;
    const std::string text = path.toStdString();
    if (HasDot(text))
        type_->setCurrentIndex(static_cast<int>(GuessTypeIndex(text)));
}

BlockProperties CDlgBlockAdd::Properties() const {
    BlockProperties block;
    block.type = static_cast<BlockTypeIndex>(type_->currentIndex());
    block.bootable = bootable_->isChecked();
    block.bigEndian = bigEndian_->isChecked();
    block.id = ReadBlockId(id_->text().toStdString());
    block.major = ReadVersionPart(major_->text().toStdString());
    block.minor = ReadVersionPart(minor_->text().toStdString());
    block.fileName = (chosen_.isEmpty() ? selectedFiles().value(0) : chosen_).toStdString();
    return AcceptedAddProperties(block);
}

// ---------------------------------------------------------------- properties

CDlgEditBlock::CDlgEditBlock(IKovraPrompts& prompts, const BlockProperties& block, QWidget* parent)
    : QDialog(parent), prompts_(prompts) {
    setObjectName(QStringLiteral("dialogEditBlock"));
    setWindowTitle(QStringLiteral("Block properties"));
    id_ = NumberEdit(this, "editId", 110);
    id_->setText(Qt6(FormatBlockId(block.id)));
    major_ = NumberEdit(this, "editMajor", 50);
    major_->setText(QString::number(block.major));
    minor_ = NumberEdit(this, "editMinor", 50);
    minor_->setText(QString::number(block.minor));
    type_ = TypeCombo(this, EditDialogTypeText);
    type_->setObjectName(QStringLiteral("comboEditType"));
    file_ = new QLineEdit(Qt6(block.fileName), this);
    file_->setObjectName(QStringLiteral("editFileName"));
    file_->setMinimumWidth(320);
    QPushButton* browse =
        PageButton(QStringLiteral("..."), QStringLiteral("buttonBrowseBlock"), this);
    boot_ = new QCheckBox(QStringLiteral("Boot from ROM"), this);
    boot_->setObjectName(QStringLiteral("checkBootFromRom"));
    boot_->setChecked(block.bootable);
    bigEndian_ = new QCheckBox(QStringLiteral("Bigendian"), this);
    bigEndian_->setObjectName(QStringLiteral("checkBigEndian"));
    bigEndian_->setChecked(block.bigEndian);

    auto* version = new QHBoxLayout;
    version->addWidget(major_);
    version->addWidget(new QLabel(QStringLiteral("."), this));
    version->addWidget(minor_);
    version->addStretch(1);
    auto* file = new QHBoxLayout;
    file->addWidget(file_, 1);
    file->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("ID"), id_);
    form->addRow(QStringLiteral("Version"), version);
    form->addRow(QStringLiteral("Type"), type_);
    form->addRow(QStringLiteral("File"), file);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(boot_);
    boxes->addWidget(bigEndian_);
    boxes->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(boxes);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, &CDlgEditBlock::OnBrowse);
    connect(type_, &QComboBox::currentIndexChanged, this, &CDlgEditBlock::OnTypeChanged);
    type_->setCurrentIndex(static_cast<int>(block.type));
    OnTypeChanged(type_->currentIndex());
}

void CDlgEditBlock::OnTypeChanged(int index) {
    const PanelState state = PanelStateOf(static_cast<BlockTypeIndex>(index));
    boot_->setEnabled(state.bootableEnabled);
    bigEndian_->setEnabled(state.bigEndianEnabled);
}

void CDlgEditBlock::OnBrowse() {
    IKovraPrompts::FileQuery query;
    query.title = QStringLiteral("Open");
    query.fileName = file_->text();
    query.folder = QFileInfo(file_->text()).absolutePath();
    const QString chosen = prompts_.OpenFile(this, query);
    if (!chosen.isEmpty())
        file_->setText(chosen);
}

BlockProperties CDlgEditBlock::Properties() const {
    BlockProperties block;
    block.id = ReadBlockId(id_->text().toStdString());
    block.major = ReadVersionPart(major_->text().toStdString());
    block.minor = ReadVersionPart(minor_->text().toStdString());
    block.bootable = boot_->isChecked();
    block.bigEndian = bigEndian_->isChecked();
    block.type = static_cast<BlockTypeIndex>(type_->currentIndex());
    block.fileName = file_->text().toStdString();
    // As in the add dialog: a block turned into raw data no longer boots.
    return AcceptedAddProperties(block);
}

// ---------------------------------------------------------------- page

CDlgUserBlocks::CDlgUserBlocks(CKovraDlg& dialog, QWidget* parent)
    : CKovraEnginePage(dialog, parent) {
    setObjectName(QStringLiteral("pageUserBlocks"));
    list_ = new CAcceptListCtrl(this);
    list_->setObjectName(QStringLiteral("listUserBlocks"));
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setAllColumnsShowFocus(true);
    list_->setUniformRowHeights(true);
    list_->setIconSize(QSize(34, 16));
    const struct {
        const char* title;
        int width;
    } columns[] = {{"Type", 100}, {"Id", 50},    {"Index", 50},     {"Bytes", 70},
                   {"Ver", 40},   {"Date", 130}, {"Filename", 180}, {"Endian", 30}};
    QStringList titles;
    for (const auto& column : columns) titles << QLatin1String(column.title);
    list_->setHeaderLabels(titles);
    for (int i = 0; i < 8; ++i) list_->setColumnWidth(i, columns[i].width + (i == 0 ? 18 : 0));
    list_->viewport()->installEventFilter(this);

    add_ = PageButton(QStringLiteral("&Add"), QStringLiteral("buttonAddBlock"), this);
    edit_ = PageButton(QStringLiteral("&Edit"), QStringLiteral("buttonEditBlock"), this);
    delete_ = PageButton(QStringLiteral("&Delete"), QStringLiteral("buttonDeleteBlock"), this);
    verify_ = PageButton(QStringLiteral("&Verify"), QStringLiteral("buttonVerifyBlock"), this);
    updateAll_ = PageButton(QStringLiteral("&Update all"), QStringLiteral("buttonUpdateAll"), this);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {add_, edit_, delete_, verify_, updateAll_})
        buttons->addWidget(button);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);

    connect(add_, &QPushButton::clicked, this, [this] { OnAdd(-1); });
    connect(edit_, &QPushButton::clicked, this, &CDlgUserBlocks::OnEdit);
    connect(delete_, &QPushButton::clicked, this, &CDlgUserBlocks::OnDelete);
    connect(verify_, &QPushButton::clicked, this, &CDlgUserBlocks::OnVerify);
    connect(updateAll_, &QPushButton::clicked, this, &CDlgUserBlocks::OnUpdateAll);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &CDlgUserBlocks::UpdateButtons);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item)
            selected_ = list_->indexOfTopLevelItem(item);
    });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        selected_ = list_->indexOfTopLevelItem(item);
        OnEdit();
    });
    connect(list_, &CAcceptListCtrl::DeletePressed, this, &CDlgUserBlocks::OnDelete);
    connect(list_, &CAcceptListCtrl::FilesDropped, this, &CDlgUserBlocks::OnDrop);
    connect(list_, &CAcceptListCtrl::BlockMoved, this, &CDlgUserBlocks::OnMove);
    UpdateButtons();
}

template <class Call>
void CDlgUserBlocks::Run(Call&& call, bool quiet) {
    // Turned on again whatever happens, after the exception box: one
    // re-read for the whole batch.
    struct Quiet {
        CKovraCore* core = nullptr;
        CpuRecord* record = nullptr;
        ~Quiet() {
            if (core)
                core->FlashCallbackOn(*record);
        }
    } pause;
    Guarded([&](IFFlash& flash) {
        if (quiet) {
            pause = {&dialog_.Core(), Current()};
            dialog_.Core().FlashCallbackOff(*pause.record);
        }
        CUserBlockActions actions(flash);
        call(actions, flash);
    });
}

std::vector<int> CDlgUserBlocks::SelectedRows() const {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : list_->selectedItems())
        rows.push_back(list_->indexOfTopLevelItem(item));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CDlgUserBlocks::Populate() {
    CpuRecord* current = Current();
    if (!current)
        return;
    const qel::platform::CriticalSectionLock guard(current->lock);
    if (!current->dataRead)
        return;
    // The rows chosen before stay chosen by their place, for the same processor.
    const bool same = shown_ == current;
    shown_ = current;
    if (!same)
        selected_ = -1;
    const std::vector<int> chosen = same ? SelectedRows() : std::vector<int>();
    const int currentRow =
        same && list_->currentItem() ? list_->indexOfTopLevelItem(list_->currentItem()) : -1;
    {
        const QSignalBlocker quiet(list_);
        list_->clear();
        for (size_t i = 0; i < current->userBlocks.size(); ++i) {
            const UserBlockRow row = DescribeUserBlock(current->userBlocks[i], static_cast<int>(i));
            auto* item = new QTreeWidgetItem(list_);
            for (int c = 0; c < 8; ++c) item->setText(c, Qt6(row.columns[static_cast<size_t>(c)]));
            item->setIcon(0, RowIcon(row.image, row.bootFlag));
        }
        if (currentRow >= 0 && currentRow < list_->topLevelItemCount())
            list_->setCurrentItem(list_->topLevelItem(currentRow), 0,
                                  QItemSelectionModel::NoUpdate);
        for (int row : chosen)
            if (row < list_->topLevelItemCount())
                list_->topLevelItem(row)->setSelected(true);
    }
    UpdateButtons();
}

void CDlgUserBlocks::EnableDialog(bool enable) {
    enabled_ = enable;
    list_->SetAccepting(enable);
    UpdateButtons();
}

void CDlgUserBlocks::UpdateButtons() {
    const bool any = !list_->selectedItems().isEmpty();
    add_->setEnabled(enabled_);
    updateAll_->setEnabled(enabled_);
    for (QPushButton* button : {edit_, delete_, verify_}) button->setEnabled(enabled_ && any);
}

bool CDlgUserBlocks::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress && enabled_) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        QTreeWidgetItem* item = list_->itemAt(mouse->position().toPoint());
        selected_ = item ? list_->indexOfTopLevelItem(item) : -1;
        if (mouse->button() == Qt::RightButton) {
            if (item && !item->isSelected()) {
                list_->clearSelection();
                item->setSelected(true);
            }
            if (!item)
                list_->clearSelection();
            UpdateButtons();
            ShowMenu(mouse->position().toPoint());
            return true;
        }
    }
    return CKovraPage::eventFilter(watched, event);
}

void CDlgUserBlocks::ShowMenu(const QPoint& at) {
    IFFlash* flash = Flash();
    if (!flash)
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("menuUserBlocks"));
    const auto add = [&](QMenu& into, const char* text, auto slot) {
        QAction* action = into.addAction(QLatin1String(text));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    const int count = static_cast<int>(list_->selectedItems().size());
    switch (MenuFor(list_->itemAt(at) != nullptr, count)) {
        case UserBlockMenu::Empty:
            add(menu, "&Add block", [this] { OnAdd(-1); });
            add(menu, "&Update all blocks", &CDlgUserBlocks::OnUpdateAll);
            break;
        case UserBlockMenu::Single: {
            BlockHeader header{};
            UserBlockRecord record{};
            try {
                flash->GetUserBlock(static_cast<uint32_t>(selected_), &header, &record);
            } catch (const CFlashExc& e) {
                dialog_.ShowException(e);
                return;
            }
            const BootMenuState boot = BootMenuStateOf(header.type, record.bootable != 0);
            add(menu, "&Edit", &CDlgUserBlocks::OnEdit);
            add(menu, "&Insert", [this] { OnAdd(selected_); });
            add(menu, "&Delete", &CDlgUserBlocks::OnDelete);
            add(menu, "&Verify", &CDlgUserBlocks::OnVerify);
            add(menu, "&Update", &CDlgUserBlocks::OnUpdate);
            QMenu* bootMenu = menu.addMenu(QStringLiteral("&Boot"));
            bootMenu->setEnabled(boot.bootMenu);
            add(*bootMenu, "&Boot from this block", &CDlgUserBlocks::OnBootFrom)
                ->setEnabled(boot.bootFrom);
            add(*bootMenu, "&Cancel boot from this block", &CDlgUserBlocks::OnCancelBoot)
                ->setEnabled(boot.cancelBoot);
            break;
        }
        case UserBlockMenu::Multiple:
            add(menu, "&Delete", &CDlgUserBlocks::OnDelete);
            add(menu, "&Verify", &CDlgUserBlocks::OnVerify);
            add(menu, "&Update", &CDlgUserBlocks::OnUpdate);
            break;
    }
    dialog_.Prompts().Menu(menu, list_->viewport()->mapToGlobal(at));
}

void CDlgUserBlocks::OnAdd(int32_t position) {
    if (!Flash() || !enabled_)
        return;
    CDlgBlockAdd add(lastFolder_, this);
    if (dialog_.Prompts().Exec(add) != QDialog::Accepted)
        return;
    const BlockProperties block = add.Properties();
    lastFolder_ = QFileInfo(QString::fromStdString(block.fileName)).absolutePath();
    Run([&](CUserBlockActions& actions, IFFlash&) { actions.Add(block, position); });
}

void CDlgUserBlocks::OnEdit() {
    if (selected_ < 0)
        return;
    const auto index = static_cast<uint32_t>(selected_);
    Run([&](CUserBlockActions& actions, IFFlash& flash) {
        UserBlockEntry entry;
        flash.GetUserBlock(index, &entry.header, &entry.record);
        const BlockProperties before = PropertiesOf(entry);
        CDlgEditBlock edit(dialog_.Prompts(), before, this);
        if (dialog_.Prompts().Exec(edit) != QDialog::Accepted)
            return;
        actions.Edit(index, before, edit.Properties());
    });
}

void CDlgUserBlocks::OnDelete() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty() || !enabled_ || !Flash())
        return;
    Run([&](CUserBlockActions& actions, IFFlash&) { actions.Delete(rows); }, true);
    // The first removed place stays chosen while it still has a row.
    list_->clearSelection();
    if (rows.front() < list_->topLevelItemCount()) {
        QTreeWidgetItem* item = list_->topLevelItem(rows.front());
        list_->setCurrentItem(item);
        list_->setFocus();
    }
    UpdateButtons();
}

void CDlgUserBlocks::OnVerify() {
    const std::vector<int> rows = SelectedRows();
    Run([&](CUserBlockActions& actions, IFFlash&) {
        for (int row : rows) {
            std::string file;
            const VerifyOutcome outcome = actions.Verify(static_cast<uint32_t>(row), file);
            dialog_.Ask(VerifyMessage(outcome, file));
        }
    });
}

void CDlgUserBlocks::OnUpdate() {
    std::vector<uint32_t> rows;
    for (int row : SelectedRows()) rows.push_back(static_cast<uint32_t>(row));
    Run([&](CUserBlockActions& actions, IFFlash&) {
        actions.Update(rows, [this](const CFlashExc& e) { dialog_.ShowException(e); });
    });
}

void CDlgUserBlocks::OnUpdateAll() {
    Run(
        [this](CUserBlockActions& actions, IFFlash&) {
            actions.UpdateAll([this](const CFlashExc& e) { dialog_.ShowException(e); });
        },
        true);
}

void CDlgUserBlocks::OnBootFrom() {
    Run([this](CUserBlockActions& actions, IFFlash&) {
        actions.BootFrom(static_cast<uint32_t>(selected_));
    });
}

void CDlgUserBlocks::OnCancelBoot() {
    Run([this](CUserBlockActions& actions, IFFlash&) {
        actions.CancelBoot(static_cast<uint32_t>(selected_));
    });
}

void CDlgUserBlocks::OnDrop(const QPoint& at, const QStringList& files) {
    QTreeWidgetItem* item = list_->itemAt(at);
    const int32_t position = item ? list_->indexOfTopLevelItem(item) : -1;
    std::vector<std::string> paths;
    for (const QString& file : files) paths.push_back(file.toStdString());
    Run(
        [&](CUserBlockActions& actions, IFFlash&) {
            actions.Drop(paths, position,
                         [this](const KovraMessage& question) { return dialog_.Ask(question); });
        },
        true);
}

void CDlgUserBlocks::OnMove(int from, int to) {
    Run([&](CUserBlockActions& actions, IFFlash&) {
        actions.Move(static_cast<uint32_t>(from), static_cast<uint32_t>(to));
    });
}
