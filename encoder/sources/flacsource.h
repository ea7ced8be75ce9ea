#pragma once

#include "sources/audiosource.h"
#include "sources/flacframechain.h"
#include "sources/flacsurvey.h"

#include <FLAC/stream_decoder.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

// Native FLAC through libFLAC's stream decoder. libFLAC is fed STREAMINFO and then only the
// frames FlacFrameChain proves whole, so the frames the file holds are decoded whatever
// STREAMINFO says of their number (a header that claims fewer, or none, ends nothing), a
// damaged frame costs itself alone however often damage recurs, and the other metadata is
// never parsed (a broken tag block costs no audio; TagLib reads the tags). Where frames were
// lost is read from the sample numbers their headers carry. Takes ownership of the
// descriptor once constructed.
class FlacSource : public AudioSource {
public:
    // Whether the file is native FLAC ("fLaC", after an ID3v2 tag if there is one).
    static bool detect(int fd);

    FlacSource(int fd, const std::string& path);
    ~FlacSource() override;
    FlacSource(const FlacSource&) = delete;
    FlacSource& operator=(const FlacSource&) = delete;

    int sampleRate() const override { return m_rate; }
    int channels() const override { return m_channels; }
    Container container() const override { return Container::Flac; }
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    double progress() const override;
    // What the frames at the file's end say (see FlacSurvey), else STREAMINFO's length.
    std::int64_t lengthFrames() const override;
    bool lengthIsExact() const override;
    Ending ending() const override;

    // libFLAC's callbacks.
    struct Callbacks;

private:
    void take(const FLAC__Frame* frame, const std::int32_t* const buffer[]);

    int m_fd;
    std::string m_path;
    FLAC__StreamDecoder* m_decoder = nullptr;
    std::int64_t m_fileSize = 0;
    int m_rate = 0;
    int m_channels = 0;
    std::int64_t m_declaredFrames = 0; // STREAMINFO's, 0: not given
    FlacSurvey::Stream m_stream;       // as STREAMINFO describes it
    mutable bool m_surveyDone = false; // measured when first asked
    mutable std::int64_t m_surveyed = -1; // frames by the file's last frame, -1: not found
    mutable bool m_surveyExact = false;
    std::unique_ptr<FlacFrameChain> m_chain;
    std::vector<std::uint8_t> m_feed;  // what libFLAC reads next
    std::size_t m_fed = 0;             // of m_feed
    struct Fed {
        std::int64_t sample;
        int blockSize;
        bool afterForeign;
    };
    std::deque<Fed> m_frames;          // given to libFLAC, not yet decoded
    std::vector<float> m_pending;      // the decoded frame not yet handed out, interleaved
    std::size_t m_pendingAt = 0;       // in samples
    std::int64_t m_position = 0;       // frames handed out or pending
    std::int64_t m_nextSample = 0;     // where the last frame taken ends, by the frame numbers
    bool m_error = false;              // libFLAC met damage since the last frame it sent
    int m_rejected = 0;                // errors libFLAC reported
    std::int64_t m_damagedAt = -1;
    bool m_ended = false;
};
