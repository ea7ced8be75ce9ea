// The display's glyph strip: 18 cells of a slanted seven-segment display, 14 x 20 each.
//
// Every figure comes from one pixel map naming the segment each pixel belongs to, so a lit
// and an unlit figure have exactly the same shape. Unlit segments stay a faint trace, a checker
// of two dark cyan-greys, like the dark cells of a real display: the lit figure reads at a
// glance.

#include "artwork.h"

#include <QImage>

#include <string>

namespace Artwork {
namespace {

constexpr int kCellWidth = 14;
constexpr int kCellHeight = 20;
constexpr int kCells = 18;

// Colour table of the strip.
enum Ink : uint { Black = 0, Cyan = 1, UnlitDark = 2, UnlitLight = 3 };

// The upright figure, 8 x 18; letters are the segments (a top, b upper right, c lower right,
// d bottom, e lower left, f upper left, g middle). Strokes are two pixels thick, and segments
// meet only across a diagonal gap so each reads on its own.
constexpr int kFigureWidth = 8;
constexpr int kFigureHeight = 18;
const char* const kFigure[kFigureHeight] = {
    ".aaaaaa.",
    "f.aaaa.b",
    "ff....bb",
    "ff....bb",
    "ff....bb",
    "ff....bb",
    "ff....bb",
    "ff....bb",
    "f.gggg.b",
    "e.gggg.c",
    "ee....cc",
    "ee....cc",
    "ee....cc",
    "ee....cc",
    "ee....cc",
    "ee....cc",
    "e.dddd.c",
    ".dddddd.",
};

// Colon dots and the point, in the same upright frame.
const char* const kColon[kFigureHeight] = {
    "........", "........", "........", "...::...", "...::...", "........",
    "........", "........", "........", "........", "........", "........",
    "........", "...::...", "...::...", "........", "........", "........",
};

constexpr int kFigureTop = 1;  // the figure fills rows 1..18 of its cell
constexpr int kFigureLeft = 1;
// The slant: a row moves one pixel right for every five rows it lies above the baseline.
int slant(int figureRow)
{
    return (kFigureHeight - 1 - figureRow) / 5;
}

uint unlitInk(int x, int y)
{
    return ((x + y) & 1) ? UnlitDark : UnlitLight;
}

// Draws the pixels of `map` whose letter is in `lit` in cyan and those in `unlit` as unlit.
void drawFigure(QImage& strip, int cell, const char* const map[kFigureHeight],
                const std::string& lit, const std::string& unlit)
{
    for (int row = 0; row < kFigureHeight; ++row) {
        for (int col = 0; col < kFigureWidth; ++col) {
            const char segment = map[row][col];
            if (segment == '.')
                continue;
            const int x = cell * kCellWidth + kFigureLeft + slant(row) + col;
            const int y = kFigureTop + row;
            if (lit.find(segment) != std::string::npos)
                strip.setPixel(x, y, Cyan);
            else if (unlit.find(segment) != std::string::npos)
                strip.setPixel(x, y, unlitInk(x, y));
        }
    }
}

const std::string kAllSegments = "abcdefg";

std::string othersThan(const std::string& lit)
{
    std::string rest;
    for (char c : kAllSegments)
        if (lit.find(c) == std::string::npos)
            rest += c;
    return rest;
}

} // namespace

bool WriteGlyphStrip(const QString& resourcesDir)
{
    QImage strip(kCells * kCellWidth, kCellHeight, QImage::Format_Indexed8);
    strip.setColorTable({qRgb(0, 0, 0), qRgb(0, 255, 255), qRgb(18, 34, 38), qRgb(26, 48, 52)});
    strip.fill(Black);

    const char* const digits[10] = {"abcdef", "bc",    "abdeg", "abcdg",   "bcfg",
                                    "acdfg",  "acdefg", "abc",  "abcdefg", "abcdfg"};
    for (int d = 0; d < 10; ++d)
        drawFigure(strip, d, kFigure, digits[d], othersThan(digits[d]));
    drawFigure(strip, 10, kFigure, "", kAllSegments);  // blank figure
    drawFigure(strip, 11, kColon, ":", "");             // colon, lit
    drawFigure(strip, 12, kColon, "", ":");             // colon, unlit
    drawFigure(strip, 13, kFigure, "g", "");            // dash alone
    // cell 14 stays black
    drawFigure(strip, 15, kFigure, "g", othersThan("g")); // dash within a dark figure

    // The point: one pixel wide, the two bottom rows of its cell.
    const int pointX = 6;
    for (int y = kCellHeight - 2; y < kCellHeight; ++y) {
        strip.setPixel(16 * kCellWidth + pointX, y, Cyan);
        strip.setPixel(17 * kCellWidth + pointX, y, unlitInk(pointX, y));
    }
    return SaveImage(strip, resourcesDir + QStringLiteral("/glyphs/glyphstrip.png"), "PNG");
}

} // namespace Artwork
