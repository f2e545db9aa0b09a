#include "tool/DlgAdvanced.h"

#include "tool/KovraDlg.h"
#include "tool/KovraIcons.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

QColor ColourOf(const FlashSegment& segment) {
    switch (segment.kind) {
        case SegmentKind::System:
            return QColor("#6b7785");
        case SegmentKind::Bitstream:
            return QColor("#d98c2b");
        case SegmentKind::Dynamics:
            return QColor("#2e9d48");
        case SegmentKind::User: {
            // Neighbouring user blocks in two shades of blue.
            return segment.userIndex % 2 ? QColor("#5b8fd1") : QColor("#2f63a8");
        }
        case SegmentKind::Free:
            break;
    }
    return QColor("#f4f4f4");
}

}  // namespace

CFlashMap::CFlashMap(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("flashMap"));
    setMinimumHeight(30);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CFlashMap::SetMap(std::vector<FlashSegment> segments, uint32_t flashSize) {
    segments_ = std::move(segments);
    flashSize_ = flashSize;
    update();
}

QRect CFlashMap::Strip() const {
    return rect().adjusted(1, 4, -2, -5);
}

int CFlashMap::SegmentAt(int x) const {
    const QRect strip = Strip();
    if (flashSize_ == 0 || strip.width() <= 0 || x < strip.left() || x > strip.right())
        return -1;
    const double at = double(x - strip.left()) / strip.width() * flashSize_;
    for (size_t i = 0; i < segments_.size(); ++i) {
        const FlashSegment& s = segments_[i];
        if (at >= s.offset && at < double(s.offset) + s.size)
            return static_cast<int>(i);
    }
    return segments_.empty() ? -1 : static_cast<int>(segments_.size()) - 1;
}

void CFlashMap::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect strip = Strip();
    painter.fillRect(strip, QColor("#f4f4f4"));
    if (flashSize_ != 0) {
        for (const FlashSegment& s : segments_) {
            const double left = strip.left() + double(s.offset) / flashSize_ * strip.width();
            const double width = std::max(1.0, double(s.size) / flashSize_ * strip.width());
            const QRectF box(left, strip.top(), width, strip.height());
            painter.fillRect(box, ColourOf(s));
            if (s.modified) {
                // Changed blocks are hatched until they are written.
                painter.fillRect(box, QBrush(QColor(255, 230, 80, 200), Qt::BDiagPattern));
            }
            if (s.kind != SegmentKind::Free) {
                painter.setPen(QColor(255, 255, 255, 160));
                painter.drawLine(box.topRight(), box.bottomRight());
            }
        }
    }
    painter.setPen(QColor("#8a8a8a"));
    painter.drawRect(strip);
}

bool CFlashMap::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = SegmentAt(help->pos().x());
        if (index >= 0)
            QToolTip::showText(help->globalPos(),
                               QString::fromStdString(SegmentTip(segments_[index])), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

CDlgAdvanced::CDlgAdvanced(CKovraDlg& dialog, QWidget* parent) : CKovraEnginePage(dialog, parent) {
    setObjectName(QStringLiteral("pageAdvanced"));
    auto* usage = new QGroupBox(QStringLiteral("Flash usage"), this);
    total_ = new QLabel(usage);
    total_->setObjectName(QStringLiteral("labelTotal"));
    used_ = new QLabel(usage);
    used_->setObjectName(QStringLiteral("labelUsed"));
    unused_ = new QLabel(usage);
    unused_->setObjectName(QStringLiteral("labelUnused"));
    percent_ = new QLabel(usage);
    percent_->setObjectName(QStringLiteral("labelPercentUsed"));
    bar_ = new QProgressBar(usage);
    bar_->setObjectName(QStringLiteral("barUsage"));
    bar_->setOrientation(Qt::Vertical);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setFixedWidth(18);
    auto* icon = new QLabel(usage);
    icon->setPixmap(TreeImagePixmap(TreeImage::Root)
                        .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    map_ = new CFlashMap(usage);

    auto* lines = new QVBoxLayout;
    for (QLabel* line : {total_, used_, unused_, percent_}) lines->addWidget(line);
    lines->addStretch(1);
    auto* barColumn = new QVBoxLayout;
    barColumn->addWidget(new QLabel(QStringLiteral("100 %"), usage), 0, Qt::AlignHCenter);
    barColumn->addWidget(bar_, 1, Qt::AlignHCenter);
    barColumn->addWidget(new QLabel(QStringLiteral("0 %"), usage), 0, Qt::AlignHCenter);
    auto* grid = new QGridLayout(usage);
    grid->addWidget(icon, 0, 0, Qt::AlignTop);
    grid->addLayout(lines, 0, 1);
    grid->addLayout(barColumn, 0, 2);
    grid->addWidget(map_, 1, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    erase_ = new QPushButton(QStringLiteral("Erase Flash"), this);
    erase_->setObjectName(QStringLiteral("buttonErase"));
    erase_->setAutoDefault(false);
    auto* eraseText = new QLabel(QStringLiteral("Set every bit in the flash to '1'.  This "
                                                "operation might take a long time to complete."),
                                 this);
    eraseText->setWordWrap(true);
    auto* eraseRow = new QHBoxLayout;
    eraseRow->addWidget(erase_);
    eraseRow->addWidget(eraseText, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(usage, 1);
    layout->addLayout(eraseRow);

    connect(erase_, &QPushButton::clicked, this, &CDlgAdvanced::OnErase);
}

void CDlgAdvanced::Populate() {
    CpuRecord* current = Current();
    if (!current)
        return;
    const qel::platform::CriticalSectionLock guard(current->lock);
    const UsageView view = UsageOf(current->dataRead, current->flashSize, current->usedSize);
    total_->setText(QString::fromStdString(view.total));
    used_->setText(QString::fromStdString(view.used));
    unused_->setText(QString::fromStdString(view.unused));
    if (view.percentKnown) {
        percent_->setText(QString::fromStdString(view.percentLine));
        bar_->setValue(view.percent);
    }
    map_->SetMap(current->dataRead ? FlashMapOf(current->chain, current->flashSize)
                                   : std::vector<FlashSegment>{},
                 current->flashSize);
}

void CDlgAdvanced::EnableDialog(bool enable) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{erase_, bar_, total_, used_, unused_, percent_})
        control->setEnabled(enable);
}

void CDlgAdvanced::OnErase() {
    CpuRecord* current = Current();
    if (!current)
        return;
    {
        const qel::platform::CriticalSectionLock guard(current->lock);
        if (current->state != CpuState::Ready)
            return;
    }
    dialog_.Core().SetCpuState(*current, CpuState::Busy);
    dialog_.UpdateUI();
    current->flash->Erase();  // the outcome arrives as its finish notice
}
