#include "sources/vorbissource.h"

#include "common/byteorder.h"
#include "common/encodeerror.h"
#include "common/positionalread.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
// The most samples one Vorbis packet decodes to (half of each of two 8192-sample blocks).
constexpr std::int64_t kMaxPacketFrames = 4096;

} // namespace

bool VorbisSource::detect(int fd)
{
    return firstPacketStarts(fd, "\x01vorbis", 7);
}

std::size_t VorbisSource::readCallback(void* into, std::size_t size, std::size_t count, void* data)
{
    const ssize_t got = static_cast<VorbisSource*>(data)->readOn(into, size * count);
    return got < 0 || size == 0 ? 0 : static_cast<std::size_t>(got) / size;
}

VorbisSource::VorbisSource(int fd, const std::string& path)
    : OggSource(fd, kMaxPacketFrames)
    , m_path(path)
{
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
            gapMet();
            continue;
        }
        if (n <= 0) {
            endWith(n, false);
            break;
        }
        m_lastPageSeen = m_file.os.e_o_s != 0;
        const vorbis_info* info = ov_info(&m_file, -1);
        if (!info || info->rate != m_rate || info->channels != m_channels) {
            endAtOtherFormat();
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

AudioSource::Ending VorbisSource::ending() const
{
    // The last page read did not end the stream: the file was cut off.
    return endingAfter(!m_lastPageSeen);
}

bool VorbisSource::readLink(std::int64_t body, Link& link) const
{
    std::uint8_t id[29];
    if (!ReadAt(m_fd, body, id, sizeof id) || std::memcmp(id, "\x01vorbis", 7) != 0 || id[11] != m_channels
        || static_cast<int>(LittleEndian(id + 12, 4)) != m_rate)
        return false;
    // A packet decodes to at most half the long block.
    link.packetFrames = std::int64_t(1) << std::clamp((id[28] >> 4) - 1, 5, 12);
    return true;
}
