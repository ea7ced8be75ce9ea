#include "sources/oggsource.h"

#include "common/positionalread.h"
#include "sources/oggpages.h"
#include "sources/oggpagewalk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The longest identification header magic a format names.
constexpr std::size_t kMaxMagic = 8;

} // namespace

OggSource::OggSource(int fd, std::int64_t maxPacketFrames)
    : m_fd(fd)
    , m_maxPacketFrames(maxPacketFrames)
{
    struct stat st {};
    if (fstat(m_fd, &st) == 0)
        m_fileSize = st.st_size;
}

bool OggSource::firstPacketStarts(int fd, const char* magic, std::size_t length)
{
    // The first page holds the identification header alone: "OggS", 27 bytes, the lacing
    // values, then the header's magic.
    std::uint8_t head[27 + 255 + kMaxMagic];
    if (length > kMaxMagic || !ReadAt(fd, 0, head, 27) || std::memcmp(head, "OggS", 4) != 0 || !(head[5] & 2))
        return false;
    const int segments = head[26];
    return ReadAt(fd, 27, head + 27, static_cast<std::size_t>(segments) + length)
        && std::memcmp(head + 27 + segments, magic, length) == 0;
}

ssize_t OggSource::readOn(void* into, std::size_t bytes)
{
    ssize_t got = 0;
    do
        got = pread(m_fd, into, bytes, m_offset);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return -1;
    m_offset += got;
    return got;
}

void OggSource::gapMet()
{
    if (m_holeAt < 0)
        m_holeAt = m_position;
}

void OggSource::endDamaged()
{
    if (m_damagedAt < 0)
        m_damagedAt = m_position;
    m_ended = true;
}

void OggSource::endWith(long n, bool opus)
{
    if (n < 0) {
        endDamaged();
        return;
    }
    m_ended = true;
    if (m_holeAt >= 0 && m_damagedAt < 0 && OggPages::firstDamage(m_fd, sampleRate(), opus) >= 0)
        m_damagedAt = m_holeAt;
}

void OggSource::endAtOtherFormat()
{
    m_otherFormat = true;
    m_ended = true;
}

double OggSource::progress() const
{
    if (m_fileSize <= 0)
        return 0.0;
    return std::clamp(static_cast<double>(m_offset) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

AudioSource::Ending OggSource::endingAfter(bool cutOff) const
{
    Ending ending;
    ending.damagedAtFrame = m_damagedAt;
    ending.damaged = m_damagedAt >= 0;
    // The stream did not end: the file was cut off (or a link in another format follows,
    // which is not converted).
    ending.early = m_otherFormat || (cutOff && !ending.damaged);
    return ending;
}

void OggSource::survey() const
{
    m_surveyed = 0;
    m_surveyExact = false;
    std::int64_t linkFrames = 0; // by granule positions, a pre-skip included
    Link link;
    link.packetFrames = m_maxPacketFrames;
    std::uint64_t serial = 0;
    bool eos = false;
    bool atOtherLink = false; // a link the conversion stops before
    const auto endLink = [&] { m_surveyed += std::max<std::int64_t>(0, linkFrames - link.preSkip); };
    OggPageWalk walk(m_fd, m_fileSize);
    OggPageWalk::Page page;
    while (walk.next(page)) {
        if (page.firstOfLink) {
            // A new link: its identification header says whether it is converted.
            Link next;
            next.packetFrames = m_maxPacketFrames;
            if (!readLink(page.body, next)) {
                atOtherLink = true;
                break;
            }
            endLink();
            linkFrames = 0;
            link = next;
            serial = page.serial;
        }
        // The largest granule position of the link (a last page that claims less lies), and
        // no further than the page's packets can reach: a page that claims more lies too.
        if (page.serial == serial && page.granule != ~std::uint64_t(0) && page.granule < (std::uint64_t(1) << 62))
            linkFrames = std::max(linkFrames, std::min(static_cast<std::int64_t>(page.granule), linkFrames + page.packets * link.packetFrames));
        eos = page.lastOfLink;
    }
    endLink();
    m_surveyExact = eos && (atOtherLink || walk.endedAfterPage());
}

std::int64_t OggSource::lengthFrames() const
{
    if (m_surveyed == -2)
        survey();
    return m_surveyed;
}

bool OggSource::lengthIsExact() const
{
    lengthFrames();
    return m_surveyExact;
}
