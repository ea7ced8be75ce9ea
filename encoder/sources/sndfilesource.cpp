#include "sources/sndfilesource.h"

#include "common/byteorder.h"
#include "common/encodeerror.h"
#include "common/positionalread.h"
#include "sources/oggpages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// libsndfile and LAME accept these; below LAME fails on the resampling ratio, above no real
// recording goes.
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;

AudioSource::Container containerOf(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
        return AudioSource::Container::Wav;
    case SF_FORMAT_AIFF:
        return AudioSource::Container::Aiff;
    case SF_FORMAT_FLAC:
        return AudioSource::Container::Flac;
    case SF_FORMAT_OGG:
        return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? AudioSource::Container::OggOpus
                                                              : AudioSource::Container::OggVorbis;
    default:
        return AudioSource::Container::Other;
    }
}

} // namespace

SndfileSource::SndfileSource(int fd, const std::string& path)
    : m_fd(fd)
    , m_path(path)
{
    lseek(m_fd, 0, SEEK_SET);
    m_file = sf_open_fd(m_fd, SFM_READ, &m_info, SF_FALSE);
    // MPEG audio is MpegSource's alone: libsndfile's own MPEG decoder plays junk inside a
    // file as noise. What MpegDetector refused is no MPEG audio worth converting.
    const int type = m_file ? m_info.format & SF_FORMAT_TYPEMASK : 0;
    if (!m_file || type == SF_FORMAT_RAW || type == SF_FORMAT_MPEG) {
        if (m_file)
            sf_close(m_file);
        throw EncodeError(EncodeError::printable(path) + " is not an audio file");
    }
    if (m_info.channels < 1 || m_info.samplerate < kMinRate || m_info.samplerate > kMaxRate) {
        sf_close(m_file);
        throw EncodeError(EncodeError::printable(path) + " has an unsupported sample rate or channel count ("
                          + std::to_string(m_info.samplerate) + " Hz, "
                          + std::to_string(m_info.channels) + " channels)");
    }
    m_container = containerOf(m_info.format);
    struct stat st {};
    if (fstat(m_fd, &st) == 0)
        m_fileSize = st.st_size;
    // libsndfile cannot find the length of an Ogg file whose last page is missing.
    m_declaredFrames = m_info.frames == SF_COUNT_MAX ? 0 : std::max<std::int64_t>(m_info.frames, framesInHeader());
}

SndfileSource::~SndfileSource()
{
    sf_close(m_file);
    ::close(m_fd);
}

