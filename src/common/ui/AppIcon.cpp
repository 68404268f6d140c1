#include "common/ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap drawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x6f, 0xc8));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

    // The fibre: a bright line sweeping in from the left edge.
    QPainterPath fibre;
    fibre.moveTo(3, 24);
    fibre.cubicTo(9, 24, 10, 16, 15, 16);
    p.setPen(QPen(QColor(0xff, 0xd5, 0x4a), 2.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(fibre);

    // The meter: a white dial with its needle.
    p.setPen(QPen(Qt::white, 2.2));
    p.drawEllipse(QPointF(20, 14), 8, 8);
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20, 14), QPointF(24, 9.5));
    return pixmap;
}

} // namespace

QIcon appIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 256})
        icon.addPixmap(drawIcon(size));
    return icon;
}
