#pragma once
// Shared pieces for the device pictures and the product art: one light from the top left, one
// palette, and parts (bodies, glass, buttons, cables) drawn the same way everywhere.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSize>

#include <functional>

namespace Artwork {
namespace Kit {

const QColor kAccent(21, 98, 175); // the program's title blue
const QColor kSilver(204, 208, 214);
const QColor kGraphite(66, 71, 80);
const QColor kInk(34, 37, 43);

// Paints at `factor` times the size and shrinks with area averaging, so thin parts and small
// details keep smooth edges; the painter works in the final picture's pixels.
QImage Supersampled(QSize size, const QColor& background, const std::function<void(QPainter&)>& draw,
                    int factor = 4);

// A surface lit from the top left: lighter there, darker towards the bottom right.
QLinearGradient Lit(const QRectF& box, const QColor& base, double contrast = 1.0);

// A solid part: lit fill, a highlight along the edges facing the light, a thin darker outline.
void Body(QPainter& p, const QPainterPath& shape, const QColor& base, double contrast = 1.0);
void Body(QPainter& p, const QRectF& box, double radius, const QColor& base, double contrast = 1.0);

// The soft shadow a device casts on the white table it stands on.
void FloorShadow(QPainter& p, QPointF centre, double rx, double ry, double strength = 0.32);

// A display: dark glass, or a lit panel when `lit`, with the sheen of the light across it.
void Glass(QPainter& p, const QRectF& box, double radius, bool lit);

// A round button or knob, domed towards the light.
void Knob(QPainter& p, QPointF centre, double r, const QColor& base);

// A cable along `path`, with a thin highlight on its lit side.
void Cable(QPainter& p, const QPainterPath& path, double width = 1.1);

// An earphone bud facing the viewer at `angle` degrees.
void Earbud(QPainter& p, QPointF centre, double r, double angle);

// The pocket player shared by the option picture and the product art, its body in the
// 24..56 x 10..70 box of a 90 x 90 picture; the earphones' cable leaves its foot at (33, 70)
// and the buds sit to its right, within 86 x 86.
void PocketPlayer(QPainter& p, bool withEarphones);

// Block capitals drawn as strokes, `height` tall, starting at `origin` (top left); returns the
// advance. Only the letters of the product name are known.
double Lettering(QPainter& p, const QString& word, QPointF origin, double height, double spacing);
double LetteringWidth(const QString& word, double height, double spacing);

} // namespace Kit
} // namespace Artwork
