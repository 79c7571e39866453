#include "app/qt/CollectorIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap Draw(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    // Two cards, the front one with lines of text.
    p.setPen(QPen(QColor(0x2b, 0x4f, 0x81), 2));
    p.setBrush(QColor(0xd6, 0xe4, 0xf5));
    p.drawRoundedRect(QRectF(10, 4, 30, 24), 3, 3);
    p.setBrush(QColor(0xff, 0xff, 0xff));
    p.drawRoundedRect(QRectF(4, 10, 30, 24), 3, 3);
    p.setPen(QPen(QColor(0x2b, 0x4f, 0x81), 2.5));
    p.drawLine(QPointF(9, 17), QPointF(27, 17));
    p.drawLine(QPointF(9, 23), QPointF(22, 23));
    p.drawLine(QPointF(9, 29), QPointF(18, 29));
    // The magnifier.
    p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(37, 37), QPointF(45, 45));
    p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 3.5));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(31, 31), 9, 9);
    return pm;
}

}  // namespace

QIcon CollectorIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        icon.addPixmap(Draw(size));
    }
    return icon;
}
