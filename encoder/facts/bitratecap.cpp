#include "facts/bitratecap.h"

#include "common/byteorder.h"
#include "common/positionalread.h"
#include "facts/encodedsize.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

const int kBitratesKbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

// A byte count makes an average that can lie a rounding below the bitrate the source was
// written at (a constant-bitrate MP3's padding bytes); the size of the whole file is the
// exact test.
constexpr double kRounding = 1.0001;
// Chunks and metadata blocks looked at before the audio: real files have a handful.
constexpr int kMaxChunks = 1024;
// Pages looked at for an Ogg stream's header packets (a large cover spans many).
constexpr int kMaxHeaderPages = 1 << 16;

std::int64_t fileSize(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

// The data chunk of RIFF, RIFX, RF64 and BW64 files (the ds64 chunk's size where the data
// chunk says 0xFFFFFFFF), as far as the file holds it.
std::int64_t waveAudio(int fd, std::int64_t size)
{
    std::uint8_t head[12];
    if (!ReadAt(fd, 0, head, sizeof head) || std::memcmp(head + 8, "WAVE", 4) != 0)
        return size;
    const bool big = std::memcmp(head, "RIFX", 4) == 0;
    std::uint64_t ds64Data = 0;
    std::int64_t pos = 12;
    for (int chunk = 0; chunk < kMaxChunks && pos + 8 <= size; ++chunk) {
        std::uint8_t c[24];
        if (!ReadAt(fd, pos, c, 8))
            break;
        const std::uint64_t length = big ? BigEndian(c + 4, 4) : LittleEndian(c + 4, 4);
        if (std::memcmp(c, "ds64", 4) == 0 && ReadAt(fd, pos + 8, c + 8, 16))
            ds64Data = LittleEndian(c + 16, 8);
        if (std::memcmp(c, "data", 4) == 0) {
            const std::uint64_t declared = length == 0xFFFFFFFF ? ds64Data : length;
            const std::int64_t present = size - (pos + 8);
            return declared == 0 ? present : static_cast<std::int64_t>(std::min<std::uint64_t>(declared, static_cast<std::uint64_t>(present)));
        }
        pos += 8 + static_cast<std::int64_t>(std::min<std::uint64_t>(length + (length & 1), static_cast<std::uint64_t>(size)));
    }
    return size;
}

// The sound data chunk of AIFF and AIFF-C files, without its offset and block size fields.
std::int64_t aiffAudio(int fd, std::int64_t size)
{
    std::uint8_t head[12];
    if (!ReadAt(fd, 0, head, sizeof head) || std::memcmp(head, "FORM", 4) != 0)
        return size;
    std::int64_t pos = 12;
    for (int chunk = 0; chunk < kMaxChunks && pos + 8 <= size; ++chunk) {
        std::uint8_t c[8];
        if (!ReadAt(fd, pos, c, sizeof c))
            break;
        const std::uint64_t length = BigEndian(c + 4, 4);
        if (std::memcmp(c, "SSND", 4) == 0) {
            const std::int64_t present = size - (pos + 16);
            return std::max<std::int64_t>(0, std::min<std::int64_t>(static_cast<std::int64_t>(length) - 8, present));
        }
        pos += 8 + static_cast<std::int64_t>(length + (length & 1));
    }
    return size;
}

// A FLAC stream's frames: after an ID3v2 tag, "fLaC" and the metadata blocks (where the
// Vorbis comment and the pictures lie), before an ID3v1 tag.
std::int64_t flacAudio(int fd, std::int64_t size)
{
    std::int64_t pos = 0;
    std::uint8_t b[10];
    if (ReadAt(fd, 0, b, sizeof b) && std::memcmp(b, "ID3", 3) == 0)
        pos = 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F)) + ((b[5] & 0x10) ? 10 : 0);
    if (!ReadAt(fd, pos, b, 4) || std::memcmp(b, "fLaC", 4) != 0)
        return size;
    pos += 4;
    for (int block = 0;; ++block) {
        if (block == kMaxChunks || !ReadAt(fd, pos, b, 4))
            return size;
        pos += 4 + static_cast<std::int64_t>(BigEndian(b + 1, 3));
        if (b[0] & 0x80)
            break;
    }
    std::int64_t end = size;
    if (end >= 128 && ReadAt(fd, end - 128, b, 3) && std::memcmp(b, "TAG", 3) == 0)
        end -= 128;
    return std::max<std::int64_t>(0, end - pos);
}

