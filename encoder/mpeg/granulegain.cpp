#include "mpeg/granulegain.h"

#include <algorithm>
#include <cmath>

namespace {

int readBits(const std::uint8_t* p, std::size_t bit, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i, ++bit)
        value = (value << 1) | ((p[bit / 8] >> (7 - bit % 8)) & 1);
    return value;
}

void writeBits(std::uint8_t* p, std::size_t bit, int count, int value)
{
    for (int i = count - 1; i >= 0; --i, ++bit) {
        const std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (bit % 8));
        if ((value >> i) & 1)
            p[bit / 8] |= mask;
        else
            p[bit / 8] &= static_cast<std::uint8_t>(~mask);
    }
}

std::uint16_t crcStep(std::uint16_t crc, std::uint8_t byte)
{
    for (int i = 7; i >= 0; --i) {
        const bool top = ((crc >> 15) ^ (byte >> i)) & 1;
        crc = static_cast<std::uint16_t>(crc << 1);
        if (top)
            crc ^= 0x8005;
    }
    return crc;
}

} // namespace

int GranuleGain::stepsFor(double gainDb, double peak, double peakLimitDb)
{
    if (!(gainDb == gainDb))
        return 0;
    int steps = static_cast<int>(std::lround(gainDb / kStepDb));
    if (peak > 0) {
        const double peakDb = 20.0 * std::log10(peak);
        while (steps > -255 && peakDb + steps * kStepDb > peakLimitDb + 1e-9)
            --steps;
    } else if (gainDb > 0) {
        steps = static_cast<int>(std::floor(gainDb / kStepDb + 1e-9));
    }
    return std::clamp(steps, -255, 255);
}

std::uint16_t GranuleGain::crcOf(const std::uint8_t* frame, const MpegHeader& header)
{
    std::uint16_t crc = 0xFFFF;
    crc = crcStep(crc, frame[2]);
    crc = crcStep(crc, frame[3]);
    const int sideEnd = header.sideInfoEnd() + 2;
    for (int i = 6; i < sideEnd; ++i)
        crc = crcStep(crc, frame[i]);
    return crc;
}

bool GranuleGain::apply(std::uint8_t* frame, std::size_t length, const MpegHeader& header, int steps)
{
    if (header.layer() != 3)
        return false;
    const std::size_t sideStart = header.hasCrc() ? 6 : 4;
    const std::size_t sideBytes = static_cast<std::size_t>(header.sideInfoEnd() - 4);
    if (length < sideStart + sideBytes)
        return false;
    if (steps == 0)
        return true;
    std::uint8_t* side = frame + sideStart;
    const bool mpeg1 = header.version() == MpegHeader::Mpeg1;
    const int channels = header.mono() ? 1 : 2;
    const int granules = mpeg1 ? 2 : 1;
    // main_data_begin, the private bits and (MPEG-1) the scale factor selection come first;
    // each granule's channel then starts with part2_3_length (12) and big_values (9).
    const std::size_t first = mpeg1 ? (channels == 1 ? 18 : 20) : (channels == 1 ? 9 : 10);
    const std::size_t each = mpeg1 ? 59 : 63;
    for (int g = 0; g < granules; ++g) {
        for (int c = 0; c < channels; ++c) {
            const std::size_t at = first + static_cast<std::size_t>(g * channels + c) * each + 21;
            const int gain = readBits(side, at, 8);
            writeBits(side, at, 8, std::clamp(gain + steps, 0, 255));
        }
    }
    if (header.hasCrc()) {
        const std::uint16_t crc = crcOf(frame, header);
        frame[4] = static_cast<std::uint8_t>(crc >> 8);
        frame[5] = static_cast<std::uint8_t>(crc & 0xFF);
    }
    return true;
}
