#pragma once
#include <string>

namespace vardune {

// Output names that a player's FAT or exFAT file system takes. Those refuse the characters
// " * : < > ? \ | and control characters, drop trailing dots and blanks, and hold at most
// 255 UTF-16 units in a name; a name meant for one becomes "_" for each refused character,
// loses its trailing dots and blanks, and is cut to fit, its extension kept.
class PortableName {
public:
    static constexpr std::size_t kMaxUnits = 255;

    // The name as such a file system takes it (UTF-8 in and out). A name it takes as it is
    // comes back unchanged.
    static std::string Make(const std::string& name);
    // stem + suffix + extension, the stem cut (at a character) so that the whole fits.
    static std::string Fit(const std::string& stem, const std::string& suffix, const std::string& extension);
    // The same, with the name held to maxBytes bytes too (the limit of the folder's file
    // system: Linux file systems count bytes) and to kMaxUnits UTF-16 units only when units.
    static std::string Fit(const std::string& stem, const std::string& suffix, const std::string& extension,
                           std::size_t maxBytes, bool units);
    // The name in ASCII, for a file system that refuses other characters: every script is
    // written in Latin letters by ICU's "Any-Latin; Latin-ASCII" (Ü -> U, ß -> ss, Песня ->
    // Pesnya, Ελλάδα -> Ellada, 東京 -> dong jing), and what has no such form is left out. A
    // name that keeps no letter that way becomes its leading number, if any, and a short hash
    // of the whole name ("01 3f9a2c71"), so that names stay apart.
    static std::string Ascii(const std::string& name);
    // UTF-16 units of a UTF-8 text (a character beyond U+FFFF takes two).
    static std::size_t Units(const std::string& text);
};

} // namespace vardune
