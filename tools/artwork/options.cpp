// The option pictures: the eleven kinds of player a user can make files smaller for, each a
// small product shot on white, 90 x 90.
//
// They share the kit's light from the top left, its palette of silver and graphite with the
// program's blue as the accent, and a soft shadow on the table below each device, so that
// the list of options reads as one set.

#include "artwork.h"
#include "kit.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace Artwork {
namespace {

using namespace Kit;

constexpr int kSize = 90;
constexpr double kPi = 3.14159265358979323846;

QPainterPath rounded(const QRectF& box, double r)
{
    QPainterPath path;
    path.addRoundedRect(box, r, r);
    return path;
}

// Short lines standing for text on a lit display.
void textLines(QPainter& p, double left, double top, double width, int lines, double gap, QColor ink)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    for (int i = 0; i < lines; ++i) {
        const double w = width * (0.55 + 0.45 * ((i * 37 % 10) / 10.0));
        p.drawRoundedRect(QRectF(left, top + i * gap, w, gap * 0.45), 0.3, 0.3);
    }
    p.restore();
}

// A grid of small keys.
void keypad(QPainter& p, double left, double top, int cols, int rows, double w, double h, double gx,
            double gy, const QColor& base, bool round = false)
{
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const QRectF key(left + c * (w + gx), top + r * (h + gy), w, h);
            if (round)
                Knob(p, key.center(), w / 2, base);
            else
                Body(p, key, std::min(w, h) * 0.4, base, 0.8);
        }
}

// ---- 1. a pocket MP3 player with earphones ---------------------------------------------------

void mp3Player(QPainter& p)
{
    FloorShadow(p, QPointF(41, 71), 21, 3.5);
    PocketPlayer(p, true);
}

// ---- 2. a palm-size PDA with its stylus ------------------------------------------------------

