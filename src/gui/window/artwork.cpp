#include "gui/window/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace korvana::artwork {

namespace {

// Every icon is drawn on a 32-unit square and scaled, so the small sizes
// are rendered from the same shapes rather than shrunk from a bitmap.
template <typename Draw>
QPixmap drawIcon(int size, Draw draw)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    draw(painter, size);
    return pixmap;
}

template <typename Draw>
QIcon iconOf(std::initializer_list<int> sizes, Draw draw)
{
    QIcon icon;
    for (const int size : sizes)
        icon.addPixmap(drawIcon(size, draw));
    return icon;
}

QPainterPath handsetPath()
{
    // A classic handset lying on its back: two cups joined by a bowed grip.
    QPainterPath path;
    path.moveTo(2, 12);
    path.cubicTo(2, 6, 8, 3, 16, 3);
    path.cubicTo(24, 3, 30, 6, 30, 12);
    path.lineTo(30, 14);
    path.lineTo(23, 15.5);
    path.lineTo(22, 11.5);
    path.cubicTo(19, 10.5, 13, 10.5, 10, 11.5);
    path.lineTo(9, 15.5);
    path.lineTo(2, 14);
    path.closeSubpath();
    return path;
}

void drawBook(QPainter &p, int size)
{
    const bool small = size < 24;
    // Pages peeking out at the right and the bottom.
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.setBrush(QColor(250, 248, 236));
    p.drawRoundedRect(QRectF(6.5, 3.5, 23, 27), 1.5, 1.5);
    // The cover.
    QLinearGradient cover(0, 0, 32, 32);
    cover.setColorAt(0, QColor(52, 110, 200));
    cover.setColorAt(1, QColor(18, 52, 120));
    p.setPen(QPen(QColor(10, 30, 80), 1));
    p.setBrush(cover);
    p.drawRoundedRect(QRectF(2.5, 1.5, 24, 27), 2, 2);
    // The spine.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 34, 90));
    p.drawRect(QRectF(3, 2, small ? 4 : 3.5, 26));
    // A handset on the cover.
    p.save();
    p.translate(small ? 7.5 : 8.5, small ? 8.5 : 9.5);
    p.scale(small ? 0.62 : 0.53, small ? 0.85 : 0.7);
    p.setBrush(Qt::white);
    p.drawPath(handsetPath());
    p.restore();
    if (!small) {
        // Lines of a title under the handset.
        p.setBrush(QColor(255, 214, 90));
        p.drawRect(QRectF(10, 21, 13, 1.6));
        p.drawRect(QRectF(10, 24, 9, 1.6));
    }
}

void drawMagnifierWithCross(QPainter &p, int size)
{
    const bool small = size < 24;
    // The handle first, so the lens rim covers its end.
    p.setPen(QPen(QColor(90, 60, 30), small ? 4.5 : 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(17.5, 17.5), QPointF(26, 26));
    QRadialGradient glass(QPointF(10, 9), 10);
    glass.setColorAt(0, QColor(235, 248, 255));
    glass.setColorAt(1, QColor(150, 200, 235));
    p.setPen(QPen(QColor(60, 70, 90), small ? 3 : 2.5));
    p.setBrush(glass);
    p.drawEllipse(QPointF(12, 12), 8.5, 8.5);
    if (!small) {
        p.setPen(QPen(QColor(255, 255, 255, 200), 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(6.5, 6.5, 11, 11), 100 * 16, 70 * 16);
    }
    // The red cross over the lower right: the search is wiped.
    p.setPen(QPen(QColor(120, 0, 0), small ? 7 : 6.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19, 19), QPointF(28.5, 28.5));
    p.drawLine(QPointF(28.5, 19), QPointF(19, 28.5));
    p.setPen(QPen(QColor(230, 30, 30), small ? 4.5 : 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19, 19), QPointF(28.5, 28.5));
    p.drawLine(QPointF(28.5, 19), QPointF(19, 28.5));
}

void drawRotaryTelephone(QPainter &p, QColor body, QColor dark, bool small)
{
    // The body: a rounded trapezoid.
    QPainterPath base;
    base.moveTo(6, 13);
    base.lineTo(26, 13);
    base.lineTo(30.5, 28);
    base.quadTo(30.5, 30, 28.5, 30);
    base.lineTo(3.5, 30);
    base.quadTo(1.5, 30, 1.5, 28);
    base.closeSubpath();
    QLinearGradient shade(0, 13, 0, 30);
    shade.setColorAt(0, body.lighter(130));
    shade.setColorAt(1, body);
    p.setPen(QPen(dark, 1));
    p.setBrush(shade);
    p.drawPath(base);
    // The handset resting on its cradle.
    p.save();
    p.translate(0, 1);
    p.setBrush(body.lighter(110));
    p.drawPath(handsetPath());
    p.restore();
    // The dial with its finger holes.
    const QPointF centre(16, 22.5);
    p.setBrush(QColor(245, 245, 240));
    p.setPen(QPen(dark, 1));
    p.drawEllipse(centre, 6.5, 6.5);
    if (!small) {
        p.setBrush(dark);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 10; ++i) {
            const double angle = (60 + i * 27) * M_PI / 180.0;
            p.drawEllipse(centre + QPointF(4.6 * std::cos(angle), -4.6 * std::sin(angle)), 0.9, 0.9);
        }
    }
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawEllipse(centre, small ? 2.2 : 2.0, small ? 2.2 : 2.0);
}

void drawDialIcon(QPainter &p, int size)
{
    drawRotaryTelephone(p, QColor(200, 30, 35), QColor(90, 10, 10), size < 24);
}

} // namespace

