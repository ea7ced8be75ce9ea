#include "sndfilesource.h"

#include "encodeerror.h"

#include <unistd.h>

#include <algorithm>

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
    if (!m_file || (m_info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW) {
        if (m_file)
            sf_close(m_file);
        ::close(m_fd);
        throw EncodeError(path + " is not an audio file");
    }
    if (m_info.channels < 1 || m_info.samplerate < kMinRate || m_info.samplerate > kMaxRate) {
        sf_close(m_file);
        ::close(m_fd);
        throw EncodeError(path + " has an unsupported sample rate or channel count ("
                          + std::to_string(m_info.samplerate) + " Hz, "
                          + std::to_string(m_info.channels) + " channels)");
    }
    m_container = containerOf(m_info.format);
}

SndfileSource::~SndfileSource()
{
    sf_close(m_file);
    ::close(m_fd);
}

std::size_t SndfileSource::read(float* interleaved, std::size_t maxFrames)
{
    const sf_count_t n = sf_readf_float(m_file, interleaved, static_cast<sf_count_t>(maxFrames));
    if (n > 0) {
        m_framesRead += n;
        return static_cast<std::size_t>(n);
    }
    if (sf_error(m_file) != SF_ERR_NO_ERROR)
        throw EncodeError("cannot decode " + m_path + ": " + sf_strerror(m_file));
    return 0;
}

double SndfileSource::progress() const
{
    if (m_info.frames <= 0)
        return 0.0;
    return std::clamp(static_cast<double>(m_framesRead) / static_cast<double>(m_info.frames), 0.0, 1.0);
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
