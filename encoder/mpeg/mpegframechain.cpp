#include "mpeg/mpegframechain.h"

#include "common/encodeerror.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;
// Frames in a row that make a chain worth resuming at, as at the start of a file.
constexpr int kChainFrames = 4;

std::uint32_t bigEndian32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

} // namespace

MpegFrameChain::MpegFrameChain(int fd, std::int64_t start, std::string path)
    : m_fd(fd)
    , m_path(std::move(path))
    , m_pos(start)
    , m_partOffset(start)
{
    MpegHeader stream;
    if (!chainAt(start, stream)) {
        // The detector may accept a chain cut short by junk right behind it; its first frame
        // is all that is needed here.
        const int freeSize = freeFormatSizeAt(start);
        const std::uint8_t* first = bytesAt(start, 4);
        const auto header = first ? MpegHeader::parse(first, freeSize) : std::nullopt;
        if (!header)
            throw EncodeError("cannot read " + EncodeError::printable(m_path));
        stream = *header;
    }
    m_stream = stream;
}

// The bytes [offset, offset + n) of the file, or nullptr when the file ends before them.
// Bytes from m_pos on stay buffered: the caller only ever looks ahead of it.
const std::uint8_t* MpegFrameChain::bytesAt(std::int64_t offset, std::size_t n)
{
    const std::int64_t end = offset + static_cast<std::int64_t>(n);
    const std::int64_t bufferEnd = m_bufferStart + static_cast<std::int64_t>(m_buffer.size());
    if (offset >= m_bufferStart && end <= bufferEnd)
        return m_buffer.data() + (offset - m_bufferStart);
    if (m_dataEnd >= 0 && end > m_dataEnd)
        return nullptr;

    const std::int64_t from = std::min(offset, m_pos);
    if (from >= m_bufferStart && from <= bufferEnd)
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + (from - m_bufferStart));
    else
        m_buffer.clear();
    m_bufferStart = from;
    const std::size_t wanted = std::max(kReadBlock, static_cast<std::size_t>(end - from));
    while (m_buffer.size() < wanted) {
        const std::size_t had = m_buffer.size();
        m_buffer.resize(wanted);
        const ssize_t got = pread(m_fd, m_buffer.data() + had, wanted - had, from + static_cast<std::int64_t>(had));
        m_buffer.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw EncodeError("cannot read " + EncodeError::printable(m_path) + ": " + std::strerror(errno));
        if (got == 0) {
            m_dataEnd = from + static_cast<std::int64_t>(had);
            break;
        }
    }
    if (end > m_bufferStart + static_cast<std::int64_t>(m_buffer.size()))
        return nullptr;
    return m_buffer.data() + (offset - m_bufferStart);
}

bool MpegFrameChain::continuesAt(std::int64_t offset, const MpegHeader& stream, bool orNewStream)
{
    const std::uint8_t* p = bytesAt(offset, 4);
    if (!p)
        return true; // the data ends here (or within a header's length of here)
    const auto header = MpegHeader::parse(p, stream.freeFormatSize());
    if (header && header->sameStream(stream))
        return true;
    // ID3v1, an appended ID3v2, APE and Lyrics3 tags follow the last frame.
    if (std::memcmp(p, "TAG", 3) == 0 || std::memcmp(p, "ID3", 3) == 0)
        return true;
    // Zeros: padding after the last frame, or a hole where a download stopped.
    if ((p[0] | p[1] | p[2] | p[3]) == 0)
        return true;
    const std::uint8_t* q = bytesAt(offset, 8);
    if (q && (std::memcmp(q, "APETAGEX", 8) == 0 || std::memcmp(q, "LYRICSBE", 8) == 0))
        return true;
    MpegHeader other;
    return orNewStream && chainAt(offset, other);
}

