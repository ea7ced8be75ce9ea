#include "sources/opussource.h"

#include "common/byteorder.h"
#include "common/encodeerror.h"
#include "common/positionalread.h"

#include <opus/opusfile.h>

#include <unistd.h>

#include <algorithm>
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
    return firstPacketStarts(fd, "OpusHead", 8);
}

int OpusSource::readCallback(void* data, unsigned char* into, int bytes)
{
    if (bytes <= 0)
        return 0;
    const ssize_t got = static_cast<OpusSource*>(data)->readOn(into, static_cast<std::size_t>(bytes));
    return got < 0 ? -1 : static_cast<int>(got);
}

OpusSource::OpusSource(int fd, const std::string& path)
    : OggSource(fd, kMaxPacketFrames)
{
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
            gapMet();
            if (m_offset == m_holeOffset && ++m_holesInPlace > kMaxHolesInPlace) {
                endDamaged();
                break;
            }
            if (m_offset != m_holeOffset)
                m_holesInPlace = 0;
            m_holeOffset = m_offset;
            continue;
        }
        if (n <= 0) {
            endWith(n, true);
            m_cutOff = n == 0 && m_damagedAt < 0 && !lastPageEndsStream();
            break;
        }
        if (op_channel_count(m_file, link) != m_channels) {
            endAtOtherFormat();
            break;
        }
        m_position += n;
        return static_cast<std::size_t>(n);
    }
    return 0;
}

AudioSource::Ending OpusSource::ending() const
{
    // The last page of the file did not end the stream: the file was cut off.
    return endingAfter(m_cutOff);
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

bool OpusSource::readLink(std::int64_t body, Link& link) const
{
    std::uint8_t id[19];
    if (!ReadAt(m_fd, body, id, sizeof id) || std::memcmp(id, "OpusHead", 8) != 0 || id[9] != m_channels)
        return false;
    link.preSkip = static_cast<std::int64_t>(LittleEndian(id + 10, 2));
    return true;
}
