#include "portablename.h"

#include <cstring>

namespace vardune {

namespace {

std::size_t CharacterLength(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// The longest start of text that holds at most units UTF-16 units, cut between characters.
std::string CutToUnits(const std::string& text, std::size_t units)
{
    std::size_t used = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = CharacterLength(static_cast<unsigned char>(text[at]));
        const std::size_t cost = length == 4 ? 2 : 1;
        if (used + cost > units || at + length > text.size())
            break;
        used += cost;
        at += length;
    }
    return text.substr(0, at);
}

} // namespace

std::size_t PortableName::Units(const std::string& text)
{
    std::size_t units = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = CharacterLength(static_cast<unsigned char>(text[at]));
        units += length == 4 ? 2 : 1;
        at += length;
    }
    return units;
}

std::string PortableName::Fit(const std::string& stem, const std::string& suffix, const std::string& extension)
{
    const std::size_t fixed = Units(suffix) + Units(extension);
    if (Units(stem) + fixed <= kMaxUnits)
        return stem + suffix + extension;
    std::string cut = CutToUnits(stem, fixed < kMaxUnits ? kMaxUnits - fixed : 0);
    // The cut may leave a dot or blank at the end of the stem: harmless before an extension,
    // but a name ending there would lose it.
    return cut + suffix + extension;
}

std::string PortableName::Make(const std::string& name)
{
    std::string safe;
    safe.reserve(name.size());
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        safe += (u < 0x20 || std::strchr("\"*:<>?\\|", c) != nullptr) ? '_' : c;
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.pop_back();
    if (Units(safe) > kMaxUnits) {
        const auto dot = safe.rfind('.');
        const bool hasExtension = dot != std::string::npos && dot > 0 && Units(safe.substr(dot)) <= 16;
        safe = hasExtension ? Fit(safe.substr(0, dot), "", safe.substr(dot)) : CutToUnits(safe, kMaxUnits);
        while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
            safe.pop_back();
    }
    return safe.empty() ? "_" : safe;
}

} // namespace vardune
