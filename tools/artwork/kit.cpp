#include "kit.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace Artwork {
namespace Kit {

QImage Supersampled(QSize size, const QColor& background, const std::function<void(QPainter&)>& draw,
                    int factor)
{
    QImage big(size * factor, QImage::Format_ARGB32_Premultiplied);
    big.fill(background);
    {
        QPainter p(&big);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(factor, factor);
        draw(p);
    }
    return big.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

QLinearGradient Lit(const QRectF& box, const QColor& base, double contrast)
{
    // Mostly top to bottom with a little left to right, so tall parts do not turn diagonal.
    const QPointF span(box.width() * 0.25, box.height());
    QLinearGradient g(box.topLeft(), box.topLeft() + span);
    g.setColorAt(0, base.lighter(int(100 + 32 * contrast)));
    g.setColorAt(0.45, base);
    g.setColorAt(1, base.darker(int(100 + 45 * contrast)));
    return g;
}

void Body(QPainter& p, const QPainterPath& shape, const QColor& base, double contrast)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(Lit(shape.boundingRect(), base, contrast));
    p.drawPath(shape);
    p.setClipPath(shape, Qt::IntersectClip);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 150), 1.0));
    p.drawPath(shape.translated(0.7, 0.7));
    p.setPen(QPen(QColor(0, 0, 0, 55), 1.0));
    p.drawPath(shape.translated(-0.7, -0.7));
    p.restore();
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(base.darker(230), 0.55));
    p.drawPath(shape);
    p.restore();
}

void Body(QPainter& p, const QRectF& box, double radius, const QColor& base, double contrast)
{
    QPainterPath shape;
    shape.addRoundedRect(box, radius, radius);
    Body(p, shape, base, contrast);
}

void FloorShadow(QPainter& p, QPointF centre, double rx, double ry, double strength)
{
    p.save();
    p.translate(centre);
    p.scale(1, ry / rx);
    QRadialGradient g(QPointF(0, 0), rx);
    g.setColorAt(0, QColor::fromRgbF(0.1f, 0.12f, 0.16f, float(strength)));
    g.setColorAt(0.55, QColor::fromRgbF(0.1f, 0.12f, 0.16f, float(strength * 0.45)));
    g.setColorAt(1, QColor::fromRgbF(0.1f, 0.12f, 0.16f, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QPointF(0, 0), rx, rx);
    p.restore();
}

void Glass(QPainter& p, const QRectF& box, double radius, bool lit)
{
    p.save();
    QPainterPath shape;
    shape.addRoundedRect(box, radius, radius);
    QLinearGradient g(box.topLeft(), box.bottomLeft());
    if (lit) {
        g.setColorAt(0, QColor(190, 222, 246));
        g.setColorAt(1, QColor(118, 170, 220));
    } else {
        g.setColorAt(0, QColor(40, 62, 92));
        g.setColorAt(1, QColor(12, 20, 34));
    }
    p.setPen(QPen(QColor(20, 26, 36), 0.6));
    p.setBrush(g);
    p.drawPath(shape);
    // The reflection of a window: a pale band across the upper left.
    p.setClipPath(shape);
    QPainterPath sheen;
    sheen.moveTo(box.left(), box.top());
    sheen.lineTo(box.left() + box.width() * 0.62, box.top());
    sheen.lineTo(box.left(), box.top() + box.height() * 0.7);
    sheen.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, lit ? 60 : 38));
    p.drawPath(sheen);
    p.restore();
}

void Knob(QPainter& p, QPointF centre, double r, const QColor& base)
{
    p.save();
    QRadialGradient g(centre - QPointF(r * 0.4, r * 0.45), r * 1.4);
    g.setColorAt(0, base.lighter(165));
    g.setColorAt(0.5, base);
    g.setColorAt(1, base.darker(190));
    p.setBrush(g);
    p.setPen(QPen(base.darker(260), 0.45));
    p.drawEllipse(centre, r, r);
    p.restore();
}

