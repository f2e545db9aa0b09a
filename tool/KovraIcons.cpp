#include "tool/KovraIcons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

QImage Canvas(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A chip seen from above, on a grid of the given size, centred at c.
void DrawChip(QPainter& painter, QPointF c, qreal body, const QColor& colour) {
    const qreal pin = body / 7;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#b8bec6"));
    for (int i = 0; i < 3; ++i) {
        const qreal offset = -body / 3 + i * body / 3 - pin / 2;
        painter.drawRect(QRectF(c.x() + offset, c.y() - body / 2 - pin * 1.4, pin, pin * 1.4));
        painter.drawRect(QRectF(c.x() + offset, c.y() + body / 2, pin, pin * 1.4));
        painter.drawRect(QRectF(c.x() - body / 2 - pin * 1.4, c.y() + offset, pin * 1.4, pin));
        painter.drawRect(QRectF(c.x() + body / 2, c.y() + offset, pin * 1.4, pin));
    }
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(c.x() - body / 2, c.y() - body / 2, body, body), body / 10,
                            body / 10);
}

QPixmap DrawTreeImage(TreeImage which);

}  // namespace

QImage KovraIconImage(int size) {
    QImage image = Canvas(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);  // drawn on a 64 x 64 grid
    painter.setPen(Qt::NoPen);
    QLinearGradient background(0, 2, 0, 62);
    background.setColorAt(0, QColor("#3b7a4a"));
    background.setColorAt(1, QColor("#22492c"));
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 11, 11);
    DrawChip(painter, {32, 32}, 30, QColor("#1e2328"));
    // The flash being written: a bolt on the chip.
    painter.setBrush(QColor("#f6c544"));
    QPainterPath bolt;
    bolt.moveTo(35, 19);
    bolt.lineTo(25, 34);
    bolt.lineTo(31, 34);
    bolt.lineTo(28, 45);
    bolt.lineTo(39, 29);
    bolt.lineTo(33, 29);
    bolt.closeSubpath();
    painter.drawPath(bolt);
    return image;
}

QIcon KovraIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(KovraIconImage(size)));
    return icon;
}

QPixmap TreeImagePixmap(TreeImage which) {
    // Drawn once each: the tree asks for them on every state change.
    static QPixmap drawn[5];
    QPixmap& pixmap = drawn[static_cast<int>(which)];
    if (pixmap.isNull())
        pixmap = DrawTreeImage(which);
    return pixmap;
}

namespace {

QPixmap DrawTreeImage(TreeImage which) {
    QImage image = Canvas(16);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen line(Qt::black, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (which) {
        case TreeImage::Ready: {
            line.setColor(QColor("#1f9a3a"));
            painter.setPen(line);
            QPainterPath tick;
            tick.moveTo(3, 8.5);
            tick.lineTo(6.5, 12);
            tick.lineTo(13, 4);
            painter.drawPath(tick);
            break;
        }
        case TreeImage::Modified: {
            // A wrench: handle and an open jaw.
            painter.setPen(QPen(QColor("#a37800"), 1));
            painter.setBrush(QColor("#f2c230"));
            painter.save();
            painter.translate(8, 8);
            painter.rotate(45);
            painter.drawRoundedRect(QRectF(-1.6, -1, 3.2, 8), 1, 1);
            QPainterPath jaw;
            jaw.addEllipse(QPointF(0, -3.5), 3.8, 3.8);
            QPainterPath gap;
            gap.addRect(QRectF(-1.3, -8, 2.6, 4.8));
            painter.drawPath(jaw.subtracted(gap));
            painter.restore();
            break;
        }
        case TreeImage::NoAccess:
            line.setColor(QColor("#d1352b"));
            line.setWidthF(2.8);
            painter.setPen(line);
            painter.drawLine(QPointF(4, 4), QPointF(12, 12));
            painter.drawLine(QPointF(12, 4), QPointF(4, 12));
            break;
        case TreeImage::Root:
            DrawChip(painter, {8, 8}, 8.5, QColor("#2d3640"));
            break;
        case TreeImage::Busy: {
            line.setColor(QColor("#2f6fb8"));
            line.setWidthF(2);
            painter.setPen(line);
            for (int i = 0; i < 3; ++i) {
                const qreal y = 3.5 + i * 4;
                painter.drawPolyline(
                    QPolygonF(QList<QPointF>{{3.5, y + 3}, {8, y}, {12.5, y + 3}}));
            }
            break;
        }
    }
    painter.end();
    return QPixmap::fromImage(image);
}

}  // namespace

QPixmap NoAccessPixmap(int size) {
    QImage image = Canvas(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#d1352b"));
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    painter.setPen(QPen(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(11, 11), QPointF(21, 21));
    painter.drawLine(QPointF(21, 11), QPointF(11, 21));
    painter.end();
    return QPixmap::fromImage(image);
}

QPixmap BusyFrame(int frame, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Data running into a chip: chevrons that light up one after the other.
    const qreal h = size.height();
    DrawChip(painter, {size.width() - h / 2, h / 2}, h * 0.55, QColor("#2d3640"));
    const int chevrons = 5;
    const qreal step = (size.width() - h * 1.1) / chevrons;
    for (int i = 0; i < chevrons; ++i) {
        const int lit = frame % (chevrons + 1);
        QColor colour(i < lit ? "#2f6fb8" : "#c7d3e0");
        painter.setPen(QPen(colour, h / 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const qreal x = 2 + i * step;
        painter.drawPolyline(
            QPolygonF(QList<QPointF>{{x, h * 0.2}, {x + step * 0.6, h / 2}, {x, h * 0.8}}));
    }
    painter.end();
    return QPixmap::fromImage(image);
}
