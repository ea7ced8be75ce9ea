#include "mpegsource.h"

#include "encodeerror.h"

#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

MpegSource::MpegSource(int fd, const std::string& path)
    : m_fd(fd)
    , m_path(path)
{
    int err = MPG123_OK;
    m_handle = mpg123_new(nullptr, &err);
    if (!m_handle) {
        ::close(m_fd);
        throw EncodeError(std::string("cannot start the MPEG decoder: ") + mpg123_plain_strerror(err));
    }
    try {
        // Gapless: LAME-made files are decoded to their exact length (Info frame delay and
        // padding). Auto-resample: corruption that fakes a format change mid-stream is
        // converted to the locked format rather than breaking the stream.
        mpg123_param(m_handle, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_AUTO_RESAMPLE, 0);
        // The detector has already proven this is MPEG audio, so junk in the middle (a
        // damaged download) may be skipped however long it is.
        mpg123_param(m_handle, MPG123_RESYNC_LIMIT, -1, 0);
        mpg123_format_none(m_handle);
        for (const long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
            mpg123_format(m_handle, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

        struct stat st {};
        if (fstat(m_fd, &st) == 0)
            m_fileSize = st.st_size;
        lseek(m_fd, 0, SEEK_SET);
        if (mpg123_open_fd(m_handle, m_fd) != MPG123_OK)
            fail("cannot open");
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(m_handle, &rate, &channels, &encoding) != MPG123_OK)
            fail("cannot read the format of");
        m_rate = static_cast<int>(rate);
        m_channels = channels;
        // Lock the first format: later changes are resampled/remixed by libmpg123.
        mpg123_format_none(m_handle);
        mpg123_format(m_handle, rate, channels, MPG123_ENC_FLOAT_32);
    } catch (...) {
        mpg123_delete(m_handle);
        ::close(m_fd);
        throw;
    }
}

MpegSource::~MpegSource()
{
    mpg123_close(m_handle);
    mpg123_delete(m_handle);
    ::close(m_fd);
}

void MpegSource::fail(const std::string& what) const
{
    throw EncodeError(what + " " + m_path + ": " + mpg123_strerror(m_handle));
}

std::size_t MpegSource::read(float* interleaved, std::size_t maxFrames)
{
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(m_channels);
    unsigned char* out = reinterpret_cast<unsigned char*>(interleaved);
    std::size_t filled = 0;
    int idle = 0; // calls that made no output (frames swallowed by gapless trimming)
    while (!m_done && filled < maxFrames * frameBytes && idle < 10000) {
        size_t done = 0;
        const int rc = mpg123_read(m_handle, out + filled, maxFrames * frameBytes - filled, &done);
        filled += done;
        if (rc == MPG123_DONE) {
            m_done = true;
        } else if (rc == MPG123_NEW_FORMAT) {
            continue; // the locked format stays; libmpg123 converts to it
        } else if (rc != MPG123_OK) {
            fail("cannot decode");
        }
        idle = done == 0 ? idle + 1 : 0;
    }
    return filled / frameBytes;
}

double MpegSource::progress() const
{
    if (m_fileSize <= 0)
        return 0.0;
    const off_t pos = mpg123_tell_stream(m_handle);
    return std::clamp(static_cast<double>(pos) / static_cast<double>(m_fileSize), 0.0, 1.0);
}
