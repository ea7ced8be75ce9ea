#pragma once

#include "mpeg/mpegheader.h"

#include <cstdint>
#include <vector>

// The Info (Xing + LAME tag) frame that LAME cannot write itself at low CBR bitrates (at 8,
// 16 and 32 kbit/s its own frame is too small for the tag). Without it players guess the
// playing time and decoders keep LAME's encoder delay and padding, so the file plays longer
// than its source. Like ffmpeg's MP3 muxer, the frame uses a larger bitrate than the stream;
// decoders recognise it as a tag frame and do not play it. The layout is LAME 3.100's.
class InfoFrame {
public:
    // Length of the tag data from the end of the side information: Xing part + LAME part.
    static constexpr int kTagLength = 156;

    // Whether LAME writes an Info frame itself for a CBR stream with this header's bitrate.
    static bool fitsInFrame(const MpegHeader& header, int bitrateIndex);
    // The smallest bitrate index of the stream's version that holds the tag.
    static int bitrateIndexFor(const MpegHeader& header);

    struct Fields {
        std::uint32_t frames = 0;       // audio frames after the Info frame
        std::uint32_t streamBytes = 0;  // Info frame + audio frames
        int encoderDelay = 0;           // samples LAME put in front of the sound
        int padding = 0;                // samples LAME appended after the sound
        int lowpassHz = 0;
        int bitrateKbps = 0;
        int inputRate = 0;
        int quality = 0;                // LAME's -q value
        std::uint16_t musicCrc = 0;     // CRC-16 of the audio frames
    };

    // header: the first audio frame's header (version, rate, channel mode).
    static std::vector<std::uint8_t> build(const MpegHeader& header, const Fields& fields);

    // Sets the source sample rate that a finished Info frame of LAME's names (and what LAME
    // derives from it), and its tag CRC to match. Leaves anything that is not such a frame
    // alone.
    static void setSourceRate(std::uint8_t* frame, std::size_t size, int sampleRate);

    // Restates a finished Info frame of LAME's for a stream of these audio frames and bytes
    // (Info frame included) whose audio frames have this CRC: the frame count, the byte counts,
    // the table of contents as LAME makes it for a constant bitrate, the music CRC and the
    // tag's CRC. Leaves anything that is not such a frame alone.
    static void restate(std::uint8_t* frame, std::size_t size, std::uint32_t frames, std::uint32_t streamBytes,
        std::uint16_t musicCrc);

    // Sets the byte count (Info frame included) that a Xing/Info frame with this header states,
    // where it states one and another, and the LAME tag's CRC with it where that was right
    // before: an output's length is judged by it (a copy keeps its source's frame, whose count
    // may be wrong). Returns whether the frame changed; anything else is left alone.
    static bool setStreamBytes(std::uint8_t* frame, std::size_t size, const MpegHeader& header, std::uint32_t streamBytes);

    // CRC-16 (polynomial 0x8005, reflected) as the LAME tag uses it.
    static std::uint16_t crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0);
};
