#include "namepattern.h"

#include <cstdint>

namespace vardune {

std::vector<std::string> NameFilters(const std::string& text)
{
    std::string pattern = text;
    const std::size_t open = text.find(" (");
    if (open != std::string::npos && open > 0 && text.size() > open + 3 && text.back() == ')'
        && text.find_first_of("*?[;", 0) > open)
        pattern = text.substr(open + 2, text.size() - open - 3);
    std::vector<std::string> filters;
    std::size_t start = 0;
    while (start <= pattern.size()) {
        std::size_t end = pattern.find(';', start);
        if (end == std::string::npos)
            end = pattern.size();
        const std::string part = pattern.substr(start, end - start);
        const auto first = part.find_first_not_of(" \t");
        if (first != std::string::npos) {
            const std::string trimmed = part.substr(first, part.find_last_not_of(" \t") - first + 1);
            filters.push_back(trimmed == "*.*" ? "*" : trimmed);
        }
        start = end + 1;
    }
    if (filters.empty())
        filters.push_back("*");
    return filters;
}

namespace {

// A text as its characters: UTF-8 decoded, ASCII letters folded to lower case. A byte that
// does not start a valid sequence stands for itself, so no name is unmatchable.
std::vector<std::uint32_t> Characters(const std::string& text)
{
    std::vector<std::uint32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        int length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            length = 1;
        std::uint32_t c = length == 1 ? byte : byte & (0xFFu >> (length + 1));
        bool valid = true;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = valid && (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            length = 1;
            c = byte;
        }
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
        out.push_back(c);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

// A set "[...]" starting at pattern[p] (the "["): whether c is in it, and where the pattern
// goes on after it. A "[" without its "]" is a plain character.
bool InSet(const std::vector<std::uint32_t>& pattern, std::size_t p, std::uint32_t c, std::size_t& after, bool& isSet)
{
    std::size_t i = p + 1;
    const bool negated = i < pattern.size() && pattern[i] == '!';
    if (negated)
        ++i;
    const std::size_t first = i;
    bool found = false;
    for (; i < pattern.size(); ++i) {
        if (pattern[i] == ']' && i > first)
            break;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            found = found || (pattern[i] <= c && c <= pattern[i + 2]);
            i += 2;
        } else {
            found = found || pattern[i] == c;
        }
    }
    isSet = i < pattern.size();
    after = i + 1;
    return found != negated;
}

bool Matches(const std::vector<std::uint32_t>& name, const std::vector<std::uint32_t>& pattern)
{
    // Greedy with one step back to the last "*": linear in practice, never exponential.
    std::size_t n = 0, p = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pattern.size()) {
            if (pattern[p] == '?') {
                ++n;
                ++p;
                continue;
            }
            if (pattern[p] == '[') {
                std::size_t after = 0;
                bool isSet = false;
                const bool in = InSet(pattern, p, name[n], after, isSet);
                if (isSet && in) {
                    ++n;
                    p = after;
                    continue;
                }
                if (!isSet && name[n] == '[') {
                    ++n;
                    ++p;
                    continue;
                }
            } else if (pattern[p] == name[n]) {
                ++n;
                ++p;
                continue;
            }
        }
        if (starP == std::string::npos)
            return false;
        p = starP;
        n = ++starN;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool MatchesNameFilters(const std::string& name, const std::vector<std::string>& filters)
{
    const std::vector<std::uint32_t> chars = Characters(name);
    for (const std::string& filter : filters)
        if (Matches(chars, Characters(filter)))
            return true;
    return false;
}

} // namespace vardune
