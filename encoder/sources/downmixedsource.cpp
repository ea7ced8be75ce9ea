#include "sources/downmixedsource.h"

#include <algorithm>

DownmixedSource::DownmixedSource(std::unique_ptr<AudioSource> inner)
    : m_inner(std::move(inner))
    , m_mixer(m_inner->channels(), m_inner->channelPositions())
    , m_input(chunkFrames(m_inner->channels()) * static_cast<std::size_t>(m_inner->channels()))
{
}

std::size_t DownmixedSource::read(float* interleaved, std::size_t maxFrames)
{
    // Memory stays one chunk of the source's bytes, however many channels it has.
    const std::size_t frames = m_inner->read(m_input.data(), std::min(maxFrames, chunkFrames(m_inner->channels())));
    m_mixer.mix(m_input.data(), interleaved, frames);
    return frames;
}
