#pragma once
#include <string>
#include <vector>

namespace vardune {

// One heading of a compiled manual's table of contents: its title, the page it opens (a path
// inside the manual, "HTML/page.htm#part"; empty for a heading without a page) and the
// headings below it.
struct SitemapEntry {
    std::string name;
    std::string local;
    std::vector<SitemapEntry> children;
};

// Reads a table of contents in the sitemap form that HTML Help compilers store (the .hhc
// file): nested <UL> lists whose <LI> items each carry an <OBJECT type="text/sitemap"> with
// <PARAM name="Name"> and <PARAM name="Local">. Tags and names in any letter case, quoted or
// bare values, missing end tags and the common character references are taken as browsers
// take them. The text comes from a file that may be damaged: anything else is passed over,
// and lists nested deeper than kMaxSitemapDepth go into the deepest level kept.
inline constexpr int kMaxSitemapDepth = 16;
std::vector<SitemapEntry> ParseSitemap(const std::string& html);

} // namespace vardune
