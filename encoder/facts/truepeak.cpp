#include "facts/truepeak.h"

#include <cmath>

namespace {

// The largest magnitude of n samples, in eight lanes, so that the compiler makes vector
// instructions of it (one running maximum would wait on itself at every sample).
float largestMagnitude(const float* __restrict v, std::size_t n)
{
    float lanes[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (std::size_t l = 0; l < 8; ++l) {
            const float a = std::fabs(v[i + l]);
            lanes[l] = lanes[l] > a ? lanes[l] : a;
        }
    float most = 0;
    for (; i < n; ++i)
        most = std::max(most, std::fabs(v[i]));
    for (const float l : lanes)
        most = std::max(most, l);
    return most;
}

} // namespace

// The filter libebur128 interpolates with (49 taps of a sinc cut at the source's Nyquist
// frequency under a Hann window, four phases), so both find the same peaks.
TruePeak::TruePeak(int channels)
    : m_channels(channels)
{
    constexpr std::size_t kTaps = 49;
    for (std::size_t j = 0; j < kTaps; ++j) {
        const double m = static_cast<double>(j) - (kTaps - 1) / 2.0;
        double c = 1.0;
        if (std::fabs(m) > 1e-9)
            c = std::sin(m * M_PI / kFactor) / (m * M_PI / kFactor);
        c *= 0.5 * (1 - std::cos(2 * M_PI * static_cast<double>(j) / (kTaps - 1)));
        m_coeff[j % kFactor][j / kFactor] = static_cast<float>(c);
    }
    // The most any phase can give for samples at most 1: a block whose samples, with the ones
    // before it the filter reaches, stay below the peak seen over this cannot hold a higher one.
    for (const auto& phase : m_coeff) {
        double sum = 0;
        for (const float c : phase)
            sum += std::fabs(c);
        m_bound = std::max(m_bound, sum);
    }
    m_history.assign(static_cast<std::size_t>(kLength * channels), 0.0f);
}

void TruePeak::add(const float* interleaved, std::size_t frames)
{
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    for (std::size_t from = 0; from < frames; from += kBlock) {
        const std::size_t n = std::min(kBlock, frames - from);
        const float* block = interleaved + from * channels;
        const float blockPeak = largestMagnitude(block, n * channels);
        m_samplePeak = std::max(m_samplePeak, static_cast<double>(blockPeak));
        float reach = blockPeak;
        for (const float v : m_history)
            reach = std::max(reach, std::fabs(v));
        // The interpolated values of this block are worked out only where they could pass
        // the peak already known: in loud music most blocks are passed over.
        if (reach * m_bound > std::max(m_peak, m_samplePeak)) {
            m_work.resize(kLength + n);
            m_out.resize(n);
            for (std::size_t c = 0; c < channels; ++c) {
                for (std::size_t i = 0; i < static_cast<std::size_t>(kLength); ++i)
                    m_work[i] = m_history[i * channels + c];
                for (std::size_t i = 0; i < n; ++i)
                    m_work[kLength + i] = block[i * channels + c];
                // Phase 0 is the samples themselves (its other taps are zeros of the sinc).
                float peak = 0;
                float* __restrict out = m_out.data();
                for (std::size_t p = 1; p < kFactor; ++p) {
                    std::fill(out, out + n, 0.0f);
                    for (std::size_t t = 0; t < static_cast<std::size_t>(kLength); ++t) {
                        const float k = m_coeff[p][t];
                        const float* __restrict x = m_work.data() + kLength - t;
                        for (std::size_t i = 0; i < n; ++i)
                            out[i] += k * x[i];
                    }
                    peak = std::max(peak, largestMagnitude(out, n));
                }
                m_peak = std::max(m_peak, static_cast<double>(peak));
            }
        }
        // The last samples, for the next block's filter.
        if (n >= kLength) {
            std::copy(block + (n - kLength) * channels, block + n * channels, m_history.begin());
        } else {
            std::move(m_history.begin() + static_cast<std::ptrdiff_t>(n * channels), m_history.end(), m_history.begin());
            std::copy(block, block + n * channels, m_history.end() - static_cast<std::ptrdiff_t>(n * channels));
        }
    }
}

