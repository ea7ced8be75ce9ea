#include "windowplacement.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vardune {

namespace {

// Sizes and positions far beyond any screen are not a window the user left.
constexpr long kLimit = 1000000;
// One pixel at 96 dots per inch: nothing the user can leave is smaller.
constexpr long kSmallest = 15;

// A whole number written plainly ("-120", "4086"), within the limit; nothing else.
std::optional<long> WholeNumber(const std::string& text)
{
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || value < -kLimit || value > kLimit)
        return std::nullopt;
    return value;
}

std::optional<long> Size(const std::string& text)
{
    const auto value = WholeNumber(text);
    if (!value || *value < kSmallest)
        return std::nullopt;
    return value;
}

std::optional<float> TreeSize(const std::string& text)
{
    const auto value = Size(text);
    return value ? std::optional<float>(float(*value)) : std::nullopt;
}

std::string Text(float twips)
{
    return std::to_string(std::lround(twips));
}

} // namespace

WindowPlacement WindowPlacement::FromTexts(const Texts& texts)
{
    WindowPlacement placement;
    const auto left = WholeNumber(texts[0]);
    const auto top = WholeNumber(texts[1]);
    const auto width = Size(texts[2]);
    const auto height = Size(texts[3]);
    if (left && top && width && height)
        placement.normal = TwipsRect{float(*left), float(*top), float(*width), float(*height)};
    placement.maximized = texts[4] == "1";

    placement.treeWidth = TreeSize(texts[6]);
    placement.treeHeight = TreeSize(texts[7]);

    std::vector<float> widths;
    std::size_t start = 0;
    while (start <= texts[5].size()) {
        std::size_t comma = texts[5].find(',', start);
        if (comma == std::string::npos)
            comma = texts[5].size();
        const auto width = Size(texts[5].substr(start, comma - start));
        if (!width)
            return placement;
        widths.push_back(float(*width));
        start = comma + 1;
    }
    if (widths.size() == kColumns)
        placement.columnWidths = std::move(widths);
    return placement;
}

float WindowPlacement::FirstStartScale(float availableWidth, float availableHeight, float designedWidth,
                                       float designedHeight)
{
    if (!(designedWidth > 0) || !(designedHeight > 0) || !(availableWidth > 0) || !(availableHeight > 0))
        return 1.0f;
    const float scale = std::min(availableWidth / designedWidth, availableHeight / designedHeight) * 2.0f / 3.0f;
    return std::max(scale, 1.0f);
}

WindowPlacement::Box WindowPlacement::Fitted(const Box& window, const Box& available)
{
    if (available.width <= 0 || available.height <= 0)
        return window;
    Box fitted = window;
    fitted.width = std::min(window.width, available.width);
    fitted.height = std::min(window.height, available.height);
    fitted.left = std::clamp(window.left, available.left, available.left + available.width - fitted.width);
    fitted.top = std::clamp(window.top, available.top, available.top + available.height - fitted.height);
    return fitted;
}

WindowPlacement::Texts WindowPlacement::ToTexts() const
{
    Texts texts;
    if (normal) {
        texts[0] = Text(normal->left);
        texts[1] = Text(normal->top);
        texts[2] = Text(normal->width);
        texts[3] = Text(normal->height);
    }
    texts[4] = maximized ? "1" : "0";
    for (std::size_t i = 0; i < columnWidths.size(); ++i)
        texts[5] += (i ? "," : "") + Text(columnWidths[i]);
    if (treeWidth)
        texts[6] = Text(*treeWidth);
    if (treeHeight)
        texts[7] = Text(*treeHeight);
    return texts;
}

} // namespace vardune
