#include "portablename.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <memory>
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

// The text in ASCII letters: every script written in Latin letters as ICU's transliterators
// read it ("Any-Latin; Latin-ASCII": Песня -> Pesnya, Ελλάδα -> Ellada, 東京 -> dong jing,
// とうきょう -> toukyou, Straße -> Strasse), then whatever is still beyond ASCII left out.
// A transliterator is costly to make and is made once per thread, then only used.
std::string Transliterated(const std::string& text)
{
    thread_local std::unique_ptr<icu::Transliterator> latin = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> made(
            icu::Transliterator::createInstance("Any-Latin; Latin-ASCII", UTRANS_FORWARD, status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    if (latin)
        latin->transliterate(unicode);
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

std::string AsciiLetters(const std::string& text)
{
    std::string out;
    for (const char c : Transliterated(text)) {
        const unsigned char u = static_cast<unsigned char>(c);
        // Control characters and all beyond ASCII go. A separator the transliteration wrote
        // (½ -> 1/2) must not split the name: it becomes "_", as in any name part.
        if (c == '/' || c == '\\')
            out += '_';
        else if (u >= 0x20 && u < 0x7F)
            out += c;
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
