#pragma once

#include "loudnesslevel.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>



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
    // The true peak (ITU-R BS.1770: the samples interpolated four times over), worked out
    // only for the blocks that could hold a peak above the one found so far.
    class TruePeak {
    public:
        explicit TruePeak(int channels);
        void add(const float* interleaved, std::size_t frames);
        double peak() const { return std::max(m_peak, m_samplePeak); }

    private:
        static constexpr std::size_t kFactor = 4;
        static constexpr int kLength = 13; // samples each phase reaches back
        static constexpr std::size_t kBlock = 1024;
        int m_channels;
        std::array<std::array<float, kLength>, kFactor> m_coeff {};
        double m_bound = 0;
        double m_peak = 0;
        double m_samplePeak = 0;
        std::vector<float> m_history; // the last kLength frames
        std::vector<float> m_work;    // one channel: the history, then the block
        std::vector<float> m_out;
    };

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
