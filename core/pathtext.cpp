#include "pathtext.h"

#include <cstdio>
#include <filesystem>

namespace vardune {

std::size_t PathText::SequenceAt(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(at + k) < 0x80 || byte(at + k) > 0xBF)
            return 0;
    return length;
}

bool PathText::IsUtf8(const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceAt(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

namespace {

template <typename Replace>
std::string Mend(const std::string& bytes, Replace replace)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = PathText::SequenceAt(bytes, at);
        if (length == 0) {
            text += replace(static_cast<unsigned char>(bytes[at]));
            ++at;
        } else {
            text.append(bytes, at, length);
            at += length;
        }
    }
    return text;
}

} // namespace

std::string PathText::Shown(const std::string& bytes)
{
    return Mend(bytes, [](unsigned char byte) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        return std::string(escaped);
    });
}

std::string PathText::NameText(const std::string& bytes)
{
    return Mend(bytes, [](unsigned char) { return std::string("_"); });
}

std::string PathText::Cleaned(const std::string& path)
{
    std::string cleaned = std::filesystem::path(path).lexically_normal().string();
    while (cleaned.size() > 1 && cleaned.back() == '/')
        cleaned.pop_back();
    return cleaned;
}

} // namespace vardune
