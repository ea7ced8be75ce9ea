#include "mainlayout.h"

#include <gtest/gtest.h>

using namespace vardune;

namespace {

LayoutFrame DesignedFrame(float width = 10215, float height = 5835)
{
    LayoutFrame f;
    f.scaleWidth = width;
    f.scaleHeight = height;
    f.toolbarTop = 0;
    f.toolbarHeight = 855;
    f.statusHeight = 315;
    f.statusTop = height - 315;
    return f;
}

// The window after load and show: tree width set to 0.4 of the client, first pass, resize.
MainGeometry Shown(const LayoutFrame& f)
{
    MainGeometry g = MainGeometry::Designed();
    g.tree.width = 0.4f * f.scaleWidth;
    EXPECT_TRUE(g.InitForm(f));
    g.Resize(f);
    return g;
}

void ExpectRect(const TwipsRect& r, float left, float top, float width, float height, const char* what)
{
    EXPECT_FLOAT_EQ(r.left, left) << what;
    EXPECT_FLOAT_EQ(r.top, top) << what;
    EXPECT_FLOAT_EQ(r.width, width) << what;
    EXPECT_FLOAT_EQ(r.height, height) << what;
}

} // namespace

TEST(MainLayout, DesignedWindowAfterLoadAndShow)
{
    const MainGeometry g = Shown(DesignedFrame());
    ExpectRect(g.tree, 0, 855, 4086, 1815, "tree");
    ExpectRect(g.splitV, 0, 2670, 4086, 50, "SplitV");
    ExpectRect(g.picture2, 0, 2720, 4086, 435, "Picture2");
    ExpectRect(g.fileView, 0, 3155, 4086, 2365, "XListView1");
    ExpectRect(g.splitH, 4086, 855, 50, 4665, "SplitH");
    ExpectRect(g.list, 4136, 855, 6079, 3930, "ListView1");
    ExpectRect(g.picture1, 4136, 4785, 6079, 735, "Picture1");
    ExpectRect(g.combo, 735, 0, 3251, 360, "ComboBox1");
    ExpectRect(g.text1, 720, 0, 5404, 675, "Text1");
}

TEST(MainLayout, FirstPassUsesItsOwnBarWidths)
{
    const LayoutFrame f = DesignedFrame();
    MainGeometry g = MainGeometry::Designed();
    g.tree.width = 4086;
    ASSERT_TRUE(g.InitForm(f));
    ExpectRect(g.splitV, 0, 2670, 4086, 80, "SplitV");
    ExpectRect(g.combo, 0, 2750, 3351, 360, "ComboBox1");
    ExpectRect(g.fileView, 0, 3110, 4086, 2410, "XListView1");
    ExpectRect(g.splitH, 4086, 855, 80, 4665, "SplitH");
    ExpectRect(g.list, 4166, 855, 6049, 3930, "ListView1");
}

TEST(MainLayout, SplitterDragLimits)
{
    const struct {
        float size, offset, extent;
        bool accepted;
    } cases[] = {
        {4086, -3886, 10215, false}, // 200: refused
        {4086, -3885, 10215, true},  // 201: accepted
        {4086, 5929, 10215, false},  // 10015: within 200 of the far edge
        {4086, 5928, 10215, true},   // 10014
        {1815, -1615, 5835, false},
        {1815, 0, 5835, true},
    };
    for (const auto& c : cases) {
        const auto r = SplitDrag(c.size, c.offset, c.extent);
        EXPECT_EQ(r.has_value(), c.accepted) << c.size + c.offset;
        if (r) {
            EXPECT_FLOAT_EQ(*r, c.size + c.offset);
        }
    }
}

TEST(MainLayout, ResizingGivesTheExtraRoomToTheListAndTheFileView)
{
    MainGeometry g = Shown(DesignedFrame());
    g.Resize(DesignedFrame(15000, 8000));
    EXPECT_FLOAT_EQ(g.tree.width, 4086);
    EXPECT_FLOAT_EQ(g.tree.height, 1815);
    EXPECT_FLOAT_EQ(g.list.width, 15000 - 4136);
    EXPECT_FLOAT_EQ(g.fileView.height, 3155 + 2365 + (8000 - 5835) - 3155);
    EXPECT_FLOAT_EQ(g.text1.width, 15000 - 4136 - 675);
}

TEST(MainLayout, ATinyWindowKeepsThePreviousSizes)
{
    MainGeometry g = Shown(DesignedFrame());
    g.Resize(DesignedFrame(3000, 1500));
    EXPECT_FLOAT_EQ(g.list.width, 6079) << "a negative width is refused";
    EXPECT_FLOAT_EQ(g.fileView.height, 2365) << "a negative height is refused";
    EXPECT_FLOAT_EQ(g.list.left, 4136);
    EXPECT_FLOAT_EQ(g.picture1.top, g.list.top + g.list.height);
}

// A window made smaller than the panes the user left: the tree gives way so that the list
// and the file view keep their least room, as far as the tree can keep its own.
TEST(MainLayout, TheTreeGivesWayInASmallWindow)
{
    MainGeometry g = Shown(DesignedFrame(15000, 9000));
    g.tree.width = 12000;
    g.tree.height = 6000;
    const LayoutFrame small = DesignedFrame(7650, 5000);
    g.KeepPanesIn(small);
    g.Resize(small);
    EXPECT_FLOAT_EQ(g.list.width, MainGeometry::kLeastPane);
    EXPECT_FLOAT_EQ(g.list.left + g.list.width, 7650);
    EXPECT_FLOAT_EQ(g.fileView.height, MainGeometry::kLeastPane);
    EXPECT_FLOAT_EQ(g.fileView.top + g.fileView.height, small.statusTop);
    // Panes that fit are the user's: left as they are.
    MainGeometry kept = Shown(DesignedFrame());
    const TwipsRect tree = kept.tree;
    kept.KeepPanesIn(DesignedFrame());
    EXPECT_FLOAT_EQ(kept.tree.width, tree.width);
    EXPECT_FLOAT_EQ(kept.tree.height, tree.height);
    // Too small for both: the tree keeps its least size too.
    g.KeepPanesIn(DesignedFrame(2000, 2000));
    EXPECT_FLOAT_EQ(g.tree.width, MainGeometry::kLeastPane);
    EXPECT_FLOAT_EQ(g.tree.height, MainGeometry::kLeastPane);
}
