#include "tool/DlgTarg.h"

#include "tool/KovraDlg.h"
#include "tool/KovraIcons.h"
#include "tool/TargRules.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kStatusIconSize = 24;
constexpr uint32_t kPathBuffer = 260;
constexpr uint32_t kBufferTooSmall = 21;

QImage Canvas(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A green tick on a light disc: the flash holds what the box shows.
QPixmap TickPixmap(int size) {
    QImage image = Canvas(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 24.0, size / 24.0);
    painter.setPen(QPen(QColor("#1f9a3a"), 1.2));
    painter.setBrush(QColor("#e3f4e6"));
    painter.drawEllipse(QRectF(1, 1, 22, 22));
    painter.setPen(QPen(QColor("#1f9a3a"), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(6.5, 12.5);
    tick.lineTo(10.5, 16.5);
    tick.lineTo(17.5, 7.5);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
    painter.end();
    return QPixmap::fromImage(image);
}

// A yellow wrench: changed and not yet written.
QPixmap WrenchPixmap(int size) {
    QImage image = Canvas(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 24.0, size / 24.0);
    painter.translate(12, 12);
    painter.rotate(45);
    painter.setPen(QPen(QColor("#8f6a00"), 1));
    painter.setBrush(QColor("#f2c230"));
    QPainterPath handle;
    handle.addRoundedRect(QRectF(-2.4, -2, 4.8, 13), 2, 2);
    QPainterPath jaw;
    jaw.addEllipse(QPointF(0, -5.5), 5.8, 5.8);
    QPainterPath gap;
    gap.addRect(QRectF(-2, -12.5, 4, 7.5));
    painter.drawPath(handle.united(jaw).subtracted(gap));
    painter.end();
    return QPixmap::fromImage(image);
}

// A magnifier over a page of text.
QPixmap MagnifierPixmap(int size) {
    QImage image = Canvas(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    painter.setPen(QPen(QColor("#7c8794"), 1));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(3.5, 2.5, 17, 22));
    painter.setPen(QPen(QColor("#b8bec6"), 1.4));
    for (int i = 0; i < 5; ++i)
        painter.drawLine(QPointF(6.5, 7 + i * 3.5), QPointF(17.5, 7 + i * 3.5));
    painter.setPen(QPen(QColor("#5a4a3a"), 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(22.5, 22.5), QPointF(29, 29));
    painter.setPen(QPen(QColor("#2f63a8"), 2.4));
    painter.setBrush(QColor(180, 215, 250, 170));
    painter.drawEllipse(QPointF(17, 17), 7, 7);
    painter.end();
    return QPixmap::fromImage(image);
}

// A text from one of the engine's getters. The 260 bytes a Windows path
// takes are too few for some paths here: the size the engine asks for is
// given when it says so.
template <class Getter>
std::string EngineText(Getter&& get) {
    std::string buffer(kPathBuffer, '\0');
    uint32_t size = kPathBuffer;
    try {
        get(buffer.data(), &size);
    } catch (const CFlashExc& e) {
        if (e.code != kBufferTooSmall || size <= buffer.size())
            throw;
        buffer.assign(size, '\0');
        get(buffer.data(), &size);
    }
    return buffer.c_str();
}

}  // namespace

// ---------------------------------------------------------------- companions

CStatusIcon::CStatusIcon(QWidget* parent) : QLabel(parent) {
    setFixedSize(kStatusIconSize, kStatusIconSize);
    QSizePolicy keep = sizePolicy();
    keep.setRetainSizeWhenHidden(true);  // the box does not move when it shows
    setSizePolicy(keep);
}

void CStatusIcon::SetState(int state) {
    // Drawn once each and shared by both boxes.
    static const QPixmap tick = TickPixmap(kStatusIconSize);
    static const QPixmap wrench = WrenchPixmap(kStatusIconSize);
    if (state != 0 && state != 1)
        return;
    state_ = state;
    setPixmap(state == 0 ? tick : wrench);
    setToolTip(state == 0 ? QStringLiteral("Programmed in the flash")
                          : QStringLiteral("Changed, not yet written"));
}

CDlgTimInfo::CDlgTimInfo(const QString& name, const QString& comment, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("dialogTimInfo"));
    setWindowTitle(QStringLiteral("TIM details"));
    auto* icon = new QLabel(this);
    icon->setPixmap(KovraIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* nameLabel = new QLabel(name, this);
    nameLabel->setObjectName(QStringLiteral("labelTimName"));
    QFont bold = nameLabel->font();
    bold.setBold(true);
    nameLabel->setFont(bold);
    auto* commentLabel = new QLabel(comment, this);
    commentLabel->setObjectName(QStringLiteral("labelTimComment"));
    commentLabel->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* texts = new QVBoxLayout;
    texts->addWidget(nameLabel);
    texts->addWidget(commentLabel, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

CDlgSearching::CDlgSearching(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dialogSearching"));
    setWindowTitle(QStringLiteral("Searching ..."));
    setModal(false);
    auto* icon = new QLabel(this);
    icon->setPixmap(MagnifierPixmap(32));
    icon->setAlignment(Qt::AlignTop);
    auto* line = new QLabel(
        QStringLiteral("Searching for the most appropriate bitstream file for this TIM"), this);
    auto* wait = new QLabel(QStringLiteral("Please wait ...."), this);
    auto* texts = new QVBoxLayout;
    texts->addWidget(line);
    texts->addWidget(wait);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon);
    layout->addLayout(texts, 1);
}

// ---------------------------------------------------------------- page

CDlgTarg::CDlgTarg(CKovraDlg& dialog, QWidget* parent) : CKovraEnginePage(dialog, parent) {
    setObjectName(QStringLiteral("pageGeneral"));

    auto* timGroup = new QGroupBox(QStringLiteral("TIM type"), this);
    timTypes_ = new QComboBox(timGroup);
    timTypes_->setObjectName(QStringLiteral("comboTimType"));
    timTypes_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    details_ = PageButton(QStringLiteral("&Details"), QStringLiteral("buttonDetails"), timGroup);
    auto* timRow = new QHBoxLayout(timGroup);
    timRow->addWidget(timTypes_, 1);
    timRow->addWidget(details_);

    // A box: the read-only text, its status icon and Standard / Browse.
    auto makeBox = [this](const QString& title, const QString& name, QPlainTextEdit*& text,
                          CStatusIcon*& icon, QPushButton*& standard, QPushButton*& browse) {
        auto* group = new QGroupBox(title, this);
        text = new QPlainTextEdit(group);
        text->setObjectName(QStringLiteral("edit") + name);
        text->setReadOnly(true);
        text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        icon = new CStatusIcon(group);
        icon->setObjectName(QStringLiteral("icon") + name);
        icon->hide();
        standard = PageButton(QStringLiteral("&Standard"),
                              QStringLiteral("button") + name + QStringLiteral("Standard"), group);
        browse = PageButton(QStringLiteral("&Browse"),
                            QStringLiteral("button") + name + QStringLiteral("Browse"), group);
        auto* side = new QVBoxLayout;
        side->addWidget(icon, 0, Qt::AlignHCenter);
        side->addStretch(1);
        side->addWidget(standard);
        side->addWidget(browse);
        auto* row = new QHBoxLayout(group);
        row->addWidget(text, 1);
        row->addLayout(side);
        return group;
    };
    QGroupBox* bootGroup = makeBox(QStringLiteral("Bootloader"), QStringLiteral("Bootloader"),
                                   bootText_, bootIcon_, bootStandard_, bootBrowse_);
    QGroupBox* fpgaGroup = makeBox(QStringLiteral("FPGA bitstream"), QStringLiteral("Bitstream"),
                                   fpgaText_, fpgaIcon_, fpgaStandard_, fpgaBrowse_);
    bootText_->setMaximumHeight(bootText_->fontMetrics().lineSpacing() * 3 + 12);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(timGroup);
    layout->addWidget(bootGroup);
    layout->addWidget(fpgaGroup, 1);

    bootIcon_->SetState(0);
    searching_ = new CDlgSearching(this);
    searching_->hide();

    connect(timTypes_, &QComboBox::activated, this, &CDlgTarg::OnTimTypeChosen);
    connect(details_, &QPushButton::clicked, this, &CDlgTarg::OnDetails);
    connect(bootStandard_, &QPushButton::clicked, this, &CDlgTarg::OnBootStandard);
    connect(bootBrowse_, &QPushButton::clicked, this, &CDlgTarg::OnBootBrowse);
    connect(fpgaStandard_, &QPushButton::clicked, this, &CDlgTarg::OnFpgaStandard);
    connect(fpgaBrowse_, &QPushButton::clicked, this, &CDlgTarg::OnFpgaBrowse);
}

void CDlgTarg::FillTimTypes() {
    const CQelTimInfo* database = dialog_.Core().Database();
    if (!database)
        return;
    timTypes_->clear();
    int none = 0;
    for (const TimTypeEntry& entry : TimTypeEntries(database)) {
        if (!entry.tim)
            none = timTypes_->count();
        timTypes_->addItem(Qt6(entry.text),
                           QVariant::fromValue(reinterpret_cast<quintptr>(entry.tim)));
    }
    timTypes_->setCurrentIndex(none);
}

void CDlgTarg::ShowBox(QPlainTextEdit* edit, CStatusIcon* icon, const std::string& text, bool shown,
                       int state) {
    // The texts keep the line ends they were written with; the edit wants
    // plain ones.
    QString plain = Qt6(text);
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    edit->setPlainText(plain);
    if (shown)
        icon->SetState(state);
    icon->setVisible(shown);
}

void CDlgTarg::Populate() {
    CpuRecord* current = Current();
    if (!current)
        return;
    const qel::platform::CriticalSectionLock guard(current->lock);
    if (!current->dataRead) {
        ShowBox(bootText_, bootIcon_, {}, false, 0);
        ShowBox(fpgaText_, fpgaIcon_, {}, false, 0);
        // The list is sorted: its first entry may be a TIM type.
        const int none = timTypes_->findData(QVariant::fromValue(quintptr{0}));
        timTypes_->setCurrentIndex(none >= 0 ? none : 0);
        return;
    }
    const StatusBox boot =
        BootLoaderBox(current->bootHeader, current->bootName, current->bootChanged);
    ShowBox(bootText_, bootIcon_, boot.text, boot.iconShown, boot.iconState);
    const StatusBox fpga =
        BitstreamBox(current->fpgaHeader, current->fpgaRecord.data(), current->fpgaChanged);
    ShowBox(fpgaText_, fpgaIcon_, fpga.text, fpga.iconShown, fpga.iconState);
    if (current->timKnown) {
        const CQelTimInfo* database = dialog_.Core().Database();
        const char* name = database ? database->NameOf(current->timCode) : nullptr;
        std::vector<std::string> entries;
        for (int i = 0; i < timTypes_->count(); ++i)
            entries.push_back(timTypes_->itemText(i).toStdString());
        timTypes_->setCurrentIndex(FindTimEntry(entries, name ? name : ""));
    }
}

void CDlgTarg::EnableDialog(bool enable) {
    enabled_ = enable;
    for (QWidget* control : std::initializer_list<QWidget*>{timTypes_, bootStandard_, bootBrowse_,
                                                            fpgaStandard_, fpgaBrowse_})
        control->setEnabled(enable);
}

void CDlgTarg::OnTimTypeChosen(int index) {
    const auto* tim =
        reinterpret_cast<const CQelTimRecord*>(timTypes_->itemData(index).value<quintptr>());
    CpuRecord* current = Current();
    if (!tim || !current || !enabled_ || IsSelectedType(*current, *tim))
        return;
    try {
        dialog_.Core().SelectTim(*current, tim->Name());
    } catch (const CFlashExc& e) {
        dialog_.ShowException(e);
    }
}

bool CDlgTarg::IsSelectedType(const CpuRecord& record, const CQelTimRecord& tim) const {
    // Picking the type already selected again would read the flash anew and
    // drop every change not yet committed.
    const CQelTimInfo* database = dialog_.Core().Database();
    const qel::platform::CriticalSectionLock guard(record.lock);
    if (!record.dataRead || record.timCode == 0 || !database)
        return false;
    const char* selected = database->NameOf(record.timCode);
    return selected && tim.Name() && std::string(selected) == tim.Name();
}

void CDlgTarg::OnDetails() {
    CpuRecord* current = Current();
    const CQelTimInfo* database = dialog_.Core().Database();
    if (!current || !database)
        return;
    uint32_t code;
    {
        const qel::platform::CriticalSectionLock guard(current->lock);
        code = current->timCode;
    }
    try {
        const CQelTimRecord* tim = database->Find(code);
        if (!tim)
            return;  // no description for the module's TIM type: nothing to show
        const char* comment = tim->GetString("Comment", nullptr);
        CDlgTimInfo info(QString::fromUtf8(tim->Name()), QString::fromUtf8(comment ? comment : ""),
                         this);
        dialog_.Prompts().Exec(info);
    } catch (const TimExc&) {
        // A description without a comment shows nothing.
    }
}

void CDlgTarg::OnBootStandard() {
    Guarded([](IFFlash& flash) { flash.SetBootLoader(nullptr); });
}

void CDlgTarg::OnBootBrowse() {
    Guarded([this](IFFlash& flash) {
        const std::string folder = EngineText(
            [&](char* buffer, uint32_t* size) { flash.GetBootloaderPath(buffer, size); });
        const QString path = dialog_.BrowseForFile(
            {}, "PathBrowseBootloader", Qt6(folder),
            {{QStringLiteral("Bootloader (*.out)"), {QStringLiteral("*.out")}}},
            QStringLiteral(".out"), QStringLiteral("Select file"));
        if (!path.isEmpty())
            flash.SetBootLoader(path.toStdString().c_str());
    });
}

void CDlgTarg::OnFpgaStandard() {
    CpuRecord* current = Current();
    if (!current || !current->flash || !enabled_)
        return;
    searching_->adjustSize();
    searching_->move(mapToGlobal(rect().center()) - searching_->rect().center());
    searching_->show();
    // Painted before the search holds this thread; a click meanwhile waits.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    try {
        current->flash->SetBitstream(nullptr);
    } catch (const CFlashExc& e) {
        searching_->hide();
        dialog_.ShowException(e);
        return;
    }
    searching_->hide();
}

void CDlgTarg::OnFpgaBrowse() {
    Guarded([this](IFFlash& flash) {
        BlockHeader header{};
        std::vector<uint8_t> record(FPGA_RECORD_SIZE, 0);
        flash.GetFpgaBlock(&header, record.data());
        const std::string name = FpgaFileName(record.data());
        std::string start = BitstreamBrowseStart(name, {});
        if (start.empty())
            start = EngineText(
                [&](char* buffer, uint32_t* size) { flash.GetBitstreamPath(buffer, size); });
        const QString path = dialog_.BrowseForFile(
            Qt6(name), "PathBrowseFpga", Qt6(start),
            {{QStringLiteral("Bitstream (*.bit, *.dat, *.sbf)"),
              {QStringLiteral("*.bit"), QStringLiteral("*.dat"), QStringLiteral("*.sbf")}},
             {QStringLiteral("All files (*.*)"), {QStringLiteral("*")}}},
            QStringLiteral("*.sbf"), QStringLiteral("Select file"));
        if (!path.isEmpty())
            flash.SetBitstream(path.toStdString().c_str());
    });
}
