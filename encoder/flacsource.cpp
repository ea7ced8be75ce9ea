#include "flacsource.h"

#include "encodeerror.h"
#include "flacsurvey.h"
#include "positionalread.h"

#include <FLAC/stream_decoder.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// libsndfile's limits, which the other sources keep too.
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;

// Where "fLaC" stands: at the start, or after an ID3v2 tag (some taggers put one there).
std::int64_t markerAt(int fd)
{
    std::uint8_t head[10];
    if (!ReadAt(fd, 0, head, sizeof head))
        return -1;
    std::int64_t at = 0;
    if (std::memcmp(head, "ID3", 3) == 0 && !((head[6] | head[7] | head[8] | head[9]) & 0x80))
        at = 10 + ((head[6] << 21) | (head[7] << 14) | (head[8] << 7) | head[9]) + (head[5] & 0x10 ? 10 : 0);
    std::uint8_t marker[4];
    return ReadAt(fd, at, marker, sizeof marker) && std::memcmp(marker, "fLaC", 4) == 0 ? at : -1;
}

} // namespace

struct FlacSource::Callbacks {
    static FLAC__StreamDecoderReadStatus read(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* data)
    {
        auto* self = static_cast<FlacSource*>(data);
        ssize_t got = 0;
        do
            got = pread(self->m_fd, buffer, *bytes, self->m_offset);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        *bytes = static_cast<size_t>(got);
        self->m_offset += got;
        return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }

    static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* data)
    {
        static_cast<FlacSource*>(data)->take(frame, buffer);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* data)
    {
        auto* self = static_cast<FlacSource*>(data);
        if (block->type != FLAC__METADATA_TYPE_STREAMINFO || self->m_streamInfo)
            return;
        const FLAC__StreamMetadata_StreamInfo& info = block->data.stream_info;
        self->m_streamInfo = true;
        self->m_rate = static_cast<int>(info.sample_rate);
        self->m_channels = static_cast<int>(info.channels);
        self->m_minBlock = static_cast<int>(info.min_blocksize);
        self->m_maxBlock = static_cast<int>(info.max_blocksize);
        self->m_declaredFrames = static_cast<std::int64_t>(std::min<FLAC__uint64>(info.total_samples, INT64_MAX / 2));
    }

    static void error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data)
    {
        auto* self = static_cast<FlacSource*>(data);
        if (status == FLAC__STREAM_DECODER_ERROR_STATUS_BAD_METADATA)
            return; // a broken tag block, skipped: the audio is whole
        self->m_errorSinceFrame = true;
        self->m_inDamage = true;
        if (status == FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH)
            self->m_checksumFailed = true;
    }
};

bool FlacSource::detect(int fd)
{
    return markerAt(fd) >= 0;
}

FlacSource::FlacSource(int fd, const std::string& path)
    : m_fd(fd)
    , m_path(path)
{
    struct stat st {};
    if (fstat(m_fd, &st) == 0)
        m_fileSize = st.st_size;
    m_decoder = FLAC__stream_decoder_new();
    if (!m_decoder)
        throw std::bad_alloc();
    // No MD5 check: a damaged stream is decoded as far as it goes, and said to be damaged
    // where frames are lost.
    FLAC__stream_decoder_set_md5_checking(m_decoder, false);
    const auto status = FLAC__stream_decoder_init_stream(m_decoder, Callbacks::read, nullptr, nullptr, nullptr, nullptr,
                                                         Callbacks::write, Callbacks::metadata, Callbacks::error, this);
    if (status != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        FLAC__stream_decoder_delete(m_decoder);
        throw std::bad_alloc();
    }
    const bool metadata = FLAC__stream_decoder_process_until_end_of_metadata(m_decoder);
    if (!metadata || !m_streamInfo) {
        FLAC__stream_decoder_delete(m_decoder);
        throw EncodeError(EncodeError::printable(path) + " is not an audio file");
    }
    if (m_channels < 1 || m_rate < kMinRate || m_rate > kMaxRate) {
        FLAC__stream_decoder_delete(m_decoder);
        throw EncodeError(EncodeError::printable(path) + " has an unsupported sample rate or channel count ("
                          + std::to_string(m_rate) + " Hz, " + std::to_string(m_channels) + " channels)");
    }
    // Junk between the metadata and the first frame (a tag block whose length is wrong) is
    // no damage to the sound: only frames lost count.
    m_errorSinceFrame = false;
    m_inDamage = false;
    const FlacSurvey::Result survey = FlacSurvey::measure(m_fd, m_fileSize, m_minBlock, m_maxBlock, m_channels);
    m_surveyed = survey.frames;
    m_surveyExact = survey.exact;
}

