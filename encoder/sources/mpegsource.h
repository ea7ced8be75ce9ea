#pragma once

#include "mpeg/mpegframechain.h"
#include "sources/audiosource.h"

#include <cstdint>
#include <string>
#include <vector>

struct mpg123_handle_struct;
struct soxr;

// MPEG audio layers I, II and III through libmpg123, decoded to float at the stream's first
// format. libmpg123 is fed the frames that MpegFrameChain lets through, one at a time, so it
// never sees junk, tags or a partial frame. Each part of a joined file is decoded as a file
// of its own (its Info frame read, its gapless trim applied); a part at another sample rate
// is resampled to the first part's with libsoxr, another channel count is mixed by
// libmpg123. Takes ownership of the file descriptor once constructed.
class MpegSource : public AudioSource {
public:
    // start: the offset of the first frame, as MpegDetector found it.
    MpegSource(int fd, const std::string& path, std::int64_t start);
    ~MpegSource() override;
    MpegSource(const MpegSource&) = delete;
    MpegSource& operator=(const MpegSource&) = delete;

    int sampleRate() const override { return m_rate; }
    int channels() const override { return m_channels; }
    Container container() const override { return Container::Mpeg; }
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    double progress() const override;
    Ending ending() const override;

private:
    // Opens the decoder for a new part, as for the start of a file.
    void startDecoder(bool freeFormat);
    // Gives libmpg123 the next frame; false at the end of the data.
    bool feed();
    // Takes a new format of libmpg123's output: its sample rate may need resampling.
    void formatChanged();
    // Hands frames decoded at the part's rate on to m_pending, resampled.
    void resample(const float* frames, std::size_t count);
    // Drains and ends the resampler of the part that ended.
    void finishPart();
    void fadeIn(float* samples, std::size_t frames);
    [[noreturn]] void fail() const;

    int m_fd;
    std::string m_path;
    MpegFrameChain m_chain;
    mpg123_handle_struct* m_handle = nullptr;
    int m_rate = 0;
    int m_channels = 0;
    std::int64_t m_fileSize = 0;
    std::int64_t m_framesDecoded = 0;  // handed to the caller
    std::int64_t m_framesMade = 0;     // at the output rate, handed out or pending
    std::int64_t m_framesBeforePart = 0; // made before the last part started
    int m_partRate = 0;                // what libmpg123 gives now
    soxr* m_resampler = nullptr;       // when that is not m_rate
    std::vector<float> m_decoded;      // a block at the part's rate, to be resampled
    std::vector<float> m_pending;      // resampled frames not yet handed out
    std::size_t m_pendingUsed = 0;     // samples of m_pending handed out
    bool m_done = false;
    // After a gap the decoder starts afresh and its output is faded in over this many
    // frames: the first block after a restart lacks the overlap that cancels its aliasing.
    std::int64_t m_fadeLength = 0;
    std::int64_t m_fadePosition = 0;
};