bool MpegFrameChain::chainAt(std::int64_t offset, MpegHeader& stream)
{
    const std::uint8_t* p = bytesAt(offset, 4);
    if (!p || p[0] != 0xFF)
        return false;
    const int freeSize = (p[2] >> 4) == 0 ? freeFormatSizeAt(offset) : 0;
    p = bytesAt(offset, 4);
    if (!p)
        return false;
    const auto first = MpegHeader::parse(p, freeSize);
    if (!first)
        return false;
    std::int64_t q = offset;
    int frames = 0;
    bool endsCleanly = false;
    while (frames < kChainFrames) {
        const std::uint8_t* h = bytesAt(q, 4);
        const auto header = h ? MpegHeader::parse(h, freeSize) : std::nullopt;
        if (!header || !header->sameStream(*first)) {
            endsCleanly = h ? continuesAt(q, *first, false) : q == m_dataEnd;
            break;
        }
        q += header->frameLength();
        ++frames;
    }
    if (frames >= kChainFrames || (frames >= 2 && endsCleanly)) {
        stream = *first;
        return true;
    }
    return false;
}

int MpegFrameChain::freeFormatSizeAt(std::int64_t offset)
{
    // Free format: the frame's length is where the next header of its stream starts.
    constexpr std::size_t kWindow = 4100;
    const std::uint8_t* w = bytesAt(offset, kWindow);
    std::size_t available = kWindow;
    if (!w && m_dataEnd > offset) {
        available = static_cast<std::size_t>(m_dataEnd - offset);
        w = bytesAt(offset, available);
    }
    return w ? MpegHeader::measureFreeFormat(w, available) : 0;
}

bool MpegFrameChain::skipHole()
{
    // SEEK_DATA moves the descriptor's position, which its other readers may rely on.
    const off_t was = lseek(m_fd, 0, SEEK_CUR);
    const off_t data = lseek(m_fd, static_cast<off_t>(m_pos), SEEK_DATA);
    const int error = errno;
    if (was >= 0)
        lseek(m_fd, was, SEEK_SET);
    if (data < 0 && error == ENXIO) {
        // Nothing but a hole up to the end of the file.
        struct stat st {};
        if (fstat(m_fd, &st) == 0 && st.st_size >= m_pos && m_dataEnd < 0)
            m_dataEnd = st.st_size;
        return false;
    }
    if (data > m_pos)
        m_pos = static_cast<std::int64_t>(data);
    return true;
}

// Moves m_pos to the next place where a stream resumes; false when none is left.
bool MpegFrameChain::findChain()
{
    for (;;) {
        const std::uint8_t* p = bytesAt(m_pos, 4);
        if (!p)
            return false;
        const std::size_t buffered = static_cast<std::size_t>(m_bufferStart + static_cast<std::int64_t>(m_buffer.size()) - m_pos);
        const void* sync = std::memchr(p, 0xFF, buffered - 3);
        if (!sync) {
            m_pos += static_cast<std::int64_t>(buffered - 3);
            if (!skipHole())
                return false;
            continue;
        }
        m_pos += static_cast<const std::uint8_t*>(sync) - p;
        MpegHeader stream;
        if (chainAt(m_pos, stream)) {
            if (!stream.sameStream(m_stream))
                startPart(stream);
            return true;
        }
        ++m_pos;
    }
}

void MpegFrameChain::startPart(const MpegHeader& stream)
{
    m_stream = stream;
    m_newPart = true;
}

bool MpegFrameChain::next(const std::uint8_t*& frame, std::size_t& size, bool& afterGap)
{
    afterGap = false;
    for (;;) {
        if (!m_inChain) {
            if (!findChain())
                return false;
            m_inChain = true;
            m_reservoir = 0; // what came before the gap is not this frame's past
            afterGap = m_framesOut > 0;
        }
        const std::uint8_t* p = bytesAt(m_pos, 4);
        if (!p)
            return false;
        auto header = MpegHeader::parse(p, m_stream.freeFormatSize());
        if (!header || !header->sameStream(m_stream)) {
            MpegHeader other;
            if (chainAt(m_pos, other) && !other.sameStream(m_stream)) {
                // Another stream starts right here: the next part of a joined file.
                startPart(other);
                continue;
            }
            m_inChain = false; // a tag, or junk after one
            continue;
        }
        const std::size_t length = static_cast<std::size_t>(header->frameLength());
        if (!bytesAt(m_pos, length)) {
            m_cutInFrame = true;
            return false;
        }
        if (!continuesAt(m_pos + static_cast<std::int64_t>(length), m_stream, true)) {
            // Junk follows where the next frame should start: this frame's own bytes cannot be
            // trusted either. Look for the stream from just after its first byte.
            m_inChain = false;
            ++m_pos;
            continue;
        }
        p = bytesAt(m_pos, length);
        if (!m_newPart && m_partFrames > 0 && isInfoFrame(p, *header))
            m_newPart = true; // an encoder's Info frame: the next file of a joined one begins
        m_partStart = m_newPart && m_framesOut > 0;
        if (m_newPart) {
            m_newPart = false;
            m_partOffset = m_pos;
            m_partFrames = 0;
            m_cutInFrame = false;
            m_info = StreamInfo();
            m_reservoir = 0;
        }
        m_frame.assign(p, p + length);
        if (m_partFrames == 0)
            readStreamInfo(m_frame.data(), *header);
        muteIfReservoirMissing(*header);
        m_pos += static_cast<std::int64_t>(length);
        ++m_framesOut;
        ++m_partFrames;
        m_header = *header;
        frame = m_frame.data();
        size = length;
        return true;
    }
}

