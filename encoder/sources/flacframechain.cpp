#include "sources/flacframechain.h"

#include "common/encodeerror.h"
#include "sources/flacsurvey.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Read from the file at a time (more when one frame may be longer).
constexpr std::size_t kChunk = 1024 * 1024;
// Checking candidates that prove false may cost this many times the file's bytes (plus a
// constant): a file made of false frame headers takes bounded time; what is left after that
// is taken as damaged.
constexpr std::int64_t kWorkPerByte = 16;
constexpr std::int64_t kWorkBase = 64 * 1024 * 1024;

// The most a frame of this block size can take: every subframe stored verbatim at 33 bits
// a sample (a side channel of 32-bit audio), the header and the checksum.
std::size_t frameBound(int blockSize, int channels)
{
    return 16 + static_cast<std::size_t>(channels) * ((static_cast<std::size_t>(blockSize) * 33 + 7) / 8 + 8) + 2;
}

// What may follow the last frame of a stream: a tag, or the next file of a join.
bool followedByTag(const std::uint8_t* p, std::size_t available)
{
    const auto startsWith = [&](const char* text, std::size_t n) { return available >= n && std::memcmp(p, text, n) == 0; };
    return startsWith("fLaC", 4) || startsWith("TAG", 3) || startsWith("ID3", 3) || startsWith("APETAGEX", 8);
}

} // namespace

FlacFrameChain::FlacFrameChain(int fd, std::int64_t fileSize, std::int64_t start, std::int64_t searchFrom,
                               const FlacSurvey::Stream& stream)
    : m_fd(fd)
    , m_fileSize(fileSize)
    , m_stream(stream)
    , m_pos(start)
{
    std::int64_t sample = 0;
    int blockSize = 0;
    if (start > searchFrom && frameAt(start, m_stream, sample, blockSize) == 0)
        m_pos = searchFrom;
    m_lastEnd = m_pos;
}

std::size_t FlacFrameChain::fill(std::int64_t offset, std::size_t n)
{
    const std::int64_t end = std::min(m_fileSize, offset + static_cast<std::int64_t>(n));
    if (offset >= end)
        return 0;
    const std::int64_t bufferEnd = m_bufferStart + static_cast<std::int64_t>(m_buffer.size());
    if (offset < m_bufferStart || end > bufferEnd) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(m_fileSize - offset,
            static_cast<std::int64_t>(std::max(n, kChunk))));
        m_buffer.resize(want);
        std::size_t got = 0;
        while (got < want) {
            const ssize_t r = pread(m_fd, m_buffer.data() + got, want - got, offset + static_cast<std::int64_t>(got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                throw EncodeError(std::string("cannot read the source: ") + std::strerror(errno));
            if (r == 0)
                break;
            got += static_cast<std::size_t>(r);
        }
        m_buffer.resize(got);
        m_bufferStart = offset;
        // The file shrank while it was read: it ends here.
        if (got < want)
            m_fileSize = offset + static_cast<std::int64_t>(got);
    }
    return static_cast<std::size_t>(std::min(m_fileSize, offset + static_cast<std::int64_t>(n)) - offset);
}

