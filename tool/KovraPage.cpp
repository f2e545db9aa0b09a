#include "tool/KovraPage.h"

#include "tool/KovraDlg.h"
#include "tool/KovraIcons.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QPushButton* PageButton(const QString& text, const QString& objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    return button;
}

CpuRecord* CKovraEnginePage::Current() const {
    return dialog_.Core().Current();
}

IFFlash* CKovraEnginePage::Flash() const {
    CpuRecord* current = Current();
    return current ? current->flash : nullptr;
}

void CKovraEnginePage::Guarded(const std::function<void(IFFlash&)>& call) {
    IFFlash* flash = Flash();
    if (!flash || !enabled_)
        return;
    try {
        call(*flash);
    } catch (const CFlashExc& e) {
        dialog_.ShowException(e);
    }
}

CDlgNoAccess::CDlgNoAccess(QWidget* parent) : CKovraPage(parent) {
    setObjectName(QStringLiteral("pageNoAccess"));
    auto* group = new QGroupBox(QStringLiteral("Note"), this);
    auto* icon = new QLabel(group);
    icon->setPixmap(NoAccessPixmap(32));
    icon->setAlignment(Qt::AlignTop);
    auto* text = new QLabel(
        QStringLiteral("This processor is one of several on a TIM and does not have access to "
                       "the ROM. Please select the next processor above with a green tick."),
        group);
    text->setWordWrap(true);
    auto* row = new QHBoxLayout(group);
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addStretch(1);
}
