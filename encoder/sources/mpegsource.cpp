#include "sources/mpegsource.h"

#include "common/encodeerror.h"

#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const long kRates[] = {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L};

} // namespace

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
        // libmpg123 always decodes at the stream's own rate; its own resampler is far below
        // libsoxr's quality.
        mpg123_format_none(m_handle);
        for (const long rate : kRates)
            mpg123_format(m_handle, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

        struct stat st {};
        if (fstat(m_fd, &st) == 0)
            m_fileSize = st.st_size;
        startDecoder(m_chain.stream().freeFormat());
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
        m_partRate = m_rate;
        m_channels = channels;
        m_decoded.resize(chunkFrames(m_channels) * static_cast<std::size_t>(m_channels));
        // Lock the first channel count: libmpg123 mixes later parts to it.
        mpg123_format_none(m_handle);
        for (const long any : kRates)
            mpg123_format(m_handle, any, channels, MPG123_ENC_FLOAT_32);
    } catch (...) {
        mpg123_delete(m_handle);
        throw;
    }
}

MpegSource::~MpegSource()
{
    soxr_delete(m_resampler);
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
    if (afterGap || m_chain.partStart()) {
        // Everything fed so far has been decoded and handed out (libmpg123 asks for more
        // only then). Start the decoder afresh, as at the start of a file: nothing from
        // before the junk leaks into the frames after it, and the next part of a joined file
        // has its own Info frame read.
        finishPart();
        mpg123_close(m_handle);
        startDecoder(m_chain.header().freeFormat());
        if (m_chain.partStart())
            m_framesBeforePart = m_framesMade;
        if (afterGap && !m_chain.partStart()) {
            m_fadeLength = m_chain.samplesPerFrame() * 2;
            m_fadePosition = 0;
        }
    }
    if (mpg123_feed(m_handle, frame, size) != MPG123_OK)
        throw EncodeError("the MPEG decoder ran out of memory");
    return true;
}

void MpegSource::startDecoder(bool freeFormat)
{
    // Gapless: LAME-made files are decoded to their exact length (Info frame delay and
    // padding). No read-ahead: whole frames come in, each is decoded as soon as it is there.
    // Free format is the exception: libmpg123 takes a free-format frame's length from the
    // next header, and loses its way without one.
    mpg123_param(m_handle, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS | (freeFormat ? 0 : MPG123_NO_READAHEAD), 0);
    if (mpg123_open_feed(m_handle) != MPG123_OK)
        fail();
}

void MpegSource::formatChanged()
{
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(m_handle, &rate, &channels, &encoding) != MPG123_OK || channels != m_channels)
        fail();
    if (rate == m_partRate)
        return;
    finishPart();
    m_partRate = static_cast<int>(rate);
    if (m_partRate == m_rate)
        return;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    m_resampler = soxr_create(m_partRate, m_rate, static_cast<unsigned>(m_channels), &error, &io, &quality, &runtime);
    if (!m_resampler)
        throw EncodeError("cannot convert " + std::to_string(m_partRate) + " Hz to " + std::to_string(m_rate)
            + " Hz: " + (error ? error : "unknown error"));
}

void MpegSource::resample(const float* frames, std::size_t count)
{
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    if (m_pendingUsed > 0) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingUsed));
        m_pendingUsed = 0;
    }
    // No input (a null pointer) drains what the filter still holds.
    for (;;) {
        const std::size_t room = (count * static_cast<std::size_t>(m_rate)) / static_cast<std::size_t>(m_partRate) + 1024;
        const std::size_t had = m_pending.size();
        m_pending.resize(had + room * channels);
        std::size_t taken = 0;
        std::size_t made = 0;
        const soxr_error_t error = soxr_process(m_resampler, frames, count, &taken, m_pending.data() + had, room, &made);
        m_pending.resize(had + made * channels);
        if (error)
            throw EncodeError(std::string("cannot convert the sample rate: ") + error);
        m_framesMade += static_cast<std::int64_t>(made);
        if (frames) {
            frames += taken * channels;
            count -= taken;
            if (count == 0)
                return;
        } else if (made == 0) {
            return;
        }
    }
}

void MpegSource::finishPart()
{
    if (!m_resampler)
        return;
    resample(nullptr, 0);
    soxr_delete(m_resampler);
    m_resampler = nullptr;
    m_partRate = m_rate;
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
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    const std::size_t frameBytes = sizeof(float) * channels;
    std::size_t filled = 0;
    int idle = 0; // calls that gave nothing and took nothing (a guard against a stuck decoder)
    while (filled < maxFrames && idle < 10000) {
        const std::size_t pending = (m_pending.size() - m_pendingUsed) / channels;
        if (pending > 0) {
            const std::size_t n = std::min(pending, maxFrames - filled);
            std::memcpy(interleaved + filled * channels, m_pending.data() + m_pendingUsed, n * frameBytes);
            m_pendingUsed += n * channels;
            filled += n;
            continue;
        }
        if (m_done)
            break;
        // At the output rate libmpg123 decodes straight into the caller's buffer.
        const bool direct = m_resampler == nullptr;
        float* into = direct ? interleaved + filled * channels : m_decoded.data();
        const std::size_t room = direct ? maxFrames - filled : m_decoded.size() / channels;
        size_t done = 0;
        const int rc = mpg123_read(m_handle, reinterpret_cast<unsigned char*>(into), room * frameBytes, &done);
        const std::size_t frames = done / frameBytes;
        if (m_fadePosition < m_fadeLength)
            fadeIn(into, frames);
        if (direct) {
            filled += frames;
            m_framesMade += static_cast<std::int64_t>(frames);
        } else if (frames > 0) {
            resample(into, frames);
        }
        if (rc == MPG123_NEED_MORE) {
            if (!feed()) {
                finishPart();
                m_done = true;
            }
            idle = 0;
            continue;
        }
        if (rc == MPG123_NEW_FORMAT)
            formatChanged();
        else if (rc == MPG123_DONE) {
            finishPart();
            m_done = true;
        } else if (rc != MPG123_OK)
            fail();
        idle = frames == 0 ? idle + 1 : 0;
    }
    m_framesDecoded += static_cast<std::int64_t>(filled);
    return filled;
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
    if (info.frames > 0) {
        // The parts before the last one as they were decoded, the last as its Info frame has it.
        const std::int64_t last = std::max<std::int64_t>(0,
            info.frames * m_chain.samplesPerFrame() - info.delay - info.padding);
        const int lastRate = m_chain.header().sampleRate();
        ending.declaredFrames = m_framesBeforePart
            + (lastRate > 0 ? static_cast<std::int64_t>(std::llround(static_cast<double>(last) * m_rate / lastRate)) : last);
    }
    return ending;
}
