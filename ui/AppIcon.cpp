#include "ui/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

namespace {

const QColor kBackground(0x1f, 0x4e, 0x79);
const QColor kUnit(0xff, 0xff, 0xff);
const QColor kLight(0x2e, 0x9e, 0x44);
const QColor kArrow(0xf2, 0xa2, 0x3a);

// Coordinates of the 64 x 64 drawing.
void paintIcon(QPainter& painter) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBackground);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
    for (qreal top : {14.0, 30.0}) {
        painter.setBrush(kUnit);
        painter.drawRoundedRect(QRectF(10, top, 30, 12), 2, 2);
        painter.setBrush(kLight);
        painter.drawEllipse(QPointF(34, top + 6), 2.5, 2.5);
    }
    painter.setBrush(kArrow);
    painter.drawRect(QRectF(47, 12, 6, 22));
    painter.drawPolygon(QPolygonF({QPointF(42, 34), QPointF(58, 34), QPointF(50, 46)}));
    painter.drawRoundedRect(QRectF(10, 48, 44, 4), 2, 2);
}

QPixmap iconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    paintIcon(painter);
    return pixmap;
}

} // namespace

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(iconPixmap(size));
    return icon;
}
