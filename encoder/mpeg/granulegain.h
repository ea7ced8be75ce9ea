#pragma once

#include "mpeg/mpegheader.h"

#include <cstddef>
#include <cstdint>

// Levels a layer III MP3 without decoding it: every granule of every channel carries its
// global gain (8 bits of the side information, one step = 2^(1/4) in amplitude, 1.505 dB),
// and the same number of steps added to each changes the level of the whole sound while the
// rest of every frame stays byte for byte. A frame protected by a CRC gets its CRC again.
class GranuleGain {
public:
    static constexpr double kStepDb = 1.5051499783199060; // 20 * log10(2^(1/4))

    // The steps for a gain asked in dB: the nearest step whose gain keeps the true peak after
    // it (peak: the source's, linear) at or below peakLimitDb. Without a peak (0) a gain
    // above 0 takes the step at or below it, never more than asked.
    static int stepsFor(double gainDb, double peak, double peakLimitDb);

    // Adds steps to every granule's global gain of the frame (kept within 0..255) and writes
    // its CRC again where it has one. Returns false, leaving the frame as it was, for a frame
    // that is not layer III or too short for its side information.
    static bool apply(std::uint8_t* frame, std::size_t length, const MpegHeader& header, int steps);

    // The CRC-16 of a protected frame: over the header's last two bytes and the side
    // information.
    static std::uint16_t crcOf(const std::uint8_t* frame, const MpegHeader& header);
};
