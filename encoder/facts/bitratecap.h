#pragma once

#include "mpeg/mpegsurvey.h"
#include "sources/audiosource.h"

#include <cstddef>
#include <cstdint>
#include <string>

class EncodedSize;

// "Never a larger file" for a source that is encoded. The output's bitrate is never above the
// source's own average (its audio bytes over its playing time: a Vorbis file labelled
// 56 kbit/s may average 15), and the output is never larger than the source file: of the MP3
// bitrates at or below the one asked, the highest that keeps both is written. Where none
// keeps both (a source below LAME's lowest bitrate, a file of a few frames), the lowest
// bitrate LAME writes is taken, at the lowest sample rate LAME picks for it: the output may
// then be larger than its source, and says so. A source whose average or length is not known
// is written at the bitrate asked. The conversion and the forecast decide alike.
class BitrateCap {
public:
    // What the rule needs of a source.
    struct Source {
        double bitsPerSecond = 0;   // the average of its audio; 0: not known
        std::int64_t fileBytes = 0; // the whole file
        std::int64_t frames = 0;    // sample frames, as decoded
        int rate = 0;
        int channels = 0;
        std::size_t tag = 0;        // bytes of the ID3v2 tag the output carries
    };

    struct Choice {
        int bitrate = 0;  // to ask LAME for, bit/s
        int keptKbps = 0; // what LAME then writes when the source keeps it below the bitrate
                          // asked; 0 when it does not
    };
    static Choice choose(const Source& source, int askedBitrate, bool mono, EncodedSize& sizes);

    // The line that says so: "kept at 56 kbit/s: the source is smaller than 96 kbit/s". A
    // caller that knows the bitrate asked by another name (a quality's) may put it in place of
    // the last words.
    static std::string note(int keptKbps, int askedBitrate);

    // The average bitrate of an MPEG source, from its frames.
    static double bitsPerSecond(const MpegSurvey& survey);
    // The average bitrate of any other source: the bytes of its audio (without the tags,
    // covers and headers that its container says where they lie) over frames at rate; 0 when
    // the length is not known. fd is read at offsets only.
    static double bitsPerSecond(int fd, AudioSource::Container container, std::int64_t frames, int rate);

    // The bytes of the audio in a file of this container (the whole file where it cannot
    // tell).
    static std::int64_t audioBytes(int fd, AudioSource::Container container);
};
