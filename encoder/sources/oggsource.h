#pragma once

#include "sources/audiosource.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// What the Ogg Vorbis and Ogg Opus sources share: an Ogg file given to its decoding library
// as a stream read from the first page to the last (no seeking, so every link of a chained
// file is decoded and no granule position ends the sound early), the progress by the bytes
// the library has read, and the length measured from the page headers. The descriptor is the
// source's to close, once its library has let go of it.
class OggSource : public AudioSource {
public:
    double progress() const override;
    // The links' lengths by the pages' granule positions, read from every page header.
    std::int64_t lengthFrames() const override;
    bool lengthIsExact() const override;

protected:
    // maxPacketFrames: the most frames one packet of the format decodes to.
    OggSource(int fd, std::int64_t maxPacketFrames);

    // Whether the file starts with the first page of an Ogg stream whose first packet (the
    // identification header, alone on that page) starts with the length bytes of magic.
    static bool firstPacketStarts(int fd, const char* magic, std::size_t length);

    // Reads at most bytes from where the library reads next, for its read callback, going on
    // after a signal interrupts; the bytes read, or -1.
    ssize_t readOn(void* into, std::size_t bytes);

    // What the identification header of a link tells the measure of the length.
    struct Link {
        std::int64_t packetFrames = 0; // the most frames one of its packets decodes to
        std::int64_t preSkip = 0;      // frames at its start that are not played
    };
    // Reads the identification header at body, the first packet of a new link: false when
    // the link is one the conversion stops before (another format, other channels or rate).
    virtual bool readLink(std::int64_t body, Link& link) const = 0;

    // The library reported a gap between pages: pages lost to damage, or only the seam of
    // two joined files, which it reports alike. What follows is decoded; the pages decide at
    // the end of the stream whether the first gap was damage.
    void gapMet();
    // Damage the library cannot pass: the sound ends here.
    void endDamaged();
    // The library gives no more sound: below 0, damage it cannot pass; 0, the end of the
    // stream, where a gap it reported is damage only where a page is damaged. opus: the
    // granule positions count at 48 kHz (OggPages).
    void endWith(long n, bool opus);
    // A link that changes the format follows: the sound stops before it.
    void endAtOtherFormat();
    // The state of the ending: the file's last page did not end its stream (cutOff), and
    // the damage and change of format met on the way.
    Ending endingAfter(bool cutOff) const;

    int m_fd;
    std::int64_t m_offset = 0; // where the library reads next
    std::int64_t m_fileSize = 0;
    int m_channels = 0;
    std::int64_t m_position = 0;
    std::int64_t m_damagedAt = -1;
    bool m_ended = false;

private:
    // Walks the page headers once, for lengthFrames().
    void survey() const;

    std::int64_t m_maxPacketFrames;
    std::int64_t m_holeAt = -1; // where the library first reported a gap between pages
    bool m_otherFormat = false; // a later link changes the format: the sound stopped there
    mutable std::int64_t m_surveyed = -2; // -2: not surveyed yet
    mutable bool m_surveyExact = false;
};