std::size_t SndfileSource::read(float* interleaved, std::size_t maxFrames)
{
    sf_count_t n = sf_readf_float(m_file, interleaved, static_cast<sf_count_t>(maxFrames));
    if (n <= 0) {
        const int error = sf_error(m_file);
        if (error == SF_ERR_SYSTEM)
            throw EncodeError("cannot read " + EncodeError::printable(m_path));
        n = 0;
        if (error != SF_ERR_NO_ERROR)
            throw EncodeError::damaged(m_path, static_cast<double>(m_framesRead) / m_info.samplerate);
        // libsndfile read an Ogg file to its last page but fewer frames than that page
        // says: pages inside were lost. Where is found from the pages themselves.
        if ((m_info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG && m_info.frames != SF_COUNT_MAX
            && m_position < m_info.frames && m_damagedAt < 0)
            m_damagedAt = OggPages::firstDamage(m_fd, m_info.samplerate, (m_info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS);
    }
    m_framesRead += n;
    m_position += n;
    return static_cast<std::size_t>(n);
}

double SndfileSource::progress() const
{
    if (m_declaredFrames > 0)
        return std::clamp(static_cast<double>(m_position) / static_cast<double>(m_declaredFrames), 0.0, 1.0);
    // No length known: how far libsndfile has read the file.
    const off_t position = lseek(m_fd, 0, SEEK_CUR);
    if (m_fileSize <= 0 || position < 0)
        return 0.0;
    return std::clamp(static_cast<double>(position) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

AudioSource::Ending SndfileSource::ending() const
{
    Ending ending;
    ending.declaredFrames = m_declaredFrames;
    // Ogg says its length on its last page alone, so one whose length is unknown has lost its
    // end. Any other source without a length was written as a stream (piped, recorded) and
    // ends where it ends.
    const bool ogg = (m_info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG;
    ending.early = (ogg && m_info.frames == SF_COUNT_MAX) || m_position < m_declaredFrames;
    ending.damagedAtFrame = m_damagedAt;
    ending.damaged = m_damagedAt >= 0;
    // An Ogg file whose last page is there is not cut off: frames short of its length were
    // lost to damaged pages inside it, which libsndfile skipped (the place is known when a
    // page fails its checksum or a page is missing).
    if (ogg && ending.early && m_info.frames != SF_COUNT_MAX) {
        ending.early = false;
        ending.damaged = true;
    }
    return ending;
}

std::int64_t SndfileSource::framesInHeader() const
{
    const int type = m_info.format & SF_FORMAT_TYPEMASK;
    std::uint8_t head[12];
    if (!ReadAt(m_fd, 0, head, sizeof head))
        return 0;
    if (type == SF_FORMAT_AIFF) {
        // Big-endian chunks after "FORM" size "AIFF"; COMM gives the frames outright.
        std::int64_t pos = 12;
        for (int chunk = 0; chunk < 64; ++chunk) {
            std::uint8_t c[14];
            if (!ReadAt(m_fd, pos, c, sizeof c))
                return 0;
            const std::uint64_t size = BigEndian(c + 4, 4);
            if (std::memcmp(c, "COMM", 4) == 0)
                return static_cast<std::int64_t>(BigEndian(c + 10, 4));
            pos += 8 + static_cast<std::int64_t>(size + (size & 1));
        }
        return 0;
    }
    if (type != SF_FORMAT_WAV && type != SF_FORMAT_WAVEX && type != SF_FORMAT_RF64)
        return 0;
    // RIFF (or RIFX, big-endian), RF64 and BW64: the data chunk's size, or the ds64 chunk's
    // when the data chunk says 0xFFFFFFFF. The frames the header promises are then in the
    // proportion of that size to the data bytes really there.
    const bool big = std::memcmp(head, "RIFX", 4) == 0;
    std::int64_t pos = 12;
    std::uint64_t ds64Data = 0;
    std::int64_t blockAlign = 1;
    for (int chunk = 0; chunk < 64; ++chunk) {
        std::uint8_t c[24];
        if (!ReadAt(m_fd, pos, c, 8))
            return 0;
        const std::uint64_t size = big ? BigEndian(c + 4, 4) : LittleEndian(c + 4, 4);
        if (std::memcmp(c, "ds64", 4) == 0 && ReadAt(m_fd, pos + 8, c + 8, 16))
            ds64Data = LittleEndian(c + 16, 8);
        if (std::memcmp(c, "fmt ", 4) == 0 && ReadAt(m_fd, pos + 8, c + 8, 14))
            blockAlign = std::max<std::int64_t>(1, static_cast<std::int64_t>(big ? BigEndian(c + 20, 2) : LittleEndian(c + 20, 2)));
        if (std::memcmp(c, "data", 4) == 0) {
            const std::uint64_t declared = size == 0xFFFFFFFF ? ds64Data : size;
            // libsndfile decodes whole blocks only.
            const std::int64_t present = (m_fileSize - (pos + 8)) / blockAlign * blockAlign;
            if (declared == 0 || declared == 0xFFFFFFFF || present <= 0 || declared <= static_cast<std::uint64_t>(present))
                return 0;
            return static_cast<std::int64_t>(static_cast<long double>(m_info.frames) * declared / present + 0.5L);
        }
        pos += 8 + static_cast<std::int64_t>(size + (size & 1));
    }
    return 0;
}

std::vector<ChannelMixer::Position> SndfileSource::channelPositions() const
{
    std::vector<int> map(static_cast<std::size_t>(m_info.channels));
    if (sf_command(m_file, SFC_GET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int))) != SF_TRUE)
        return {};
    std::vector<ChannelMixer::Position> positions;
    for (const int speaker : map) {
        switch (speaker) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
        case SF_CHANNEL_MAP_REAR_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        case SF_CHANNEL_MAP_SIDE_LEFT:
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
        case SF_CHANNEL_MAP_TOP_REAR_LEFT:
            positions.push_back(ChannelMixer::Position::Left);
            break;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_REAR_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        case SF_CHANNEL_MAP_SIDE_RIGHT:
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
            positions.push_back(ChannelMixer::Position::Right);
            break;
        case SF_CHANNEL_MAP_LFE:
            positions.push_back(ChannelMixer::Position::Lfe);
            break;
        default:
            positions.push_back(ChannelMixer::Position::Centre);
            break;
        }
    }
    return positions;
}
