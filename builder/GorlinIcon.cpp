#include "builder/GorlinIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace {

QPolygonF Polygon(std::initializer_list<QPointF> points) {
    return QPolygonF(QList<QPointF>(points));
}

}  // namespace

QImage GorlinIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);  // drawn on a 64 x 64 grid
    painter.setPen(Qt::NoPen);

    QLinearGradient background(0, 2, 0, 62);
    background.setColorAt(0, QColor("#2f5d8a"));
    background.setColorAt(1, QColor("#1d3a57"));
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 11, 11);

    // The stack: two sheets under the bitstream's layer.
    painter.setBrush(QColor("#9cc9e8"));
    painter.drawPolygon(Polygon({{32, 42}, {54, 33}, {54, 37}, {32, 46}, {10, 37}, {10, 33}}));
    painter.setBrush(QColor("#c3e0f3"));
    painter.drawPolygon(Polygon({{32, 35}, {54, 26}, {54, 30}, {32, 39}, {10, 30}, {10, 26}}));
    painter.setBrush(QColor("#f0a43a"));
    painter.drawPolygon(Polygon({{32, 16}, {54, 25}, {32, 34}, {10, 25}}));
    // The FPGA on top of it.
    painter.setBrush(QColor("#7a4a10"));
    painter.drawPolygon(Polygon({{32, 19.5}, {44.5, 25}, {32, 30.5}, {19.5, 25}}));
    painter.setBrush(QColor("#f7d08a"));
    painter.drawPolygon(Polygon({{32, 21.5}, {40, 25}, {32, 28.5}, {24, 25}}));
    // The bitstream going in.
    painter.setBrush(Qt::white);
    painter.drawPolygon(Polygon({{32, 48}, {37.5, 53.5}, {26.5, 53.5}}));
    painter.drawRoundedRect(QRectF(30.2, 53, 3.6, 6), 1, 1);
    return image;
}

QIcon GorlinIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(GorlinIconImage(size)));
    return icon;
}

QPixmap GorlinStatusPixmap(GorlinStatus status, int size, qreal devicePixelRatio) {
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / 32.0, pixels / 32.0);  // drawn on a 32 x 32 grid
    painter.setPen(Qt::NoPen);
    painter.setBrush(status == GorlinStatus::Success ? QColor("#2e9d48") : QColor("#d1352b"));
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    QPen mark(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(mark);
    painter.setBrush(Qt::NoBrush);
    if (status == GorlinStatus::Success) {
        QPainterPath tick;
        tick.moveTo(9, 16.5);
        tick.lineTo(14, 21.5);
        tick.lineTo(23.5, 11);
        painter.drawPath(tick);
    } else {
        painter.drawLine(QPointF(11, 11), QPointF(21, 21));
        painter.drawLine(QPointF(21, 11), QPointF(11, 21));
    }
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}
