#include "common/encodeerror.h"

#include <cstdio>

std::string EncodeError::printable(const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
    return out;
}

std::string EncodeError::playingTime(double seconds)
{
    const long whole = seconds > 0 ? static_cast<long>(seconds) : 0;
    char at[32];
    std::snprintf(at, sizeof at, "%ld:%02ld", whole / 60, whole % 60);
    return at;
}

EncodeError EncodeError::damaged(const std::string& path, double seconds)
{
    return EncodeError("the audio data of " + printable(path) + " is damaged at " + playingTime(seconds));
}
