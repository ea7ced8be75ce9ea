#include "configcodec.h"

namespace vardune {

std::string EncodeConfigText(const std::string& text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int c = static_cast<unsigned char>(text[i]);
        const int n = 500 + static_cast<int>((i + 1) % 10) + c;
        out += static_cast<char>('0' + n / 100);
        out += static_cast<char>('0' + n / 10 % 10);
        out += static_cast<char>('0' + n % 10);
    }
    return out;
}

std::string DecodeConfigText(const std::string& encoded)
{
    std::string out;
    const std::size_t groups = encoded.size() / 3;
    out.reserve(groups);
    for (std::size_t k = 1; k <= groups; ++k) {
        // The group's leading digits make its value; a group without leading digits reads as 0.
        int v = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            const char ch = encoded[(k - 1) * 3 + j];
            if (ch < '0' || ch > '9')
                break;
            v = v * 10 + (ch - '0');
        }
        const int c = v - 500 - static_cast<int>(k % 10);
        if (c >= 0 && c <= 255)
            out += static_cast<char>(static_cast<unsigned char>(c));
    }
    return out;
}

namespace {
// Length of the well-formed UTF-8 sequence at s[i], or 0 when there is none.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    std::size_t len = 0;
    unsigned int cp = 0;
    if (b < 0x80)
        return 1;
    if ((b & 0xE0) == 0xC0) {
        len = 2;
        cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3;
        cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static const unsigned int minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}
} // namespace

std::string ConfigBytesToUtf8(const std::string& bytes)
{
    bool valid = true;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t len = Utf8SequenceLength(bytes, i);
        if (len == 0) {
            valid = false;
            break;
        }
        i += len;
    }
    if (valid)
        return bytes;
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace vardune
