#pragma once

#include "sources/oggsource.h"

#include <vorbis/vorbisfile.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Ogg Vorbis through libvorbisfile, read as a stream from the first page to the last: every
// link of a chained file (files joined end to end) is decoded, and no granule position (the
// length an Ogg page claims) ends the sound early. Pages lost to damage are stepped over,
// and the first place where that happened is kept. Takes ownership of the descriptor once
// constructed.
class VorbisSource : public OggSource {
public:
    // Whether the file starts with the first page of an Ogg Vorbis stream.
    static bool detect(int fd);

    VorbisSource(int fd, const std::string& path);
    ~VorbisSource() override;
    VorbisSource(const VorbisSource&) = delete;
    VorbisSource& operator=(const VorbisSource&) = delete;

    int sampleRate() const override { return m_rate; }
    int channels() const override { return m_channels; }
    Container container() const override { return Container::OggVorbis; }
    std::size_t read(float* interleaved, std::size_t maxFrames) override;
    Ending ending() const override;

private:
    static std::size_t readCallback(void* into, std::size_t size, std::size_t count, void* data);
    bool readLink(std::int64_t body, Link& link) const override;

    std::string m_path;
    OggVorbis_File m_file {};
    int m_rate = 0;
    bool m_lastPageSeen = false; // the stream's end-of-stream page was read
};
