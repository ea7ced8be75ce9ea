#pragma once

#include <cstdint>

// Numbers as file formats store them: the first byte the lowest (RIFF, Ogg, FLAC's Vorbis
// comment) or the highest (AIFF, FLAC's own headers, MPEG).
inline std::uint64_t LittleEndian(const std::uint8_t* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

inline std::uint64_t BigEndian(const std::uint8_t* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}
