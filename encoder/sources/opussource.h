#pragma once

#include "sources/audiosource.h"

#include <cstdint>
#include <string>

struct OggOpusFile;

// Ogg Opus through libopusfile, read as a stream from the first page to the last: every link
// of a chained file (files joined end to end) is decoded, and no granule position (the length
// an Ogg page claims) ends the sound early. Opus is decoded at 48 kHz, whatever rate the
// stream names as its source's. Pages lost to damage are stepped over, and the first place
// where that happened is kept. Takes ownership of the descriptor once constructed.
class OpusSource : public AudioSource {
public:
    // Whether the file starts with the first page of an Ogg Opus stream.
    static bool detect(int fd);

    OpusSource(int fd, const std::string& path);
    ~OpusSource() override;
    OpusSource(const OpusSource&) = delete;
    OpusSource& operator=(const OpusSource&) = delete;

    int sampleRate() const override { return 48000; }
    int channels() const override { return m_channels; }
    Container container() const override { return Container::OggOpus; }
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    double progress() const override;
    // The links' lengths by the pages' granule positions, read from every page header.
    std::int64_t lengthFrames() const override;
    bool lengthIsExact() const override;
    Ending ending() const override;

private:
    static int readCallback(void* data, unsigned char* into, int bytes);
    // Walks the page headers once, for lengthFrames().
    void survey() const;
    // Whether the last whole page of the file ends its stream.
    bool lastPageEndsStream() const;

    int m_fd;
    OggOpusFile* m_file = nullptr;
    std::int64_t m_offset = 0; // where libopusfile reads next
    std::int64_t m_fileSize = 0;
    int m_channels = 0;
    std::int64_t m_position = 0;
    std::int64_t m_damagedAt = -1;
    std::int64_t m_holeAt = -1;  // where libopusfile first reported a gap between pages
    std::int64_t m_holeOffset = -1; // the file offset at the last gap reported
    int m_holesInPlace = 0;      // gaps reported since at that offset
    bool m_otherFormat = false;  // a later link changes the channels: the sound stops there
    bool m_ended = false;
    bool m_cutOff = false;       // the file's last page does not end its stream
    mutable std::int64_t m_surveyed = -2; // -2: not surveyed yet
    mutable bool m_surveyExact = false;
};