void pda(QPainter& p)
{
    FloorShadow(p, QPointF(46, 81), 30, 3.6);
    // The stylus leans against the device's right side.
    p.save();
    p.translate(68, 46);
    p.rotate(8);
    QPainterPath stylus;
    stylus.moveTo(-1.3, -36);
    stylus.lineTo(1.3, -36);
    stylus.lineTo(1.3, 28);
    stylus.lineTo(0.3, 34);
    stylus.lineTo(-0.3, 34);
    stylus.lineTo(-1.3, 28);
    stylus.closeSubpath();
    QLinearGradient metal(-1.3, 0, 1.3, 0);
    metal.setColorAt(0, QColor(160, 166, 176));
    metal.setColorAt(0.35, QColor(250, 251, 253));
    metal.setColorAt(1, QColor(112, 118, 128));
    p.setBrush(metal);
    p.setPen(QPen(QColor(96, 102, 112), 0.4));
    p.drawPath(stylus);
    Body(p, QRectF(-1.5, -37, 3, 7), 1.2, kAccent); // cap
    p.restore();

    Body(p, QRectF(19, 7, 42, 74), 6, kGraphite, 1.2);
    // Silver trim round the face.
    p.setPen(QPen(QColor(190, 196, 206), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(21, 9, 38, 70), 4.8, 4.8);
    // Speaker slot and the maker's blue dot.
    p.setPen(QPen(QColor(30, 33, 40), 0.9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(36, 12.2), QPointF(44, 12.2));

    // The screen: a title bar and a grid of application icons.
    const QRectF screen(24, 15, 32, 40);
    Glass(p, screen, 1, true);
    const QColor icons[] = {QColor(21, 98, 175), QColor(60, 140, 90), QColor(200, 140, 40),
                            QColor(150, 70, 150), QColor(40, 150, 190), QColor(190, 70, 60)};
    p.save();
    p.setClipRect(screen.adjusted(0.4, 0.4, -0.4, -0.4));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRect(QRectF(24, 15, 32, 4.2));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRect(QRectF(26, 16.5, 10, 1.2));
    for (int i = 0; i < 6; ++i) {
        const QRectF icon(27 + (i % 3) * 9.5, 22.5 + (i / 3) * 10, 6, 6);
        Body(p, icon, 1.3, icons[i], 0.9);
        p.setBrush(QColor(30, 50, 80, 150));
        p.setPen(Qt::NoPen);
        p.drawRect(QRectF(icon.left() - 0.5, icon.bottom() + 1, 7, 0.9));
    }
    textLines(p, 27, 43, 22, 2, 3.2, QColor(30, 50, 80, 110));
    p.restore();

    // Application buttons either side of the rocker.
    for (double x : {27.0, 34.0, 46.0, 53.0})
        Knob(p, QPointF(x, 66), 2.6, QColor(150, 156, 166));
    QPainterPath rocker;
    rocker.addEllipse(QPointF(40, 66), 3.6, 5.2);
    Body(p, rocker, kAccent);
}

// ---- 3. a pocket PC standing in its cradle ---------------------------------------------------

void pocketPc(QPainter& p)
{
    FloorShadow(p, QPointF(45, 81), 36, 4);
    // The cradle's back rest, behind the device.
    Body(p, QRectF(31, 44, 28, 26), 3, kGraphite);

    Body(p, QRectF(27, 6, 36, 66), 5, kSilver, 1.2);
    // The screen with its blue start bar, a title and a few lines of a note.
    const QRectF screen(31, 12, 28, 36);
    Glass(p, screen, 0.8, true);
    p.save();
    p.setClipRect(screen.adjusted(0.3, 0.3, -0.3, -0.3));
    p.setPen(Qt::NoPen);
    QLinearGradient bar(0, 12, 0, 16);
    bar.setColorAt(0, kAccent.lighter(130));
    bar.setColorAt(1, kAccent.darker(120));
    p.setBrush(bar);
    p.drawRect(QRectF(31, 12, 28, 4));
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawEllipse(QPointF(33.3, 14), 1.1, 1.1);
    p.drawRect(QRectF(35.5, 13.4, 8, 1.2));
    p.drawRect(QRectF(52, 13.4, 5, 1.2));
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawRect(QRectF(31, 16, 28, 28.5));
    textLines(p, 33, 19, 22, 7, 3.4, QColor(40, 60, 90, 150));
    p.setBrush(QColor(200, 210, 225));
    p.drawRect(QRectF(31, 44.5, 28, 3.5));
    p.restore();

    // Four buttons round the direction pad.
    for (double x : {32.5, 38.5, 51.5, 57.5}) {
        QPainterPath b;
        b.addEllipse(QPointF(x, 55), 2.2, 2.6);
        Body(p, b, QColor(160, 166, 176));
    }
    Knob(p, QPointF(45, 55), 3.6, kSilver);
    Knob(p, QPointF(45, 55), 1.6, kAccent);

    // The cradle's front, hiding the device's foot.
    QPainterPath front;
    front.moveTo(18, 66);
    front.lineTo(72, 66);
    front.quadTo(75, 66, 76, 69);
    front.lineTo(78, 77);
    front.quadTo(79, 81, 75, 81);
    front.lineTo(15, 81);
    front.quadTo(11, 81, 12, 77);
    front.lineTo(14, 69);
    front.quadTo(15, 66, 18, 66);
    Body(p, front, kGraphite);
    // The well the device sits in, and the charge light.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(22, 25, 30));
    p.drawRoundedRect(QRectF(26, 65.6, 38, 2.2), 1, 1);
    QRadialGradient led(QPointF(69, 74), 2.2);
    led.setColorAt(0, QColor(200, 235, 255));
    led.setColorAt(0.5, QColor(60, 150, 240));
    led.setColorAt(1, QColor(60, 150, 240, 0));
    p.setBrush(led);
    p.drawEllipse(QPointF(69, 74), 2.2, 2.2);
}

// ---- 4. a mobile phone -----------------------------------------------------------------------

void mobilePhone(QPainter& p)
{
    FloorShadow(p, QPointF(45, 83), 20, 3.2);
    Body(p, QRectF(52, 3, 5, 11), 2.2, kInk); // antenna stub
    Body(p, QRectF(31, 9, 28, 74), 8, kGraphite, 1.3);
    // A silver face plate round the screen and keys.
    Body(p, rounded(QRectF(33, 11, 24, 70), 6.5), QColor(176, 182, 192), 1.0);
    p.setPen(QPen(kInk, 0.9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(42, 14.5), QPointF(48, 14.5)); // earpiece

    const QRectF screen(35.5, 18, 19, 18);
    Glass(p, screen, 1.2, true);
    p.save();
    p.setClipRect(screen);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(21, 70, 130));
    for (int i = 0; i < 4; ++i) // signal strength
        p.drawRect(QRectF(37 + i * 1.4, 22 - i * 1.1, 0.9, 1.1 + i * 1.1));
    p.drawRect(QRectF(49.5, 19.8, 3.2, 1.9)); // battery
    // Clock figures as blocks.
    for (int i = 0; i < 4; ++i)
        p.drawRoundedRect(QRectF(38 + i * 3.7 + (i >= 2 ? 1.2 : 0), 25, 2.6, 5), 0.5, 0.5);
    p.drawEllipse(QPointF(45.6, 26.6), 0.45, 0.45);
    p.drawEllipse(QPointF(45.6, 28.8), 0.45, 0.45);
    p.setBrush(QColor(21, 70, 130, 110));
    p.drawRect(QRectF(37, 32.6, 16, 1));
    p.restore();

    // Soft keys and the navigation key.
    Body(p, QRectF(35.5, 39, 5.5, 3), 1.4, QColor(150, 156, 166));
    Body(p, QRectF(49, 39, 5.5, 3), 1.4, QColor(150, 156, 166));
    QPainterPath nav;
    nav.addEllipse(QPointF(45, 42.5), 4.6, 3.4);
    Body(p, nav, kAccent);
    // Green call and red end keys, then the number pad.
    Body(p, QRectF(35.5, 44, 5.5, 3), 1.4, QColor(70, 150, 90));
    Body(p, QRectF(49, 44, 5.5, 3), 1.4, QColor(180, 70, 60));
    keypad(p, 35.5, 50, 3, 4, 5.5, 4.2, 1.25, 1.6, QColor(220, 224, 230));
    // Microphone hole.
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(45, 76.5), 0.7, 0.7);
}

// ---- 5. a portable CD player with earphones --------------------------------------------------

void cdPlayer(QPainter& p)
{
    const QPointF c(38, 50);
    const double rx = 31, ry = 21, depth = 6;
    FloorShadow(p, c + QPointF(2, depth + 2), rx + 4, ry + 2, 0.3);

    // Earphones behind the player: the cable leaves its right side.
    QPainterPath lead(QPointF(66, 56));
    lead.cubicTo(78, 62, 84, 52, 78, 44);
    Cable(p, lead);
    QPainterPath left(QPointF(78, 44));
    left.cubicTo(74, 38, 72, 30, 73, 22);
    QPainterPath right(QPointF(78, 44));
    right.cubicTo(82, 38, 82, 34, 81, 30);
    Cable(p, left, 0.85);
    Cable(p, right, 0.85);
    Body(p, QRectF(76.3, 42, 3.4, 4.5), 1.2, QColor(225, 228, 233));
    Earbud(p, QPointF(73.5, 17), 5.2, -8);
    Earbud(p, QPointF(81, 25.5), 5.2, 18);

    // The side band, then the lid on top of it.
    QPainterPath side;
    side.addEllipse(c + QPointF(0, depth), rx, ry);
    QPainterPath band;
    band.addRect(QRectF(c.x() - rx, c.y(), 2 * rx, depth));
    side = side.united(band);
    QLinearGradient sideShade(c.x() - rx, 0, c.x() + rx, 0);
    sideShade.setColorAt(0, QColor(90, 96, 106));
    sideShade.setColorAt(0.3, QColor(70, 76, 86));
    sideShade.setColorAt(1, QColor(36, 40, 48));
    p.setPen(QPen(kInk, 0.55));
    p.setBrush(sideShade);
    p.drawPath(side);
    // Buttons on the front of the band.
    for (int i = 0; i < 4; ++i) {
        const double x = c.x() - 9 + i * 6;
        Body(p, QRectF(x - 2, c.y() + ry + 0.8, 4, 2.6), 0.8, i == 1 ? kAccent : QColor(180, 186, 196));
    }
    QPainterPath lid;
    lid.addEllipse(c, rx, ry);
    Body(p, lid, kSilver, 1.1);
    // Circular brushing on the lid.
    p.save();
    p.setClipPath(lid);
    p.setBrush(Qt::NoBrush);
    for (double k = 0.72; k < 1.0; k += 0.045) {
        p.setPen(QPen(QColor(255, 255, 255, 50), 0.35));
        p.drawEllipse(c, rx * k, ry * k);
    }
    p.restore();

    // The window onto the disc.
    const QPointF w = c + QPointF(0, -1);
    const double wrx = 19.5, wry = 13.2;
    QConicalGradient disc(w, 30);
    const QColor tints[] = {QColor(222, 226, 234), QColor(190, 214, 238), QColor(236, 226, 236),
                            QColor(200, 206, 216), QColor(226, 238, 228), QColor(186, 200, 226),
                            QColor(222, 226, 234)};
    for (int i = 0; i < 7; ++i)
        disc.setColorAt(i / 6.0, tints[i]);
    p.setPen(QPen(QColor(100, 106, 118), 0.6));
    p.setBrush(disc);
    p.drawEllipse(w, wrx, wry);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 158, 170));
    p.drawEllipse(w, wrx * 0.3, wry * 0.3);
    p.setBrush(QColor(235, 238, 242));
    p.drawEllipse(w, wrx * 0.2, wry * 0.2);
    Knob(p, w, 2.2, QColor(120, 126, 138));
    // Smoked cover over the window, catching the light.
    QPainterPath cover;
    cover.addEllipse(w, wrx, wry);
    p.save();
    p.setClipPath(cover);
    p.setBrush(QColor(40, 60, 90, 40));
    p.drawPath(cover);
    QPainterPath gleam;
    gleam.moveTo(w + QPointF(-wrx, -wry * 0.2));
    gleam.quadTo(w + QPointF(-wrx * 0.4, -wry * 1.2), w + QPointF(wrx * 0.5, -wry));
    gleam.lineTo(w + QPointF(wrx * 0.2, -wry * 0.7));
    gleam.quadTo(w + QPointF(-wrx * 0.4, -wry * 0.75), w + QPointF(-wrx * 0.8, wry * 0.1));
    gleam.closeSubpath();
    p.setBrush(QColor(255, 255, 255, 110));
    p.drawPath(gleam);
    p.restore();
    // A small display and the open catch at the front of the lid.
    Glass(p, QRectF(c.x() + 9, c.y() + 13.5, 9, 3.6), 0.6, false);
    Body(p, QRectF(c.x() - 18, c.y() + 13.8, 7, 2.6), 1.1, kAccent);
}