QIcon applicationIcon()
{
    return iconOf({16, 32}, drawBook);
}

QIcon clearIcon()
{
    return iconOf({16, 24, 32}, drawMagnifierWithCross);
}

QIcon dialIcon()
{
    return iconOf({16, 24, 32}, drawDialIcon);
}

QPixmap townPicture()
{
    const int w = 181;
    const int h = 150;
    QPixmap pixmap(w, h);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // Evening sky.
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0.0, QColor(28, 54, 120));
    sky.setColorAt(0.55, QColor(110, 150, 210));
    sky.setColorAt(0.8, QColor(250, 200, 140));
    p.fillRect(0, 0, w, h, sky);

    // A low sun behind the houses.
    QRadialGradient sun(QPointF(128, 92), 22);
    sun.setColorAt(0, QColor(255, 240, 170));
    sun.setColorAt(0.5, QColor(255, 200, 90));
    sun.setColorAt(1, QColor(255, 200, 90, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(128, 92), 22, 22);

    // Far houses: one pale row.
    p.setBrush(QColor(120, 130, 175));
    const int far[][3] = {{0, 84, 14}, {14, 76, 12}, {26, 88, 16}, {42, 70, 10}, {52, 80, 18},
                          {70, 86, 12}, {82, 74, 14}, {96, 90, 20}, {116, 78, 12}, {128, 84, 16},
                          {144, 72, 12}, {156, 82, 14}, {170, 88, 11}};
    for (const auto &b : far)
        p.drawRect(b[0], b[1], b[2], h - b[1]);

    // The town's television tower.
    p.setBrush(QColor(70, 76, 120));
    QPolygonF tower;
    tower << QPointF(150, 110) << QPointF(156, 34) << QPointF(158, 34) << QPointF(164, 110);
    p.drawPolygon(tower);
    p.drawEllipse(QPointF(157, 54), 5, 3);
    p.setPen(QPen(QColor(230, 40, 40), 1.5));
    p.drawLine(QPointF(157, 34), QPointF(157, 22));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 80, 80));
    p.drawEllipse(QPointF(157, 22), 1.6, 1.6);

    // Near houses with lit windows.
    struct House {
        int x, top, width;
        QColor colour;
    };
    const House near[] = {{0, 96, 26, QColor(48, 56, 96)},   {24, 84, 22, QColor(58, 66, 110)},
                          {44, 102, 30, QColor(44, 50, 88)},  {72, 90, 18, QColor(62, 70, 116)},
                          {88, 104, 26, QColor(50, 58, 100)}, {112, 96, 24, QColor(56, 62, 106)},
                          {134, 108, 28, QColor(46, 52, 92)}, {160, 98, 21, QColor(60, 68, 112)}};
    for (const House &house : near) {
        p.setBrush(house.colour);
        p.drawRect(house.x, house.top, house.width, h - house.top);
        for (int y = house.top + 4; y < h - 26; y += 7) {
            for (int x = house.x + 3; x + 3 < house.x + house.width; x += 6) {
                const bool lit = ((x * 7 + y * 13) % 5) < 3;
                p.fillRect(x, y, 3, 4, lit ? QColor(255, 220, 110) : QColor(30, 36, 70));
            }
        }
    }

    // The street.
    p.fillRect(0, h - 22, w, 22, QColor(40, 44, 60));
    p.fillRect(0, h - 22, w, 2, QColor(90, 96, 120));

    // Telephone poles and their wires across the picture.
    p.setPen(QPen(QColor(60, 40, 30), 3));
    p.drawLine(QPointF(12, h - 20), QPointF(12, 52));
    p.drawLine(QPointF(96, h - 20), QPointF(96, 58));
    p.setPen(QPen(QColor(60, 40, 30), 2));
    p.drawLine(QPointF(5, 56), QPointF(19, 56));
    p.drawLine(QPointF(89, 62), QPointF(103, 62));
    p.setPen(QPen(QColor(20, 20, 30), 1));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 2; ++i) {
        const double dx = i * 12;
        QPainterPath wire;
        wire.moveTo(6 + dx, 56);
        wire.quadTo(52 + dx, 74, 90 + dx, 62);
        wire.quadTo(140 + dx, 76, w + 2, 64 + i * 3);
        p.drawPath(wire);
    }

    // A red telephone on the pavement, the program's sign.
    p.save();
    p.translate(118, 104);
    p.scale(1.7, 1.45);
    drawRotaryTelephone(p, QColor(210, 30, 35), QColor(80, 8, 8), false);
    p.restore();

    return pixmap;
}

QPixmap bandPicture()
{
    const int w = 536;
    const int h = 5;
    QPixmap pixmap(w, h);
    QPainter p(&pixmap);
    // Dark blue at the edges, warm gold in the middle.
    QLinearGradient across(0, 0, w, 0);
    across.setColorAt(0.0, QColor(16, 40, 110));
    across.setColorAt(0.3, QColor(40, 120, 190));
    across.setColorAt(0.5, QColor(245, 200, 80));
    across.setColorAt(0.7, QColor(40, 120, 190));
    across.setColorAt(1.0, QColor(16, 40, 110));
    p.fillRect(0, 0, w, h, across);
    // A light top and a dark bottom row give the band some relief.
    p.fillRect(0, 0, w, 1, QColor(255, 255, 255, 110));
    p.fillRect(0, h - 1, w, 1, QColor(0, 0, 0, 90));
    return pixmap;
}

} // namespace korvana::artwork
