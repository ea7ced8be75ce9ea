#include "sources/vorbissource.h"

#include "common/byteorder.h"
#include "common/encodeerror.h"
#include "sources/oggpages.h"
#include "sources/oggpagewalk.h"
#include "common/positionalread.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
// The most samples one Vorbis packet decodes to (half of each of two 8192-sample blocks).
constexpr std::int64_t kMaxPacketFrames = 4096;

} // namespace

bool VorbisSource::detect(int fd)
{
    // The first page holds the identification header alone: "OggS", 27 bytes, the lacing
    // values, then "\x01vorbis".
    std::uint8_t head[27 + 255 + 7];
    if (!ReadAt(fd, 0, head, 27) || std::memcmp(head, "OggS", 4) != 0 || !(head[5] & 2))
        return false;
    const int segments = head[26];
    return ReadAt(fd, 27, head + 27, static_cast<std::size_t>(segments) + 7)
        && std::memcmp(head + 27 + segments, "\x01vorbis", 7) == 0;
}

std::size_t VorbisSource::readCallback(void* into, std::size_t size, std::size_t count, void* data)
{
    auto* self = static_cast<VorbisSource*>(data);
    const std::size_t want = size * count;
    ssize_t got = 0;
    do
        got = pread(self->m_fd, into, want, self->m_offset);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return 0;
    self->m_offset += got;
    return size ? static_cast<std::size_t>(got) / size : 0;
}

VorbisSource::VorbisSource(int fd, const std::string& path)
    : m_fd(fd)
    , m_path(path)
{
    struct stat st {};
    if (fstat(m_fd, &st) == 0)
        m_fileSize = st.st_size;
    // No seeking: libvorbisfile then reads the file once, front to back, taking each link's
    // headers as it comes to them, instead of trusting the last page for the length.
    const ov_callbacks callbacks {readCallback, nullptr, nullptr, nullptr};
    if (ov_open_callbacks(this, &m_file, nullptr, 0, callbacks) != 0)
        throw EncodeError(EncodeError::printable(path) + " is not an audio file");
    const vorbis_info* info = ov_info(&m_file, -1);
    m_rate = info ? static_cast<int>(info->rate) : 0;
    m_channels = info ? info->channels : 0;
    if (m_channels < 1 || m_rate < kMinRate || m_rate > kMaxRate) {
        ov_clear(&m_file);
        throw EncodeError(EncodeError::printable(path) + " has an unsupported sample rate or channel count ("
                          + std::to_string(m_rate) + " Hz, " + std::to_string(m_channels) + " channels)");
    }
}

VorbisSource::~VorbisSource()
{
    ov_clear(&m_file);
    ::close(m_fd);
}

std::size_t VorbisSource::read(float* interleaved, std::size_t maxFrames)
{
    while (!m_ended) {
        float** pcm = nullptr;
        int link = 0;
        const long n = ov_read_float(&m_file, &pcm, static_cast<int>(std::min<std::size_t>(maxFrames, 1 << 20)), &link);
        if (n == OV_HOLE) {
            // Pages lost to damage, or only the seam of two joined files (which libvorbisfile
            // reports alike): what follows is decoded, and the pages decide at the end.
            if (m_holeAt < 0)
                m_holeAt = m_position;
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
            if (m_holeAt >= 0 && m_damagedAt < 0 && OggPages::firstDamage(m_fd, m_rate, false) >= 0)
                m_damagedAt = m_holeAt;
            break;
        }
        m_lastPageSeen = m_file.os.e_o_s != 0;
        const vorbis_info* info = ov_info(&m_file, -1);
        if (!info || info->rate != m_rate || info->channels != m_channels) {
            m_otherFormat = true;
            m_ended = true;
            break;
        }
        const auto frames = static_cast<std::size_t>(n);
        for (std::size_t i = 0; i < frames; ++i)
            for (int c = 0; c < m_channels; ++c)
                interleaved[i * static_cast<std::size_t>(m_channels) + static_cast<std::size_t>(c)] = pcm[c][i];
        m_position += n;
        return frames;
    }
    return 0;
}

double VorbisSource::progress() const
{
    if (m_fileSize <= 0)
        return 0.0;
    return std::clamp(static_cast<double>(m_offset) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

AudioSource::Ending VorbisSource::ending() const
{
    Ending ending;
    ending.damagedAtFrame = m_damagedAt;
    ending.damaged = m_damagedAt >= 0;
    // The last page read did not end the stream: the file was cut off (or a link in another
    // format follows, which is not converted).
    ending.early = m_otherFormat || (!m_lastPageSeen && !ending.damaged);
    return ending;
}

void VorbisSource::survey() const
{
    m_surveyed = 0;
    m_surveyExact = false;
    std::int64_t linkFrames = 0;
    std::uint64_t serial = 0;
    bool eos = false;
    bool atOtherLink = false; // a link the conversion stops before
    std::int64_t packetFrames = kMaxPacketFrames;
    OggPageWalk walk(m_fd, m_fileSize);
    OggPageWalk::Page page;
    while (walk.next(page)) {
        if (page.firstOfLink) {
            // A new link: its identification header says whether it is converted.
            std::uint8_t id[29];
            if (!ReadAt(m_fd, page.body, id, sizeof id) || std::memcmp(id, "\x01vorbis", 7) != 0
                || id[11] != m_channels || static_cast<int>(LittleEndian(id + 12, 4)) != m_rate) {
                atOtherLink = true;
                break;
            }
            // A packet decodes to at most half the long block.
            packetFrames = std::int64_t(1) << std::clamp((id[28] >> 4) - 1, 5, 12);
            m_surveyed += linkFrames;
            linkFrames = 0;
            serial = page.serial;
        }
        // The largest granule position of the link (a last page that claims less lies), and
        // no further than the page's packets can reach: a page that claims more lies too.
        if (page.serial == serial && page.granule != ~std::uint64_t(0) && page.granule < (std::uint64_t(1) << 62))
            linkFrames = std::max(linkFrames, std::min(static_cast<std::int64_t>(page.granule), linkFrames + page.packets * packetFrames));
        eos = page.lastOfLink;
    }
    m_surveyed += linkFrames;
    m_surveyExact = eos && (atOtherLink || walk.endedAfterPage());
}

std::int64_t VorbisSource::lengthFrames() const
{
    if (m_surveyed == -2)
        survey();
    return m_surveyed;
}

bool VorbisSource::lengthIsExact() const
{
    lengthFrames();
    return m_surveyExact;
}
