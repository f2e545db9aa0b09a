#include "tool/AboutDlg.h"

#include "tool/KovraIcons.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Kovra"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap::fromImage(KovraIconImage(48)));
    icon->setAlignment(Qt::AlignTop);
    auto* text = new QLabel(QStringLiteral("Kovra Version 1.0"), this);
    text->setObjectName(QStringLiteral("aboutText"));
    auto* second = new QLabel(QStringLiteral("QEL4410 flash programming utility"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(text);
    texts->addWidget(second);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