// ---- 6. a portable radio ---------------------------------------------------------------------

void radio(QPainter& p)
{
    FloorShadow(p, QPointF(45, 79), 38, 4);
    // The telescopic antenna, in sections that narrow towards the tip.
    p.save();
    const QPointF foot(70, 34), tip(50, 5);
    const QPointF dir = (tip - foot) / std::hypot(tip.x() - foot.x(), tip.y() - foot.y());
    const double len = std::hypot(tip.x() - foot.x(), tip.y() - foot.y());
    const double widths[] = {2.2, 1.7, 1.3};
    for (int i = 0; i < 3; ++i) {
        const QPointF a = foot + dir * (len * i / 3.0), b = foot + dir * (len * (i + 1) / 3.0);
        p.setPen(QPen(QColor(90, 96, 106), widths[i], Qt::SolidLine, Qt::FlatCap));
        p.drawLine(a, b);
        p.setPen(QPen(QColor(245, 247, 250), widths[i] * 0.4, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(a + QPointF(-0.35, -0.2), b + QPointF(-0.35, -0.2));
    }
    Knob(p, tip, 1.6, kSilver);
    p.restore();

    // The carrying handle.
    QPainterPath handle(QPointF(20, 36));
    handle.lineTo(20, 27);
    handle.quadTo(20, 23, 24, 23);
    handle.lineTo(52, 23);
    handle.quadTo(56, 23, 56, 27);
    handle.lineTo(56, 36);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(30, 33, 40), 4.2, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(handle);
    p.setPen(QPen(QColor(100, 106, 118), 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(handle.translated(-0.5, -0.5));

    Body(p, QRectF(8, 32, 74, 46), 6, kGraphite, 1.2);
    Body(p, QRectF(11, 35, 68, 40), 4, kSilver, 1.0);

    // The speaker grille: a round field of holes.
    const QPointF speaker(29, 55);
    QRadialGradient well(speaker - QPointF(3, 3), 17);
    well.setColorAt(0, QColor(120, 126, 136));
    well.setColorAt(1, QColor(60, 66, 76));
    p.setPen(QPen(QColor(245, 247, 250), 0.8));
    p.setBrush(well);
    p.drawEllipse(speaker, 15, 15);
    p.save();
    QPainterPath grille;
    grille.addEllipse(speaker, 14, 14);
    p.setClipPath(grille);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 22, 28));
    for (int row = -7; row <= 7; ++row)
        for (int col = -7; col <= 7; ++col) {
            const QPointF h = speaker + QPointF(col * 2 + (row & 1 ? 1 : 0), row * 1.9);
            p.drawEllipse(h, 0.62, 0.62);
        }
    p.restore();
    p.setPen(QPen(QColor(60, 66, 76), 0.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(speaker, 15.4, 15.4);

    // The tuning dial: a pale scale with marks and a needle.
    const QRectF dial(48, 39, 28, 13);
    QLinearGradient scale(dial.topLeft(), dial.bottomLeft());
    scale.setColorAt(0, QColor(236, 242, 250));
    scale.setColorAt(1, QColor(196, 212, 232));
    p.setPen(QPen(QColor(60, 66, 76), 0.6));
    p.setBrush(scale);
    p.drawRoundedRect(dial, 1.5, 1.5);
    p.setPen(QPen(kAccent, 0.4));
    for (int i = 0; i <= 12; ++i) {
        const double x = dial.left() + 2.5 + i * (dial.width() - 5) / 12;
        p.drawLine(QPointF(x, dial.top() + 2), QPointF(x, dial.top() + (i % 3 == 0 ? 5 : 3.6)));
        p.drawLine(QPointF(x, dial.bottom() - 2), QPointF(x, dial.bottom() - (i % 3 == 0 ? 5 : 3.6)));
    }
    p.setPen(QPen(kAccent, 0.5));
    p.drawLine(QPointF(dial.left() + 2.5, dial.center().y()), QPointF(dial.right() - 2.5, dial.center().y()));
    p.setPen(QPen(QColor(210, 60, 40), 0.9));
    p.drawLine(QPointF(dial.left() + 17, dial.top() + 1), QPointF(dial.left() + 17, dial.bottom() - 1));
    // Glass over the dial.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 70));
    p.drawPolygon(QPolygonF({dial.topLeft(), dial.topLeft() + QPointF(14, 0), dial.topLeft() + QPointF(5, 13),
                             dial.topLeft() + QPointF(0, 13)}));

    // Tuning and volume knobs, and the band switch.
    for (double x : {55.0, 70.0}) {
        Knob(p, QPointF(x, 63), 5.2, QColor(70, 76, 86));
        p.setPen(QPen(QColor(220, 226, 234), 0.7, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x, 63), QPointF(x - 2.6, 59.4));
    }
    Body(p, QRectF(59.5, 70.5, 6, 2.4), 1, kAccent);
}

// ---- 7. a portable cassette player with headphones -------------------------------------------

void headphonePair(QPainter& p, QPointF centre, double r, double cupW, double cupH, double band)
{
    // Headband arc over the top.
    QPainterPath arc;
    arc.arcMoveTo(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 180);
    arc.arcTo(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 180, -180);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(30, 33, 40), band, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(arc);
    QPainterPath inner;
    const double ri = r - band * 0.18;
    inner.arcMoveTo(QRectF(centre.x() - ri, centre.y() - ri, 2 * ri, 2 * ri), 160);
    inner.arcTo(QRectF(centre.x() - ri, centre.y() - ri, 2 * ri, 2 * ri), 160, -85);
    p.setPen(QPen(QColor(150, 158, 170), band * 0.28, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(inner);
    // The cups hang from the ends of the band.
    for (int s : {-1, 1}) {
        const QPointF at = centre + QPointF(s * r, cupH * 0.35);
        Body(p, QRectF(at.x() - band * 0.45, centre.y() - 1, band * 0.9, cupH * 0.3), 0.6, kSilver);
        QPainterPath cup;
        cup.addRoundedRect(QRectF(at.x() - cupW / 2, at.y(), cupW, cupH), cupW * 0.45, cupW * 0.45);
        Body(p, cup, kAccent, 1.2);
        // The foam pad on the inner side.
        QPainterPath pad;
        pad.addRoundedRect(QRectF(at.x() - s * cupW * 0.5 - (s > 0 ? cupW * 0.38 : 0),
                                  at.y() + cupH * 0.06, cupW * 0.38, cupH * 0.88),
                           cupW * 0.19, cupW * 0.19);
        Body(p, pad, QColor(52, 56, 64), 0.8);
    }
}

void cassettePlayer(QPainter& p)
{
    FloorShadow(p, QPointF(38, 81), 32, 3.6);

    // Headphones resting behind, their cable to the player's jack.
    headphonePair(p, QPointF(70, 20), 12, 6, 13, 2.6);
    QPainterPath lead(QPointF(82, 46));
    lead.cubicTo(84, 62, 76, 72, 64, 68);
    Cable(p, lead);

    // Piano keys along the top edge, play in the accent blue.
    for (int i = 0; i < 5; ++i)
        Body(p, QRectF(12 + i * 7.2, 36.5, 6.2, 6), 1, i == 1 ? kAccent : QColor(80, 86, 96));
    Body(p, QRectF(8, 40, 56, 41), 4, kSilver, 1.2);
    Body(p, QRectF(62.5, 65.5, 2.5, 3.6), 0.6, QColor(60, 64, 72)); // jack

    // The cassette seen through the smoked window.
    const QRectF window(13, 45, 46, 25);
    p.setPen(QPen(QColor(50, 54, 62), 0.7));
    p.setBrush(QColor(44, 50, 60));
    p.drawRoundedRect(window, 2, 2);
    const QRectF cassette(15.5, 47.5, 41, 20);
    Body(p, cassette, 1.2, QColor(225, 228, 234), 0.7);
    QLinearGradient label(cassette.topLeft(), cassette.bottomLeft());
    label.setColorAt(0, kAccent.lighter(140));
    label.setColorAt(1, kAccent);
    p.setPen(Qt::NoPen);
    p.setBrush(label);
    p.drawRect(QRectF(17.5, 49, 37, 4));
    p.setBrush(QColor(36, 40, 48));
    p.drawRoundedRect(QRectF(23, 55, 26, 8), 4, 4); // the tape window
    for (double x : {28.0, 44.0}) {
        // Tape wound on each reel, then the white hub with its teeth.
        p.setBrush(QColor(92, 62, 44));
        p.drawEllipse(QPointF(x, 59), x < 36 ? 5.2 : 3.6, x < 36 ? 5.2 : 3.6);
        Knob(p, QPointF(x, 59), 2.6, QColor(240, 242, 246));
        p.setPen(QPen(QColor(90, 96, 106), 0.6));
        for (int t = 0; t < 6; ++t) {
            const double a = t * kPi / 3;
            p.drawLine(QPointF(x, 59) + QPointF(std::cos(a), std::sin(a)) * 1.0,
                       QPointF(x, 59) + QPointF(std::cos(a), std::sin(a)) * 2.0);
        }
        p.setPen(Qt::NoPen);
    }
    // The window's glass.
    p.setBrush(QColor(255, 255, 255, 55));
    p.drawPolygon(QPolygonF({window.topLeft(), window.topLeft() + QPointF(20, 0),
                             window.topLeft() + QPointF(6, 25), window.topLeft() + QPointF(0, 25)}));
    // Volume wheel on the side and a belt clip line.
    Knob(p, QPointF(60, 75), 2.4, kGraphite);
    p.setPen(QPen(QColor(150, 156, 166), 0.5));
    p.drawLine(QPointF(12, 75), QPointF(50, 75));
}

// ---- 8. headphones ---------------------------------------------------------------------------

void headphones(QPainter& p)
{
    FloorShadow(p, QPointF(45, 82), 36, 3.5);
    const QPointF c(45, 44);
    const double r = 30;
    // A padded band: dark outer band with a cushion below it.
    QPainterPath arc;
    const QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
    arc.arcMoveTo(box, 180);
    arc.arcTo(box, 180, -180);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(30, 33, 40), 5.5, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(arc);
    QPainterPath cushion;
    const double rc = r - 3.4;
    const QRectF cbox(c.x() - rc, c.y() - rc, 2 * rc, 2 * rc);
    cushion.arcMoveTo(cbox, 150);
    cushion.arcTo(cbox, 150, -120);
    p.setPen(QPen(QColor(70, 76, 86), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cushion);
    QPainterPath shine;
    const double rs = r + 1.2;
    const QRectF sbox(c.x() - rs, c.y() - rs, 2 * rs, 2 * rs);
    shine.arcMoveTo(sbox, 165);
    shine.arcTo(sbox, 165, -75);
    p.setPen(QPen(QColor(150, 158, 172), 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(shine);

    for (int s : {-1, 1}) {
        const double x = c.x() + s * r;
        // Slider and the fork holding the cup.
        Body(p, QRectF(x - 1.8, c.y() - 2, 3.6, 12), 1.2, kSilver);
        QPainterPath fork(QPointF(x, c.y() + 8));
        fork.lineTo(x, c.y() + 12);
        p.setPen(QPen(kSilver.darker(140), 2.2, Qt::SolidLine, Qt::FlatCap));
        p.drawPath(fork);
        // The cup: outer shell in blue, a silver cap, foam towards the head.
        const QRectF shell(x - 8.5, c.y() + 12, 17, 26);
        // Tucked under the shell's inner edge so the two read as one cup.
        const double padX = s < 0 ? shell.right() - 6 : shell.left();
        QPainterPath pad;
        pad.addRoundedRect(QRectF(padX, shell.top() + 1, 6, shell.height() - 2), 3, 3);
        Body(p, pad, QColor(46, 50, 58), 0.7);
        QPainterPath cup;
        cup.addRoundedRect(shell.adjusted(s < 0 ? 0 : 3, 0, s < 0 ? -3 : 0, 0), 7, 7);
        Body(p, cup, kAccent, 1.3);
        QPainterPath cap;
        cap.addEllipse(QPointF(x + (s < 0 ? -1.5 : 1.5), shell.center().y()), 4.2, 8.5);
        Body(p, cap, kSilver, 1.1);
    }
    // The cable leaves the left cup and trails to its plug.
    QPainterPath lead(QPointF(15, 81));
    lead.cubicTo(16, 87, 30, 86, 40, 83.5);
    lead.lineTo(45, 83.5);
    Cable(p, lead);
    Body(p, QRectF(44, 82, 7, 3), 1, kGraphite);
    Body(p, QRectF(50.5, 82.8, 4, 1.4), 0.6, kSilver);
}

// ---- 9. a loudspeaker ------------------------------------------------------------------------

void loudspeaker(QPainter& p)
{
    FloorShadow(p, QPointF(47, 82), 30, 3.5);
    // The cabinet from slightly to the left: its front, and the right side in shade.
    QPainterPath side;
    side.moveTo(62, 8);
    side.lineTo(71, 12);
    side.lineTo(71, 77);
    side.lineTo(62, 82);
    side.closeSubpath();
    QLinearGradient sideShade(62, 0, 71, 0);
    sideShade.setColorAt(0, QColor(44, 48, 56));
    sideShade.setColorAt(1, QColor(28, 30, 36));
    p.setPen(QPen(kInk, 0.55));
    p.setBrush(sideShade);
    p.drawPath(side);
    Body(p, QRectF(20, 8, 42, 74), 2.5, kGraphite, 1.1);

    // Tweeter: a silver plate and a dark silk dome.
    Body(p, rounded(QRectF(33, 13, 16, 16), 8), kSilver);
    QRadialGradient dome(QPointF(39.5, 19.5), 6);
    dome.setColorAt(0, QColor(130, 138, 150));
    dome.setColorAt(1, QColor(28, 30, 36));
    p.setBrush(dome);
    p.setPen(QPen(QColor(20, 22, 26), 0.4));
    p.drawEllipse(QPointF(41, 21), 4.4, 4.4);

    // Woofer: silver ring, rubber surround, cone, dust cap.
    const QPointF w(41, 52);
    Knob(p, w, 16.5, kSilver);
    QRadialGradient surround(w - QPointF(2, 2), 16);
    surround.setColorAt(0.8, QColor(70, 74, 82));
    surround.setColorAt(1, QColor(22, 24, 28));
    p.setBrush(surround);
    p.setPen(Qt::NoPen);
    p.drawEllipse(w, 14.6, 14.6);
    QRadialGradient cone(w + QPointF(2, 2), 13);
    cone.setColorAt(0, QColor(20, 30, 50));
    cone.setColorAt(0.6, QColor(21, 70, 135));
    cone.setColorAt(1, QColor(40, 110, 190));
    p.setBrush(cone);
    p.setPen(QPen(QColor(15, 20, 30), 0.4));
    p.drawEllipse(w, 12, 12);
    QRadialGradient cap(w - QPointF(1.5, 1.5), 6);
    cap.setColorAt(0, QColor(235, 238, 244));
    cap.setColorAt(1, QColor(110, 116, 128));
    p.setBrush(cap);
    p.drawEllipse(w, 4.6, 4.6);
    // A bass port below the woofer, and the badge.
    p.setBrush(QColor(14, 15, 18));
    p.setPen(QPen(QColor(110, 116, 128), 0.5));
    p.drawRoundedRect(QRectF(34, 72, 14, 4.4), 2.2, 2.2);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent.lighter(130));
    p.drawRoundedRect(QRectF(53, 77, 5, 1.6), 0.6, 0.6);
}

// ---- 10. a device with a question mark -------------------------------------------------------

void unknownDevice(QPainter& p)
{
    FloorShadow(p, QPointF(45, 80), 25, 3.5);
    Body(p, QRectF(23, 7, 44, 72), 8, kSilver, 1.2);
    const QRectF screen(28, 13, 34, 44);
    Glass(p, screen, 2, true);

    // The question mark: a hook with a stem, and its dot.
    QPainterPath hook(QPointF(38.2, 26));
    hook.cubicTo(38.2, 19.5, 51.8, 19.5, 51.8, 26.5);
    hook.cubicTo(51.8, 31.5, 45, 32, 45, 37.5);
    hook.lineTo(45, 41);
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 140), 5.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(hook.translated(0.6, 0.6));
    QLinearGradient ink(0, 20, 0, 50);
    ink.setColorAt(0, kAccent.lighter(125));
    ink.setColorAt(1, kAccent.darker(130));
    p.setPen(QPen(QBrush(ink), 4.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(QPointF(45, 49), 2.8, 2.8);
    p.restore();

    // One button and two small keys, unlabelled.
    Knob(p, QPointF(45, 67.5), 5, QColor(170, 176, 186));
    Knob(p, QPointF(45, 67.5), 2.2, kAccent);
    Body(p, QRectF(29, 66.2, 6, 2.6), 1.2, QColor(150, 156, 166));
    Body(p, QRectF(55, 66.2, 6, 2.6), 1.2, QColor(150, 156, 166));
}

// ---- 11. a cordless telephone on its base ----------------------------------------------------

void cordlessPhone(QPainter& p)
{
    FloorShadow(p, QPointF(45, 81), 37, 4);
    // The base's raised back, behind the handset.
    QPainterPath back;
    back.moveTo(22, 62);
    back.quadTo(24, 50, 34, 50);
    back.lineTo(56, 50);
    back.quadTo(66, 50, 68, 62);
    back.closeSubpath();
    Body(p, back, kGraphite);

    // The handset, its stub antenna at the top left.
    Body(p, QRectF(35.5, 3, 4.6, 12), 2.2, kInk);
    Body(p, QRectF(34, 10, 22, 60), 6, QColor(222, 226, 232), 1.2);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(42 + i * 3, 14.5), 0.6, 0.6); // earpiece holes
    Glass(p, QRectF(37.5, 18, 15, 9), 1, true);
    p.setBrush(QColor(21, 70, 130));
    p.drawRect(QRectF(39.5, 20, 6, 1));
    p.drawRect(QRectF(39.5, 22.5, 9, 1));
    Body(p, QRectF(38, 29.5, 4.5, 2.6), 1.2, QColor(70, 150, 90));
    QPainterPath nav;
    nav.addEllipse(QPointF(45, 31), 2.8, 2);
    Body(p, nav, kAccent);
    Body(p, QRectF(47.5, 29.5, 4.5, 2.6), 1.2, QColor(180, 70, 60));
    keypad(p, 37.6, 35, 3, 4, 4.2, 3.2, 1.2, 1.5, QColor(120, 126, 138));

    // The base's front, hiding the handset's foot, with its charge light and page key.
    QPainterPath front;
    front.moveTo(14, 66);
    front.quadTo(14, 60, 22, 60);
    front.lineTo(68, 60);
    front.quadTo(76, 60, 76, 66);
    front.lineTo(78, 76);
    front.quadTo(79, 81, 73, 81);
    front.lineTo(17, 81);
    front.quadTo(11, 81, 12, 76);
    front.closeSubpath();
    Body(p, front, kGraphite);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(22, 25, 30));
    p.drawRoundedRect(QRectF(32, 59.5, 26, 2.4), 1.2, 1.2);
    QRadialGradient led(QPointF(67, 71), 2.4);
    led.setColorAt(0, QColor(200, 235, 255));
    led.setColorAt(0.5, QColor(60, 150, 240));
    led.setColorAt(1, QColor(60, 150, 240, 0));
    p.setBrush(led);
    p.drawEllipse(QPointF(67, 71), 2.4, 2.4);
    Body(p, QRectF(19, 69.5, 7, 3), 1.3, QColor(150, 156, 166));
}

} // namespace

bool WriteOptionPictures(const QString& resourcesDir)
{
    void (*const devices[11])(QPainter&) = {
        mp3Player, pda,            pocketPc,    mobilePhone,   cdPlayer,      radio,
        cassettePlayer, headphones, loudspeaker, unknownDevice, cordlessPhone,
    };
    const QString dir = resourcesDir + QStringLiteral("/options/");
    for (int i = 0; i < 11; ++i) {
        const QImage picture = Supersampled(QSize(kSize, kSize), Qt::white, devices[i]);
        const QString name = QStringLiteral("option%1.png").arg(i + 1, 2, 10, QLatin1Char('0'));
        if (!SaveImage(picture, dir + name, "PNG"))
            return false;
    }
    return true;
}

} // namespace Artwork
