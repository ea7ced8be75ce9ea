#pragma once
#include <string>

namespace vardune {

// The configuration file's own encoding: every byte becomes three decimal digits,
// 500 + (position mod 10) + byte. Texts are UTF-8; each of their bytes is encoded on its own,
// so any path round-trips, and a file written by a single-byte system reads back the same.
std::string EncodeConfigText(const std::string& text);
// Groups that give no byte (not digits, or out of range) are dropped; one or two stray
// characters after the last whole group are ignored.
std::string DecodeConfigText(const std::string& encoded);
// Decoded bytes as UTF-8: valid UTF-8 is kept, anything else is read as Latin-1, as a
// configuration file of a single-byte system holds it.
std::string ConfigBytesToUtf8(const std::string& bytes);

} // namespace vardune
