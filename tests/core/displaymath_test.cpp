#include "glyphcells.h"
#include "progressstep.h"
#include "skinlayout.h"

#include <gtest/gtest.h>

using namespace vardune;

TEST(GlyphStrip, CharacterToCellTable)
{
    const std::u32string shown = U"0123456789 :;-'.,";
    for (std::size_t k = 0; k < shown.size(); ++k)
        EXPECT_EQ(GlyphStrip::Cell(shown[k]), static_cast<int>(k));
    for (char32_t unmapped : {U'a', U'A', U'/', U'+', U'_', U'ä', U'\0'})
        EXPECT_EQ(GlyphStrip::Cell(unmapped), -1);
}

TEST(ProgressStep, WidthsAndPicks)
{
    EXPECT_EQ(ProgressStep::Width(5, 304), 15);
    EXPECT_EQ(ProgressStep::Width(33, 304), 100);
    EXPECT_EQ(ProgressStep::Width(100, 304), 304);
    EXPECT_EQ(ProgressStep::Width(1, 304), 3);
    EXPECT_EQ(ProgressStep::Pick(0.0f, 10), 1);
    EXPECT_EQ(ProgressStep::Pick(0.95f, 10), 10);
    EXPECT_EQ(ProgressStep::Pick(0.99999994f, 10), 10);
}

TEST(SkinLayout, PiecesOfA345By352Window)
{
    const SkinLayout s = SkinLayout::For(345, 352);
    for (const auto* p : {&s.titleRight, &s.windowRight, &s.windowBottomRight})
        EXPECT_EQ(p->left, 326);
    for (const auto* p : {&s.titleMain, &s.windowBottom}) {
        EXPECT_EQ(p->left, 19);
        EXPECT_EQ(p->width, 307);
    }
    for (const auto* p : {&s.windowLeft, &s.windowRight}) {
        EXPECT_EQ(p->top, 30);
        EXPECT_EQ(p->height, 292);
    }
    for (const auto* p : {&s.windowBottomLeft, &s.windowBottom, &s.windowBottomRight})
        EXPECT_EQ(p->top, 322);
    EXPECT_EQ(s.titleClose.left, 323);
    EXPECT_EQ(s.titleMinimize.left, 306);
    EXPECT_EQ(s.titleHelp.left, 289);
    EXPECT_EQ(s.titleClose.top, 8);
    EXPECT_EQ(s.regionWidth, 345);
    EXPECT_EQ(s.regionHeight, 352);
}

TEST(SkinLayout, FractionalWindowAt120Dpi)
{
    const SkinLayout s = SkinLayout::For(5175.0f / 12, 5280.0f / 12);
    EXPECT_FLOAT_EQ(s.titleRight.left, 412.25f);
    EXPECT_FLOAT_EQ(s.titleMain.width, 393.25f);
    EXPECT_EQ(s.regionWidth, 431);
    EXPECT_EQ(s.regionHeight, 440);
    EXPECT_EQ(SkinLayout::For(430.5f, 10).regionWidth, 430);  // halves to even
    EXPECT_EQ(SkinLayout::For(431.5f, 10).regionWidth, 432);
}
