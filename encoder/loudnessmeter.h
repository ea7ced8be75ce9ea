#pragma once

#include "loudnesslevel.h"

#include <cstddef>
#include <cstdio>
#include <string>



// `fastencc --loudness`: each source decoded (nothing else: no encoding, no tags) and
// measured by EBU R128 with libebur128: its integrated loudness, its true peak, and its
// 400 ms blocks as a histogram, from which a caller computes the gated loudness of an album
// (LoudnessLevel). A source of more than two channels is measured folded to stereo, as it is
// encoded. A damaged source is measured as far as it decodes; silence, or a source shorter
// than one block, has no loudness ("none"), which is no error. The album tag comes with
// the measure, for the caller to tell albums apart.
class LoudnessMeter {
public:
    LoudnessMeter(int channels, int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    void add(const float* interleaved, std::size_t frames);
    vardune::LoudnessLevel::Measure result();

    // The line of `fastencc --loudness` for one source (LoudnessLevel::Line, or
    // "error <TAB> REASON").
    static std::string lineFor(const std::string& path);
    // Reads sources each ended by a NUL byte and writes a line for each, as
    // `fastencc --facts` does. Returns the process's exit status.
    static int run(std::FILE* in, std::FILE* out);

private:
    void addBlockPart(const float* interleaved, std::size_t frames);

    void* m_state = nullptr; // libebur128's state, kept out of this header
    int m_channels;
    std::size_t m_hop;        // frames in 100 ms: a new block every hop
    std::size_t m_inHop = 0;  // frames of the current hop given so far
    std::size_t m_hops = 0;
    double m_frames = 0;
    int m_rate;
    vardune::LoudnessLevel::Measure m_measure;
};
