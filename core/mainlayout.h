#pragma once
#include <optional>

namespace vardune {

// Placement of one pane in twips. Sizes are only ever set to values of 0 or more: a pane
// that would get a negative size keeps the size it had, as a control refuses such a value.
struct TwipsRect {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
};

// What the main window's layout reads but never sets: the client area, the docked bars and
// the fixed heights of the strips, all in twips.
struct LayoutFrame {
    float scaleWidth = 0;
    float scaleHeight = 0;
    float toolbarTop = 0;
    float toolbarHeight = 0;
    float statusTop = 0;
    float statusHeight = 0;
};

// The panes of the main window. The tree's width and height are the user's: only the load
// and the splitter bars change them. The strips keep their own heights.
struct MainGeometry {
    TwipsRect tree;      // XTreeView1
    TwipsRect splitV;    // bar under the tree
    TwipsRect picture2;  // file-type strip
    TwipsRect combo;     // ComboBox1, inside the strip
    TwipsRect fileView;  // XListView1
    TwipsRect splitH;    // bar between the columns
    TwipsRect list;      // ListView1
    TwipsRect picture1;  // output-path strip
    TwipsRect text1;     // Text1, inside the strip
    float command1Width = 675;
    float label1Width = 735;  // Label1 "Type:" keeps its designed size

    // The designed sizes of a new window, before the load sets the tree's width.
    static MainGeometry Designed();

    // The first pass, run while the window loads. Returns false when a pane refused a size.
    bool InitForm(const LayoutFrame& frame);
    // The pass that runs on every resize and every mouse move over a splitter bar.
    void Resize(const LayoutFrame& frame);
    // A window made smaller than the panes the user left: the tree gives way, as far as it
    // can keep kLeastPane itself, so that the list keeps kLeastPane across and the file view
    // kLeastPane down. Run before Resize.
    void KeepPanesIn(const LayoutFrame& frame);
    static constexpr float kLeastPane = 1500;
    // The strips place their own children when their width changes.
    void Picture2Resize();
    void Picture1Resize();
};

// The new tree size for a drag of offset twips from the bar's own edge, or nothing when the
// tree would be 200 twips or less, or come within 200 twips of the client's far edge.
std::optional<float> SplitDrag(float treeSize, float offset, float scaleExtent);

} // namespace vardune
