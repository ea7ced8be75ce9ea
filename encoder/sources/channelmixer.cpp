#include "sources/channelmixer.h"

#include <cmath>

ChannelMixer::ChannelMixer(int channels, std::vector<Position> positions)
    : m_channels(channels)
    , m_left(static_cast<std::size_t>(channels), 0.0f)
    , m_right(static_cast<std::size_t>(channels), 0.0f)
{
    if (positions.size() != static_cast<std::size_t>(channels)) {
        static const Position waveOrder[] = {Position::Left, Position::Right, Position::Centre,
            Position::Lfe, Position::Left, Position::Right, Position::Left, Position::Right};
        positions.clear();
        for (int c = 0; c < channels; ++c)
            positions.push_back(c < 8 ? waveOrder[c] : Position::Centre);
    }
    const float centre = static_cast<float>(std::sqrt(0.5));
    float leftSum = 0.0f;
    float rightSum = 0.0f;
    for (int c = 0; c < channels; ++c) {
        float l = 0.0f;
        float r = 0.0f;
        switch (positions[static_cast<std::size_t>(c)]) {
        case Position::Left: l = 1.0f; break;
        case Position::Right: r = 1.0f; break;
        case Position::Centre: l = r = centre; break;
        case Position::Lfe: break;
        }
        m_left[static_cast<std::size_t>(c)] = l;
        m_right[static_cast<std::size_t>(c)] = r;
        leftSum += l;
        rightSum += r;
    }
    // A layout of nothing but LFE still has to make a sound.
    if (leftSum == 0.0f && rightSum == 0.0f) {
        for (auto& w : m_left)
            w = 1.0f;
        m_right = m_left;
        leftSum = rightSum = static_cast<float>(channels);
    }
    for (auto& w : m_left)
        w /= leftSum > 0.0f ? leftSum : 1.0f;
    for (auto& w : m_right)
        w /= rightSum > 0.0f ? rightSum : 1.0f;
}

void ChannelMixer::mix(const float* in, float* outStereo, std::size_t frames) const
{
    const std::size_t n = static_cast<std::size_t>(m_channels);
    for (std::size_t f = 0; f < frames; ++f) {
        float l = 0.0f;
        float r = 0.0f;
        for (std::size_t c = 0; c < n; ++c) {
            l += in[c] * m_left[c];
            r += in[c] * m_right[c];
        }
        outStereo[2 * f] = l;
        outStereo[2 * f + 1] = r;
        in += n;
    }
}
