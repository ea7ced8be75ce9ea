#pragma once

#include "facts/truepeak.h"
#include "loudnesslevel.h"

#include <cstddef>
#include <cstdio>
#include <string>

// `fastencc --loudness`: each source decoded (nothing else: no encoding, no tags) and
// measured by EBU R128 with libebur128: its integrated loudness, its true peak, and its
// 400 ms blocks as a histogram, from which a caller computes the gated loudness of an album
// (LoudnessLevel). A source of more than two channels is measured folded to stereo, as it is
// encoded; one channel is counted twice (dual mono, as ReplayGain 2.0 scanners count a mono
// file, which a player sends to both ears). A damaged source is measured as far as it
// decodes; silence, or a source shorter than one block, has no loudness ("none"), which is
// no error. The album tag comes with the measure, for the caller to tell albums apart.
//
// Given the quality it will be encoded at (`--loudness -br BITS [-dm]`), the loudness is the
// sound's as LAME will keep it: folded to mono when mono is asked, and band-limited as LAME
// band-limits it at that bitrate (its rate and lowpass), which takes away the high
// frequencies that K-weighting counts more than most. An MP3 that the encoder will copy as it
// is (already small enough) is measured as it is. The true peak is always the source's: the
// sound as it goes into LAME is held to the peak rule.
class LoudnessMeter {
public:
    // How the sound will be encoded; bitrate 0: measured as it is.
    struct Shape {
        int bitrate = 0;
        bool mono = false;
    };

    LoudnessMeter(int channels, int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    void add(const float* interleaved, std::size_t frames);
    vardune::LoudnessLevel::Measure result();

    // The line of `fastencc --loudness` for one source (LoudnessLevel::Line, or
    // "error <TAB> REASON").
    static std::string lineFor(const std::string& path, const Shape& shape);
    // An MP3 as a player decodes it (libmpg123, its gapless trim applied): its loudness and
    // true peak, read from fd (which stays the caller's; name is for messages). The encoder
    // measures what it wrote this way before putting it in place.
    static vardune::LoudnessLevel::Measure ofMp3(int fd, const std::string& name);
    // Reads sources each ended by a NUL byte and writes a line for each, as
    // `fastencc --facts` does. Returns the process's exit status.
    static int run(std::FILE* in, std::FILE* out, const Shape& shape);

private:
    void* m_state = nullptr; // libebur128's state, kept out of this header
    int m_channels;
    std::size_t m_hop;        // frames in 100 ms: a new block every hop
    std::size_t m_inHop = 0;  // frames of the current hop given so far
    std::size_t m_hops = 0;
    double m_frames = 0;
    int m_rate;
    TruePeak m_truePeak;
    vardune::LoudnessLevel::Measure m_measure;
};
