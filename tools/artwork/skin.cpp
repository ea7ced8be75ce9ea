// The borderless window's frame, cut into the pieces the window stretches and places.
//
// All eight frame pieces are cut from one small window drawn whole, so corners, edges and the
// title band share one light and one bevel and meet without seams. The light falls from the
// top left: edges facing it are lighter, edges facing away darker.

#include "artwork.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace Artwork {
namespace {

const QRgb kTitleBlue = qRgb(21, 98, 175);
const QRgb kFrameGrey = qRgb(207, 207, 207);
// The window paints this colour nowhere; pixels outside the rounding carry it.
const QRgb kOutside = qRgb(255, 0, 255);

constexpr int kEdge = 19;   // width of the side edges
constexpr int kBand = 30;   // height of the title band and of the bottom band
constexpr int kRadius = 12; // the window region's corner: a 24 x 24 ellipse
constexpr int kWholeWidth = 3 * kEdge;
constexpr int kWholeHeight = 3 * kBand;

QRgb mix(QRgb from, QRgb to, double amount)
{
    amount = std::clamp(amount, 0.0, 1.0);
    const auto channel = [amount](int a, int b) {
        return static_cast<int>(std::lround(a + (b - a) * amount));
    };
    return qRgb(channel(qRed(from), qRed(to)), channel(qGreen(from), qGreen(to)),
                channel(qBlue(from), qBlue(to)));
}

// How far a point lies inside a rounded outline, and which way that outline faces there.
struct Facing {
    double depth;
    double nx, ny;
};

Facing outerEdge(double px, double py)
{
    const double cx = std::clamp(px, double(kRadius), double(kWholeWidth - kRadius));
    const double cy = std::clamp(py, double(kRadius), double(kWholeHeight - kRadius));
    if (cx != px && cy != py) {
        const double dx = px - cx, dy = py - cy;
        const double r = std::hypot(dx, dy);
        return {kRadius - r, dx / r, dy / r};
    }
    Facing best{px, -1, 0};
    if (kWholeWidth - px < best.depth)
        best = {kWholeWidth - px, 1, 0};
    if (py < best.depth)
        best = {py, 0, -1};
    if (kWholeHeight - py < best.depth)
        best = {kWholeHeight - py, 0, 1};
    return best;
}

// The frame's inner edge, around the window's content; it faces into the content.
Facing innerEdge(double px, double py)
{
    const double left = kEdge, right = kWholeWidth - kEdge;
    const double top = kBand, bottom = kWholeHeight - kBand;
    const double qx = std::clamp(px, left, right), qy = std::clamp(py, top, bottom);
    const double dx = qx - px, dy = qy - py;
    const double d = std::hypot(dx, dy);
    if (d == 0)
        return {0, 0, 0};
    return {d, dx / d, dy / d};
}

// Light from the top left: +1 for an edge facing it, -1 for one facing away.
double lightOn(const Facing& f)
{
    return std::clamp(-(f.nx + f.ny) / std::sqrt(2.0) * 1.4, -1.0, 1.0);
}

QRgb shade(QRgb base, double light, double strength)
{
    if (light > 0)
        return mix(base, qRgb(255, 255, 255), 0.8 * light * strength);
    return mix(base, qRgb(0, 0, 0), 0.55 * -light * strength);
}

QRgb framePixel(int x, int y)
{
    const double px = x + 0.5, py = y + 0.5;
    const Facing outer = outerEdge(px, py);
    if (outer.depth < 0)
        return kOutside;

    QRgb colour = kFrameGrey;
    if (y < kBand) {
        colour = kTitleBlue;
        // A soft gloss over the upper part of the title band.
        const double gloss = 1.0 - py / 13.0;
        if (gloss > 0)
            colour = mix(colour, qRgb(255, 255, 255), 0.38 * gloss * gloss);
    }
    colour = shade(colour, lightOn(outer), std::max(0.0, 1.0 - outer.depth / 4.0));
    const Facing inner = innerEdge(px, py);
    if (inner.depth > 0)
        colour = shade(colour, lightOn(inner), std::max(0.0, 1.0 - inner.depth / 2.0));
    return colour;
}

QImage wholeFrame()
{
    QImage image(kWholeWidth, kWholeHeight, QImage::Format_RGB32);
    for (int y = 0; y < kWholeHeight; ++y)
        for (int x = 0; x < kWholeWidth; ++x)
            image.setPixel(x, y, framePixel(x, y));
    return image;
}

// A title button: a blue glass bead on the title blue, carrying a black sign.
QImage titleButton(const char* const sign[7])
{
    QImage image(13, 13, QImage::Format_RGB32);
    image.fill(kTitleBlue);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF face(0.5, 0.5, 12, 12);
    p.setPen(QPen(QColor(10, 52, 98), 1.0));
    p.setBrush(QColor(kTitleBlue));
    p.drawEllipse(face);

    // Highlight on the upper half, fading out before the middle.
    QLinearGradient gloss(0, 1.5, 0, 7);
    gloss.setColorAt(0, QColor(255, 255, 255, 190));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QRectF(2.5, 1.3, 8, 5.5));
    // A faint glow at the bottom, as light through glass.
    QRadialGradient glow(6.5, 11, 4);
    glow.setColorAt(0, QColor(120, 185, 245, 120));
    glow.setColorAt(1, QColor(120, 185, 245, 0));
    p.setBrush(glow);
    p.drawEllipse(QRectF(2, 7, 9, 5));
    p.end();

    for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 7; ++col)
            if (sign[row][col] == '#')
                image.setPixel(3 + col, 3 + row, qRgb(0, 0, 0));
    return image;
}

const char* const kMinus[7] = {
    ".......",
    ".......",
    ".......",
    "#######",
    "#######",
    ".......",
    ".......",
};
const char* const kCross[7] = {
    "##...##",
    "###.###",
    ".#####.",
    "..###..",
    ".#####.",
    "###.###",
    "##...##",
};
const char* const kQuestion[7] = {
    ".#####.",
    "##...##",
    ".....##",
    "...###.",
    "..##...",
    ".......",
    "..##...",
};

} // namespace

bool WriteSkin(const QString& resourcesDir)
{
    const QImage whole = wholeFrame();
    struct Piece {
        const char* name;
        int column, row;
    };
    const Piece pieces[] = {
        {"imgTitleLeft", 0, 0},         {"imgTitleMain", 1, 0},
        {"imgTitleRight", 2, 0},        {"imgWindowLeft", 0, 1},
        {"imgWindowRight", 2, 1},       {"imgWindowBottomLeft", 0, 2},
        {"imgWindowBottom", 1, 2},      {"imgWindowBottomRight", 2, 2},
    };
    const QString dir = resourcesDir + QStringLiteral("/skin/");
    for (const Piece& piece : pieces) {
        const QImage cut = whole.copy(piece.column * kEdge, piece.row * kBand, kEdge, kBand);
        if (!SaveImage(cut, dir + QLatin1String(piece.name) + QStringLiteral(".png"), "PNG"))
            return false;
    }
    return SaveImage(titleButton(kMinus), dir + QStringLiteral("imgTitleMinimize.png"), "PNG")
           && SaveImage(titleButton(kCross), dir + QStringLiteral("imgTitleClose.png"), "PNG")
           && SaveImage(titleButton(kQuestion), dir + QStringLiteral("imgTitleHelp.png"), "PNG");
}

} // namespace Artwork
