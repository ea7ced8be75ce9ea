#include "mpegsource.h"

#include "encodeerror.h"

#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

MpegSource::MpegSource(int fd, const std::string& path, std::int64_t start)
    : m_fd(fd)
    , m_path(path)
    , m_chain(fd, start, path)
{
    int err = MPG123_OK;
    m_handle = mpg123_new(nullptr, &err);
    if (!m_handle)
        throw EncodeError("cannot start the MPEG decoder: out of memory");
    try {
        // Gapless: LAME-made files are decoded to their exact length (Info frame delay and
        // padding). Auto-resample: a stream that changes its format mid-way is converted to
        // the locked format rather than breaking off. No read-ahead: whole frames come in,
        // each is decoded as soon as it is there.
        mpg123_param(m_handle, MPG123_FLAGS,
            MPG123_QUIET | MPG123_GAPLESS | MPG123_AUTO_RESAMPLE | MPG123_NO_READAHEAD, 0);
        mpg123_format_none(m_handle);
        for (const long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
            mpg123_format(m_handle, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

        struct stat st {};
        if (fstat(m_fd, &st) == 0)
            m_fileSize = st.st_size;
        if (mpg123_open_feed(m_handle) != MPG123_OK)
            fail();
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        for (;;) {
            const int rc = mpg123_getformat(m_handle, &rate, &channels, &encoding);
            if (rc == MPG123_OK)
                break;
            if (rc != MPG123_NEED_MORE || !feed())
                throw EncodeError(EncodeError::printable(m_path) + " is not an audio file");
        }
        m_rate = static_cast<int>(rate);
        m_channels = channels;
        // Lock the first format: later changes are resampled/remixed by libmpg123.
        mpg123_format_none(m_handle);
        mpg123_format(m_handle, rate, channels, MPG123_ENC_FLOAT_32);
    } catch (...) {
        mpg123_delete(m_handle);
        throw;
    }
}

MpegSource::~MpegSource()
{
    mpg123_close(m_handle);
    mpg123_delete(m_handle);
    ::close(m_fd);
}

void MpegSource::fail() const
{
    throw EncodeError::damaged(m_path, m_rate > 0 ? static_cast<double>(m_framesDecoded) / m_rate : 0.0);
}

bool MpegSource::feed()
{
    const std::uint8_t* frame = nullptr;
    std::size_t size = 0;
    bool afterGap = false;
    if (!m_chain.next(frame, size, afterGap))
        return false;
    if (afterGap) {
        // Everything fed so far has been decoded and handed out (libmpg123 asks for more
        // only then). Start the decoder afresh, as at the start of a file: nothing from
        // before the junk leaks into the frames after it.
        mpg123_close(m_handle);
        if (mpg123_open_feed(m_handle) != MPG123_OK)
            fail();
        m_fadeLength = m_chain.samplesPerFrame() * 2;
        m_fadePosition = 0;
    }
    if (mpg123_feed(m_handle, frame, size) != MPG123_OK)
        throw EncodeError("the MPEG decoder ran out of memory");
    return true;
}

void MpegSource::fadeIn(float* samples, std::size_t frames)
{
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    for (std::size_t i = 0; i < frames && m_fadePosition < m_fadeLength; ++i, ++m_fadePosition) {
        const float gain = static_cast<float>(0.5 - 0.5 * std::cos(M_PI * static_cast<double>(m_fadePosition) / static_cast<double>(m_fadeLength)));
        for (std::size_t c = 0; c < channels; ++c)
            samples[i * channels + c] *= gain;
    }
}

std::size_t MpegSource::read(float* interleaved, std::size_t maxFrames)
{
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(m_channels);
    unsigned char* out = reinterpret_cast<unsigned char*>(interleaved);
    std::size_t filled = 0;
    int idle = 0; // calls that gave nothing and took nothing (a guard against a stuck decoder)
    while (!m_done && filled < maxFrames * frameBytes && idle < 10000) {
        size_t done = 0;
        const int rc = mpg123_read(m_handle, out + filled, maxFrames * frameBytes - filled, &done);
        if (m_fadePosition < m_fadeLength)
            fadeIn(reinterpret_cast<float*>(out + filled), done / frameBytes);
        filled += done;
        if (rc == MPG123_NEED_MORE) {
            if (!feed())
                m_done = true;
            idle = 0;
            continue;
        }
        if (rc == MPG123_DONE)
            m_done = true;
        else if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) // a new format is converted to the locked one
            fail();
        idle = done == 0 ? idle + 1 : 0;
    }
    m_framesDecoded += static_cast<std::int64_t>(filled / frameBytes);
    return filled / frameBytes;
}

double MpegSource::progress() const
{
    if (m_fileSize <= 0)
        return 0.0;
    return std::clamp(static_cast<double>(m_chain.position()) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

AudioSource::Ending MpegSource::ending() const
{
    Ending ending;
    ending.early = m_chain.endsEarly();
    const MpegFrameChain::StreamInfo& info = m_chain.streamInfo();
    if (info.frames > 0)
        ending.declaredFrames = std::max<std::int64_t>(0,
            info.frames * m_chain.samplesPerFrame() - info.delay - info.padding);
    return ending;
}
