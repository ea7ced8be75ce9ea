#include "sitemap.h"

#include <cstdint>

namespace vardune {

namespace {

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string LowerText(std::string text)
{
    for (char& c : text)
        c = Lower(c);
    return text;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// "&amp;", "&#233;", "&#xE9;" and the like; a reference that is not one stays as written.
std::string DecodeReferences(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == '&' ? text.find(';', i) : std::string::npos;
        if (end == std::string::npos || end - i > 10) {
            out += text[i];
            continue;
        }
        const std::string name = text.substr(i + 1, end - i - 1);
        std::uint32_t code = 0;
        bool known = true;
        if (name == "amp")
            code = '&';
        else if (name == "lt")
            code = '<';
        else if (name == "gt")
            code = '>';
        else if (name == "quot")
            code = '"';
        else if (name == "apos")
            code = '\'';
        else if (name == "nbsp")
            code = 0xA0;
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits = name.substr(hex ? 2 : 1);
            known = !digits.empty();
            for (char c : digits) {
                const char l = Lower(c);
                const int value = (l >= '0' && l <= '9') ? l - '0' : (hex && l >= 'a' && l <= 'f') ? l - 'a' + 10 : -1;
                if (value < 0 || code > 0x10FFFF) {
                    known = false;
                    break;
                }
                code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
            }
        } else {
            known = false;
        }
        if (!known) {
            out += text[i];
            continue;
        }
        AppendUtf8(out, code);
        i = end;
    }
    return out;
}

struct Tag {
    std::string name;  // lower case; "/ul" for an end tag
    std::vector<std::pair<std::string, std::string>> attributes;  // names in lower case

    std::string Attribute(const std::string& wanted) const
    {
        for (const auto& [key, value] : attributes)
            if (key == wanted)
                return value;
        return {};
    }
};

// Reads the tag that starts at html[at] ("<"); at is left after its ">".
Tag ReadTag(const std::string& html, std::size_t& at)
{
    Tag tag;
    std::size_t i = at + 1;
    while (i < html.size() && !IsSpace(html[i]) && html[i] != '>')
        tag.name += Lower(html[i++]);
    if (!tag.name.empty() && tag.name.back() == '/')
        tag.name.pop_back();
    while (i < html.size() && html[i] != '>') {
        if (IsSpace(html[i]) || html[i] == '/') {
            ++i;
            continue;
        }
        std::string key;
        while (i < html.size() && !IsSpace(html[i]) && html[i] != '=' && html[i] != '>')
            key += Lower(html[i++]);
        while (i < html.size() && IsSpace(html[i]))
            ++i;
        std::string value;
        if (i < html.size() && html[i] == '=') {
            ++i;
            while (i < html.size() && IsSpace(html[i]))
                ++i;
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                const char quote = html[i++];
                const std::size_t close = html.find(quote, i);
                const std::size_t stop = close == std::string::npos ? html.size() : close;
                value = html.substr(i, stop - i);
                i = stop == html.size() ? stop : stop + 1;
            } else {
                while (i < html.size() && !IsSpace(html[i]) && html[i] != '>')
                    value += html[i++];
            }
        }
        if (!key.empty())
            tag.attributes.emplace_back(key, DecodeReferences(value));
    }
    at = i < html.size() ? i + 1 : html.size();
    return tag;
}

} // namespace

std::vector<SitemapEntry> ParseSitemap(const std::string& html)
{
    std::vector<SitemapEntry> result;
    // The lists being filled, outermost first. A pointer stays good: an outer list only grows
    // after the lists inside it have been left.
    std::vector<std::vector<SitemapEntry>*> lists{&result};
    // For every <UL> still open: whether it began a list of its own. One that follows no item,
    // or lies past the deepest level kept, adds to the list around it.
    std::vector<bool> open;
    bool inSitemap = false;
    SitemapEntry entry;

    for (std::size_t at = 0; at < html.size();) {
        if (html[at] != '<') {
            ++at;
            continue;
        }
        if (html.compare(at, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", at + 4);
            at = end == std::string::npos ? html.size() : end + 3;
            continue;
        }
        const Tag tag = ReadTag(html, at);
        if (tag.name == "ul") {
            std::vector<SitemapEntry>& current = *lists.back();
            const bool own = static_cast<int>(lists.size()) < kMaxSitemapDepth && !current.empty();
            if (own)
                lists.push_back(&current.back().children);
            open.push_back(own);
        } else if (tag.name == "/ul") {
            if (!open.empty()) {
                if (open.back())
                    lists.pop_back();
                open.pop_back();
            }
        } else if (tag.name == "object") {
            inSitemap = LowerText(tag.Attribute("type")) == "text/sitemap";
            entry = {};
        } else if (tag.name == "param" && inSitemap) {
            const std::string name = LowerText(tag.Attribute("name"));
            if (name == "name" && entry.name.empty())
                entry.name = tag.Attribute("value");
            else if (name == "local" && entry.local.empty())
                entry.local = tag.Attribute("value");
        } else if (tag.name == "/object" && inSitemap) {
            inSitemap = false;
            if (!entry.name.empty() || !entry.local.empty())
                lists.back()->push_back(std::move(entry));
            entry = {};
        }
    }
    return result;
}

} // namespace vardune