void Cable(QPainter& p, const QPainterPath& path, double width)
{
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(40, 44, 52), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.setPen(QPen(QColor(150, 158, 170), width * 0.32, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path.translated(-width * 0.22, -width * 0.22));
    p.restore();
}

void Earbud(QPainter& p, QPointF centre, double r, double angle)
{
    p.save();
    p.translate(centre);
    p.rotate(angle);
    // The stem the cable enters, below the bud.
    QPainterPath stem;
    stem.addRoundedRect(QRectF(-r * 0.28, r * 0.55, r * 0.56, r * 1.3), r * 0.25, r * 0.25);
    Body(p, stem, QColor(225, 228, 233));
    // The shell, then its dark mesh face.
    QRadialGradient g(QPointF(-r * 0.4, -r * 0.4), r * 1.5);
    g.setColorAt(0, QColor(255, 255, 255));
    g.setColorAt(0.6, QColor(214, 218, 225));
    g.setColorAt(1, QColor(140, 146, 156));
    p.setBrush(g);
    p.setPen(QPen(QColor(96, 102, 112), 0.45));
    p.drawEllipse(QPointF(0, 0), r, r);
    QRadialGradient mesh(QPointF(-r * 0.2, -r * 0.2), r * 0.8);
    mesh.setColorAt(0, QColor(92, 98, 110));
    mesh.setColorAt(1, QColor(38, 42, 50));
    p.setBrush(mesh);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(0, 0), r * 0.62, r * 0.62);
    p.setPen(QPen(QColor(150, 160, 175, 120), 0.3));
    for (double d = -0.4; d <= 0.41; d += 0.2) {
        p.drawLine(QPointF(-r * 0.5, d * r), QPointF(r * 0.5, d * r));
    }
    p.restore();
}

void PocketPlayer(QPainter& p, bool withEarphones)
{
    if (withEarphones) {
        // The cable leaves the foot, runs round below the player and splits to the two buds.
        QPainterPath lead(QPointF(33, 70));
        lead.cubicTo(33, 84, 62, 86, 68, 66);
        lead.lineTo(70, 58);
        Cable(p, lead);
        QPainterPath left(QPointF(70, 58));
        left.cubicTo(70, 48, 64, 42, 65, 32);
        QPainterPath right(QPointF(70, 58));
        right.cubicTo(72, 50, 80, 48, 79, 41);
        Cable(p, left, 0.85);
        Cable(p, right, 0.85);
        Body(p, QRectF(68.3, 55, 3.4, 5), 1.2, QColor(225, 228, 233));
        Earbud(p, QPointF(65.5, 27), 5.6, -12);
        Earbud(p, QPointF(79.5, 36), 5.6, 14);
    }
    // A plug in the foot of the player.
    Body(p, QRectF(31, 68.5, 4, 4), 1.0, QColor(225, 228, 233));

    Body(p, QRectF(24, 10, 32, 60), 6, kSilver, 1.2);
    // A brushed face inside the rim.
    QPainterPath face;
    face.addRoundedRect(QRectF(25.6, 11.6, 28.8, 56.8), 4.8, 4.8);
    QLinearGradient brushed(25, 0, 55, 0);
    brushed.setColorAt(0, QColor(238, 240, 244));
    brushed.setColorAt(0.5, QColor(218, 222, 228));
    brushed.setColorAt(1, QColor(196, 201, 209));
    p.setPen(Qt::NoPen);
    p.setBrush(brushed);
    p.drawPath(face);

    // The display: a song playing, as level bars and a progress line.
    const QRectF screen(28.5, 15, 23, 18);
    Glass(p, screen, 1.4, true);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(21, 70, 130));
    const double bars[] = {5, 8, 11, 7, 9, 12, 6, 4};
    for (int i = 0; i < 8; ++i)
        p.drawRect(QRectF(31 + i * 2.3, 27.6 - bars[i], 1.5, bars[i]));
    p.setBrush(QColor(21, 70, 130, 90));
    p.drawRect(QRectF(31, 29.6, 18, 1));
    p.setBrush(QColor(21, 70, 130));
    p.drawRect(QRectF(31, 29.6, 11, 1));
    p.restore();

    // The wheel with its four marks, and the blue select button.
    const QPointF wheel(40, 51.5);
    QRadialGradient ring(wheel - QPointF(3, 4), 15);
    ring.setColorAt(0, QColor(248, 250, 252));
    ring.setColorAt(1, QColor(170, 176, 186));
    p.setBrush(ring);
    p.setPen(QPen(QColor(150, 156, 166), 0.5));
    p.drawEllipse(wheel, 10.5, 10.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(110, 116, 128));
    p.drawRect(QRectF(wheel.x() - 2, wheel.y() - 8.8, 4, 1));                          // menu
    p.drawPolygon(QPolygonF({wheel + QPointF(7.4, -1.6), wheel + QPointF(9.2, 0),        // forward
                             wheel + QPointF(7.4, 1.6)}));
    p.drawPolygon(QPolygonF({wheel + QPointF(-7.4, -1.6), wheel + QPointF(-9.2, 0),      // back
                             wheel + QPointF(-7.4, 1.6)}));
    p.drawRect(QRectF(wheel.x() - 1.6, wheel.y() + 7.6, 1.1, 1.8));                      // pause
    p.drawRect(QRectF(wheel.x() + 0.5, wheel.y() + 7.6, 1.1, 1.8));
    Knob(p, wheel, 3.8, kAccent);
}

