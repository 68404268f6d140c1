#include "common/ui/UpdateBackdrop.h"

#include "common/ui/Fonts.h"

#include <QBitmap>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace {

const QRect kTrack(27, 310, 445, 22);
const QColor kHeading(0x80, 0x80, 0x80);

void drawTrack(QPainter& p) {
    QPainterPath track;
    track.addRoundedRect(QRectF(kTrack).adjusted(0.5, 0.5, -0.5, -0.5), 10.5, 10.5);
    QLinearGradient fill(0, kTrack.top(), 0, kTrack.bottom());
    fill.setColorAt(0, QColor(0xDD, 0xDD, 0xDD));
    fill.setColorAt(1, QColor(0xEE, 0xEE, 0xEE));
    p.fillPath(track, fill);
    p.setPen(QPen(QColor(0xC4, 0xC4, 0xC4), 1));
    p.drawPath(track);
}

} // namespace

QPixmap progressBarPixmap() {
    QPixmap bar(kTrack.size());
    bar.fill(Qt::transparent);
    QPainter p(&bar);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0.5, 0.5, kTrack.width() - 1, kTrack.height() - 1), 10.5, 10.5);
    QLinearGradient fill(0, 0, 0, kTrack.height());
    fill.setColorAt(0, QColor(0x8E, 0xDB, 0x6F));
    fill.setColorAt(0.5, QColor(0x4F, 0xB8, 0x3A));
    fill.setColorAt(1, QColor(0x3A, 0x9A, 0x2A));
    p.fillPath(shape, fill);
    p.setPen(QPen(QColor(0x32, 0x8A, 0x24), 1));
    p.drawPath(shape);
    return bar;
}

QPixmap updateBackdrop(const QString& titleText, bool filledBar) {
    QPixmap picture(500, 361);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);

    // Title area in light grey above the band, a hairline frame around the whole panel.
    p.fillRect(QRect(0, 0, 500, 50), QColor(0xF4, 0xF4, 0xF4));
    p.fillRect(QRect(0, 50, 500, 85), QColor(0xDF, 0xEE, 0xFB));
    p.setPen(QColor(0xC9, 0xE0, 0xF5));
    p.drawLine(QPointF(0, 50.5), QPointF(500, 50.5));
    p.drawLine(QPointF(0, 134.5), QPointF(500, 134.5));
    p.fillRect(QRect(0, 135, 500, 226), QColor(0xFC, 0xFC, 0xFC));
    p.setPen(QColor(0xB8, 0xB8, 0xB8));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 499, 359)); // the window shows 360 of the 361 rows

    if (!titleText.isEmpty()) {
        p.setFont(cjkFont(u"宋体"_s, 15.75, true));
        p.setPen(QColor(0x40, 0x40, 0x40));
        p.drawText(QRect(16, 10, 400, 32), Qt::AlignLeft | Qt::AlignVCenter, titleText);
    }

    // Thin close cross centred in the close spot.
    p.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.4, Qt::SolidLine, Qt::RoundCap));
    const QPointF centre(464 + 11, 16 + 11);
    p.drawLine(centre + QPointF(-6, -6), centre + QPointF(6, 6));
    p.drawLine(centre + QPointF(-6, 6), centre + QPointF(6, -6));

    p.setFont(cjkFont(u"宋体"_s, 12, true));
    p.setPen(kHeading);
    p.drawText(QRect(72, 160, 170, 24), Qt::AlignLeft | Qt::AlignVCenter, u"当前版本："_s);
    p.drawText(QRect(328, 160, 170, 24), Qt::AlignLeft | Qt::AlignVCenter, u"最新版本："_s);
    p.setPen(QPen(QColor(0xD0, 0xD0, 0xD0), 1));
    p.drawLine(QPointF(250.5, 158), QPointF(250.5, 226));

    drawTrack(p);
    if (filledBar)
        p.drawPixmap(kTrack.topLeft(), progressBarPixmap());
    return picture;
}

QCursor handPointer() {
    // '#' black, '.' white, anything else transparent; the fingertip is at column 5 of row 0.
    static const char* const rows[] = {
        "     ##",           "    #..#",          "    #..#",          "    #..#",
        "    #..#",          "    #..###",        "    #..#..###",     "    #..#..#..###",
        "    #..#..#..#..#", " ## #..#..#..#..#", "#..##...........#", "#...#...........#",
        " #..............#", "  #.............#", "  #.............#", "   #............#",
        "   #...........#",  "    #..........#",  "    #.........#",   "     #........#",
        "     #........#",   "     ##########",
    };
    QImage shape(32, 32, QImage::Format_Mono);
    QImage mask(32, 32, QImage::Format_Mono);
    shape.fill(0);
    mask.fill(0);
    for (int y = 0; y < int(std::size(rows)); ++y) {
        for (int x = 0; rows[y][x] != '\0'; ++x) {
            const char c = rows[y][x];
            if (c == '#' || c == '.') {
                mask.setPixel(x, y, 1);
                shape.setPixel(x, y, c == '#' ? 1 : 0);
            }
        }
    }
    // Format_Mono has no colour table yet: index 1 must be black so the bitmap reads 1 as ink.
    shape.setColorTable({QColor(Qt::white).rgb(), QColor(Qt::black).rgb()});
    mask.setColorTable({QColor(Qt::white).rgb(), QColor(Qt::black).rgb()});
    return QCursor(QBitmap::fromImage(shape), QBitmap::fromImage(mask), 5, 0);
}
