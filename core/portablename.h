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
    // UTF-16 units of a UTF-8 text (a character beyond U+FFFF takes two).
    static std::size_t Units(const std::string& text);
};

} // namespace vardune
