#pragma once
#include "mainlayout.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace vardune {

// How the user left the main window, kept from one run to the next: where it stood and how
// large it was when not maximised, whether it was maximised, and the widths of the Vardo
// list's columns; lengths in twips. What was never stored, or does not read back as whole
// numbers of a sane size, is absent, and the window opens as designed.
struct WindowPlacement {
    static constexpr std::size_t kColumns = 7;

    std::optional<TwipsRect> normal;
    bool maximized = false;
    std::vector<float> columnWidths;  // all seven, or none

    // The texts of the settings keys, in their order: left, top, width, height, maximised,
    // column widths ("300,1500,2500,1000,2500,1000,1000").
    using Texts = std::array<std::string, 6>;
    static WindowPlacement FromTexts(const Texts& texts);
    Texts ToTexts() const;
};

} // namespace vardune
