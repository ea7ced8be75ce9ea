#pragma once

#include "sources/audiosource.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Decodes the next chunks of a source on a second thread while LAME encodes the current
// one, so decoding (an MPEG source costs a few percent of the encoder's time) and resampling
// (when the inner source is a ResampledSource) are hidden behind encoding on a machine with
// two cores. Memory stays a few fixed chunks. The decode
// thread never takes SIGTERM/SIGINT/SIGHUP: those stay with the thread that owns the
// temporary output file.
class ReadAheadSource : public AudioSource {
public:
    explicit ReadAheadSource(std::unique_ptr<AudioSource> inner);
    ~ReadAheadSource() override;
    ReadAheadSource(const ReadAheadSource&) = delete;
    ReadAheadSource& operator=(const ReadAheadSource&) = delete;

    int sampleRate() const override { return m_rate; }
    int channels() const override { return m_channels; }
    Container container() const override { return m_container; }
    std::vector<ChannelMixer::Position> channelPositions() const override { return m_positions; }
    // Rethrows, in the caller's thread, what the decoder threw.
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    double progress() const override { return m_progress; }
    // Valid once read() has returned 0: the decoder thread has finished with the source.
    Ending ending() const override { return m_inner->ending(); }

private:
    struct Chunk {
        std::vector<float> samples;
        std::size_t frames = 0;     // 0: the end of the sound (or an error)
        double progress = 0.0;
        std::exception_ptr error;
    };

    void decodeLoop();

    std::unique_ptr<AudioSource> m_inner;
    int m_rate;
    int m_channels;
    Container m_container;
    std::vector<ChannelMixer::Position> m_positions;
    std::vector<Chunk> m_chunks;     // a ring: the decoder fills, the reader empties
    std::size_t m_filled = 0;        // chunks ready for the reader
    std::size_t m_readIndex = 0;
    std::size_t m_readOffset = 0;    // frames of the current chunk already handed out
    bool m_stop = false;
    double m_progress = 0.0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};
