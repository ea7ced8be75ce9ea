#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

// The true peak of interleaved sound (ITU-R BS.1770: the samples interpolated four times
// over, by the filter libebur128 uses, so both find the same peaks), worked out only for the
// blocks that could hold a peak above the one found so far: in loud music most are passed over.
class TruePeak {
public:
    explicit TruePeak(int channels);
    void add(const float* interleaved, std::size_t frames);
    // Linear, 1.0 full scale.
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
