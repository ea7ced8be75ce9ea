#pragma once

#include <cstddef>
#include <vector>

// Folds a source of more than two channels into stereo, because LAME takes one or two.
// Each output side gets its own channels at full weight, centre-like channels at -3 dB and
// no LFE, scaled so that the sum cannot exceed full scale.
class ChannelMixer {
public:
    // Where a source channel sits, as far as the fold-down cares.
    enum class Position { Left, Right, Centre, Lfe };

    // positions: one per source channel; empty means the usual WAV order (FL FR FC LFE BL BR
    // SL SR) for up to eight channels, and centre for any channel beyond.
    ChannelMixer(int channels, std::vector<Position> positions = {});

    int inputChannels() const { return m_channels; }
    // Reads frames of inputChannels() interleaved samples, writes stereo frames.
    void mix(const float* in, float* outStereo, std::size_t frames) const;

private:
    int m_channels;
    std::vector<float> m_left;
    std::vector<float> m_right;
};
