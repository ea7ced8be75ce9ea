#include "sources/opussource.h"

#include "common/byteorder.h"
#include "common/encodeerror.h"
#include "sources/oggpages.h"
#include "sources/oggpagewalk.h"
#include "common/positionalread.h"

#include <opus/opusfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The most samples one Opus packet decodes to: 120 ms at 48 kHz.
constexpr std::int64_t kMaxPacketFrames = 5760;
// The largest Ogg page: its header with 255 lacing values, and 255 segments of 255 bytes.
constexpr std::int64_t kMaxPage = 27 + 255 + 255 * 255;
// Gaps reported one after the other with no byte read in between, at the most.
constexpr int kMaxHolesInPlace = 1000;

} // namespace

bool OpusSource::detect(int fd)
{
    // The first page holds the identification header alone: "OggS", 27 bytes, the lacing
    // values, then "OpusHead".
    std::uint8_t head[27 + 255 + 8];
    if (!ReadAt(fd, 0, head, 27) || std::memcmp(head, "OggS", 4) != 0 || !(head[5] & 2))
        return false;
    const int segments = head[26];
    return ReadAt(fd, 27, head + 27, static_cast<std::size_t>(segments) + 8)
        && std::memcmp(head + 27 + segments, "OpusHead", 8) == 0;
}

int OpusSource::readCallback(void* data, unsigned char* into, int bytes)
{
    auto* self = static_cast<OpusSource*>(data);
    if (bytes <= 0)
        return 0;
    ssize_t got = 0;
    do
        got = pread(self->m_fd, into, static_cast<std::size_t>(bytes), self->m_offset);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return -1;
    self->m_offset += got;
    return static_cast<int>(got);
}

OpusSource::OpusSource(int fd, const std::string& path)
    : m_fd(fd)
{
    struct stat st {};
    if (fstat(m_fd, &st) == 0)
        m_fileSize = st.st_size;
    // No seeking: libopusfile then reads the file once, front to back, taking each link's
    // headers as it comes to them, instead of trusting the last page for the length.
    const OpusFileCallbacks callbacks {readCallback, nullptr, nullptr, nullptr};
    int error = 0;
    m_file = op_open_callbacks(this, &callbacks, nullptr, 0, &error);
    if (!m_file)
        throw EncodeError(EncodeError::printable(path) + " is not an audio file");
    m_channels = op_channel_count(m_file, -1);
    if (m_channels < 1 || m_channels > 255) {
        op_free(m_file);
        throw EncodeError(EncodeError::printable(path) + " has an unsupported sample rate or channel count (48000 Hz, "
                          + std::to_string(m_channels) + " channels)");
    }
}

OpusSource::~OpusSource()
{
    op_free(m_file);
    ::close(m_fd);
}

std::size_t OpusSource::read(float* interleaved, std::size_t maxFrames)
{
    const std::size_t floats = std::min<std::size_t>(maxFrames, 1 << 20) * static_cast<std::size_t>(m_channels);
    // op_read_float wants room for a whole packet of the link's channels; a smaller chunk
    // is filled from its own buffer, so any size is safe.
    while (!m_ended && floats > 0) {
        int link = 0;
        const int n = op_read_float(m_file, interleaved, static_cast<int>(std::min<std::size_t>(floats, 1 << 30)), &link);
        if (n == OP_HOLE) {
            // Pages lost to damage, or only the seam of two joined files (which libopusfile
            // reports alike): what follows is decoded, and the pages decide at the end. A
            // gap is reported once per stretch of file read: one reported again and again
            // where nothing more is read ends the sound there.
            if (m_holeAt < 0)
                m_holeAt = m_position;
            if (m_offset == m_holeOffset && ++m_holesInPlace > kMaxHolesInPlace) {
                if (m_damagedAt < 0)
                    m_damagedAt = m_position;
                m_ended = true;
                break;
            }
            if (m_offset != m_holeOffset)
                m_holesInPlace = 0;
            m_holeOffset = m_offset;
            continue;
        }
        if (n < 0) {
            if (m_damagedAt < 0)
                m_damagedAt = m_position;
            m_ended = true;
            break;
        }
        if (n == 0) {
            m_ended = true;
            if (m_holeAt >= 0 && m_damagedAt < 0 && OggPages::firstDamage(m_fd, 48000, true) >= 0)
                m_damagedAt = m_holeAt;
            m_cutOff = m_damagedAt < 0 && !lastPageEndsStream();
            break;
        }
        if (op_channel_count(m_file, link) != m_channels) {
            m_otherFormat = true;
            m_ended = true;
            break;
        }
        m_position += n;
        return static_cast<std::size_t>(n);
    }
    return 0;
}