namespace {

// Strokes of each letter in a box one unit tall; widths are in units too.
struct Glyph {
    QChar letter;
    double width;
    QPainterPath (*strokes)();
};

QPainterPath letterV()
{
    QPainterPath s(QPointF(0, 0));
    s.lineTo(0.34, 1);
    s.lineTo(0.68, 0);
    return s;
}
QPainterPath letterA()
{
    QPainterPath s(QPointF(0, 1));
    s.lineTo(0.34, 0);
    s.lineTo(0.68, 1);
    s.moveTo(0.14, 0.64);
    s.lineTo(0.54, 0.64);
    return s;
}
QPainterPath letterR()
{
    QPainterPath s(QPointF(0, 1));
    s.lineTo(0, 0);
    s.lineTo(0.36, 0);
    s.cubicTo(0.66, 0, 0.66, 0.5, 0.36, 0.5);
    s.lineTo(0, 0.5);
    s.moveTo(0.32, 0.5);
    s.lineTo(0.6, 1);
    return s;
}
QPainterPath letterD()
{
    QPainterPath s(QPointF(0, 0));
    s.lineTo(0, 1);
    s.lineTo(0.28, 1);
    s.cubicTo(0.72, 1, 0.72, 0, 0.28, 0);
    s.closeSubpath();
    return s;
}
QPainterPath letterU()
{
    QPainterPath s(QPointF(0, 0));
    s.lineTo(0, 0.66);
    s.cubicTo(0, 1.08, 0.6, 1.08, 0.6, 0.66);
    s.lineTo(0.6, 0);
    return s;
}
QPainterPath letterN()
{
    QPainterPath s(QPointF(0, 1));
    s.lineTo(0, 0);
    s.lineTo(0.6, 1);
    s.lineTo(0.6, 0);
    return s;
}
QPainterPath letterE()
{
    QPainterPath s(QPointF(0.54, 0));
    s.lineTo(0, 0);
    s.lineTo(0, 1);
    s.lineTo(0.54, 1);
    s.moveTo(0, 0.5);
    s.lineTo(0.44, 0.5);
    return s;
}

const Glyph kGlyphs[] = {
    {QLatin1Char('V'), 0.68, letterV}, {QLatin1Char('A'), 0.68, letterA}, {QLatin1Char('R'), 0.6, letterR},
    {QLatin1Char('D'), 0.61, letterD}, {QLatin1Char('U'), 0.6, letterU},  {QLatin1Char('N'), 0.6, letterN},
    {QLatin1Char('E'), 0.54, letterE},
};

const Glyph* glyphFor(QChar c)
{
    for (const Glyph& g : kGlyphs)
        if (g.letter == c)
            return &g;
    return nullptr;
}

} // namespace

double LetteringWidth(const QString& word, double height, double spacing)
{
    double x = 0;
    for (QChar c : word)
        if (const Glyph* g = glyphFor(c))
            x += (g->width + spacing) * height;
    return std::max(0.0, x - spacing * height);
}

double Lettering(QPainter& p, const QString& word, QPointF origin, double height, double spacing)
{
    p.save();
    p.translate(origin);
    p.scale(height, height);
    p.setBrush(Qt::NoBrush);
    QPen pen = p.pen();
    pen.setWidthF(pen.widthF() / height);
    // Sharp corners, but the acute ones of V, N and A cut short instead of spiking.
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setMiterLimit(1.6);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    double x = 0;
    for (QChar c : word) {
        const Glyph* g = glyphFor(c);
        if (!g)
            continue;
        p.drawPath(g->strokes().translated(x, 0));
        x += g->width + spacing;
    }
    p.restore();
    return LetteringWidth(word, height, spacing);
}

} // namespace Kit
} // namespace Artwork
