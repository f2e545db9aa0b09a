#include "tool/HelpWindow.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

QStringList HelpTopicsOf(const QString& html) {
    static const QRegularExpression heading(QStringLiteral("<h2[^>]*>\\s*<a\\s+name=\"([^\"]+)\""),
                                            QRegularExpression::CaseInsensitiveOption);
    QStringList topics;
    for (auto it = heading.globalMatch(html); it.hasNext();) topics << it.next().captured(1);
    return topics;
}

QString HelpTopicOfContext(int contextId) {
    switch (contextId) {
        case 102:
            return QStringLiteral("main");
        case 129:
            return QStringLiteral("general");
        case 131:
            return QStringLiteral("userblocks");
        case 130:
            return QStringLiteral("dynamics");
        case 134:
            return QStringLiteral("advanced");
        default:
            return {};
    }
}

CHelpWindow::CHelpWindow(QWidget* parent) : QDialog(parent, Qt::Window) {
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("Kovra Help"));
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("helpBrowser"));
    browser_->setOpenExternalLinks(true);
    previous_ = new QPushButton(QStringLiteral("&Previous topic"), this);
    previous_->setObjectName(QStringLiteral("buttonPreviousTopic"));
    next_ = new QPushButton(QStringLiteral("&Next topic"), this);
    next_->setObjectName(QStringLiteral("buttonNextTopic"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    for (QPushButton* button : {previous_, next_, close}) button->setAutoDefault(false);
    connect(previous_, &QPushButton::clicked, this, [this] { Step(-1); });
    connect(next_, &QPushButton::clicked, this, [this] { Step(1); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(previous_);
    buttons->addWidget(next_);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_, 1);
    resize(720, 560);
}

void CHelpWindow::Open(const QString& file, int contextId) {
    file_ = file;
    topics_.clear();
    topic_ = -1;
    QFile html(file);
    if (!file.isEmpty() && html.open(QIODevice::ReadOnly))
        topics_ = HelpTopicsOf(QString::fromUtf8(html.readAll()));
    browser_->setSource(file.isEmpty() ? QUrl() : QUrl::fromLocalFile(file));
    if (file.isEmpty() || !html.exists())
        browser_->setHtml(QStringLiteral("<p>The help file %1 could not be opened.</p>")
                              .arg(file.toHtmlEscaped()));
    const int index = topics_.indexOf(HelpTopicOfContext(contextId));
    ShowTopic(index >= 0 ? index : (topics_.isEmpty() ? -1 : 0));
    show();
    raise();
    activateWindow();
}

QString CHelpWindow::CurrentTopic() const {
    return topic_ >= 0 ? topics_.value(topic_) : QString();
}

void CHelpWindow::ShowTopic(int index) {
    topic_ = index;
    if (index >= 0)
        browser_->scrollToAnchor(topics_[index]);
    previous_->setEnabled(index > 0);
    next_->setEnabled(index >= 0 && index + 1 < topics_.size());
}

void CHelpWindow::Step(int delta) {
    const int index = topic_ + delta;
    if (index >= 0 && index < topics_.size())
        ShowTopic(index);
}
