#pragma once

#include "sources/audiosource.h"
#include "sources/channelmixer.h"

#include <memory>
#include <vector>

// A source of more than two channels folded into stereo as it is read, because LAME takes one
// or two. Folding comes first, before any resampling, so that the rest of the way carries two
// channels whatever the source had (a WAV may have 1024).
class DownmixedSource : public AudioSource {
public:
    explicit DownmixedSource(std::unique_ptr<AudioSource> inner);

    int sampleRate() const override { return m_inner->sampleRate(); }
    int channels() const override { return 2; }
    Container container() const override { return m_inner->container(); }
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    double progress() const override { return m_inner->progress(); }
    Ending ending() const override { return m_inner->ending(); }

private:
    std::unique_ptr<AudioSource> m_inner;
    ChannelMixer m_mixer;
    std::vector<float> m_input;
};