bool MpegFrameChain::isInfoFrame(const std::uint8_t* frame, const MpegHeader& header) const
{
    if (header.layer() != 3)
        return false;
    const std::size_t at = static_cast<std::size_t>(header.sideInfoEnd() + (header.hasCrc() ? 2 : 0));
    return at + 8 <= static_cast<std::size_t>(header.frameLength())
        && (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0);
}

void MpegFrameChain::readStreamInfo(const std::uint8_t* frame, const MpegHeader& header)
{
    if (!isInfoFrame(frame, header))
        return;
    const std::size_t length = static_cast<std::size_t>(header.frameLength());
    std::size_t at = static_cast<std::size_t>(header.sideInfoEnd() + (header.hasCrc() ? 2 : 0));
    m_info.present = true;
    const std::uint32_t flags = bigEndian32(frame + at + 4);
    at += 8;
    if ((flags & 1) && at + 4 <= length)
        m_info.frames = bigEndian32(frame + at);
    at += (flags & 1) ? 4 : 0;
    if ((flags & 2) && at + 4 <= length)
        m_info.bytes = bigEndian32(frame + at);
    at += ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
    // The LAME tag (also written by ffmpeg) gives the samples gapless decoding trims.
    if (at + 24 <= length
        && (std::memcmp(frame + at, "LAME", 4) == 0 || std::memcmp(frame + at, "Lavf", 4) == 0
            || std::memcmp(frame + at, "Lavc", 4) == 0)) {
        const std::uint8_t* lame = frame + at;
        m_info.delay = (lame[21] << 4) | (lame[22] >> 4);
        m_info.padding = ((lame[22] & 0x0F) << 8) | lame[23];
    }
}

void MpegFrameChain::muteIfReservoirMissing(const MpegHeader& header)
{
    if (header.layer() != 3)
        return;
    const std::size_t sideStart = header.hasCrc() ? 6 : 4;
    const std::size_t sideInfo = sideStart + static_cast<std::size_t>(header.sideInfoEnd() - 4);
    if (m_frame.size() < sideInfo)
        return;
    const std::uint8_t* side = m_frame.data() + sideStart;
    const int mainDataBegin = header.version() == MpegHeader::Mpeg1 ? (side[0] << 1) | (side[1] >> 7) : side[0];
    // Side information of zeros: no scale factors, no spectral values, so silence.
    if (mainDataBegin > m_reservoir)
        std::fill(m_frame.begin() + static_cast<std::ptrdiff_t>(sideStart), m_frame.begin() + static_cast<std::ptrdiff_t>(sideInfo), 0);
    m_reservoir = std::min<std::int64_t>(m_reservoir + static_cast<std::int64_t>(m_frame.size() - sideInfo), 1 << 16);
}

bool MpegFrameChain::endsEarly() const
{
    // The Info frame itself is not one of the stream's frames.
    const std::int64_t audioFrames = m_partFrames - (m_info.frames >= 0 ? 1 : 0);
    if (m_info.frames < 0 || audioFrames >= m_info.frames)
        return false;
    return m_cutInFrame || (m_info.bytes > 0 && m_dataEnd >= 0 && m_dataEnd < m_partOffset + m_info.bytes);
}