FlacSource::~FlacSource()
{
    FLAC__stream_decoder_delete(m_decoder);
    ::close(m_fd);
}

void FlacSource::take(const FLAC__Frame* frame, const std::int32_t* const buffer[])
{
    const FLAC__FrameHeader& header = frame->header;
    // libFLAC sends a frame that failed its checksum, and the frames missing where the stream
    // broke, as silence of their length: after damage, silent frames are the lost ones, and
    // are left out rather than played. (Silence at the very start after junk is the stream's
    // own: nothing before it was lost.)
    bool silent = true;
    for (unsigned c = 0; c < header.channels && silent; ++c)
        for (unsigned i = 0; i < header.blocksize && silent; ++i)
            silent = buffer[c][i] == 0;
    const bool lost = (m_inDamage && silent && (m_position > 0 || m_checksumFailed)) || static_cast<int>(header.channels) != m_channels
        || header.bits_per_sample < 4 || header.bits_per_sample > 32
        || header.number_type != FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER;
    m_checksumFailed = false;
    if (lost) {
        if (m_damagedAt < 0)
            m_damagedAt = m_position;
        m_inDamage = true;
        return;
    }
    const auto sample = static_cast<std::int64_t>(std::min<FLAC__uint64>(header.number.sample_number, INT64_MAX / 2));
    // Frames missing before this one (their headers were damaged): the sound resumes here.
    if (sample > m_nextSample && m_damagedAt < 0)
        m_damagedAt = m_position;
    m_nextSample = sample + header.blocksize;
    if (!silent)
        m_inDamage = false;
    m_errorSinceFrame = false;
    const std::size_t samples = static_cast<std::size_t>(header.blocksize) * static_cast<std::size_t>(m_channels);
    m_pending.resize(samples);
    m_pendingAt = 0;
    const float scale = 1.0f / static_cast<float>(std::int64_t(1) << (header.bits_per_sample - 1));
    for (unsigned i = 0; i < header.blocksize; ++i)
        for (int c = 0; c < m_channels; ++c)
            m_pending[i * static_cast<std::size_t>(m_channels) + static_cast<std::size_t>(c)]
                = static_cast<float>(buffer[c][i]) * scale;
    m_position += header.blocksize;
}

std::size_t FlacSource::read(float* interleaved, std::size_t maxFrames)
{
    const auto channels = static_cast<std::size_t>(m_channels);
    while (m_pendingAt >= m_pending.size() && !m_ended) {
        m_pending.clear();
        m_pendingAt = 0;
        if (!FLAC__stream_decoder_process_single(m_decoder)) {
            if (FLAC__stream_decoder_get_state(m_decoder) == FLAC__STREAM_DECODER_ABORTED)
                throw EncodeError("cannot read " + EncodeError::printable(m_path));
            if (FLAC__stream_decoder_get_state(m_decoder) == FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR)
                throw std::bad_alloc();
            m_ended = true;
        }
        if (FLAC__stream_decoder_get_state(m_decoder) == FLAC__STREAM_DECODER_END_OF_STREAM)
            m_ended = m_pending.empty();
    }
    const std::size_t frames = std::min(maxFrames, (m_pending.size() - m_pendingAt) / channels);
    std::copy_n(m_pending.data() + m_pendingAt, frames * channels, interleaved);
    m_pendingAt += frames * channels;
    return frames;
}

double FlacSource::progress() const
{
    if (m_fileSize <= 0)
        return 0.0;
    return std::clamp(static_cast<double>(m_offset) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

std::int64_t FlacSource::lengthFrames() const
{
    if (m_surveyed >= 0)
        return m_surveyed;
    return m_declaredFrames > 0 ? m_declaredFrames : -1;
}

bool FlacSource::lengthIsExact() const
{
    return m_surveyed >= 0 && m_surveyExact;
}

AudioSource::Ending FlacSource::ending() const
{
    Ending ending;
    // STREAMINFO's length, unless the stream held more than it says.
    ending.declaredFrames = m_declaredFrames > 0 ? std::max(m_declaredFrames, m_position) : 0;
    ending.damagedAtFrame = m_damagedAt;
    // Damage after the last whole frame: the frames it hit are lost whether or not the
    // stream went on, and the header's length (if any) is not the measure.
    if (m_errorSinceFrame && m_damagedAt < 0)
        ending.damagedAtFrame = m_position;
    ending.damaged = ending.damagedAtFrame >= 0;
    // Cut off: the last frame ends short of the length STREAMINFO promises, with no damage
    // after it to explain that (frames lost inside are told by their numbers).
    ending.early = !m_errorSinceFrame && std::max(m_nextSample, m_position) < m_declaredFrames;
    return ending;
}
