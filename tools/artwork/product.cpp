// The product art: the pocket player of the options, music flowing into it and narrowing as it
// goes, on a deep blue ground, with the name set small in drawn capitals.
//
// The program writes the version in white bold across each picture, so a band of each is kept
// dark and empty: on the product picture the band lies above the player, on the smaller splash
// below it. Both are drawn by one composition that puts the player on whichever side of the
// band has more room.

#include "artwork.h"
#include "kit.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace Artwork {
namespace {

using namespace Kit;

struct Layout {
    QSize size;
    double bandTop, bandBottom; // where the version text goes
};

const Layout kProduct{QSize(196, 193), 64, 96};
const Layout kSplash{QSize(192, 190), 100, 132};

void background(QPainter& p, const Layout& l)
{
    const double h = l.size.height();
    const QColor bright(30, 96, 178), deep(14, 50, 108), band(7, 26, 64);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, l.bandTop > h / 2 ? bright : deep);
    // Long ramps into the band, so it reads as dusk in the picture rather than a stripe.
    g.setColorAt(std::max(0.0, l.bandTop - 26) / h, deep);
    g.setColorAt((l.bandTop + 2) / h, band);
    g.setColorAt((l.bandBottom - 2) / h, band);
    g.setColorAt(std::min(h, l.bandBottom + 26) / h, deep);
    g.setColorAt(1, l.bandTop > h / 2 ? deep : bright);
    p.fillRect(QRectF(QPointF(0, 0), l.size), g);
}

// A note with a flag, `size` tall from the head's centre to the stem's top.
void note(QPainter& p, QPointF head, double size, const QColor& ink)
{
    p.save();
    p.translate(head);
    p.scale(size / 10, size / 10);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.save();
    p.rotate(-22);
    p.drawEllipse(QPointF(0, 0), 1.75, 1.2);
    p.restore();
    p.drawRect(QRectF(1.15, -10, 0.5, 9.8));
    QPainterPath flag(QPointF(1.65, -10));
    flag.cubicTo(1.9, -7.6, 5.2, -7, 4.2, -3.6);
    flag.cubicTo(4.6, -6, 2.6, -6.6, 1.65, -7);
    flag.closeSubpath();
    p.drawPath(flag);
    p.restore();
}

// Two beamed notes.
void notePair(QPainter& p, QPointF head, double size, const QColor& ink)
{
    p.save();
    p.translate(head);
    p.scale(size / 10, size / 10);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    for (const QPointF& h : {QPointF(0, 0), QPointF(5, -1.5)}) {
        p.save();
        p.translate(h);
        p.rotate(-22);
        p.drawEllipse(QPointF(0, 0), 1.75, 1.2);
        p.restore();
        p.drawRect(QRectF(h.x() + 1.15, h.y() - 9.5 + (h.x() > 0 ? -0.3 : 0), 0.5, 9.3 + (h.x() > 0 ? 0.3 : 0)));
    }
    QPainterPath beam(QPointF(1.15, -9.5));
    beam.lineTo(6.65, -11.3);
    beam.lineTo(6.65, -9.8);
    beam.lineTo(1.15, -8.0);
    beam.closeSubpath();
    p.drawPath(beam);
    p.restore();
}

// Waves that enter wide at the left and narrow into `mouth`, the way a song is made to fit
// the player.
void narrowingWaves(QPainter& p, double fromX, double centreY, QPointF mouth, double spread)
{
    p.save();
    p.setBrush(Qt::NoBrush);
    for (int k = 0; k < 4; ++k) {
        QPainterPath wave;
        const double phase = k * 0.9;
        const double lane = (k - 1.5) / 1.5; // -1 .. 1
        for (int i = 0; i <= 120; ++i) {
            const double t = i / 120.0;
            const double x = fromX + (mouth.x() - fromX) * t;
            const double squeeze = std::pow(1 - t, 1.3);
            const double mid = centreY + (mouth.y() - centreY) * (t * t * (3 - 2 * t));
            const double y = mid + lane * spread * 0.5 * squeeze
                             + std::sin(t * 15 + phase) * spread * 0.22 * squeeze;
            i == 0 ? wave.moveTo(x, y) : wave.lineTo(x, y);
        }
        QLinearGradient fade(fromX, 0, mouth.x(), 0);
        fade.setColorAt(0, QColor(120, 190, 255, 30));
        fade.setColorAt(0.5, QColor(150, 210, 255, 120));
        fade.setColorAt(1, QColor(200, 235, 255, 200));
        p.setPen(QPen(QBrush(fade), 1.0 + 0.25 * (k % 2), Qt::SolidLine, Qt::RoundCap));
        p.drawPath(wave);
    }
    p.restore();
}

