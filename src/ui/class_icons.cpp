#include "ui/class_icons.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <array>
#include <functional>

namespace quillfin::ui {
namespace {

using Drawing = std::function<void(QPainter&)>;

// Every drawing works on a 16-unit square; each pixmap size scales it, so the icon stays
// sharp on high-density screens too.
QPixmap Render(const Drawing& draw, int size, qreal units = 16) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / units, size / units);
    draw(painter);
    return pixmap;
}

QIcon MakeIcon(const Drawing& draw) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) icon.addPixmap(Render(draw, size));
    return icon;
}

QPen Outline(const QColor& color, qreal width = 1.0) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void DrawIncomplete(QPainter& p) {
    const QColor orange(232, 128, 20);
    p.setPen(Outline(orange));
    p.setBrush(QColor(255, 240, 220));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(Qt::NoPen);
    p.setBrush(orange);
    p.drawPie(QRectF(1.5, 1.5, 13, 13), 90 * 16, 180 * 16);
}

void DrawComplete(QPainter& p) {
    p.setPen(Outline(QColor(30, 120, 40)));
    p.setBrush(QColor(52, 168, 70));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(Outline(Qt::white, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{4.6, 8.2}, {7.0, 10.6}, {11.4, 5.4}}));
}

void DrawUnknown(QPainter& p) {
    p.setPen(Outline(QColor(110, 110, 110)));
    p.setBrush(QColor(150, 150, 150));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    QPainterPath mark;
    mark.moveTo(5.8, 6.2);
    mark.cubicTo(5.8, 3.6, 10.4, 3.6, 10.4, 6.2);
    mark.cubicTo(10.4, 7.8, 8.0, 7.8, 8.0, 9.6);
    p.setPen(Outline(Qt::white, 1.7));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8.0, 12.0), 1.0, 1.0);
}

// A sheet with a folded corner; the caller draws what is on it.
void DrawSheet(QPainter& p, const QColor& paper) {
    QPolygonF sheet({{3.0, 1.5}, {10.0, 1.5}, {13.5, 5.0}, {13.5, 14.5}, {3.0, 14.5}});
    p.setPen(Outline(QColor(96, 104, 116)));
    p.setBrush(paper);
    p.drawPolygon(sheet);
    p.setBrush(QColor(200, 206, 214));
    p.drawPolygon(QPolygonF({{10.0, 1.5}, {10.0, 5.0}, {13.5, 5.0}}));
}

void DrawPart(QPainter& p) {
    DrawSheet(p, QColor(232, 240, 252));
    // A puzzle piece on the sheet: one piece of a larger whole.
    QPainterPath piece;
    piece.addRect(QRectF(5.0, 7.0, 6.0, 5.5));
    piece.addEllipse(QPointF(8.0, 7.0), 1.4, 1.4);
    piece.addEllipse(QPointF(11.0, 9.75), 1.4, 1.4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 100, 200));
    p.drawPath(piece.simplified());
}

void DrawQueued(QPainter& p) {
    p.setPen(Outline(QColor(90, 90, 90), 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{2.0, 10.0}, {2.0, 14.0}, {14.0, 14.0}, {14.0, 10.0}}));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(36, 110, 210));
    p.drawPolygon(QPolygonF(
        {{6.5, 1.5}, {9.5, 1.5}, {9.5, 6.5}, {12.5, 6.5}, {8.0, 11.5}, {3.5, 6.5}, {6.5, 6.5}}));
}

void DrawText(QPainter& p) {
    DrawSheet(p, Qt::white);
    p.setPen(Outline(QColor(120, 128, 140)));
    for (qreal y : {6.5, 8.5, 10.5, 12.5}) p.drawLine(QLineF(5.0, y, y < 7 ? 9.0 : 11.5, y));
}

void DrawIdleGroup(QPainter& p) {
    p.setPen(Outline(QColor(130, 130, 130)));
    p.setBrush(QColor(235, 235, 235));
    p.drawEllipse(QRectF(3.5, 3.5, 9, 9));
}

void DrawCurrentGroup(QPainter& p) {
    p.setPen(Outline(QColor(30, 120, 40)));
    p.setBrush(QColor(60, 180, 75));
    p.drawPolygon(QPolygonF({{4.0, 2.5}, {13.5, 8.0}, {4.0, 13.5}}));
}

// The quill-and-fin picture on a 96-unit square: a fin rising from the water with a quill
// leaning against it.
void DrawEmblem(QPainter& p) {
    QLinearGradient sky(0, 0, 0, 96);
    sky.setColorAt(0, QColor(40, 96, 170));
    sky.setColorAt(1, QColor(14, 44, 96));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(2, 2, 92, 92), 18, 18);

    QPainterPath fin;
    fin.moveTo(22, 66);
    fin.cubicTo(34, 52, 44, 30, 46, 14);
    fin.cubicTo(56, 32, 66, 52, 76, 66);
    fin.closeSubpath();
    p.setBrush(QColor(180, 196, 214));
    p.drawPath(fin);

    QPainterPath feather;
    feather.moveTo(80, 10);
    feather.cubicTo(62, 20, 48, 40, 40, 62);
    feather.cubicTo(56, 50, 72, 34, 80, 10);
    p.setBrush(QColor(250, 250, 244));
    p.drawPath(feather);
    p.setPen(Outline(QColor(200, 150, 60), 2.5));
    p.drawLine(QLineF(80, 10, 34, 78));

    // The water is clipped to the rounded square, so its edge can run straight off it.
    QPainterPath frame;
    frame.addRoundedRect(QRectF(2, 2, 92, 92), 18, 18);
    p.setClipPath(frame);
    QPainterPath water;
    water.moveTo(0, 66);
    for (int x = 0; x < 96; x += 16) water.cubicTo(x + 4, 60, x + 12, 72, x + 16, 66);
    water.lineTo(96, 96);
    water.lineTo(0, 96);
    water.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(28, 150, 200, 220));
    p.drawPath(water);
    p.setClipping(false);
}

}  // namespace

QIcon ClassIcon(int number) {
    static const std::array<Drawing, 6> drawings{DrawIncomplete, DrawComplete, DrawUnknown,
                                                 DrawPart,       DrawQueued,   DrawText};
    static std::array<QIcon, 6> icons;
    if (number < 1 || number > static_cast<int>(icons.size())) return QIcon();
    QIcon& icon = icons[static_cast<std::size_t>(number - 1)];
    if (icon.isNull()) icon = MakeIcon(drawings[static_cast<std::size_t>(number - 1)]);
    return icon;
}

QIcon GroupStateIcon(int number) {
    static QIcon idle = MakeIcon(DrawIdleGroup);
    static QIcon current = MakeIcon(DrawCurrentGroup);
    if (number == 1) return idle;
    if (number == 2) return current;
    return QIcon();
}

QIcon AppIcon() {
    static QIcon icon = [] {
        QIcon made;
        for (int size : {16, 24, 32, 48, 64, 128}) made.addPixmap(Render(DrawEmblem, size, 96));
        return made;
    }();
    return icon;
}

QPixmap SplashPicture() { return EmblemPicture(96); }

QPixmap EmblemPicture(int size) { return Render(DrawEmblem, size, 96); }

}  // namespace quillfin::ui
