#include "tool/DlgDynamics.h"

#include "tool/DynamicsRules.h"
#include "tool/KovraDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// A green disc with the letter d.
QIcon DynamicIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#2e9d48"));
    painter.drawEllipse(QRectF(1, 1, 14, 14));
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(0, 0, 16, 15), Qt::AlignCenter, QStringLiteral("d"));
    painter.end();
    return QIcon(pixmap);
}

}  // namespace

// ---------------------------------------------------------------- add dialog

CDlgAddDynamic::CDlgAddDynamic(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dialogAddDynamic"));
    setWindowTitle(QStringLiteral("Add a dynamic value"));
    address_edit_ = new QLineEdit(this);
    address_edit_->setObjectName(QStringLiteral("editAddress"));
    value_edit_ = new QLineEdit(this);
    value_edit_->setObjectName(QStringLiteral("editValue"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgAddDynamic::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Address"), address_edit_);
    form->addRow(QStringLiteral("Value"), value_edit_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CDlgAddDynamic::Prefill(uint32_t address, uint32_t value) {
    address_ = address;
    value_ = value;
    address_edit_->setText(QString::asprintf("0x%08X", address));
    value_edit_->setText(QString::asprintf("0x%08X", value));
}

void CDlgAddDynamic::accept() {
    ReadDynamicText(address_edit_->text().toStdString(), address_);
    ReadDynamicText(value_edit_->text().toStdString(), value_);
    QDialog::accept();
}

// ---------------------------------------------------------------- page

CDlgDynamics::CDlgDynamics(CKovraDlg& dialog, QWidget* parent) : CKovraEnginePage(dialog, parent) {
    setObjectName(QStringLiteral("pageDynamics"));
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("listDynamics"));
    list_->setRootIsDecorated(false);
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Value")});
    list_->setColumnWidth(0, 130);
    list_->setColumnWidth(1, 130);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setAllColumnsShowFocus(true);
    list_->viewport()->installEventFilter(this);

    add_ = PageButton(QStringLiteral("Add"), QStringLiteral("buttonAddDynamic"), this);
    edit_ = PageButton(QStringLiteral("&Edit"), QStringLiteral("buttonEditDynamic"), this);
    delete_ = PageButton(QStringLiteral("Delete"), QStringLiteral("buttonDeleteDynamic"), this);
    clear_ = PageButton(QStringLiteral("Clear"), QStringLiteral("buttonClearDynamics"), this);
    hex_ = new QCheckBox(QStringLiteral("Display values in hex"), this);
    hex_->setObjectName(QStringLiteral("checkHex"));
    hex_->setChecked(true);
    auto* note = new QLabel(
        QStringLiteral("Dynamic values are assigned by the bootloader before the loaded program "
                       "is executed.  You can enter the values in either hex (0x89AB) or decimal "
                       "(1234) format.  "),
        this);
    note->setWordWrap(true);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {add_, edit_, delete_, clear_}) buttons->addWidget(button);
    buttons->addStretch(1);
    auto* row = new QHBoxLayout;
    row->addWidget(list_, 1);
    row->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addWidget(hex_);
    layout->addWidget(note);

    connect(add_, &QPushButton::clicked, this, &CDlgDynamics::OnAdd);
    connect(edit_, &QPushButton::clicked, this, &CDlgDynamics::OnEdit);
    connect(delete_, &QPushButton::clicked, this, &CDlgDynamics::OnDelete);
    connect(clear_, &QPushButton::clicked, this, &CDlgDynamics::OnClear);
    connect(hex_, &QCheckBox::clicked, this, &CDlgDynamics::Populate);
}

void CDlgDynamics::Populate() {
    CpuRecord* current = Current();
    if (!current)
        return;
    const qel::platform::CriticalSectionLock guard(current->lock);
    if (!current->dataRead)
        return;
    list_->clear();
    const bool hex = hex_->isChecked();
    static const QIcon icon = DynamicIcon();
    for (const DynamicEntry& entry : current->dynamics) {
        auto* item = new QTreeWidgetItem(list_, {Qt6(FormatDynamicAddress(entry.address)),
                                                 Qt6(FormatDynamicValue(entry.value, hex))});
        item->setIcon(0, icon);
    }
}

void CDlgDynamics::EnableDialog(bool enable) {
    enabled_ = enable;
    for (QWidget* control : std::initializer_list<QWidget*>{hex_, edit_, clear_, delete_, add_})
        control->setEnabled(enable);
}

bool CDlgDynamics::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress && enabled_) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        QTreeWidgetItem* item = list_->itemAt(mouse->position().toPoint());
        if (item)
            selected_ = list_->indexOfTopLevelItem(item);
        if (mouse->button() == Qt::RightButton) {
            ShowMenu(mouse->position().toPoint());
            return true;
        }
    }
    return CKovraPage::eventFilter(watched, event);
}

void CDlgDynamics::ShowMenu(const QPoint& at) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("menuDynamics"));
    if (list_->itemAt(at)) {
        connect(menu.addAction(QStringLiteral("&Edit")), &QAction::triggered, this,
                &CDlgDynamics::OnEdit);
        connect(menu.addAction(QStringLiteral("&Delete")), &QAction::triggered, this,
                &CDlgDynamics::OnDelete);
    } else {
        connect(menu.addAction(QStringLiteral("&Add dynamic value")), &QAction::triggered, this,
                &CDlgDynamics::OnAdd);
        connect(menu.addAction(QStringLiteral("&Clear all values")), &QAction::triggered, this,
                &CDlgDynamics::OnClear);
    }
    dialog_.Prompts().Menu(menu, list_->viewport()->mapToGlobal(at));
}

void CDlgDynamics::OnAdd() {
    if (!Flash() || !enabled_)
        return;
    CDlgAddDynamic add(this);
    if (dialog_.Prompts().Exec(add) != QDialog::Accepted)
        return;
    Guarded([&](IFFlash& flash) { flash.AddDynamic(add.Address(), add.Value()); });
}

void CDlgDynamics::OnEdit() {
    Guarded([&](IFFlash& flash) {
        uint32_t address = 0;
        uint32_t value = 0;
        flash.GetDynamic(static_cast<uint32_t>(selected_), &address, &value);
        CDlgAddDynamic edit(this);
        edit.Prefill(address, value);
        if (dialog_.Prompts().Exec(edit) != QDialog::Accepted)
            return;
        flash.SetDynamic(static_cast<uint32_t>(selected_), edit.Address(), edit.Value());
    });
}

void CDlgDynamics::OnDelete() {
    Guarded([&](IFFlash& flash) { flash.RemoveDynamic(static_cast<uint32_t>(selected_)); });
}

void CDlgDynamics::OnClear() {
    Guarded([](IFFlash& flash) { flash.ClearDynamics(); });
}
