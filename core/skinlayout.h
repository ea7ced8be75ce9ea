#pragma once

namespace vardune {

// Where the frame pieces of a borderless skinned window go, in pixels, for a window W x H
// pixels large (fractional when the screen is not at 96 dots per inch).
struct SkinLayout {
    struct Piece {
        float left = 0;
        float top = 0;
        float width = 0;
        float height = 0;
    };
    Piece titleLeft, titleRight, titleMain;
    Piece windowLeft, windowBottomLeft, windowBottom, windowBottomRight, windowRight;
    Piece titleClose, titleMinimize, titleHelp;
    Piece title;  // the title text's top-left corner
    // The rounded outline: from (0, 0) to (regionWidth, regionHeight), corner ellipse 24 x 24.
    int regionWidth = 0;
    int regionHeight = 0;
    static constexpr int kCornerEllipse = 24;

    static SkinLayout For(float width, float height);
};

} // namespace vardune
