#pragma once

#include "sources/audiosource.h"

#include <sndfile.h>

#include <string>

// WAV (all common encodings, WAVE_FORMAT_EXTENSIBLE, RF64), AIFF and Ogg Opus through
// libsndfile (FLAC and Ogg Vorbis have sources of their own). Opened from the descriptor
// only: libsndfile then decides by content and cannot guess a raw format from the file name.
// Takes ownership of the descriptor once constructed.
class SndfileSource : public AudioSource {
public:
    SndfileSource(int fd, const std::string& path);
    ~SndfileSource() override;
    SndfileSource(const SndfileSource&) = delete;
    SndfileSource& operator=(const SndfileSource&) = delete;

    int sampleRate() const override { return m_info.samplerate; }
    int channels() const override { return m_info.channels; }
    Container container() const override { return m_container; }
    std::vector<ChannelMixer::Position> channelPositions() const override;
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    double progress() const override;
    std::int64_t lengthFrames() const override { return m_info.frames == SF_COUNT_MAX ? -1 : m_info.frames; }
    Ending ending() const override;

private:
    // libsndfile counts the frames of a cut-off WAV or AIFF file as far as its data goes;
    // the header still says how long the whole was.
    std::int64_t framesInHeader() const;
    int m_fd;
    std::string m_path;
    SNDFILE* m_file = nullptr;
    SF_INFO m_info {};
    Container m_container = Container::Other;
    sf_count_t m_framesRead = 0;             // frames handed out
    sf_count_t m_position = 0;               // where in the stream decoding stands
    sf_count_t m_damagedAt = -1;             // where damage first cost frames (Ogg)
    std::int64_t m_fileSize = 0;
    std::int64_t m_declaredFrames = 0; // 0: unknown (an Ogg file cut before its last page)
};
