#pragma once
#include "mainlayout.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace vardune {

// How the user left the main window, kept from one run to the next: where it stood and how
// large it was when not maximised, whether it was maximised, the widths of the Vardo list's
// columns, and where the user left the two splitter bars (the folder tree's width and
// height); lengths in twips. What was never stored, or does not read back as whole
// numbers of a sane size, is absent, and the window opens as designed.
struct WindowPlacement {
    static constexpr std::size_t kColumns = 7;

    std::optional<TwipsRect> normal;
    bool maximized = false;
    std::vector<float> columnWidths;  // all seven, or none
    std::optional<float> treeWidth;
    std::optional<float> treeHeight;

    // The texts of the settings keys, in their order: left, top, width, height, maximised,
    // column widths ("300,1500,2500,1000,2500,1000,1000"), tree width, tree height.
    using Texts = std::array<std::string, 8>;
    static WindowPlacement FromTexts(const Texts& texts);
    Texts ToTexts() const;

    // How much larger than designed a window opens that has no placement yet, on a screen
    // whose free area is availableWidth x availableHeight: its proportions kept, about two
    // thirds of that area across or down, whichever comes first; never smaller than designed.
    // Any unit, as long as all four share it.
    static float FirstStartScale(float availableWidth, float availableHeight, float designedWidth,
                                 float designedHeight);

    // A window's place on the desktop, in pixels.
    struct Box {
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
        bool operator==(const Box& other) const
        {
            return left == other.left && top == other.top && width == other.width && height == other.height;
        }
    };
    // A restored window fitted to the free area of the screen it comes back on (kept at
    // another scale, or on a larger screen): no larger than that area, and moved inside it,
    // the least way. A window that fits stays as it was.
    static Box Fitted(const Box& window, const Box& available);
};

} // namespace vardune
