#pragma once

#include "sources/audiosource.h"

#include <memory>
#include <vector>

struct soxr;

// A source converted to another sample rate with libsoxr, so that LAME only encodes: it is
// given the sound at the rate it would have chosen itself, instead of running its own, much
// slower resampler. The output starts with the source's first sample (the filter's delay is
// taken out) and is as long as the source at the new rate, so the playing time is kept.
// Input is cleaned first: one NaN would otherwise spread over the filter's length.
class ResampledSource : public AudioSource {
public:
    // Throws EncodeError when the conversion cannot be set up. passbandHz, when given, is
    // where the filter's passband ends (a steep cut just above it), below the new rate's
    // Nyquist frequency: the loudness pass band-limits the sound as LAME will. 0 keeps
    // libsoxr's high-quality filter.
    ResampledSource(std::unique_ptr<AudioSource> inner, int outputRate, double passbandHz = 0);
    ~ResampledSource() override;
    ResampledSource(const ResampledSource&) = delete;
    ResampledSource& operator=(const ResampledSource&) = delete;

    int sampleRate() const override { return m_outputRate; }
    int channels() const override { return m_channels; }
    Container container() const override { return m_inner->container(); }
    std::vector<ChannelMixer::Position> channelPositions() const override { return m_inner->channelPositions(); }
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    double progress() const override { return m_inner->progress(); }
    Ending ending() const override { return m_inner->ending(); }

private:
    std::unique_ptr<AudioSource> m_inner;
    int m_outputRate;
    int m_channels;
    soxr* m_soxr = nullptr;
    std::vector<float> m_input;     // one chunk of the source
    std::size_t m_chunkFrames;
    std::size_t m_inputFrames = 0; // frames in m_input
    std::size_t m_inputUsed = 0;   // of those, already taken by the resampler
    bool m_innerDone = false;
};