// A calm wide waveform and the name, for the side of the band without the player.
void nameplate(QPainter& p, const Layout& l, double top, double bottom)
{
    const double w = l.size.width();
    const double mid = (top + bottom) / 2;
    // A quiet level trace across the picture, its bars shrinking towards the right.
    p.save();
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 46; ++i) {
        const double x = 10 + i * (w - 20) / 45;
        const double t = i / 45.0;
        const double level = (0.35 + 0.65 * std::fabs(std::sin(i * 0.63) * std::cos(i * 0.21)))
                             * (1 - 0.7 * t) * (bottom - top) * 0.42;
        p.setBrush(QColor(120, 185, 250, 46));
        p.drawRoundedRect(QRectF(x - 0.9, mid - level, 1.8, 2 * level), 0.9, 0.9);
    }
    p.restore();

    const double height = 9;
    const double spacing = 0.55;
    const double width = LetteringWidth(QStringLiteral("VARDUNE"), height, spacing);
    const QPointF origin((w - width) / 2, mid - height / 2);
    p.save();
    p.setPen(QPen(QColor(5, 20, 50, 150), 2.0));
    Lettering(p, QStringLiteral("VARDUNE"), origin + QPointF(0.6, 0.8), height, spacing);
    p.setPen(QPen(QColor(225, 238, 252, 215), 1.6));
    Lettering(p, QStringLiteral("VARDUNE"), origin, height, spacing);
    p.restore();
}

void productArt(QPainter& p, const Layout& l)
{
    background(p, l);
    const double w = l.size.width(), h = l.size.height();
    const bool playerBelow = h - l.bandBottom > l.bandTop;
    const double top = playerBelow ? l.bandBottom + 2 : 0;
    const double bottom = playerBelow ? h : l.bandTop - 2;

    // The player at the right of its side, drawn in the options' 90-unit frame.
    const double scale = (bottom - top) / 86.0;
    const QPointF frame(w * 0.62 - 40 * scale, top + 2 - 9 * scale);
    const auto at = [&](QPointF unit) { return frame + unit * scale; };

    // A glow behind the player and a shadow it casts on the ground.
    // Small enough to fade out before the band.
    QRadialGradient glow(at(QPointF(42, 46)), 46 * scale);
    glow.setColorAt(0, QColor(70, 150, 235, 150));
    glow.setColorAt(1, QColor(70, 150, 235, 0));
    p.fillRect(QRectF(0, 0, w, h), glow);

    const QPointF screen = at(QPointF(40, 24));
    narrowingWaves(p, -4, screen.y() + (bottom - top) * 0.22, screen, (bottom - top) * 0.55);
    notePair(p, QPointF(12, screen.y() + (bottom - top) * 0.42), 17, QColor(225, 240, 255, 150));
    note(p, QPointF(w * 0.22, screen.y() + (bottom - top) * 0.02), 12, QColor(225, 240, 255, 185));
    note(p, at(QPointF(12, 34)), 8, QColor(225, 240, 255, 220));

    p.save();
    p.translate(frame);
    p.scale(scale, scale);
    p.translate(40, 40);
    p.rotate(-6);
    p.translate(-40, -40);
    QRadialGradient shadow(QPointF(44, 44), 40);
    shadow.setColorAt(0, QColor(0, 10, 30, 110));
    shadow.setColorAt(1, QColor(0, 10, 30, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(QPointF(44, 44), 40, 40);
    PocketPlayer(p, true);
    p.restore();

    if (playerBelow)
        nameplate(p, l, 4, l.bandTop - 4);
    else
        nameplate(p, l, l.bandBottom + 4, h - 4);
}

bool write(const Layout& layout, const QString& path)
{
    const QImage picture = Supersampled(layout.size, Qt::black, [&](QPainter& p) { productArt(p, layout); });
    return SaveImage(picture, path, "PNG");
}

} // namespace

bool WriteProductPictures(const QString& resourcesDir)
{
    const QString dir = resourcesDir + QStringLiteral("/pictures/");
    return write(kProduct, dir + QStringLiteral("product.png")) && write(kSplash, dir + QStringLiteral("splash.png"));
}

} // namespace Artwork
