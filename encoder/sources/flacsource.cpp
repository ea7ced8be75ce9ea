#include "sources/flacsource.h"

#include "common/encodeerror.h"
#include "common/positionalread.h"
#include "sources/flacsurvey.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// libsndfile's limits, which the other sources keep too.
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
// Metadata blocks followed to find the first frame; past that they are searched over.
constexpr int kMaxBlocks = 1024;
// Errors libFLAC reports on frames whose checksums hold, before the rest of the file is
// given up.
constexpr int kMaxRejected = 64;

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
        // Frames whose checksums hold but that libFLAC cannot decode are made, not damaged:
        // a file of them is not decoded to its end.
        if (self->m_rejected > kMaxRejected) {
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
        }
        if (self->m_fed >= self->m_feed.size()) {
            FlacFrameChain::Frame frame;
            try {
                if (!self->m_chain->next(frame)) {
                    *bytes = 0;
                    return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
                }
            } catch (const EncodeError&) {
                *bytes = 0;
                return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
            }
            self->m_feed.assign(frame.bytes, frame.bytes + frame.size);
            self->m_fed = 0;
            self->m_frames.push_back({frame.sample, frame.blockSize, frame.afterForeign});
        }
        const std::size_t n = std::min(*bytes, self->m_feed.size() - self->m_fed);
        std::memcpy(buffer, self->m_feed.data() + self->m_fed, n);
        self->m_fed += n;
        *bytes = n;
        return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }

    static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* data)
    {
        static_cast<FlacSource*>(data)->take(frame, buffer);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data)
    {
        auto* self = static_cast<FlacSource*>(data);
        self->m_error = true;
        ++self->m_rejected;
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
    const std::string notAudio = EncodeError::printable(path) + " is not an audio file";
    struct stat st {};
    if (fstat(m_fd, &st) == 0)
        m_fileSize = st.st_size;
    // STREAMINFO comes first; libFLAC is given it alone, as the last metadata block.
    const std::int64_t marker = markerAt(m_fd);
    m_feed = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
    m_feed.resize(8 + 34);
    std::uint8_t block[4];
    if (marker < 0 || !ReadAt(m_fd, marker + 4, block, 4) || (block[0] & 0x7F) != 0 || block[1] != 0 || block[2] != 0
        || block[3] != 34 || !ReadAt(m_fd, marker + 8, m_feed.data() + 8, 34))
        throw EncodeError(notAudio);
    const std::uint8_t* info = m_feed.data() + 8;
    const int minBlock = (info[0] << 8) | info[1];
    const int maxBlock = (info[2] << 8) | info[3];
    m_rate = (info[10] << 12) | (info[11] << 4) | (info[12] >> 4);
    m_channels = ((info[12] >> 1) & 7) + 1;
    m_declaredFrames = (static_cast<std::int64_t>(info[13] & 0x0F) << 32) | (static_cast<std::int64_t>(info[14]) << 24)
        | (info[15] << 16) | (info[16] << 8) | info[17];
    if (m_rate < kMinRate || m_rate > kMaxRate)
        throw EncodeError(EncodeError::printable(path) + " has an unsupported sample rate or channel count ("
                          + std::to_string(m_rate) + " Hz, " + std::to_string(m_channels) + " channels)");
    // The frames start after the last metadata block, as far as the blocks' lengths can be
    // followed; where one is wrong, the frames are searched for from STREAMINFO's end on.
    const std::int64_t searchFrom = marker + 8 + 34;
    std::int64_t start = searchFrom;
    std::int64_t pos = marker + 4;
    for (int i = 0; i < kMaxBlocks && ReadAt(m_fd, pos, block, 4); ++i) {
        pos += 4 + ((block[1] << 16) | (block[2] << 8) | block[3]);
        if (pos > m_fileSize)
            break;
        if (block[0] & 0x80) {
            start = pos;
            break;
        }
    }
    m_stream = {minBlock, maxBlock, m_channels, m_rate};
    m_chain = std::make_unique<FlacFrameChain>(m_fd, m_fileSize, start, searchFrom, m_stream);

    m_decoder = FLAC__stream_decoder_new();
    if (!m_decoder)
        throw std::bad_alloc();
    // No MD5 check: a damaged stream is decoded as far as it goes, and said to be damaged
    // where frames are lost.
    FLAC__stream_decoder_set_md5_checking(m_decoder, false);
    if (FLAC__stream_decoder_init_stream(m_decoder, Callbacks::read, nullptr, nullptr, nullptr, nullptr, Callbacks::write,
                                         nullptr, Callbacks::error, this)
            != FLAC__STREAM_DECODER_INIT_STATUS_OK
        || !FLAC__stream_decoder_process_until_end_of_metadata(m_decoder)) {
        FLAC__stream_decoder_delete(m_decoder);
        throw EncodeError(notAudio);
    }
    m_error = false;
}

