#include "pictureheader.h"

#include <cstring>

namespace vardune {

namespace {

unsigned BigEndian16(const unsigned char* b)
{
    return (unsigned(b[0]) << 8) | b[1];
}

unsigned BigEndian32(const unsigned char* b)
{
    return (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | b[3];
}

} // namespace

std::optional<PictureHeader::Header> PictureHeader::Read(const unsigned char* b, std::size_t size)
{
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size >= 33 && std::memcmp(b, png, 8) == 0 && BigEndian32(b + 8) == 13 && std::memcmp(b + 12, "IHDR", 4) == 0)
        return Header {Kind::Png, BigEndian32(b + 16), BigEndian32(b + 20)};
    if (size < 4 || b[0] != 0xFF || b[1] != 0xD8)
        return std::nullopt;
    for (std::size_t pos = 2; pos + 4 <= size;) {
        if (b[pos] != 0xFF)
            return std::nullopt;
        const unsigned marker = b[pos + 1];
        const unsigned length = BigEndian16(b + pos + 2);
        // SOF0, SOF1, SOF2: the frame's height, then its width.
        if (marker >= 0xC0 && marker <= 0xC2) {
            if (length < 8 || pos + 9 > size)
                return std::nullopt;
            return Header {Kind::Jpeg, BigEndian16(b + pos + 7), BigEndian16(b + pos + 5)};
        }
        // APPn, DQT, DHT, DRI, COM: passed over by their length.
        const bool skipped = (marker >= 0xE0 && marker <= 0xEF) || marker == 0xDB || marker == 0xC4 || marker == 0xDD
            || marker == 0xFE;
        if (!skipped || length < 2)
            return std::nullopt;
        pos += 2 + length;
    }
    return std::nullopt;
}

bool PictureHeader::PlainlyWithin(const unsigned char* bytes, std::size_t size, unsigned side)
{
    const auto header = Read(bytes, size);
    return header && header->width >= 1 && header->height >= 1 && header->width <= side && header->height <= side;
}

} // namespace vardune
