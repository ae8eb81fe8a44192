// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the program's bitmaps and icon into a folder, one PNG per resource
// number. Buttons sit on pure white, which their window shape cuts away, so
// nothing inside a button may be pure white. The thumb's transparent colour
// is its top-left pixel (pure red); the header boxes' is magenta.
//
//   morvane_draw_bitmaps <output folder>
//   morvane_draw_bitmaps --icon <size> <file.png>   the program icon at one size

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cstdio>
#include <functional>

namespace {

const QColor kGlyph(250, 250, 250);  // near-white: pure white would cut a hole

using Pictogram = std::function<void(QPainter&, const QRectF& area)>;

QImage NewImage(int width, int height, const QColor& background)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(background);
    return image;
}

// A rounded button face with a vertical gradient and a darker rim.
QImage DrawButton(int width, int height, const QColor& base, const Pictogram& pictogram)
{
    QImage image = NewImage(width, height, Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face(1.5, 1.5, width - 3.0, height - 3.0);
    const qreal radius = qMin(width, height) / 5.0;
    QLinearGradient gradient(face.topLeft(), face.bottomLeft());
    gradient.setColorAt(0.0, base.lighter(135));
    gradient.setColorAt(1.0, base.darker(115));
    painter.setPen(QPen(base.darker(160), 1.5));
    painter.setBrush(gradient);
    painter.drawRoundedRect(face, radius, radius);
    pictogram(painter, face.adjusted(4, 4, -4, -4));
    return image;
}

void FilmFrame(QPainter& painter, const QRectF& frame)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlyph);
    painter.drawRoundedRect(frame, 2, 2);
    // Sprocket holes along both edges, in the face colour behind.
    painter.setBrush(QColor(0, 0, 0, 90));
    const qreal hole = frame.width() / 9.0;
    for (int i = 0; i < 4; ++i) {
        const qreal x = frame.left() + hole * (1 + 2 * i);
        painter.drawRect(QRectF(x, frame.top() + 2, hole, hole * 0.8));
        painter.drawRect(QRectF(x, frame.bottom() - 2 - hole * 0.8, hole, hole * 0.8));
    }
}

void PlusSign(QPainter& painter, const QPointF& centre, qreal size)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlyph);
    const qreal bar = size / 3.5;
    painter.drawRoundedRect(QRectF(centre.x() - size / 2, centre.y() - bar / 2, size, bar), 1.5, 1.5);
    painter.drawRoundedRect(QRectF(centre.x() - bar / 2, centre.y() - size / 2, bar, size), 1.5, 1.5);
}

void AddPictogram(QPainter& painter, const QRectF& area)
{
    const qreal h = area.height() * 0.72;
    FilmFrame(painter, QRectF(area.left() + area.width() * 0.14, area.center().y() - h / 2, h * 1.35, h));
    PlusSign(painter, QPointF(area.left() + area.width() * 0.76, area.center().y()), area.height() * 0.62);
}

void ScissorsPictogram(QPainter& painter, const QRectF& area)
{
    const QPointF c = area.center();
    const qreal s = area.height() * 0.5;
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kGlyph, s * 0.22, Qt::SolidLine, Qt::RoundCap));
    // Two blades crossing at the pivot, pointing right; finger rings on the left.
    painter.drawLine(QPointF(c.x() - s * 0.6, c.y() - s * 0.45), QPointF(c.x() + s * 1.3, c.y() + s * 0.35));
    painter.drawLine(QPointF(c.x() - s * 0.6, c.y() + s * 0.45), QPointF(c.x() + s * 1.3, c.y() - s * 0.35));
    painter.setPen(QPen(kGlyph, s * 0.18));
    painter.drawEllipse(QPointF(c.x() - s * 0.95, c.y() - s * 0.55), s * 0.38, s * 0.38);
    painter.drawEllipse(QPointF(c.x() - s * 0.95, c.y() + s * 0.55), s * 0.38, s * 0.38);
    // A dashed cut line in front of the blades.
    painter.setPen(QPen(kGlyph, 1.5, Qt::DashLine));
    painter.drawLine(QPointF(c.x() + s * 1.55, c.y()), QPointF(area.right(), c.y()));
}

void FolderPictogram(QPainter& painter, const QRectF& area)
{
    const qreal w = area.height() * 1.25;
    const QRectF body(area.center().x() - w / 2, area.top() + area.height() * 0.22, w, area.height() * 0.7);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlyph);
    painter.drawRoundedRect(QRectF(body.left(), body.top() - body.height() * 0.2, body.width() * 0.45,
                                   body.height() * 0.4), 2, 2);
    painter.drawRoundedRect(body, 2, 2);
    painter.setBrush(QColor(0, 0, 0, 60));
    painter.drawRect(QRectF(body.left(), body.top() + body.height() * 0.18, body.width(), 1.5));
}

