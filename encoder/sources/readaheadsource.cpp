#include "sources/readaheadsource.h"

#include "common/terminationsignalsheld.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kChunks = 4;

} // namespace

ReadAheadSource::ReadAheadSource(std::unique_ptr<AudioSource> inner)
    : m_inner(std::move(inner))
    , m_rate(m_inner->sampleRate())
    , m_channels(m_inner->channels())
    , m_container(m_inner->container())
    , m_positions(m_inner->channelPositions())
    , m_chunks(kChunks)
{
    for (auto& chunk : m_chunks)
        chunk.samples.resize(chunkFrames(m_channels) * static_cast<std::size_t>(m_channels));

    // The new thread inherits the signal mask: start it with the termination signals held
    // back, so that they are always delivered to this thread.
    const TerminationSignalsHeld held;
    m_thread = std::thread([this] { decodeLoop(); });
}

ReadAheadSource::~ReadAheadSource()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ReadAheadSource::decodeLoop()
{
    std::size_t writeIndex = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_filled < m_chunks.size(); });
            if (m_stop)
                return;
        }
        // The chunk at writeIndex is free: only this thread touches it until it is counted.
        Chunk& chunk = m_chunks[writeIndex];
        chunk.error = nullptr;
        try {
            chunk.frames = m_inner->read(chunk.samples.data(), chunkFrames(m_channels));
            chunk.progress = m_inner->progress();
        } catch (...) {
            chunk.frames = 0;
            chunk.error = std::current_exception();
        }
        const bool last = chunk.frames == 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_filled;
        }
        m_changed.notify_all();
        if (last)
            return;
        writeIndex = (writeIndex + 1) % m_chunks.size();
    }
}

std::size_t ReadAheadSource::read(float* interleaved, std::size_t maxFrames)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_filled > 0; });
    }
    Chunk& chunk = m_chunks[m_readIndex];
    if (chunk.frames == 0) {
        if (chunk.error)
            std::rethrow_exception(chunk.error);
        return 0; // the end stays the end: the chunk is never released
    }
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    const std::size_t n = std::min(maxFrames, chunk.frames - m_readOffset);
    std::memcpy(interleaved, chunk.samples.data() + m_readOffset * channels, n * channels * sizeof(float));
    m_readOffset += n;
    m_progress = chunk.progress;
    if (m_readOffset == chunk.frames) {
        m_readOffset = 0;
        m_readIndex = (m_readIndex + 1) % m_chunks.size();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_filled;
        }
        m_changed.notify_all();
    }
    return n;
}
