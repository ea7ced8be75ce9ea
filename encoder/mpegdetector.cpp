#include "mpegdetector.h"

#include "mpegheader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

std::vector<std::uint8_t> readAt(int fd, std::int64_t offset, std::size_t length)
{
    std::vector<std::uint8_t> buffer(length);
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = pread(fd, buffer.data() + got, length - got, offset + static_cast<std::int64_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    buffer.resize(got);
    return buffer;
}

// Skips ID3v2 tags (some files carry more than one) and returns where the data after them starts.
std::int64_t skipId3v2Tags(int fd)
{
    std::int64_t pos = 0;
    for (;;) {
        const auto h = readAt(fd, pos, 10);
        if (h.size() < 10 || h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF
            || h[4] == 0xFF || ((h[6] | h[7] | h[8] | h[9]) & 0x80))
            return pos;
        std::int64_t size = (std::int64_t(h[6]) << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
        size += 10;
        if (h[5] & 0x10)
            size += 10; // footer
        pos += size;
    }
}

} // namespace

std::optional<std::int64_t> MpegDetector::findAudioStart(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return std::nullopt;
    const std::int64_t fileSize = st.st_size;

    std::int64_t start = skipId3v2Tags(fd);
    // Taggers leave zero padding after (or instead of) the tag's declared size.
    for (;;) {
        const auto block = readAt(fd, start, 4096);
        std::size_t zeros = 0;
        while (zeros < block.size() && block[zeros] == 0)
            ++zeros;
        start += static_cast<std::int64_t>(zeros);
        if (zeros < 4096 || block.empty())
            break;
    }

    // The longest frame (layer II, MPEG-2 at 8 kHz... 2.5, 160 kbit/s) is under 3000 bytes.
    const std::size_t maxFrame = 3000;
    const auto buf = readAt(fd, start, kSearchWindow + (kFramesRequired + 1) * maxFrame);
    const std::int64_t bufSize = static_cast<std::int64_t>(buf.size());

    for (std::int64_t i = 0; i < kSearchWindow && i + 4 <= bufSize; ++i) {
        if (buf[i] != 0xFF)
            continue;
        const auto first = MpegHeader::parse(&buf[i]);
        if (!first)
            continue;
        std::int64_t p = i;
        int frames = 0;
        while (frames < kFramesRequired && p + 4 <= bufSize) {
            const auto h = MpegHeader::parse(&buf[p]);
            if (!h || !h->sameStream(*first))
                break;
            p += h->frameLength();
            ++frames;
        }
        if (frames >= kFramesRequired)
            return start + i;
        // A very short stream: two or more frames that end exactly at the end of the file.
        if (frames >= 2 && start + p == fileSize)
            return start + i;
    }
    return std::nullopt;
}
