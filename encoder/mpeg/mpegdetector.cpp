#include "mpeg/mpegdetector.h"

#include "mpeg/mpegheader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// An ID3v2 tag header at h: its whole size (header, body and footer), or 0 when h is none.
std::int64_t id3v2Size(const std::uint8_t* h)
{
    if (h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF || h[4] == 0xFF
        || ((h[6] | h[7] | h[8] | h[9]) & 0x80))
        return 0;
    std::int64_t size = (std::int64_t(h[6]) << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
    size += 10;
    if (h[5] & 0x10)
        size += 10; // footer
    return size;
}

// Where the data of the file at or after pos starts, past a hole of a sparse file (read as
// zeros, it would cost as much as a file of that size); -1 when only holes are left.
std::int64_t nextData(int fd, std::int64_t pos)
{
    // SEEK_DATA moves the descriptor's position, which libsndfile reads from later.
    const off_t was = lseek(fd, 0, SEEK_CUR);
    const off_t data = lseek(fd, static_cast<off_t>(pos), SEEK_DATA);
    const int error = errno;
    if (was >= 0)
        lseek(fd, was, SEEK_SET);
    if (data < 0)
        return error == ENXIO ? -1 : pos;
    return std::max<std::int64_t>(pos, data);
}

// Skips ID3v2 tags (some files carry more than one) from pos on, and the zero padding
// taggers leave after (or instead of) a tag's declared size; returns where the data after
// them starts. Padding is read up to kMaxPadding bytes (holes cost nothing): what lies behind
// more zeros than any tagger leaves is no tagged MP3.
std::int64_t skipTags(int fd, std::int64_t pos)
{
    constexpr std::int64_t kMaxPadding = 1024 * 1024;
    constexpr std::size_t kBlock = 16 * 1024;
    // A file carries one tag, rarely two or three: a long run of them is junk.
    for (int tags = 0; tags < 16; ++tags) {
        const auto h = readAt(fd, pos, 10);
        const std::int64_t size = h.size() < 10 ? 0 : id3v2Size(h.data());
        if (size == 0)
            break;
        pos += size;
    }
    for (std::int64_t read = 0; read < kMaxPadding;) {
        const auto block = readAt(fd, pos, kBlock);
        std::size_t zeros = 0;
        while (zeros < block.size() && block[zeros] == 0)
            ++zeros;
        pos += static_cast<std::int64_t>(zeros);
        read += static_cast<std::int64_t>(zeros);
        if (zeros < kBlock || block.empty())
            return pos;
        const std::int64_t data = nextData(fd, pos);
        if (data < 0)
            return pos;
        pos = data;
    }
    return pos;
}

// The first frame of a chain that starts within window bytes of start, as findAudioStart
// describes. tagsLeft: how many more ID3v2 tags inside junk may be stepped over, in this call
// and those it makes (a tag's size may lead nowhere: the search then goes on behind its
// header, and junk full of look-alikes costs a few windows, not one per look-alike).
std::optional<std::int64_t> findChain(int fd, std::int64_t start, std::int64_t fileSize, int window, int& tagsLeft)
{
    // The longest frame (layer II, MPEG-2 at 8 kHz... 2.5, 160 kbit/s) is under 3000 bytes.
    const std::size_t maxFrame = 3000;
    const auto buf = readAt(fd, start, static_cast<std::size_t>(window) + (MpegDetector::kFramesRequired + 1) * maxFrame);
    const std::int64_t bufSize = static_cast<std::int64_t>(buf.size());

    // The first frame that is followed by another of its stream: the start of the audio when
    // junk cuts its chain short and the stream goes on after the junk.
    std::int64_t cutChain = -1;
    MpegHeader cutChainStream;
    for (std::int64_t i = 0; i < window && i + 4 <= bufSize; ++i) {
        if (tagsLeft > 0 && i > 0 && i + 10 <= bufSize && id3v2Size(&buf[i]) > 0) {
            --tagsLeft;
            if (const auto found = findChain(fd, skipTags(fd, start + i), fileSize, window, tagsLeft))
                return found;
        }
        if (buf[i] != 0xFF)
            continue;
        // A free-format frame's length is where the next one starts.
        const int freeSize = (buf[i + 2] >> 4) == 0
            ? MpegHeader::measureFreeFormat(&buf[i], static_cast<std::size_t>(bufSize - i)) : 0;
        const auto first = MpegHeader::parse(&buf[i], freeSize);
        if (!first)
            continue;
        std::int64_t p = i;
        int frames = 0;
        while (frames < MpegDetector::kFramesRequired && p + 4 <= bufSize) {
            const auto h = MpegHeader::parse(&buf[p], freeSize);
            if (!h || !h->sameStream(*first))
                break;
            p += h->frameLength();
            ++frames;
        }
        // A very short stream: two or more frames that end exactly at the end of the file.
        if (frames >= MpegDetector::kFramesRequired || (frames >= 2 && start + p == fileSize))
            return start + (cutChain >= 0 && cutChainStream.sameStream(*first) ? cutChain : i);
        if (frames >= 2 && cutChain < 0) {
            cutChain = i;
            cutChainStream = *first;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::int64_t> MpegDetector::findAudioStart(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return std::nullopt;
    const std::int64_t fileSize = st.st_size;
    const std::int64_t start = skipTags(fd, 0);
    int noTags = 0;
    if (const auto found = findChain(fd, start, fileSize, kSearchWindow, noTags))
        return found;
    // A file that starts as another container (WAV, W64, AIFF, FLAC, Ogg, CAF...) is that
    // container, however its data look: only what starts as none of these is searched for an
    // MP3 that junk pushed back, which reads further.
    static const char* const kContainers[] = {"RIFF", "RIFX", "RF64", "riff", "FORM", "fLaC", "OggS", "caff", "wvpk",
        ".snd", "NIST", "Crea"};
    const auto magic = readAt(fd, start, 4);
    for (const char* container : kContainers)
        if (magic.size() == 4 && std::equal(magic.begin(), magic.end(), container))
            return std::nullopt;
    int tagsLeft = 4;
    if (const auto found = findChain(fd, start, fileSize, kJunkWindow, tagsLeft))
        return found;
    // What looked like a tag at the start may be junk whose size field leads past the
    // stream: the stream is then searched for from the start of the file.
    if (start > 0 && readAt(fd, 0, 3) == std::vector<std::uint8_t> {'I', 'D', '3'})
        return findChain(fd, 0, fileSize, kJunkWindow, tagsLeft);
    return std::nullopt;
}
