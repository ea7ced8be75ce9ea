#pragma once

#include "sources/oggsource.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct OggOpusFile;

// Ogg Opus through libopusfile, read as a stream from the first page to the last: every link
// of a chained file (files joined end to end) is decoded, and no granule position (the length
// an Ogg page claims) ends the sound early. Opus is decoded at 48 kHz, whatever rate the
// stream names as its source's. Pages lost to damage are stepped over, and the first place
// where that happened is kept. Takes ownership of the descriptor once constructed.
class OpusSource : public OggSource {
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
    Ending ending() const override;

private:
    static int readCallback(void* data, unsigned char* into, int bytes);
    bool readLink(std::int64_t body, Link& link) const override;
    // Whether the last whole page of the file ends its stream.
    bool lastPageEndsStream() const;

    OggOpusFile* m_file = nullptr;
    std::int64_t m_holeOffset = -1; // the file offset at the last gap reported
    int m_holesInPlace = 0;      // gaps reported since at that offset
    bool m_cutOff = false;       // the file's last page does not end its stream
};
