#include "skinlayout.h"

#include <cmath>

namespace vardune {

SkinLayout SkinLayout::For(float W, float H)
{
    SkinLayout s;
    const float piece = 19, band = 30, button = 13;
    s.title = {16, 7, 0, 0};
    s.titleLeft = {0, 0, piece, band};
    s.titleRight = {W - 19, 0, piece, band};
    s.titleMain = {19, 0, W - 38, band};
    s.windowLeft = {0, 30, piece, H - 60};
    s.windowBottomLeft = {0, H - 30, piece, band};
    s.windowBottom = {19, H - 30, W - 38, band};
    s.windowBottomRight = {W - 19, H - 30, piece, band};
    s.windowRight = {W - 19, 30, piece, H - 60};
    s.titleClose = {W - 22, 8, button, button};
    s.titleMinimize = {W - 39, 8, button, button};
    s.titleHelp = {W - 56, 8, button, button};
    // Halves round to even, as the window system rounds the region's corner.
    s.regionWidth = static_cast<int>(std::nearbyint(W));
    s.regionHeight = static_cast<int>(std::nearbyint(H));
    return s;
}

} // namespace vardune
