#include "tool/BusyAnimation.h"

#include "tool/KovraIcons.h"

#include <QPainter>

CBusyAnimation::CBusyAnimation(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &CBusyAnimation::Step);
}

void CBusyAnimation::Play(int first, int last, int repeat) {
    first_ = first;
    last_ = last;
    frame_ = first;
    repeatsLeft_ = repeat;
    timer_.start();
    update();
}

void CBusyAnimation::Stop() {
    timer_.stop();
    frame_ = first_;
    update();
}

QSize CBusyAnimation::sizeHint() const {
    return {126, 27};
}

void CBusyAnimation::Step() {
    if (++frame_ > last_) {
        frame_ = first_;
        if (--repeatsLeft_ <= 0)
            timer_.stop();
    }
    update();
}

void CBusyAnimation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, BusyFrame(frame_, size()));
}
