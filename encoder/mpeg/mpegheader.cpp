#include "mpeg/mpegheader.h"

#include <cstring>

namespace {

// Kbit/s by [version row][layer - 1][index]; index 0 (free format) and 15 are not usable.
const int kBitrates[2][3][16] = {
    { // MPEG-1
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    },
    { // MPEG-2 and 2.5
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    },
};

const int kRates[3][3] = {
    {44100, 48000, 32000},
    {22050, 24000, 16000},
    {11025, 12000, 8000},
};

} // namespace

std::optional<MpegHeader> MpegHeader::parse(const std::uint8_t* b, int freeFormatSize)
{
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0)
        return std::nullopt;
    MpegHeader h;
    switch ((b[1] >> 3) & 3) {
    case 0: h.m_version = Mpeg25; break;
    case 2: h.m_version = Mpeg2; break;
    case 3: h.m_version = Mpeg1; break;
    default: return std::nullopt;
    }
    const int layerBits = (b[1] >> 1) & 3;
    if (layerBits == 0)
        return std::nullopt;
    h.m_layer = 4 - layerBits;
    h.m_bitrateIndex = b[2] >> 4;
    if (h.m_bitrateIndex == 15 || (h.m_bitrateIndex == 0 && freeFormatSize <= 0))
        return std::nullopt;
    if (h.m_bitrateIndex == 0)
        h.m_freeSize = freeFormatSize;
    h.m_rateIndex = (b[2] >> 2) & 3;
    if (h.m_rateIndex == 3)
        return std::nullopt;
    h.m_padding = (b[2] & 2) != 0;
    h.m_channelMode = b[3] >> 6;
    // Emphasis value 2 is reserved: real encoders never write it.
    if ((b[3] & 3) == 2)
        return std::nullopt;
    std::memcpy(h.m_raw, b, 4);
    return h;
}

int MpegHeader::bitrateKbps() const
{
    if (m_bitrateIndex == 0)
        return static_cast<int>((static_cast<std::int64_t>(m_freeSize) * 8 * sampleRate() / samplesPerFrame() + 500) / 1000);
    return kBitrates[m_version == Mpeg1 ? 0 : 1][m_layer - 1][m_bitrateIndex];
}

int MpegHeader::sampleRate() const
{
    return kRates[m_version][m_rateIndex];
}

int MpegHeader::samplesPerFrame() const
{
    if (m_layer == 1)
        return 384;
    if (m_layer == 3 && m_version != Mpeg1)
        return 576;
    return 1152;
}

int MpegHeader::frameLength() const
{
    if (m_bitrateIndex == 0)
        return m_freeSize + (m_padding ? (m_layer == 1 ? 4 : 1) : 0);
    const int bitrate = bitrateKbps() * 1000;
    if (m_layer == 1)
        return (12 * bitrate / sampleRate() + (m_padding ? 1 : 0)) * 4;
    return samplesPerFrame() / 8 * bitrate / sampleRate() + (m_padding ? 1 : 0);
}

int MpegHeader::frameLengthAt(int bitrateIndex) const
{
    const int bitrate = kBitrates[m_version == Mpeg1 ? 0 : 1][2][bitrateIndex] * 1000;
    const int samples = m_version == Mpeg1 ? 1152 : 576;
    return samples / 8 * bitrate / sampleRate();
}

int MpegHeader::sideInfoEnd() const
{
    if (m_version == Mpeg1)
        return mono() ? 4 + 17 : 4 + 32;
    return mono() ? 4 + 9 : 4 + 17;
}

void MpegHeader::toBytes(std::uint8_t* out, int bitrateIndex) const
{
    out[0] = 0xFF;
    out[1] = static_cast<std::uint8_t>(m_raw[1] | 0x01);             // no CRC
    out[2] = static_cast<std::uint8_t>((bitrateIndex << 4) | (m_raw[2] & 0x0D)); // no padding
    out[3] = static_cast<std::uint8_t>(m_raw[3] & 0xCF);             // no mode extension
}

bool MpegHeader::sameStream(const MpegHeader& other) const
{
    return m_version == other.m_version && m_layer == other.m_layer
        && m_rateIndex == other.m_rateIndex && m_freeSize == other.m_freeSize;
}

int MpegHeader::measureFreeFormat(const std::uint8_t* b, std::size_t available)
{
    // Free-format frames are at most about 640 kbit/s (layer III at 32 kHz: 2880 bytes).
    constexpr std::size_t kLongest = 4096;
    constexpr std::size_t kShortest = 24;
    if (available < 4)
        return 0;
    const auto first = parse(b, kShortest);
    if (!first || !first->freeFormat())
        return 0;
    const int padding = first->padding() ? (first->layer() == 1 ? 4 : 1) : 0;
    for (std::size_t at = kShortest; at + 4 <= available && at <= kLongest; ++at) {
        if (b[at] != 0xFF)
            continue;
        // The next frame: the same fixed bits (version, layer, protection, rate), free format.
        if ((b[at + 1] & 0xFF) == b[1] && (b[at + 2] & 0xF0) == 0 && (b[at + 2] & 0x0C) == (b[2] & 0x0C)) {
            const int size = static_cast<int>(at) - padding;
            if (parse(b + at, size))
                return size;
        }
    }
    return 0;
}

MpegHeader MpegHeader::layer3(int sampleRate, bool mono, int bitrateKbps)
{
    MpegHeader h;
    for (int v = 0; v < 3; ++v)
        for (int r = 0; r < 3; ++r)
            if (kRates[v][r] == sampleRate) {
                h.m_version = static_cast<Version>(v);
                h.m_rateIndex = r;
            }
    h.m_layer = 3;
    h.m_channelMode = mono ? 3 : 1;
    h.m_bitrateIndex = h.layer3BitrateIndex(bitrateKbps);
    const int versionBits = h.m_version == Mpeg1 ? 3 : h.m_version == Mpeg2 ? 2 : 0;
    h.m_raw[0] = 0xFF;
    h.m_raw[1] = static_cast<std::uint8_t>(0xE0 | (versionBits << 3) | (1 << 1) | 1);
    h.m_raw[2] = static_cast<std::uint8_t>((h.m_bitrateIndex << 4) | (h.m_rateIndex << 2));
    h.m_raw[3] = static_cast<std::uint8_t>(h.m_channelMode << 6);
    return h;
}

int MpegHeader::layer3BitrateIndex(int kbps) const
{
    for (int i = 1; i < 15; ++i)
        if (kBitrates[m_version == Mpeg1 ? 0 : 1][2][i] == kbps)
            return i;
    return 0;
}
