// The progress pictures: ten music scenes shown while a file is made smaller, and the quiet
// score behind them.
//
// Each scene is painted in greys and then toned with one hue, so the pictures differ in colour
// as well as subject but sit together as a set. They are 300 x 50: shapes are kept large and
// simple enough to read at that size.

#include "artwork.h"

#include <QColor>
#include <QConicalGradient>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <functional>
#include <vector>

namespace Artwork {
namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 50;
constexpr double kPi = 3.14159265358979323846;

QColor grey(double v, double alpha = 1.0)
{
    return QColor::fromRgbF(float(v), float(v), float(v), float(alpha));
}

// A five-line staff; steps count half gaps up from the bottom line.
struct Staff {
    double left, right, top, gap;

    double y(double step) const { return top + 4 * gap - step * gap / 2; }
    double bottom() const { return top + 4 * gap; }

    void drawLines(QPainter& p, const QColor& ink, double width = 1.0) const
    {
        p.setPen(QPen(ink, width, Qt::SolidLine, Qt::FlatCap));
        for (int i = 0; i < 5; ++i)
            p.drawLine(QPointF(left, top + i * gap), QPointF(right, top + i * gap));
    }
};

void drawNoteHead(QPainter& p, QPointF centre, double gap, bool open, const QColor& ink)
{
    p.save();
    p.translate(centre);
    p.rotate(-22);
    const QRectF head(-0.68 * gap, -0.46 * gap, 1.36 * gap, 0.92 * gap);
    if (open) {
        p.setPen(QPen(ink, std::max(0.9, gap * 0.16)));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(head.adjusted(0.1 * gap, 0.08 * gap, -0.1 * gap, -0.08 * gap));
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(head);
    }
    p.restore();
}

// Where a stem leaves a note head: right side going up, left side going down.
QPointF stemFoot(QPointF centre, double gap, bool up)
{
    return up ? QPointF(centre.x() + 0.6 * gap, centre.y() - 0.15 * gap)
              : QPointF(centre.x() - 0.6 * gap, centre.y() + 0.15 * gap);
}

void drawStem(QPainter& p, QPointF from, QPointF to, double gap, const QColor& ink)
{
    p.setPen(QPen(ink, std::max(0.8, gap * 0.14), Qt::SolidLine, Qt::FlatCap));
    p.drawLine(from, to);
}

void drawFlag(QPainter& p, QPointF stemEnd, double gap, bool up, const QColor& ink)
{
    const double s = up ? 1 : -1;
    QPainterPath flag(stemEnd);
    flag.cubicTo(stemEnd + QPointF(0.2 * gap, s * 0.9 * gap), stemEnd + QPointF(1.4 * gap, s * 1.3 * gap),
                 stemEnd + QPointF(0.9 * gap, s * 2.6 * gap));
    flag.cubicTo(stemEnd + QPointF(1.1 * gap, s * 1.7 * gap), stemEnd + QPointF(0.4 * gap, s * 1.3 * gap),
                 stemEnd + QPointF(0, s * 1.1 * gap));
    flag.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(flag);
}

// A single note with stem; flags 0 (quarter), 1 (eighth); open draws a half note.
void drawNote(QPainter& p, const Staff& staff, double x, double step, int flags, bool open,
              const QColor& ink)
{
    const QPointF c(x, staff.y(step));
    // Ledger lines for notes above or below the staff.
    p.setPen(QPen(ink, 1.0, Qt::SolidLine, Qt::FlatCap));
    for (int s = -2; s >= step - 0.01; s -= 2)
        p.drawLine(QPointF(x - staff.gap, staff.y(s)), QPointF(x + staff.gap, staff.y(s)));
    for (int s = 10; s <= step + 0.01; s += 2)
        p.drawLine(QPointF(x - staff.gap, staff.y(s)), QPointF(x + staff.gap, staff.y(s)));
    drawNoteHead(p, c, staff.gap, open, ink);
    const bool up = step < 4;
    const QPointF foot = stemFoot(c, staff.gap, up);
    const QPointF end = foot + QPointF(0, up ? -3.4 * staff.gap : 3.4 * staff.gap);
    drawStem(p, foot, end, staff.gap, ink);
    if (flags > 0)
        drawFlag(p, end, staff.gap, up, ink);
}

// Notes joined by one beam; all stems go the same way, chosen by the group's mean height.
void drawBeamed(QPainter& p, const Staff& staff, const std::vector<QPointF>& notes, const QColor& ink)
{
    double mean = 0;
    for (const QPointF& n : notes)
        mean += n.y();
    mean /= notes.size();
    const bool up = mean < 4;
    const double g = staff.gap;
    const QPointF first(notes.front().x(), staff.y(notes.front().y()));
    const QPointF last(notes.back().x(), staff.y(notes.back().y()));
    const double reach = 3.3 * g * (up ? -1 : 1);
    const QPointF beamStart = stemFoot(first, g, up) + QPointF(0, reach);
    QPointF beamEnd = stemFoot(last, g, up) + QPointF(0, reach);
    // A gentle beam slope following the melody, never steeper than one gap.
    const double slope = std::clamp((beamEnd.y() - beamStart.y()) * 0.4, -g, g);
    beamEnd.setY(beamStart.y() + slope);
    for (const QPointF& n : notes) {
        const QPointF c(n.x(), staff.y(n.y()));
        drawNoteHead(p, c, g, false, ink);
        const QPointF foot = stemFoot(c, g, up);
        const double t = (foot.x() - beamStart.x()) / std::max(1.0, beamEnd.x() - beamStart.x());
        const double beamY = beamStart.y() + t * (beamEnd.y() - beamStart.y());
        drawStem(p, foot, QPointF(foot.x(), beamY), g, ink);
    }
    QPainterPath beam;
    const double thick = 0.5 * g * (up ? 1 : -1);
    beam.moveTo(beamStart);
    beam.lineTo(beamEnd);
    beam.lineTo(beamEnd + QPointF(0, thick));
    beam.lineTo(beamStart + QPointF(0, thick));
    beam.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(beam);
}

void drawBarLine(QPainter& p, const Staff& staff, double x, const QColor& ink, double width = 1.0)
{
    p.setPen(QPen(ink, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x, staff.top), QPointF(x, staff.bottom()));
}

// The treble clef, in gaps around the G line it curls about.
QPainterPath trebleClefPath()
{
    QPainterPath path(QPointF(0.35, 0.55));
    path.cubicTo(QPointF(-0.45, 0.55), QPointF(-0.55, -0.55), QPointF(0.2, -0.75));
    path.cubicTo(QPointF(1.25, -0.95), QPointF(1.45, 1.0), QPointF(0.3, 1.15));
    path.cubicTo(QPointF(-1.0, 1.3), QPointF(-1.35, -0.1), QPointF(-0.55, -1.0));
    path.cubicTo(QPointF(0.05, -1.7), QPointF(0.85, -2.4), QPointF(0.8, -3.4));
    path.cubicTo(QPointF(0.75, -4.3), QPointF(0.05, -4.5), QPointF(-0.1, -3.7));
    path.cubicTo(QPointF(-0.25, -2.8), QPointF(0.1, 0.0), QPointF(0.35, 2.4));
    path.cubicTo(QPointF(0.45, 3.3), QPointF(-0.25, 3.65), QPointF(-0.65, 3.1));
    return path;
}

void drawTrebleClef(QPainter& p, const Staff& staff, double x, const QColor& ink)
{
    const double g = staff.gap;
    p.save();
    p.translate(x, staff.y(2));
    p.scale(g, g);
    p.setPen(QPen(ink, 0.26, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trebleClefPath());
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(QPointF(-0.45, 3.0), 0.38, 0.38);
    p.restore();
}

void drawSharp(QPainter& p, const Staff& staff, double x, double step, const QColor& ink)
{
    const double g = staff.gap;
    const double y = staff.y(step);
    p.setPen(QPen(ink, std::max(0.8, 0.12 * g), Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x - 0.22 * g, y - 1.3 * g), QPointF(x - 0.22 * g, y + 1.4 * g));
    p.drawLine(QPointF(x + 0.22 * g, y - 1.4 * g), QPointF(x + 0.22 * g, y + 1.3 * g));
    p.setPen(QPen(ink, 0.34 * g, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x - 0.5 * g, y - 0.3 * g), QPointF(x + 0.5 * g, y - 0.55 * g));
    p.drawLine(QPointF(x - 0.5 * g, y + 0.55 * g), QPointF(x + 0.5 * g, y + 0.3 * g));
}

// A short made-up tune across a staff: beamed pairs, quarters, a half note, bar lines.
void drawTune(QPainter& p, const Staff& staff, double from, double to, const QColor& ink, int seed)
{
    static const int melody[] = {4, 6, 5, 3, 2, 4, 7, 8, 6, 5, 4, 2, 1, 3, 5, 7, 9, 6, 4, 3};
    const double step = 3.3 * staff.gap;
    int i = seed;
    double x = from;
    int inBar = 0;
    while (x < to - 2 * staff.gap) {
        const int kind = (i * 7 + seed) % 4;
        const double a = melody[i % 20], b = melody[(i + 1) % 20];
        if (kind == 0 && x + step * 1.6 < to) {
            drawBeamed(p, staff, {QPointF(x, a), QPointF(x + step * 0.8, b)}, ink);
            x += step * 1.6;
            i += 2;
        } else if (kind == 1) {
            drawNote(p, staff, x, a, 0, true, ink);
            x += step * 1.4;
            ++i;
        } else {
            drawNote(p, staff, x, a, kind == 3 ? 1 : 0, false, ink);
            x += step;
            ++i;
        }
        if (++inBar == 3 && x < to - 3 * staff.gap) {
            drawBarLine(p, staff, x - step * 0.35, ink);
            x += step * 0.3;
            inBar = 0;
        }
    }
}

void fillVertical(QPainter& p, double top, double bottom, const std::vector<std::pair<double, double>>& stops,
                  const QRectF& area = QRectF(0, 0, kWidth, kHeight))
{
    QLinearGradient g(0, top, 0, bottom);
    for (const auto& [at, v] : stops)
        g.setColorAt(at, grey(v));
    p.fillRect(area, g);
}

void spotlight(QPainter& p, QPointF centre, double radius, double inner, double outer)
{
    QRadialGradient g(centre, radius);
    g.setColorAt(0, grey(inner));
    g.setColorAt(1, grey(outer));
    p.fillRect(QRectF(0, 0, kWidth, kHeight), g);
}

// Darkens the picture's ends so the eye rests on the middle.
void vignette(QPainter& p, double strength)
{
    QLinearGradient g(0, 0, kWidth, 0);
    g.setColorAt(0, grey(0, strength));
    g.setColorAt(0.18, grey(0, 0));
    g.setColorAt(0.82, grey(0, 0));
    g.setColorAt(1, grey(0, strength));
    p.fillRect(QRectF(0, 0, kWidth, kHeight), g);
}

// A soft shadow of `shape`, blurred by shrinking and enlarging it.
void softShadow(QPainter& p, const QPainterPath& shape, QPointF offset, double alpha)
{
    QImage mask(kWidth / 3, kHeight / 3 + 1, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        m.scale(1.0 / 3, 1.0 / 3);
        m.translate(offset);
        m.fillPath(shape, grey(0, alpha));
    }
    p.drawImage(QRectF(0, 0, kWidth, (kHeight / 3 + 1) * 3),
                mask.scaled(kWidth, (kHeight / 3 + 1) * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

QPainterPath mirroredAcross(const QPainterPath& half)
{
    QTransform flip;
    flip.scale(1, -1);
    return half.united(flip.map(half));
}

// ---- 1. a violin lying over a score ------------------------------------------------------

void drawViolin(QPainter& p)
{
    // The body's upper outline, from the neck end (x = 0) to the tail (x = 110).
    QPainterPath half(QPointF(0, 0));
    half.cubicTo(0, -11, 7, -17, 20, -17);
    half.cubicTo(31, -17, 35, -12, 40, -11);
    half.cubicTo(46, -10, 52, -10, 57, -12);
    half.cubicTo(62, -20, 72, -20, 84, -20);
    half.cubicTo(100, -20, 110, -12, 110, 0);
    half.closeSubpath();
    const QPainterPath body = mirroredAcross(half);

    QLinearGradient wood(0, -20, 0, 20);
    wood.setColorAt(0, grey(0.42));
    wood.setColorAt(0.35, grey(0.3));
    wood.setColorAt(1, grey(0.1));
    p.setPen(Qt::NoPen);
    p.setBrush(wood);
    p.drawPath(body);
    // Varnish sheen on the upper and lower bouts.
    QRadialGradient sheen(QPointF(84, -8), 16);
    sheen.setColorAt(0, grey(1, 0.35));
    sheen.setColorAt(1, grey(1, 0));
    p.setBrush(sheen);
    p.drawPath(body);
    QRadialGradient sheen2(QPointF(20, -7), 11);
    sheen2.setColorAt(0, grey(1, 0.3));
    sheen2.setColorAt(1, grey(1, 0));
    p.setBrush(sheen2);
    p.drawPath(body);
    // The edge and its inlaid line just inside it.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(grey(0.05), 1.2));
    p.drawPath(body);
    QTransform inset;
    inset.translate(55, 0);
    inset.scale(0.94, 0.88);
    inset.translate(-55, 0);
    p.setPen(QPen(grey(0.55, 0.6), 0.6));
    p.drawPath(inset.map(body));

    // f-holes.
    p.setPen(QPen(grey(0.02), 1.3, Qt::SolidLine, Qt::RoundCap));
    for (int s : {-1, 1}) {
        QPainterPath f(QPointF(45, s * 8.5));
        f.cubicTo(50, s * 11, 56, s * 4, 63, s * 7.5);
        p.drawPath(f);
        p.setBrush(grey(0.02));
        p.drawEllipse(QPointF(45, s * 8.5), 1.1, 1.1);
        p.drawEllipse(QPointF(63, s * 7.5), 1.1, 1.1);
        p.setBrush(Qt::NoBrush);
    }

    // Tailpiece and chin rest.
    QPainterPath tail;
    tail.moveTo(72, -3.5);
    tail.lineTo(104, -6);
    tail.quadTo(107, 0, 104, 6);
    tail.lineTo(72, 3.5);
    tail.closeSubpath();
    p.setPen(QPen(grey(0.4), 0.6));
    p.setBrush(grey(0.04));
    p.drawPath(tail);

    // Pegbox and pegs: the pegs cross the box, their grips standing out at either side.
    for (double px : {-70.0, -79.0}) {
        for (int s : {-1, 1}) {
            const double x = px + (s > 0 ? 1.5 : -1.5);
            p.setPen(Qt::NoPen);
            p.setBrush(grey(0.1));
            p.drawRect(QRectF(x - 0.8, s > 0 ? 2 : -8, 1.6, 6));
            QLinearGradient grip(x - 2.5, 0, x + 2.5, 0);
            grip.setColorAt(0, grey(0.08));
            grip.setColorAt(0.4, grey(0.45));
            grip.setColorAt(1, grey(0.05));
            p.setBrush(grip);
            p.drawEllipse(QPointF(x, s * 9.5), 2.5, 2.2);
        }
    }
    QLinearGradient box(0, -4, 0, 4);
    box.setColorAt(0, grey(0.45));
    box.setColorAt(1, grey(0.12));
    p.setBrush(box);
    p.setPen(QPen(grey(0.05), 0.6));
    p.drawRoundedRect(QRectF(-87, -3.8, 24, 7.6), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(grey(0.04));
    p.drawRoundedRect(QRectF(-84, -1.8, 17, 3.6), 1.5, 1.5);
    QRadialGradient scroll(QPointF(-93, -1.5), 7);
    scroll.setColorAt(0, grey(0.5));
    scroll.setColorAt(1, grey(0.12));
    p.setBrush(scroll);
    p.drawEllipse(QPointF(-93, 0), 6.5, 5.8);
    QPainterPath spiral;
    for (int i = 0; i <= 60; ++i) {
        const double t = i / 60.0 * 2.6 * kPi;
        const double r = 1 + 4.5 * i / 60.0;
        const QPointF pt(-93 + r * std::cos(t), r * 0.9 * std::sin(t));
        i == 0 ? spiral.moveTo(pt) : spiral.lineTo(pt);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(grey(0.03), 0.9));
    p.drawPath(spiral);

    // Fingerboard, bridge and strings.
    QPainterPath board;
    board.moveTo(-65, -2.8);
    board.lineTo(50, -4.4);
    board.quadTo(52, 0, 50, 4.4);
    board.lineTo(-65, 2.8);
    board.closeSubpath();
    QLinearGradient ebony(0, -4, 0, 4);
    ebony.setColorAt(0, grey(0.3));
    ebony.setColorAt(0.4, grey(0.06));
    ebony.setColorAt(1, grey(0.02));
    p.setPen(Qt::NoPen);
    p.setBrush(ebony);
    p.drawPath(board);
    p.setPen(QPen(grey(0.85), 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(57, -6.5), QPointF(57, 6.5));
    for (int i = 0; i < 4; ++i) {
        const double atNut = -1.8 + 1.2 * i, atBridge = -4.2 + 2.8 * i;
        p.setPen(QPen(grey(0.85, 0.85), 0.5));
        p.drawLine(QPointF(-65, atNut), QPointF(57, atBridge));
        p.drawLine(QPointF(57, atBridge), QPointF(74, atBridge * 0.75));
    }
}

void sceneViolinOverScore(QPainter& p)
{
    fillVertical(p, 0, kHeight, {{0, 0.9}, {1, 0.74}});
    const Staff staff{0, kWidth, 11, 7};
    staff.drawLines(p, grey(0.5));
    drawTrebleClef(p, staff, 14, grey(0.35));
    drawTune(p, staff, 36, kWidth - 4, grey(0.38), 3);
    vignette(p, 0.25);

    QTransform toScene;
    toScene.translate(150, 26);
    toScene.rotate(-7);
    // Shadow of the body and neck on the paper.
    QPainterPath outline;
    outline.addEllipse(QPointF(55, 0), 54, 18);
    outline.addRect(QRectF(-95, -4, 150, 8));
    softShadow(p, toScene.map(outline), QPointF(3, 4), 0.35);

    p.save();
    p.setTransform(toScene);
    drawViolin(p);
    p.restore();
}

// ---- 2. a conductor's hand with its baton ----------------------------------------------

void sceneConductor(QPainter& p)
{
    spotlight(p, QPointF(190, 6), 190, 0.55, 0.04);
    // The sweep of the baton through the last beat.
    for (int i = 0; i < 6; ++i) {
        QPainterPath arc(QPointF(232, 30));
        arc.quadTo(QPointF(150, 50 - i * 3), QPointF(62 + i * 4, 30 - i * 5.5));
        p.setPen(QPen(grey(0.9, 0.05 + i * 0.035), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arc);
    }
    // Notes rising from the baton's tip.
    const Staff air{0, 0, 0, 5};
    const QColor noteInk = grey(0.82, 0.75);
    p.save();
    p.translate(18, -10);
    drawNote(p, Staff{0, 0, 18, 5}, 20, 3, 1, false, noteInk);
    drawBeamed(p, Staff{0, 0, 24, 5}, {QPointF(40, 2), QPointF(50, 4)}, grey(0.82, 0.55));
    p.restore();
    (void)air;

    // Baton: a thin white taper from the grip to the tip.
    QPainterPath baton;
    baton.moveTo(236, 30.5);
    baton.lineTo(70, 9.2);
    baton.lineTo(70.2, 8.6);
    baton.lineTo(236, 27.5);
    baton.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(grey(0.97));
    p.drawPath(baton);

    // Sleeve and shirt cuff coming in from the right.
    QPainterPath sleeve;
    sleeve.moveTo(300, 14);
    sleeve.lineTo(266, 20);
    sleeve.quadTo(260, 34, 268, 50);
    sleeve.lineTo(300, 50);
    sleeve.closeSubpath();
    QLinearGradient cloth(260, 0, 300, 0);
    cloth.setColorAt(0, grey(0.22));
    cloth.setColorAt(1, grey(0.05));
    p.setBrush(cloth);
    p.drawPath(sleeve);
    QPainterPath cuff;
    cuff.moveTo(268, 20);
    cuff.lineTo(258, 22);
    cuff.quadTo(253, 34, 260, 48);
    cuff.lineTo(270, 47);
    cuff.quadTo(262, 34, 268, 20);
    cuff.closeSubpath();
    p.setBrush(grey(0.9));
    p.drawPath(cuff);

    // The hand: back of the hand, curled fingers under the baton, thumb along it.
    QRadialGradient skin(QPointF(236, 22), 26);
    skin.setColorAt(0, grey(0.86));
    skin.setColorAt(1, grey(0.42));
    p.setBrush(skin);
    QPainterPath hand;
    hand.moveTo(259, 23);
    hand.cubicTo(250, 17, 238, 17, 230, 21);
    hand.cubicTo(224, 24, 223, 30, 226, 34);
    hand.cubicTo(230, 40, 246, 44, 257, 42);
    hand.closeSubpath();
    p.drawPath(hand);
    for (int i = 0; i < 4; ++i) {
        const double x = 226 + i * 6.2;
        QRectF finger(x, 29 + i * 0.9, 6.4, 10.5 - i * 0.8);
        QRadialGradient fs(finger.center() - QPointF(1, 2), 7);
        fs.setColorAt(0, grey(0.8));
        fs.setColorAt(1, grey(0.4));
        p.setBrush(fs);
        p.setPen(QPen(grey(0.25, 0.7), 0.6));
        p.drawRoundedRect(finger, 3.2, 3.2);
    }
    QPainterPath thumb;
    thumb.moveTo(240, 22);
    thumb.cubicTo(234, 21, 226, 24, 222, 27.5);
    thumb.cubicTo(220, 29.5, 223, 31, 226, 30);
    thumb.cubicTo(231, 28.5, 238, 28, 243, 27);
    thumb.closeSubpath();
    p.setBrush(grey(0.78));
    p.setPen(QPen(grey(0.3, 0.7), 0.6));
    p.drawPath(thumb);
}

// ---- 3. hands over a score -------------------------------------------------------------

QPainterPath handFromBelow(double x, bool thumbLeft)
{
    QPainterPath hand;
    hand.addEllipse(QPointF(x, 56), 24, 17);
    const double spread[4] = {-13, -4.5, 4.5, 13};
    const double length[4] = {19, 25, 26, 22};
    for (int i = 0; i < 4; ++i) {
        const int k = thumbLeft ? i : 3 - i;
        QPainterPath finger;
        finger.addRoundedRect(QRectF(-3.3, -length[k], 6.6, length[k] + 6), 3.3, 3.3);
        QTransform t;
        t.translate(x + spread[i], 44);
        t.rotate(spread[i] * 0.7);
        hand = hand.united(t.map(finger));
    }
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-3.8, -18, 7.6, 22), 3.8, 3.8);
    QTransform t;
    t.translate(x + (thumbLeft ? -22 : 22), 50);
    t.rotate(thumbLeft ? -55 : 55);
    return hand.united(t.map(thumb));
}

void sceneHandsOverScore(QPainter& p)
{
    fillVertical(p, 0, kHeight, {{0, 0.95}, {1, 0.8}});
    const Staff staff{0, kWidth, 8, 6};
    staff.drawLines(p, grey(0.45));
    drawTrebleClef(p, staff, 12, grey(0.25));
    drawSharp(p, staff, 24, 8, grey(0.25));
    drawTune(p, staff, 38, kWidth - 4, grey(0.28), 7);

    QPainterPath hands = handFromBelow(112, false).united(handFromBelow(196, true));
    softShadow(p, hands, QPointF(-7, -4), 0.45);
    QLinearGradient skin(0, 20, 0, 50);
    skin.setColorAt(0, grey(0.55, 0.9));
    skin.setColorAt(1, grey(0.2, 0.95));
    p.setPen(QPen(grey(0.12, 0.8), 0.8));
    p.setBrush(skin);
    p.drawPath(hands);
    // Nails, catching the light.
    p.setPen(Qt::NoPen);
    for (const auto& [hx, left] : {std::pair<double, bool>{112, false}, {196, true}}) {
        const double spread[4] = {-13, -4.5, 4.5, 13};
        const double length[4] = {19, 25, 26, 22};
        for (int i = 0; i < 4; ++i) {
            const int k = left ? i : 3 - i;
            QTransform t;
            t.translate(hx + spread[i], 44);
            t.rotate(spread[i] * 0.7);
            p.setBrush(grey(0.75, 0.7));
            p.drawEllipse(t.map(QPointF(0, -length[k] + 3.2)), 1.9, 2.3);
        }
    }
    vignette(p, 0.2);
}

// ---- 4. a violin scroll beside a clef ----------------------------------------------------

void sceneScrollAndClef(QPainter& p)
{
    QLinearGradient back(0, 0, kWidth, 0);
    back.setColorAt(0, grey(0.12));
    back.setColorAt(0.55, grey(0.3));
    back.setColorAt(1, grey(0.55));
    p.fillRect(QRectF(0, 0, kWidth, kHeight), back);

    const Staff staff{150, kWidth, 11, 6};
    staff.drawLines(p, grey(0.78, 0.7));
    drawTrebleClef(p, staff, 232, grey(0.97));
    p.save();
    p.translate(200, 0);
    drawNote(p, staff, 60 - 200 + 200 + 20, 3, 1, false, grey(0.9, 0.8));
    p.restore();

    // Pegbox running right from the scroll, with its strings.
    QLinearGradient box(0, 16, 0, 35);
    box.setColorAt(0, grey(0.62));
    box.setColorAt(0.5, grey(0.4));
    box.setColorAt(1, grey(0.16));
    p.setPen(Qt::NoPen);
    p.setBrush(box);
    QPainterPath pegbox;
    pegbox.moveTo(70, 15);
    pegbox.lineTo(172, 19);
    pegbox.lineTo(172, 32);
    pegbox.lineTo(70, 36);
    pegbox.closeSubpath();
    p.drawPath(pegbox);
    p.setBrush(grey(0.05));
    p.drawRoundedRect(QRectF(84, 20.5, 82, 10), 4, 4);
    for (int i = 0; i < 4; ++i) {
        p.setPen(QPen(grey(0.85, 0.9), 0.6));
        p.drawLine(QPointF(94 + i * 20, 23 + i * 1.5), QPointF(kWidth, 23.5 + i * 1.3));
    }
    p.setPen(QPen(grey(0.9), 2.0));
    p.drawLine(QPointF(173, 18.5), QPointF(173, 32.5));
    // Peg heads at the near side.
    for (int i = 0; i < 2; ++i) {
        const QPointF c(100 + i * 40, 25.5);
        QRadialGradient peg(c - QPointF(2, 2), 8);
        peg.setColorAt(0, grey(0.7));
        peg.setColorAt(1, grey(0.1));
        p.setPen(QPen(grey(0.03), 0.8));
        p.setBrush(peg);
        p.drawEllipse(c, 7.5, 6.5);
        p.setBrush(grey(0.6));
        p.drawEllipse(c, 2.2, 2.0);
    }

    // The volute: a carved spiral of three turns.
    const QPointF eye(52, 25);
    QRadialGradient wood(eye - QPointF(6, 7), 26);
    wood.setColorAt(0, grey(0.75));
    wood.setColorAt(0.6, grey(0.4));
    wood.setColorAt(1, grey(0.14));
    p.setPen(Qt::NoPen);
    p.setBrush(wood);
    p.drawEllipse(eye, 22, 21);
    QPainterPath groove, ridge;
    for (int i = 0; i <= 240; ++i) {
        const double t = i / 240.0 * 2.75 * 2 * kPi;
        const double r = 2.2 + 19.0 * i / 240.0;
        const QPointF pt = eye + QPointF(r * std::cos(t + 1.2), r * 0.95 * std::sin(t + 1.2));
        const QPointF rp = eye + QPointF((r - 1.6) * std::cos(t + 1.2), (r - 1.6) * 0.95 * std::sin(t + 1.2));
        i == 0 ? groove.moveTo(pt) : groove.lineTo(pt);
        i == 0 ? ridge.moveTo(rp) : ridge.lineTo(rp);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(grey(0.92, 0.55), 0.9));
    p.drawPath(ridge);
    p.setPen(QPen(grey(0.04), 1.6));
    p.drawPath(groove);
    p.setPen(Qt::NoPen);
    p.setBrush(grey(0.85));
    p.drawEllipse(eye, 2.2, 2.1);
}

// ---- 5. piano keys -----------------------------------------------------------------------

void scenePianoKeys(QPainter& p)
{
    // Fallboard above the keys, polished black with a reflection.
    fillVertical(p, 0, 14, {{0, 0.24}, {0.7, 0.07}, {1, 0.02}}, QRectF(0, 0, kWidth, 14));
    QLinearGradient gleam(0, 0, kWidth, 0);
    gleam.setColorAt(0.2, grey(1, 0));
    gleam.setColorAt(0.45, grey(1, 0.22));
    gleam.setColorAt(0.7, grey(1, 0));
    p.fillRect(QRectF(0, 2, kWidth, 4), gleam);

    const double keyWidth = 13.5;
    const double top = 14;
    const int whiteKeys = int(std::ceil(kWidth / keyWidth)) + 1;
    for (int i = 0; i < whiteKeys; ++i) {
        const QRectF key(i * keyWidth, top, keyWidth, kHeight - top);
        QLinearGradient ivory(0, top, 0, kHeight);
        ivory.setColorAt(0, grey(0.7));
        ivory.setColorAt(0.12, grey(0.93));
        ivory.setColorAt(0.93, grey(0.97));
        ivory.setColorAt(1, grey(0.75));
        p.fillRect(key, ivory);
        p.setPen(QPen(grey(0.38), 1.0));
        p.drawLine(QPointF(key.left() + 0.5, top), QPointF(key.left() + 0.5, kHeight));
    }
    // Black keys after C, D, F, G and A; the white keys start at C.
    const double offset[7] = {0.62, 0.72, -1, 0.58, 0.66, 0.74, -1};
    for (int i = 0; i < whiteKeys; ++i) {
        const double o = offset[i % 7];
        if (o < 0)
            continue;
        const double w = keyWidth * 0.62;
        const QRectF key((i + 1) * keyWidth - w * o, top, w, 23);
        QLinearGradient ebony(key.left(), 0, key.right(), 0);
        ebony.setColorAt(0, grey(0.04));
        ebony.setColorAt(0.35, grey(0.2));
        ebony.setColorAt(1, grey(0.03));
        p.fillRect(key.adjusted(1.2, 0, 1.2, 1.2), grey(0.3, 0.5)); // shadow on the white keys
        p.fillRect(key, ebony);
        // The sloped front of the key catches the light.
        QLinearGradient front(0, key.bottom() - 4, 0, key.bottom());
        front.setColorAt(0, grey(0.12));
        front.setColorAt(1, grey(0.4));
        p.fillRect(QRectF(key.left() + 0.8, key.bottom() - 4, key.width() - 1.6, 4), front);
    }
    // Shadow of the fallboard's lip on the keys.
    fillVertical(p, top, top + 4, {{0, 0.0}, {1, 0.0}}, QRectF());
    QLinearGradient lip(0, top, 0, top + 5);
    lip.setColorAt(0, grey(0, 0.7));
    lip.setColorAt(1, grey(0, 0));
    p.fillRect(QRectF(0, top, kWidth, 5), lip);
    p.fillRect(QRectF(0, top - 1, kWidth, 1), grey(0.45));
    vignette(p, 0.35);
}

// ---- 6. notes on a staff -------------------------------------------------------------------

void sceneNotesOnStaff(QPainter& p)
{
    spotlight(p, QPointF(150, 25), 170, 0.96, 0.55);
    const Staff staff{6, kWidth - 6, 13, 6};
    const QColor ink = grey(0.12);
    staff.drawLines(p, grey(0.3));
    drawBarLine(p, staff, staff.left, ink);
    drawTrebleClef(p, staff, 18, ink);
    drawSharp(p, staff, 31, 8, ink);
    drawSharp(p, staff, 38, 5, ink);
    // A phrase with a slur over its first group.
    drawBeamed(p, staff, {QPointF(52, 3), QPointF(62, 4), QPointF(72, 5), QPointF(82, 6)}, ink);
    drawNote(p, staff, 98, 7, 0, false, ink);
    drawNote(p, staff, 114, 5, 0, true, ink);
    QPainterPath slur(QPointF(52, staff.y(3) + 5));
    slur.cubicTo(QPointF(65, staff.y(3) + 13), QPointF(90, staff.y(7) + 11), QPointF(98, staff.y(7) + 5));
    p.setPen(QPen(ink, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(slur);
    drawBarLine(p, staff, 130, ink);
    drawBeamed(p, staff, {QPointF(142, 9), QPointF(152, 8)}, ink);
    drawBeamed(p, staff, {QPointF(164, 7), QPointF(174, 6)}, ink);
    drawNote(p, staff, 188, 4, 1, false, ink);
    drawNote(p, staff, 200, 2, 0, false, ink);
    drawBarLine(p, staff, 214, ink);
    drawNote(p, staff, 226, 1, 0, false, ink);
    drawBeamed(p, staff, {QPointF(240, -1), QPointF(250, 0)}, ink);
    drawNote(p, staff, 266, 1, 0, true, ink);
    // Final double bar.
    drawBarLine(p, staff, staff.right - 4, ink, 1.0);
    drawBarLine(p, staff, staff.right - 1, ink, 2.2);
}

// ---- 7. a guitar neck ----------------------------------------------------------------------

void sceneGuitarNeck(QPainter& p)
{
    fillVertical(p, 0, kHeight, {{0, 0.18}, {0.5, 0.3}, {1, 0.1}});
    const double nut = 74;
    const auto neckTop = [](double x) { return 12.5 - (x - 74) * 0.01; };
    const auto neckBottom = [](double x) { return 38.5 + (x - 74) * 0.01; };

    // Headstock with its six tuners.
    QPainterPath head;
    head.moveTo(nut, neckTop(nut));
    head.lineTo(10, 6);
    head.quadTo(0, 25, 10, 44);
    head.lineTo(nut, neckBottom(nut));
    head.closeSubpath();
    QLinearGradient headWood(0, 6, 0, 44);
    headWood.setColorAt(0, grey(0.5));
    headWood.setColorAt(0.5, grey(0.28));
    headWood.setColorAt(1, grey(0.16));
    p.setPen(QPen(grey(0.05), 1));
    p.setBrush(headWood);
    p.drawPath(head);

    // Fingerboard with grain.
    QPainterPath board;
    board.moveTo(nut, neckTop(nut));
    board.lineTo(kWidth, neckTop(kWidth));
    board.lineTo(kWidth, neckBottom(kWidth));
    board.lineTo(nut, neckBottom(nut));
    board.closeSubpath();
    QLinearGradient wood(0, 12, 0, 39);
    wood.setColorAt(0, grey(0.42));
    wood.setColorAt(0.5, grey(0.3));
    wood.setColorAt(1, grey(0.2));
    p.setPen(Qt::NoPen);
    p.setBrush(wood);
    p.drawPath(board);
    p.save();
    p.setClipPath(board);
    for (int i = 0; i < 9; ++i) {
        QPainterPath grain(QPointF(nut, 14 + i * 3));
        for (int x = int(nut); x <= kWidth; x += 20)
            grain.lineTo(x, 14 + i * 3 + std::sin(x * 0.05 + i) * 0.9);
        p.setPen(QPen(grey(i % 2 ? 0.22 : 0.4, 0.5), 0.6));
        p.setBrush(Qt::NoBrush);
        p.drawPath(grain);
    }
    // Frets, closer together up the neck, and the position dots between them.
    const double scale = 520;
    double previous = nut;
    for (int n = 1; n <= 12; ++n) {
        const double x = nut + scale * (1 - std::pow(2.0, -n / 12.0));
        if (n == 3 || n == 5 || n == 7 || n == 9) {
            QRadialGradient pearl(QPointF((x + previous) / 2 - 0.8, 24.7), 3.2);
            pearl.setColorAt(0, grey(0.98));
            pearl.setColorAt(1, grey(0.62));
            p.setPen(Qt::NoPen);
            p.setBrush(pearl);
            p.drawEllipse(QPointF((x + previous) / 2, 25.5), 2.8, 2.8);
        }
        p.setPen(QPen(grey(0.08, 0.6), 1.0));
        p.drawLine(QPointF(x + 1.2, 12), QPointF(x + 1.2, 40));
        p.setPen(QPen(grey(0.88), 1.5));
        p.drawLine(QPointF(x, 12), QPointF(x, 40));
        previous = x;
    }
    p.restore();
    p.setPen(QPen(grey(0.93), 3));
    p.drawLine(QPointF(nut, neckTop(nut)), QPointF(nut, neckBottom(nut)));

    // Strings: from the tuner posts over the nut and along the neck.
    for (int i = 0; i < 6; ++i) {
        const double y = 15 + i * 4.2;
        const bool upper = i < 3;
        const QPointF post(upper ? 56 - i * 17 : 22 + (i - 3) * 17, upper ? 11.5 : 38.5);
        const double thick = 0.6 + i * 0.2;
        p.setPen(QPen(grey(0.05, 0.6), thick));
        p.drawLine(QPointF(nut, y + 1.2), QPointF(kWidth, y + 1.2 + i * 0.05));
        p.setPen(QPen(grey(0.9), thick));
        p.drawLine(post, QPointF(nut, y));
        p.drawLine(QPointF(nut, y), QPointF(kWidth, y + (i - 2.5) * 0.3));
    }
    for (int i = 0; i < 6; ++i) {
        const bool upper = i < 3;
        const QPointF post(upper ? 56 - i * 17 : 22 + (i - 3) * 17, upper ? 11.5 : 38.5);
        QRadialGradient chrome(post - QPointF(1, 1), 3);
        chrome.setColorAt(0, grey(1));
        chrome.setColorAt(1, grey(0.45));
        p.setPen(QPen(grey(0.1), 0.6));
        p.setBrush(chrome);
        p.drawEllipse(post, 2.6, 2.6);
        // The tuner's key, sticking out beyond the headstock's edge.
        const QPointF knob = post + QPointF(0, upper ? -8 : 8);
        p.setBrush(grey(0.7));
        p.drawEllipse(knob, 3.2, 2.2);
    }
    vignette(p, 0.2);
}

// ---- 8. a drum with sticks, between two cymbals ---------------------------------------------

void drawCymbal(QPainter& p, QPointF centre, double rx, double ry)
{
    p.setPen(QPen(grey(0.55), 1.5));
    p.drawLine(centre, QPointF(centre.x(), kHeight));
    QLinearGradient brass(centre.x() - rx, 0, centre.x() + rx, 0);
    brass.setColorAt(0, grey(0.45));
    brass.setColorAt(0.35, grey(0.98));
    brass.setColorAt(0.6, grey(0.6));
    brass.setColorAt(1, grey(0.3));
    p.setPen(QPen(grey(0.2), 0.6));
    p.setBrush(brass);
    p.drawEllipse(centre, rx, ry);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(grey(0.3, 0.35), 0.5));
    for (double k = 0.3; k < 1.0; k += 0.17)
        p.drawEllipse(centre, rx * k, ry * k);
    p.setBrush(grey(0.8));
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre - QPointF(0, 1), rx * 0.12, ry * 0.5);
}

void sceneDrum(QPainter& p)
{
    spotlight(p, QPointF(150, 0), 170, 0.6, 0.05);
    drawCymbal(p, QPointF(42, 14), 38, 5);
    drawCymbal(p, QPointF(262, 11), 35, 4.5);
    drawCymbal(p, QPointF(262, 15), 35, 4.5);

    const double left = 95, right = 205, top = 23, bottom = 47;
    const double rx = (right - left) / 2, ry = 7;
    const double cx = (left + right) / 2;
    // The shell: a lit cylinder.
    QLinearGradient shell(left, 0, right, 0);
    shell.setColorAt(0, grey(0.12));
    shell.setColorAt(0.3, grey(0.7));
    shell.setColorAt(0.42, grey(0.45));
    shell.setColorAt(1, grey(0.1));
    QPainterPath side;
    side.moveTo(left, top);
    side.lineTo(left, bottom);
    side.arcTo(QRectF(left, bottom - ry, 2 * rx, 2 * ry), 180, 180);
    side.lineTo(right, top);
    side.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(shell);
    p.drawPath(side);
    // Lugs and tension rods.
    for (int i = 0; i < 7; ++i) {
        const double a = kPi * (0.1 + 0.8 * i / 6.0);
        const double x = cx - rx * std::cos(a);
        const double lift = ry * std::sin(a);
        p.setPen(QPen(grey(0.8), 0.8));
        p.drawLine(QPointF(x, top + lift), QPointF(x, bottom + lift));
        QLinearGradient lug(x - 2.5, 0, x + 2.5, 0);
        lug.setColorAt(0, grey(0.5));
        lug.setColorAt(0.4, grey(1));
        lug.setColorAt(1, grey(0.35));
        p.setPen(Qt::NoPen);
        p.setBrush(lug);
        p.drawRoundedRect(QRectF(x - 2.5, top + lift + 6, 5, 9), 2, 2);
    }
    // Hoops and the batter head.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(grey(0.85), 2));
    p.drawArc(QRectF(left, bottom - ry, 2 * rx, 2 * ry), 180 * 16, 180 * 16);
    QRadialGradient head(QPointF(cx - 20, top - 2), 60);
    head.setColorAt(0, grey(0.98));
    head.setColorAt(1, grey(0.62));
    p.setBrush(head);
    p.setPen(QPen(grey(0.9), 2.2));
    p.drawEllipse(QPointF(cx, top), rx, ry);

    // Sticks crossed on the head.
    for (int s : {-1, 1}) {
        const QPointF butt(cx + s * 70, 3), tip(cx - s * 22, 21);
        QLineF stick(butt, tip);
        QPointF n = stick.normalVector().unitVector().p2() - stick.p1();
        QPainterPath shape;
        shape.moveTo(butt + n * 1.8);
        shape.lineTo(tip + n * 0.9);
        shape.lineTo(tip - n * 0.9);
        shape.lineTo(butt - n * 1.8);
        shape.closeSubpath();
        p.setPen(QPen(grey(0.2), 0.5));
        p.setBrush(grey(0.85));
        p.drawPath(shape);
        p.drawEllipse(tip, 1.8, 1.5);
    }
}

// ---- 9. organ pipes ------------------------------------------------------------------------

void sceneOrganPipes(QPainter& p)
{
    fillVertical(p, 0, kHeight, {{0, 0.05}, {1, 0.25}});
    const int pipes = 23;
    const double pitch = kWidth / double(pipes);
    const double mouthY = 34;
    for (int i = 0; i < pipes; ++i) {
        const double t = std::abs(i - (pipes - 1) / 2.0) / ((pipes - 1) / 2.0);
        // Three towers, in the middle and at the ends, with lower flats between them.
        const double top = 2 + 17 * std::sin(kPi * t) + 4 * std::abs(std::sin(3 * kPi * t));
        const double w = pitch * 0.72;
        const double x = i * pitch + (pitch - w) / 2;
        QLinearGradient metal(x, 0, x + w, 0);
        metal.setColorAt(0, grey(0.22));
        metal.setColorAt(0.3, grey(0.98));
        metal.setColorAt(0.55, grey(0.6));
        metal.setColorAt(1, grey(0.18));
        p.setPen(Qt::NoPen);
        p.setBrush(metal);
        p.drawRect(QRectF(x, top, w, mouthY + 1 - top));
        // The conical foot below the mouth, narrowing into the board.
        QPainterPath foot;
        foot.moveTo(x, mouthY + 1);
        foot.lineTo(x + w, mouthY + 1);
        foot.lineTo(x + w * 0.62, 44);
        foot.lineTo(x + w * 0.38, 44);
        foot.closeSubpath();
        p.drawPath(foot);
        // Open top.
        p.setBrush(grey(0.08));
        p.drawEllipse(QRectF(x, top - 1, w, 2));
        // The mouth: a dark slot under a lit upper lip.
        QPainterPath mouth;
        mouth.moveTo(x + w * 0.2, mouthY);
        mouth.lineTo(x + w * 0.8, mouthY);
        mouth.lineTo(x + w * 0.7, mouthY - 3.5);
        mouth.lineTo(x + w * 0.3, mouthY - 3.5);
        mouth.closeSubpath();
        p.setBrush(grey(0.05));
        p.drawPath(mouth);
        p.setPen(QPen(grey(0.9), 0.6));
        p.drawLine(QPointF(x + w * 0.3, mouthY - 3.5), QPointF(x + w * 0.7, mouthY - 3.5));
    }
    // The carved board the pipes stand on.
    fillVertical(p, 43, kHeight, {{0, 0.5}, {0.3, 0.3}, {1, 0.12}}, QRectF(0, 43, kWidth, 7));
    p.setPen(QPen(grey(0.65), 0.8));
    p.drawLine(QPointF(0, 43.5), QPointF(kWidth, 43.5));
    p.setPen(QPen(grey(0.08), 0.8));
    p.drawLine(QPointF(0, 46.5), QPointF(kWidth, 46.5));
    vignette(p, 0.3);
}

// ---- 10. a record, its tune spilling out on a waving staff ------------------------------------

void sceneRecord(QPainter& p)
{
    fillVertical(p, 0, kHeight, {{0, 0.7}, {1, 0.45}});
    const QPointF centre(240, 25);

    // A waving staff leaving the record.
    for (int line = 0; line < 5; ++line) {
        QPainterPath wave;
        for (int x = 0; x <= 180; x += 3) {
            const double y = 9 + line * 5 + std::sin(x * 0.045 + 0.8) * 4;
            x == 0 ? wave.moveTo(x, y) : wave.lineTo(x, y);
        }
        p.setPen(QPen(grey(0.2, 0.6), 0.9));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
    }
    const QColor ink = grey(0.1, 0.85);
    for (int k = 0; k < 8; ++k) {
        const double x = 14 + k * 20;
        const double step = (k * 5 % 7) - 1;
        const double base = 29 + std::sin(x * 0.045 + 0.8) * 4;
        drawNote(p, Staff{0, 0, base - 20, 5}, x, step, k % 3 == 1 ? 1 : 0, k % 4 == 2, ink);
    }

    QRadialGradient shade(centre + QPointF(4, 4), 72);
    shade.setColorAt(0.9, grey(0, 0.5));
    shade.setColorAt(1, grey(0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawEllipse(centre + QPointF(4, 4), 72, 72);
    p.setBrush(grey(0.06));
    p.drawEllipse(centre, 68, 68);
    p.setBrush(Qt::NoBrush);
    for (double r = 20; r < 67; r += 1.6) {
        p.setPen(QPen(grey(int(r / 1.6) % 2 ? 0.1 : 0.16), 0.8));
        p.drawEllipse(centre, r, r);
    }
    // Light caught by the grooves, in two opposite wedges.
    QConicalGradient sheen(centre, 150);
    sheen.setColorAt(0.0, grey(1, 0.0));
    sheen.setColorAt(0.06, grey(1, 0.4));
    sheen.setColorAt(0.12, grey(1, 0.0));
    sheen.setColorAt(0.5, grey(1, 0.0));
    sheen.setColorAt(0.56, grey(1, 0.3));
    sheen.setColorAt(0.62, grey(1, 0.0));
    sheen.setColorAt(1.0, grey(1, 0.0));
    p.setBrush(sheen);
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, 67, 67);
    QRadialGradient label(centre - QPointF(4, 4), 20);
    label.setColorAt(0, grey(0.9));
    label.setColorAt(1, grey(0.6));
    p.setBrush(label);
    p.drawEllipse(centre, 17, 17);
    p.setPen(QPen(grey(0.35), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 11, 11);
    p.setPen(Qt::NoPen);
    p.setBrush(grey(0.02));
    p.drawEllipse(centre, 1.8, 1.8);

    // Tone arm resting in the outer grooves.
    const QPointF pivot(296, 3), stylus(196, 31);
    p.setPen(QPen(grey(0.05, 0.5), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(pivot + QPointF(2, 3), stylus + QPointF(2, 3));
    p.setPen(QPen(grey(0.9), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(pivot, stylus);
    p.setPen(QPen(grey(0.3), 0.6));
    p.setBrush(grey(0.75));
    p.drawRoundedRect(QRectF(stylus.x() - 7, stylus.y() - 3, 10, 6), 1.5, 1.5);
    QRadialGradient base(pivot - QPointF(2, 2), 9);
    base.setColorAt(0, grey(1));
    base.setColorAt(1, grey(0.4));
    p.setBrush(base);
    p.drawEllipse(pivot, 8, 8);
}

// ---- the quiet score behind the pictures ------------------------------------------------------

void sceneBackground(QPainter& p)
{
    fillVertical(p, 0, kHeight, {{0, 0.93}, {1, 0.86}});
    const Staff staff{0, kWidth, 11, 7};
    staff.drawLines(p, grey(0.76));
    drawTrebleClef(p, staff, 14, grey(0.74));
    drawTune(p, staff, 36, kWidth - 4, grey(0.76), 11);
}

// Turns a grey picture into one hue: dark stays dark, light stays light, the middle tones
// take the colour.
QImage toned(const QImage& greys, double hue, double saturation)
{
    QImage out(greys.size(), QImage::Format_RGB32);
    for (int y = 0; y < greys.height(); ++y) {
        for (int x = 0; x < greys.width(); ++x) {
            const double v = qGray(greys.pixel(x, y)) / 255.0;
            out.setPixelColor(x, y, QColor::fromHslF(float(hue / 360.0), float(saturation), float(v)));
        }
    }
    return out;
}

QImage paint(const std::function<void(QPainter&)>& scene)
{
    QImage canvas(kWidth, kHeight, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    scene(p);
    p.end();
    return canvas;
}

} // namespace

bool WriteProgressPictures(const QString& resourcesDir)
{
    struct Picture {
        void (*scene)(QPainter&);
        double hue, saturation;
    };
    const Picture pictures[10] = {
        {sceneViolinOverScore, 30, 0.55}, {sceneConductor, 218, 0.5},
        {sceneHandsOverScore, 140, 0.38}, {sceneScrollAndClef, 12, 0.55},
        {scenePianoKeys, 265, 0.42},      {sceneNotesOnStaff, 188, 0.5},
        {sceneGuitarNeck, 45, 0.62},      {sceneDrum, 350, 0.55},
        {sceneOrganPipes, 95, 0.42},      {sceneRecord, 300, 0.42},
    };
    const QString dir = resourcesDir + QStringLiteral("/progress/");
    for (int i = 0; i < 10; ++i) {
        const QImage picture = toned(paint(pictures[i].scene), pictures[i].hue, pictures[i].saturation);
        const QString name = QStringLiteral("progress%1.jpg").arg(i + 1, 2, 10, QLatin1Char('0'));
        if (!SaveImage(picture, dir + name, "JPEG", 92))
            return false;
    }
    return SaveImage(toned(paint(sceneBackground), 38, 0.12), dir + QStringLiteral("background.jpg"), "JPEG", 92);
}

} // namespace Artwork
