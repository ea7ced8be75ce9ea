#include "portablename.h"

#include <cstdint>
#include <cstdio>
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

// ASCII for the Latin letters U+00C0 to U+017F.
const char* const kLatin[] = {
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I", // U+00C0
    "D", "N", "O", "O", "O", "O", "O", "x", "O", "U", "U", "U", "U", "Y", "TH", "ss", // U+00D0
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i", // U+00E0
    "d", "n", "o", "o", "o", "o", "o", "-", "o", "u", "u", "u", "u", "y", "th", "y", // U+00F0
    "A", "a", "A", "a", "A", "a", "C", "c", "C", "c", "C", "c", "C", "c", "D", "d", // U+0100
    "D", "d", "E", "e", "E", "e", "E", "e", "E", "e", "E", "e", "G", "g", "G", "g", // U+0110
    "G", "g", "G", "g", "H", "h", "H", "h", "I", "i", "I", "i", "I", "i", "I", "i", // U+0120
    "I", "i", "IJ", "ij", "J", "j", "K", "k", "k", "L", "l", "L", "l", "L", "l", "L", // U+0130
    "l", "L", "l", "N", "n", "N", "n", "N", "n", "n", "N", "n", "O", "o", "O", "o", // U+0140
    "O", "o", "OE", "oe", "R", "r", "R", "r", "R", "r", "S", "s", "S", "s", "S", "s", // U+0150
    "S", "s", "T", "t", "T", "t", "T", "t", "U", "u", "U", "u", "U", "u", "U", "u", // U+0160
    "U", "u", "U", "u", "W", "w", "Y", "y", "Y", "Z", "z", "Z", "z", "Z", "z", "s", // U+0170
};

// The code point of the UTF-8 character at text[at], of the given length; -1 when broken.
long CodePoint(const std::string& text, std::size_t at, std::size_t length)
{
    if (at + length > text.size())
        return -1;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    if (length == 1)
        return byte(0) < 0x80 ? byte(0) : -1;
    long value = byte(0) & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return -1;
        value = value << 6 | (byte(i) & 0x3F);
    }
    return value;
}

// What an ASCII name writes for a character: its letters, or nothing.
std::string AsciiFor(long c)
{
    if (c >= 0 && c < 0x80)
        return std::string(1, static_cast<char>(c));
    if (c >= 0xC0 && c < 0x180)
        return kLatin[c - 0xC0];
    switch (c) {
    case 0xA0: case 0x2002: case 0x2003: case 0x2009:
        return " ";
    case 0x2010: case 0x2011: case 0x2012: case 0x2013: case 0x2014: case 0x2212:
        return "-";
    case 0x2018: case 0x2019: case 0x201A: case 0xB4:
        return "'";
    case 0x201C: case 0x201D: case 0x201E: case 0xAB: case 0xBB:
        return "\"";
    case 0x2026:
        return "...";
    default:
        return {}; // combining accents (a name in decomposed form) and every other script
    }
}

std::string AsciiLetters(const std::string& text)
{
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = CharacterLength(static_cast<unsigned char>(text[at]));
        out += AsciiFor(CodePoint(text, at, length));
        at += length;
    }
    // Left-out characters leave their blanks behind: one blank where there were several.
    std::string tidy;
    for (const char c : out)
        if (!(c == ' ' && (tidy.empty() || tidy.back() == ' ')))
            tidy += c;
    while (!tidy.empty() && tidy.back() == ' ')
        tidy.pop_back();
    return tidy;
}

bool HasLetter(const std::string& text)
{
    for (const char c : text)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            return true;
    return false;
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

std::string PortableName::Fit(const std::string& stem, const std::string& suffix, const std::string& extension,
                              std::size_t maxBytes, bool units)
{
    std::string cut = stem;
    if (units && Units(cut) + Units(suffix) + Units(extension) > kMaxUnits) {
        const std::size_t fixed = Units(suffix) + Units(extension);
        cut = CutToUnits(cut, fixed < kMaxUnits ? kMaxUnits - fixed : 0);
    }
    const std::size_t fixedBytes = suffix.size() + extension.size();
    if (cut.size() + fixedBytes > maxBytes) {
        std::size_t keep = fixedBytes < maxBytes ? maxBytes - fixedBytes : 0;
        // Back to the start of a character.
        while (keep > 0 && (static_cast<unsigned char>(cut[keep]) & 0xC0) == 0x80)
            --keep;
        cut.resize(keep);
    }
    return cut + suffix + extension;
}

std::string PortableName::Ascii(const std::string& name)
{
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= 16;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? AsciiLetters(name.substr(dot)) : std::string();
    std::string ascii = AsciiLetters(stem);
    if (!HasLetter(ascii) && ascii != stem) {
        // FNV-1a of the whole name: the same name always gets the same hash.
        std::uint32_t hash = 2166136261u;
        for (const char c : name)
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", hash);
        std::size_t digits = 0;
        while (digits < ascii.size() && ascii[digits] >= '0' && ascii[digits] <= '9')
            ++digits;
        ascii = ascii.substr(0, digits) + (digits > 0 ? " " : "") + hex;
    }
    return ascii + extension;
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
