#include "mainlayout.h"

#include <algorithm>

namespace vardune {

namespace {
// A control refuses a negative size and keeps its previous one.
bool SetSize(float& field, float value)
{
    if (value < 0)
        return false;
    field = value;
    return true;
}
} // namespace

MainGeometry MainGeometry::Designed()
{
    MainGeometry g;
    g.tree.height = 1815;
    g.picture2.height = 435;
    g.combo.height = 360;
    g.picture1.height = 735;
    g.text1 = {720, 0, 0, 675};
    return g;
}

bool MainGeometry::InitForm(const LayoutFrame& f)
{
    bool ok = true;
    tree.top = f.toolbarHeight + f.toolbarTop;
    tree.left = 0;

    splitV.top = tree.height + tree.top;
    splitV.left = 0;
    ok &= SetSize(splitV.width, tree.width);
    ok &= SetSize(splitV.height, 80);

    combo.top = splitV.top + splitV.height;
    combo.left = 0;
    ok &= SetSize(combo.width, tree.width - label1Width);

    fileView.top = combo.top + combo.height;
    fileView.left = 0;
    ok &= SetSize(fileView.width, tree.width);
    ok &= SetSize(fileView.height, f.statusTop - fileView.top);

    splitH.top = tree.top;
    splitH.left = tree.width + tree.left;
    ok &= SetSize(splitH.width, 80);
    ok &= SetSize(splitH.height, f.statusTop - splitH.top);

    list.top = tree.top;
    list.left = splitH.width + splitH.left;
    ok &= SetSize(list.width, f.scaleWidth - list.left);
    ok &= SetSize(list.height, f.statusTop - list.top - picture1.height);

    picture1.top = list.height + list.top;
    picture1.left = list.left;
    ok &= SetSize(picture1.width, list.width);
    Picture1Resize();
    return ok;
}

void MainGeometry::Resize(const LayoutFrame& f)
{
    tree.top = f.toolbarHeight + f.toolbarTop;
    tree.left = 0;

    splitV.top = tree.height + tree.top;
    splitV.left = 0;
    SetSize(splitV.width, tree.width);
    SetSize(splitV.height, 50);

    picture2.top = splitV.top + splitV.height;
    picture2.left = 0;
    if (SetSize(picture2.width, tree.width))
        Picture2Resize();

    fileView.top = picture2.top + picture2.height;
    fileView.left = 0;
    SetSize(fileView.width, tree.width);
    SetSize(fileView.height, f.scaleHeight - f.statusHeight - fileView.top);

    splitH.top = tree.top;
    splitH.left = tree.width + tree.left;
    SetSize(splitH.width, 50);
    SetSize(splitH.height, f.statusTop - splitH.top);

    list.top = tree.top;
    list.left = splitH.width + splitH.left;
    SetSize(list.width, f.scaleWidth - list.left);
    SetSize(list.height, f.scaleHeight - f.statusHeight - list.top - picture1.height);

    picture1.top = list.height + list.top;
    picture1.left = list.left;
    if (SetSize(picture1.width, list.width))
        Picture1Resize();
}

void MainGeometry::KeepPanesIn(const LayoutFrame& f)
{
    const float widest = f.scaleWidth - splitH.width - kLeastPane;
    if (tree.width > widest)
        tree.width = std::max(widest, kLeastPane);
    const float tallest = f.statusTop - (f.toolbarTop + f.toolbarHeight) - splitV.height - picture2.height - kLeastPane;
    if (tree.height > tallest)
        tree.height = std::max(tallest, kLeastPane);
}

void MainGeometry::Picture2Resize()
{
    combo.top = 0;
    combo.left = label1Width;
    SetSize(combo.width, picture2.width - combo.left - 100);
}

void MainGeometry::Picture1Resize()
{
    // Text1 keeps its left of 720, so its right edge runs 45 twips past the strip and is cut.
    SetSize(text1.width, picture1.width - command1Width);
}

std::optional<float> SplitDrag(float treeSize, float offset, float scaleExtent)
{
    const float size = treeSize + offset;
    if (size > 200 && scaleExtent - 200 > size)
        return size;
    return std::nullopt;
}

} // namespace vardune