void TrashPictogram(QPainter& painter, const QRectF& area)
{
    const QPointF c = area.center();
    const qreal h = area.height() * 0.8;
    const qreal w = h * 0.75;
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlyph);
    painter.drawRoundedRect(QRectF(c.x() - w * 0.65, c.y() - h / 2, w * 1.3, h * 0.13), 1.5, 1.5);
    painter.drawRect(QRectF(c.x() - w * 0.18, c.y() - h / 2 - h * 0.08, w * 0.36, h * 0.1));
    QPolygonF can;
    can << QPointF(c.x() - w / 2, c.y() - h * 0.3) << QPointF(c.x() + w / 2, c.y() - h * 0.3)
        << QPointF(c.x() + w * 0.4, c.y() + h / 2) << QPointF(c.x() - w * 0.4, c.y() + h / 2);
    painter.drawPolygon(can);
    painter.setPen(QPen(QColor(0, 0, 0, 70), 1.5));
    for (int i = -1; i <= 1; ++i)
        painter.drawLine(QPointF(c.x() + i * w * 0.2, c.y() - h * 0.18), QPointF(c.x() + i * w * 0.17, c.y() + h * 0.4));
}

void MergePictogram(QPainter& painter, const QRectF& area)
{
    const qreal h = area.height() * 0.34;
    const qreal w = h * 1.35;
    FilmFrame(painter, QRectF(area.left() + 2, area.top() + 1, w, h));
    FilmFrame(painter, QRectF(area.left() + 2, area.bottom() - h - 1, w, h));
    FilmFrame(painter, QRectF(area.right() - w * 1.5 - 2, area.center().y() - h * 0.75, w * 1.5, h * 1.5));
    painter.setPen(QPen(kGlyph, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const qreal x0 = area.left() + w + 6;
    const qreal x1 = area.right() - w * 1.5 - 7;
    const qreal y = area.center().y();
    painter.drawLine(QPointF(x0, area.top() + h / 2 + 1), QPointF(x1, y));
    painter.drawLine(QPointF(x0, area.bottom() - h / 2 - 1), QPointF(x1, y));
    painter.drawPolyline(QPolygonF() << QPointF(x1 - 5, y - 4) << QPointF(x1, y) << QPointF(x1 - 5, y + 4));
}

void PlayPictogram(QPainter& painter, const QRectF& area)
{
    const QPointF c = area.center();
    const qreal s = area.height() * 0.42;
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlyph);
    painter.drawPolygon(QPolygonF() << QPointF(c.x() - s * 0.7, c.y() - s) << QPointF(c.x() + s, c.y())
                                    << QPointF(c.x() - s * 0.7, c.y() + s));
}

// A bracket with a small flag: the flag points into the span it opens or closes.
void MarkerPictogram(QPainter& painter, const QRectF& area, bool isStart)
{
    const QPointF c = area.center();
    const qreal s = area.height() * 0.45;
    const qreal dir = isStart ? 1.0 : -1.0;
    const qreal barX = c.x() - dir * s * 0.55;
    painter.setPen(QPen(kGlyph, 2.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(QPolygonF() << QPointF(barX + dir * s * 0.35, c.y() - s) << QPointF(barX, c.y() - s)
                                     << QPointF(barX, c.y() + s) << QPointF(barX + dir * s * 0.35, c.y() + s));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kGlyph);
    painter.drawPolygon(QPolygonF() << QPointF(barX + dir * s * 0.4, c.y() - s * 0.55)
                                    << QPointF(barX + dir * s * 1.25, c.y())
                                    << QPointF(barX + dir * s * 0.4, c.y() + s * 0.55));
}

// A span between two bars with a plus under it: one more span for the list.
void AddSpanPictogram(QPainter& painter, const QRectF& area)
{
    const QPointF c = area.center();
    const qreal s = area.height() * 0.45;
    painter.setPen(QPen(kGlyph, 2.5, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(c.x() - s, c.y() - s), QPointF(c.x() - s, c.y() + s));
    painter.drawLine(QPointF(c.x() + s, c.y() - s), QPointF(c.x() + s, c.y() + s));
    painter.drawLine(QPointF(c.x() - s * 0.5, c.y()), QPointF(c.x() + s * 0.5, c.y()));
    painter.drawLine(QPointF(c.x(), c.y() - s * 0.5), QPointF(c.x(), c.y() + s * 0.5));
}

QImage DrawChannel(const QColor& top, const QColor& bottom)
{
    QImage image = NewImage(655, 20, QColor(236, 236, 236));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF groove(1.5, 6.5, 652, 7);
    QLinearGradient gradient(groove.topLeft(), groove.bottomLeft());
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(1.0, bottom);
    painter.setPen(QPen(bottom.darker(140), 1));
    painter.setBrush(gradient);
    painter.drawRoundedRect(groove, 3.5, 3.5);
    return image;
}

// No antialiasing: a blend with the red background would not be transparent.
QImage DrawThumb()
{
    QImage image = NewImage(23, 11, QColor(255, 0, 0));
    QPainter painter(&image);
    const QPolygon shape(QVector<QPoint>{{2, 0}, {20, 0}, {20, 5}, {11, 10}, {2, 5}});
    painter.setPen(QColor(60, 60, 70));
    painter.setBrush(QColor(245, 245, 248));
    painter.drawPolygon(shape);
    painter.setPen(QColor(150, 150, 160));
    for (int x = 8; x <= 14; x += 3)
        painter.drawLine(x, 2, x, 5);
    return image;
}

// Three 16-pixel images on magenta: nothing, an empty box, a ticked box.
QImage DrawHeaderBoxes()
{
    QImage image = NewImage(48, 16, QColor(255, 0, 255));
    QPainter painter(&image);
    for (int index = 1; index <= 2; ++index) {
        const int x = index * 16;
        painter.setPen(QColor(112, 112, 112));
        painter.setBrush(Qt::white);
        painter.drawRect(x + 2, 2, 12, 12);
        if (index == 2) {
            painter.setPen(QPen(QColor(20, 20, 20), 2));
            painter.drawPolyline(QPolygon(QVector<QPoint>{{x + 4, 8}, {x + 7, 11}, {x + 12, 5}}));
        }
    }
    return image;
}

// Drawn on a 64-unit square, scaled to `size` pixels: the desktop's icon
// sizes come from the same drawing as icon 266.
QImage DrawIcon(int size = 64)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    QLinearGradient gradient(0, 0, 0, 64);
    gradient.setColorAt(0.0, QColor(58, 124, 214));
    gradient.setColorAt(1.0, QColor(28, 70, 150));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    FilmFrame(painter, QRectF(10, 16, 44, 32));
    painter.setPen(QPen(QColor(240, 80, 40), 3, Qt::DashLine, Qt::RoundCap));
    painter.drawLine(QPointF(32, 8), QPointF(32, 56));
    return image;
}

bool Save(const QImage& image, const QString& folder, int id)
{
    const QString path = QStringLiteral("%1/%2.png").arg(folder).arg(id);
    if (image.save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc == 4 && QString::fromLatin1(argv[1]) == QLatin1String("--icon")) {
        bool isNumber = false;
        const int size = QString::fromLatin1(argv[2]).toInt(&isNumber);
        if (!isNumber || size < 16 || size > 1024) {
            std::fprintf(stderr, "icon size must be 16 to 1024\n");
            return 2;
        }
        const QString path = QString::fromLocal8Bit(argv[3]);
        if (DrawIcon(size).save(path))
            return 0;
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder> | --icon <size> <file.png>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QColor add(46, 160, 110), convert(232, 128, 36), open(52, 120, 210), remove(206, 62, 58),
        merge(128, 84, 190), player(46, 150, 90), marker(60, 110, 200);
    auto start = [](QPainter& p, const QRectF& a) { MarkerPictogram(p, a, true); };
    auto end = [](QPainter& p, const QRectF& a) { MarkerPictogram(p, a, false); };
    bool ok = true;
    ok &= Save(DrawButton(100, 56, add, AddPictogram), out, 178);
    ok &= Save(DrawButton(102, 43, convert, ScissorsPictogram), out, 186);
    ok &= Save(DrawButton(55, 40, open, FolderPictogram), out, 254);
    ok &= Save(DrawIcon(), out, 266);
    ok &= Save(DrawHeaderBoxes(), out, 292);
    ok &= Save(DrawButton(100, 56, merge, MergePictogram), out, 295);
    ok &= Save(DrawChannel(QColor(170, 170, 170), QColor(205, 205, 205)), out, 306);
    ok &= Save(DrawChannel(QColor(40, 110, 220), QColor(110, 170, 245)), out, 307);
    ok &= Save(DrawThumb(), out, 308);
    ok &= Save(DrawButton(34, 32, marker, start), out, 320);
    ok &= Save(DrawButton(34, 32, marker, end), out, 321);
    ok &= Save(DrawButton(34, 32, add, AddSpanPictogram), out, 322);
    ok &= Save(DrawButton(34, 32, player, PlayPictogram), out, 326);
    ok &= Save(DrawButton(100, 56, remove, TrashPictogram), out, 331);
    return ok ? 0 : 1;
}
