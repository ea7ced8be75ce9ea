#pragma once

#include "sources/audiosource.h"

#include <vorbis/vorbisfile.h>

#include <cstdint>
#include <string>

// Ogg Vorbis through libvorbisfile, read as a stream from the first page to the last: every
// link of a chained file (files joined end to end) is decoded, and no granule position (the
// length an Ogg page claims) ends the sound early. Pages lost to damage are stepped over,
// and the first place where that happened is kept. Takes ownership of the descriptor once
// constructed.
class VorbisSource : public AudioSource {
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
    double progress() const override;
    // The links' lengths by the pages' granule positions, read from every page header.
    std::int64_t lengthFrames() const override;
    bool lengthIsExact() const override;
    Ending ending() const override;

private:
    static std::size_t readCallback(void* into, std::size_t size, std::size_t count, void* data);
    // Walks the page headers once, for lengthFrames().
    void survey() const;

    int m_fd;
    std::string m_path;
    OggVorbis_File m_file {};
    std::int64_t m_offset = 0; // where libvorbisfile reads next
    std::int64_t m_fileSize = 0;
    int m_rate = 0;
    int m_channels = 0;
    std::int64_t m_position = 0;
    std::int64_t m_damagedAt = -1;
    std::int64_t m_holeAt = -1;    // where libvorbisfile first reported a gap between pages
    bool m_otherFormat = false;  // a later link changes the rate or channels: the sound stops there
    bool m_ended = false;
    bool m_lastPageSeen = false; // the stream's end-of-stream page was read
    mutable std::int64_t m_surveyed = -2; // -2: not surveyed yet
    mutable bool m_surveyExact = false;
};
