#include "sitemap.h"

#include <gtest/gtest.h>

using namespace vardune;

namespace {

// "name>local" for each heading, with its children in brackets.
std::string Shape(const std::vector<SitemapEntry>& entries)
{
    std::string out;
    for (const SitemapEntry& e : entries) {
        if (!out.empty())
            out += ", ";
        out += e.name + ">" + e.local;
        if (!e.children.empty())
            out += " [" + Shape(e.children) + "]";
    }
    return out;
}

int Depth(const std::vector<SitemapEntry>& entries)
{
    int deepest = 0;
    for (const SitemapEntry& e : entries)
        deepest = std::max(deepest, 1 + Depth(e.children));
    return deepest;
}

} // namespace

TEST(Sitemap, TheContentsAsHelpCompilersWriteThemAndAsPeopleDo)
{
    const struct {
        const char* html;
        const char* shape;
    } cases[] = {
        // As the manual's own file has it.
        {R"(<ul><li><object type="text/sitemap"><param name="Name" value="Guide"><param name="Local" value="HTML/guide.htm"></object>
<ul><li><object type="text/sitemap"><param name="Name" value="Files"><param name="Local" value="HTML/files.htm"></object>
<li><object type="text/sitemap"><param name="Name" value="Batch"><param name="Local" value="HTML/batch.htm#stop"></object>
</ul><li><object type="text/sitemap"><param name="Name" value="Settings"><param name="Local" value="HTML/settings.htm"></object></ul>)",
         "Guide>HTML/guide.htm [Files>HTML/files.htm, Batch>HTML/batch.htm#stop], Settings>HTML/settings.htm"},
        // Upper case, bare and single-quoted values, end tags left out, a heading without a page.
        {"<UL><LI><OBJECT TYPE=text/sitemap><PARAM NAME=Name VALUE='Chapter one'></OBJECT>"
         "<UL><LI><OBJECT type=\"TEXT/SITEMAP\"><PARAM name=\"Local\" value=a.htm><PARAM name=\"Name\" value=\"A\"></OBJECT></UL></UL>",
         "Chapter one> [A>a.htm]"},
        // References in values; other objects, comments and stray ends passed over.
        {"</ul><!-- <object type=\"text/sitemap\"><param name=\"Name\" value=\"hidden\"></object> -->"
         "<object type=\"text/site properties\"><param name=\"Name\" value=\"not a heading\"></object>"
         "<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Tom &amp; Jerry &#233;&#x65E5; &bogus;\">"
         "<param name=\"Local\" value=\"x.htm\"></object></ul></ul>",
         "Tom & Jerry \xC3\xA9\xE6\x97\xA5 &bogus;>x.htm"},
        // Cut off in the middle of a tag, of a value, of an object.
        {"<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Whole\"></object><li><object type=\"text/sit",
         "Whole>"},
        {"<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Open", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Shape(ParseSitemap(c.html)), c.shape) << c.html;
}

TEST(Sitemap, ListsNestedBeyondTheDeepestLevelStayAtIt)
{
    std::string html;
    for (int level = 0; level < 100000; ++level)
        html += "<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"L\"></object>";
    const auto entries = ParseSitemap(html);
    EXPECT_EQ(Depth(entries), kMaxSitemapDepth);
}