double OpusSource::progress() const
{
    if (m_fileSize <= 0)
        return 0.0;
    return std::clamp(static_cast<double>(m_offset) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

AudioSource::Ending OpusSource::ending() const
{
    Ending ending;
    ending.damagedAtFrame = m_damagedAt;
    ending.damaged = m_damagedAt >= 0;
    // The last page of the file did not end the stream: the file was cut off (or a link in
    // another format follows, which is not converted).
    ending.early = m_otherFormat || (m_cutOff && !ending.damaged);
    return ending;
}

bool OpusSource::lastPageEndsStream() const
{
    // The last page whose header is whole and whose body reaches no further than the file,
    // searched back from the end over at most one page's length.
    const std::int64_t from = std::max<std::int64_t>(0, m_fileSize - kMaxPage);
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(m_fileSize - from));
    if (tail.size() < 27 || !ReadAt(m_fd, from, tail.data(), tail.size()))
        return false;
    for (std::size_t at = tail.size() - 27 + 1; at-- > 0;) {
        const std::uint8_t* p = tail.data() + at;
        if (std::memcmp(p, "OggS", 4) != 0 || p[4] != 0 || at + 27 + p[26] > tail.size())
            continue;
        std::size_t size = 27 + p[26];
        for (int i = 0; i < p[26]; ++i)
            size += p[27 + i];
        if (at + size <= tail.size())
            return (p[5] & 4) != 0;
    }
    return false;
}

void OpusSource::survey() const
{
    m_surveyed = 0;
    m_surveyExact = false;
    std::int64_t linkFrames = 0; // by granule positions, the pre-skip included
    std::int64_t preSkip = 0;
    std::uint64_t serial = 0;
    bool eos = false;
    bool atOtherLink = false; // a link the conversion stops before
    const auto endLink = [&] { m_surveyed += std::max<std::int64_t>(0, linkFrames - preSkip); };
    OggPageWalk walk(m_fd, m_fileSize);
    OggPageWalk::Page page;
    while (walk.next(page)) {
        if (page.firstOfLink) {
            // A new link: its identification header says whether it is converted.
            std::uint8_t id[19];
            if (!ReadAt(m_fd, page.body, id, sizeof id) || std::memcmp(id, "OpusHead", 8) != 0 || id[9] != m_channels) {
                atOtherLink = true;
                break;
            }
            endLink();
            linkFrames = 0;
            preSkip = static_cast<std::int64_t>(LittleEndian(id + 10, 2));
            serial = page.serial;
        }
        // The largest granule position of the link (a last page that claims less lies), and
        // no further than the page's packets can reach: a page that claims more lies too.
        if (page.serial == serial && page.granule != ~std::uint64_t(0) && page.granule < (std::uint64_t(1) << 62))
            linkFrames = std::max(linkFrames, std::min(static_cast<std::int64_t>(page.granule), linkFrames + page.packets * kMaxPacketFrames));
        eos = page.lastOfLink;
    }
    endLink();
    m_surveyExact = eos && (atOtherLink || walk.endedAfterPage());
}

std::int64_t OpusSource::lengthFrames() const
{
    if (m_surveyed == -2)
        survey();
    return m_surveyed;
}

bool OpusSource::lengthIsExact() const
{
    lengthFrames();
    return m_surveyExact;
}
