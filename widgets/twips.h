#pragma once
#include "mainlayout.h"

#include <QRect>
#include <cmath>

// The main window lays out in twips, 15 to a pixel at 96 dots per inch, and applies the
// result in pixels. Edges are rounded, not sizes, so neighbouring panes never gap.
namespace Twips {
inline constexpr float kPerPixel = 15.0f;

inline float FromPixels(double pixels) { return static_cast<float>(pixels) * kPerPixel; }
inline int ToPixels(float twips) { return static_cast<int>(std::lround(twips / kPerPixel)); }
inline QRect ToRect(const vardune::TwipsRect& r)
{
    const int left = ToPixels(r.left);
    const int top = ToPixels(r.top);
    return QRect(left, top, ToPixels(r.left + r.width) - left, ToPixels(r.top + r.height) - top);
}
} // namespace Twips