FlacSource::~FlacSource()
{
    FLAC__stream_decoder_delete(m_decoder);
    ::close(m_fd);
}

void FlacSource::take(const FLAC__Frame* frame, const std::int32_t* const buffer[])
{
    const FLAC__FrameHeader& header = frame->header;
    bool silent = true;
    for (unsigned c = 0; c < header.channels && silent; ++c)
        for (unsigned i = 0; i < header.blocksize && silent; ++i)
            silent = buffer[c][i] == 0;
    // libFLAC sends the frames missing before one (by its number) as silence of their
    // length, and a frame it cannot decode too: those are lost, not played.
    const bool missing = !m_frames.empty() && header.number.sample_number < static_cast<FLAC__uint64>(m_frames.front().sample);
    const bool broken = m_error;
    m_error = false;
    if (silent && (missing || broken)) {
        if (broken && m_damagedAt < 0)
            m_damagedAt = m_position;
        if (broken && !missing && !m_frames.empty())
            m_frames.pop_front();
        return;
    }
    const Fed fed = m_frames.empty() ? Fed {m_nextSample, static_cast<int>(header.blocksize), false} : m_frames.front();
    if (!m_frames.empty())
        m_frames.pop_front();
    // Frames missing before this one, or frames of another stream (a file at another rate
    // joined on) left out: the sound resumes here. (A stream that starts anew, two files
    // alike joined, is not missing anything.)
    if ((fed.sample > m_nextSample || fed.afterForeign) && m_damagedAt < 0)
        m_damagedAt = m_position;
    m_nextSample = fed.sample + fed.blockSize;
    if (static_cast<int>(header.channels) != m_channels || header.bits_per_sample < 4 || header.bits_per_sample > 32) {
        if (m_damagedAt < 0)
            m_damagedAt = m_position;
        return;
    }
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
        const bool going = FLAC__stream_decoder_process_single(m_decoder);
        const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(m_decoder);
        if (state == FLAC__STREAM_DECODER_ABORTED)
            throw EncodeError("cannot read " + EncodeError::printable(m_path));
        if (state == FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR)
            throw std::bad_alloc();
        if (!going || state == FLAC__STREAM_DECODER_END_OF_STREAM)
            m_ended = m_pending.empty();
        if (m_rejected > kMaxRejected) {
            if (m_damagedAt < 0)
                m_damagedAt = m_position;
            m_ended = true;
        }
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
    return std::clamp(static_cast<double>(m_chain->position()) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

std::int64_t FlacSource::lengthFrames() const
{
    if (!m_surveyDone) {
        const FlacSurvey::Result survey = FlacSurvey::measure(m_fd, m_fileSize, m_stream);
        m_surveyed = survey.frames;
        m_surveyExact = survey.exact;
        m_surveyDone = true;
    }
    if (m_surveyed >= 0)
        return m_surveyed;
    return m_declaredFrames > 0 ? m_declaredFrames : -1;
}

bool FlacSource::lengthIsExact() const
{
    lengthFrames();
    return m_surveyed >= 0 && m_surveyExact;
}

AudioSource::Ending FlacSource::ending() const
{
    Ending ending;
    // STREAMINFO's length, unless the stream held more than it says (then no length is the
    // measure).
    ending.declaredFrames = m_declaredFrames > m_position ? m_declaredFrames : 0;
    ending.damagedAtFrame = m_damagedAt;
    // Frames of another stream after the last one: not converted.
    if (m_chain->foreignAtEnd() && m_damagedAt < 0)
        ending.damagedAtFrame = m_position;
    FlacFrameChain::Tail tail = m_chain->tail();
    const bool whole = m_declaredFrames > 0 && m_nextSample >= m_declaredFrames;
    // The file ends inside the frame that STREAMINFO says is the last: that frame is
    // damaged, not cut short (a cut file ends short of its last frame).
    if (tail == FlacFrameChain::Tail::Cut && m_declaredFrames > 0 && m_chain->tailFrameEnd() >= m_declaredFrames)
        tail = FlacFrameChain::Tail::Damaged;
    // Bytes that are no frame after the last one: damage that cost what followed it, unless
    // the stream was already whole by its header's length.
    if (tail == FlacFrameChain::Tail::Damaged && !whole && m_damagedAt < 0)
        ending.damagedAtFrame = m_position;
    ending.damaged = ending.damagedAtFrame >= 0;
    // Cut off: the file ends inside a frame, or after a whole frame short of the length
    // STREAMINFO promises.
    ending.early = !whole && (tail == FlacFrameChain::Tail::Cut || (tail == FlacFrameChain::Tail::Clean && m_nextSample < m_declaredFrames));
    return ending;
}
