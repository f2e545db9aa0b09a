#include "tool/Splash.h"

#include "tool/KovraIcons.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

CSplash::CSplash(QWidget* parent) : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("splash"));
    setWindowTitle(QStringLiteral("Kovra"));
    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap::fromImage(KovraIconImage(64)));
    picture->setAlignment(Qt::AlignCenter);
    auto* fixed = new QLabel(QStringLiteral("Halvern Flash Programming Utility"), this);
    fixed->setAlignment(Qt::AlignCenter);
    message_ = new QLabel(QStringLiteral("Please wait while Code Composer starts."), this);
    message_->setObjectName(QStringLiteral("splashMessage"));
    message_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    // 50 pixels wider than the wider line, a margin of 50 in height.
    layout->setContentsMargins(25, 25, 25, 25);
    layout->addWidget(picture);
    layout->addSpacing(fontMetrics().height());
    layout->addWidget(fixed);
    layout->addWidget(message_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setStyleSheet(QStringLiteral("CSplash { border: 1px solid #22492c; }"));
}

void CSplash::ShowMessage(const QString& text) {
    message_->setText(text);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    QCoreApplication::processEvents();
}

QString CSplash::Message() const {
    return message_->text();
}
