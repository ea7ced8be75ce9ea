#include "sources/oggpages.h"

#include "common/byteorder.h"
#include "common/positionalread.h"

#include <array>
#include <cstring>
#include <vector>

std::int64_t OggPages::firstDamage(int fd, int sampleRate, bool opus)
{
    // The Ogg page checksum: CRC-32 with polynomial 0x04C11DB7, not reflected, over the page
    // with its checksum field zero.
    static const auto table = [] {
        std::array<std::uint32_t, 256> t {};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int b = 0; b < 8; ++b)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    std::int64_t pos = 0;
    std::int64_t granule = 0;   // where the last whole page ends, in the codec's samples
    std::int64_t sequence = -1; // of the last whole page
    std::uint64_t serial = 0;   // of the last whole page's stream (a chained file starts anew)
    std::vector<std::uint8_t> page;
    for (;;) {
        std::uint8_t head[27 + 255];
        if (!ReadAt(fd, pos, head, 27))
            return -1; // the end of the file: no page was damaged
        bool whole = std::memcmp(head, "OggS", 4) == 0 && head[4] == 0 && ReadAt(fd, pos + 27, head + 27, head[26]);
        std::size_t size = 27;
        if (whole) {
            size += head[26];
            for (int i = 0; i < head[26]; ++i)
                size += head[27 + i];
            page.resize(size);
            whole = ReadAt(fd, pos, page.data(), size)
                && (sequence < 0 || LittleEndian(head + 14, 4) != serial || (head[5] & 2)
                    || static_cast<std::int64_t>(LittleEndian(head + 18, 4)) == sequence + 1);
        }
        if (whole) {
            std::uint32_t crc = 0;
            for (std::size_t i = 0; i < size; ++i)
                crc = (crc << 8) ^ table[((crc >> 24) ^ (i >= 22 && i < 26 ? 0 : page[i])) & 0xFF];
            whole = crc == LittleEndian(head + 22, 4);
        }
        if (!whole) {
            // Opus counts at 48 kHz whatever rate it is decoded at.
            const double seconds = static_cast<double>(granule) / (opus ? 48000.0 : sampleRate);
            return static_cast<std::int64_t>(seconds * sampleRate);
        }
        sequence = static_cast<std::int64_t>(LittleEndian(head + 18, 4));
        serial = LittleEndian(head + 14, 4);
        const std::uint64_t pageGranule = LittleEndian(head + 6, 8);
        if (pageGranule != ~std::uint64_t(0))
            granule = static_cast<std::int64_t>(pageGranule);
        pos += static_cast<std::int64_t>(size);
    }
}