std::size_t FlacFrameChain::frameAt(std::int64_t offset, const FlacSurvey::Stream& stream, std::int64_t& sample,
                                    int& blockSize)
{
    std::size_t available = fill(offset, 16);
    FlacSurvey::Header header;
    if (available < 2 || at(offset)[0] != 0xFF
        || !FlacSurvey::parseHeader(at(offset), available, stream, header))
        return 0;
    const std::size_t bound = frameBound(header.blockSize, stream.channels > 0 ? stream.channels : 8);
    available = fill(offset, bound + 2);
    const std::uint8_t* p = at(offset);
    // The frame ends where the checksum of the bytes before proves it, at the next frame
    // header or at the end of the file.
    std::uint16_t crc = FlacSurvey::crc16(p, static_cast<std::size_t>(header.length));
    std::size_t crcAt = static_cast<std::size_t>(header.length);
    const bool fileEndsInReach = offset + static_cast<std::int64_t>(available) >= m_fileSize;
    for (std::size_t end = crcAt + 3; end <= available; ++end) {
        const bool last = end == available && fileEndsInReach;
        FlacSurvey::Header next;
        if (!last && !(end + 1 < available && p[end] == 0xFF && (p[end + 1] & 0xFE) == 0xF8
                       && FlacSurvey::parseHeader(p + end, available - end, FlacSurvey::Stream {}, next))
            && !followedByTag(p + end, available - end))
            continue;
        // Brings the checksum up to the two bytes before end.
        for (; crcAt + 2 < end; ++crcAt)
            crc = FlacSurvey::crc16Step(crc, p[crcAt]);
        if (crc == static_cast<std::uint16_t>((p[end - 2] << 8) | p[end - 1])) {
            sample = header.sample;
            blockSize = header.blockSize;
            return end;
        }
    }
    m_work += static_cast<std::int64_t>(available);
    return 0;
}


FlacFrameChain::Tail FlacFrameChain::tailAt(std::int64_t offset)
{
    const std::size_t available = fill(offset, 128);
    if (available == 0)
        return Tail::Clean;
    const std::uint8_t* p = at(offset);
    // Taggers put an ID3v1 or APE tag at the end of a FLAC file too.
    if (followedByTag(p, available))
        return Tail::Clean;
    FlacSurvey::Header header;
    const bool parsed = FlacSurvey::parseHeader(p, available, m_stream, header);
    if (p[0] == 0xFF && (available == 1 || (p[1] & 0xFE) == 0xF8) && (available < 16 || parsed)
        && offset + static_cast<std::int64_t>(frameBound(parsed ? header.blockSize : 65536, m_stream.channels)) > m_fileSize) {
        if (parsed)
            m_tailFrameEnd = header.sample + header.blockSize;
        return Tail::Cut;
    }
    return Tail::Damaged;
}

bool FlacFrameChain::next(Frame& frame)
{
    frame.afterSkip = false;
    const std::int64_t budget = kWorkBase + kWorkPerByte * m_fileSize;
    for (; m_pos < m_fileSize && m_work <= budget; ++m_pos) {
        const std::size_t available = fill(m_pos, 2);
        if (available < 2 || at(m_pos)[0] != 0xFF || (at(m_pos)[1] & 0xFE) != 0xF8) {
            frame.afterSkip = true;
            // Straight on to the next byte that may start a frame, within what is read.
            const std::size_t buffered = static_cast<std::size_t>(m_bufferStart + static_cast<std::int64_t>(m_buffer.size()) - m_pos);
            if (buffered > 1) {
                const void* ff = std::memchr(at(m_pos) + 1, 0xFF, buffered - 1);
                m_pos = ff ? m_bufferStart + (static_cast<const std::uint8_t*>(ff) - m_buffer.data()) - 1
                           : m_bufferStart + static_cast<std::int64_t>(m_buffer.size()) - 1;
            }
            continue;
        }
        std::int64_t sample = 0;
        int blockSize = 0;
        const std::size_t size = frameAt(m_pos, m_stream, sample, blockSize);
        if (size == 0) {
            frame.afterSkip = true;
            // A whole frame of another stream: stepped over, and said.
            const FlacSurvey::Stream any;
            if (const std::size_t foreign = frameAt(m_pos, any, sample, blockSize)) {
                m_foreign = true;
                m_pos += static_cast<std::int64_t>(foreign) - 1;
            }
            continue;
        }
        frame.afterForeign = m_foreign;
        m_foreign = false;
        frame.bytes = at(m_pos);
        frame.size = size;
        frame.sample = sample;
        frame.blockSize = blockSize;
        m_pos += static_cast<std::int64_t>(size);
        m_lastEnd = m_pos;
        return true;
    }
    // Where nothing more proved a frame: the first thing after the last frame decides.
    m_tail = m_pos < m_fileSize ? Tail::Damaged : tailAt(m_lastEnd);
    m_pos = m_fileSize;
    return false;
}
