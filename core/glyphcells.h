#pragma once

namespace vardune {

// The glyph strip of the LCD readouts: 18 cells of 14 x 20 pixels side by side.
struct GlyphStrip {
    static constexpr int kCells = 18;
    static constexpr int kCellWidth = 14;
    static constexpr int kCellHeight = 20;
    // The cell that shows a character, looked up after upper-casing; -1 when no cell does
    // (the readout then leaves that position blank).
    static int Cell(char32_t character);
};

} // namespace vardune