// An Ogg stream's pages after those of its header packets (three for Vorbis, the last the
// codebooks; two for Opus), which hold the comments and their covers. Audio starts on a page
// of its own in both.
std::int64_t oggAudio(int fd, std::int64_t size, int headerPackets)
{
    std::int64_t pos = 0;
    std::uint64_t serial = 0;
    int packets = 0;
    for (int page = 0; page < kMaxHeaderPages; ++page) {
        std::uint8_t head[27 + 255];
        if (!ReadAt(fd, pos, head, 27) || std::memcmp(head, "OggS", 4) != 0 || !ReadAt(fd, pos + 27, head + 27, head[26]))
            return size;
        if (page == 0)
            serial = LittleEndian(head + 14, 4);
        std::int64_t body = 0;
        for (int i = 0; i < head[26]; ++i) {
            body += head[27 + i];
            // A lacing value below 255 ends a packet.
            if (head[27 + i] < 255 && LittleEndian(head + 14, 4) == serial)
                ++packets;
        }
        pos += 27 + head[26] + body;
        if (packets >= headerPackets)
            return std::max<std::int64_t>(0, size - pos);
    }
    return size;
}

} // namespace

std::int64_t BitrateCap::audioBytes(int fd, AudioSource::Container container)
{
    const std::int64_t size = fileSize(fd);
    switch (container) {
    case AudioSource::Container::Wav:
        return waveAudio(fd, size);
    case AudioSource::Container::Aiff:
        return aiffAudio(fd, size);
    case AudioSource::Container::Flac:
        return flacAudio(fd, size);
    case AudioSource::Container::OggVorbis:
        return oggAudio(fd, size, 3);
    case AudioSource::Container::OggOpus:
        return oggAudio(fd, size, 2);
    default:
        return size;
    }
}

double BitrateCap::bitsPerSecond(const MpegSurvey& survey)
{
    return survey.audioFrames > 0 && survey.sampleRate > 0 ? survey.averageKbps * 1000.0 : 0.0;
}

double BitrateCap::bitsPerSecond(int fd, AudioSource::Container container, std::int64_t frames, int rate)
{
    if (frames <= 0 || rate <= 0)
        return 0.0;
    return static_cast<double>(audioBytes(fd, container)) * 8.0 * rate / static_cast<double>(frames);
}

BitrateCap::Choice BitrateCap::choose(const Source& source, int askedBitrate, bool mono, EncodedSize& sizes)
{
    if (source.bitsPerSecond <= 0 || source.frames <= 0 || source.rate <= 0 || source.channels <= 0)
        return {askedBitrate, 0};
    const int channels = std::min(source.channels, 2);
    int lowest = 0;
    int lowestWritten = 0;
    for (auto kbps = std::rbegin(kBitratesKbps); kbps != std::rend(kBitratesKbps); ++kbps) {
        if (*kbps * 1000 > askedBitrate)
            continue;
        const EncodedSize::LameChoice lame = sizes.lameChoice(source.rate, channels, *kbps, mono);
        if (lame.rate == 0)
            continue;
        lowest = *kbps;
        lowestWritten = lame.kbps;
        if (lame.kbps * 1000.0 > source.bitsPerSecond * kRounding)
            continue;
        if (sizes.bytes(source.frames, source.rate, channels, *kbps, mono, source.tag) > source.fileBytes)
            continue;
        return {*kbps * 1000, *kbps * 1000 == askedBitrate ? 0 : lame.kbps};
    }
    // Nothing LAME writes is small enough: its lowest.
    if (lowest == 0 || lowest * 1000 == askedBitrate)
        return {askedBitrate, 0};
    return {lowest * 1000, lowestWritten};
}

std::string BitrateCap::note(int keptKbps, int askedBitrate)
{
    return "kept at " + std::to_string(keptKbps) + " kbit/s: the source is smaller than "
        + std::to_string(askedBitrate / 1000) + " kbit/s";
}
