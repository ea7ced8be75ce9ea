#include "mpegsurvey.h"

#include "mpegframechain.h"
#include "positionalread.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Frames that must share one bitrate before a file without an Info frame is taken for
// constant bitrate.
constexpr int kConstantFrames = 16;
// How far an average taken from byte counts may lie above the frames' own: a padding byte
// in some frames of a constant bitrate.
constexpr double kPaddingAllowance = 1.005;

// Where the frames end: the file's size less an ID3v1 tag and an APE tag before it.
std::int64_t framesEnd(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return 0;
    std::int64_t end = st.st_size;
    char tag[32];
    if (end >= 128 && ReadAt(fd, end - 128, tag, 3) && std::memcmp(tag, "TAG", 3) == 0)
        end -= 128;
    if (end >= 32 && ReadAt(fd, end - 32, tag, 32) && std::memcmp(tag, "APETAGEX", 8) == 0) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(tag);
        const std::int64_t size = p[12] | (p[13] << 8) | (p[14] << 16) | (std::int64_t(p[15]) << 24);
        const bool header = (p[23] & 0x80) != 0;
        end -= size + (header ? 32 : 0);
    }
    return end;
}

} // namespace

MpegSurvey MpegSurvey::full(int fd, std::int64_t start, const std::string& path)
{
    MpegFrameChain chain(fd, start, path);
    MpegSurvey s;
    std::int64_t kbpsSum = 0;
    const std::uint8_t* frame = nullptr;
    std::size_t size = 0;
    bool afterGap = false;
    bool first = true;
    while (chain.next(frame, size, afterGap)) {
        const auto header = MpegHeader::parse(frame);
        if (!header)
            continue; // not reached: the chain hands out frames only
        s.streamBytes += static_cast<std::int64_t>(size);
        if (afterGap)
            s.clean = false;
        if (first) {
            first = false;
            s.layer = header->layer();
            s.sampleRate = header->sampleRate();
            s.samplesPerFrame = header->samplesPerFrame();
            if (chain.streamInfo().present)
                continue; // the Info frame tells of the sound; it is none of it
        }
        ++s.audioFrames;
        kbpsSum += header->bitrateKbps();
        s.mono = s.mono && header->mono();
    }
    if (chain.endsEarly())
        s.clean = false;
    s.averageKbps = s.audioFrames > 0 ? static_cast<double>(kbpsSum) / static_cast<double>(s.audioFrames) : 0.0;
    const MpegFrameChain::StreamInfo& info = chain.streamInfo();
    s.decodedFrames = s.audioFrames * s.samplesPerFrame;
    if (s.clean && info.frames == s.audioFrames)
        s.decodedFrames = std::max<std::int64_t>(0, s.decodedFrames - info.delay - info.padding);
    return s;
}

MpegSurvey MpegSurvey::quick(int fd, std::int64_t start, const std::string& path)
{
    MpegFrameChain chain(fd, start, path);
    const std::uint8_t* frame = nullptr;
    std::size_t size = 0;
    bool afterGap = false;
    if (!chain.next(frame, size, afterGap))
        return full(fd, start, path);
    const auto header = MpegHeader::parse(frame);
    if (!header)
        return full(fd, start, path);
    MpegSurvey s;
    s.exact = false;
    s.layer = header->layer();
    s.sampleRate = header->sampleRate();
    s.samplesPerFrame = header->samplesPerFrame();
    const double secondsPerFrame = static_cast<double>(s.samplesPerFrame) / s.sampleRate;
    const MpegFrameChain::StreamInfo info = chain.streamInfo();
    if (info.present && info.frames > 0 && info.bytes > static_cast<std::int64_t>(size)) {
        // What the encoder wrote into its Info frame: every frame and every byte of the stream.
        s.audioFrames = info.frames;
        s.streamBytes = info.bytes;
        s.averageKbps = static_cast<double>(info.bytes - static_cast<std::int64_t>(size)) * 8.0
            / (static_cast<double>(info.frames) * secondsPerFrame) / 1000.0;
        s.decodedFrames = std::max<std::int64_t>(0, info.frames * s.samplesPerFrame - info.delay - info.padding);
        // The channel mode of the Info frame is the stream's.
        s.mono = header->mono();
        return s;
    }
    if (info.present)
        return full(fd, start, path);
    // No Info frame: constant bitrate when the first frames all have the first one's.
    int frames = 1;
    s.mono = header->mono();
    while (frames < kConstantFrames && chain.next(frame, size, afterGap)) {
        const auto h = MpegHeader::parse(frame);
        if (!h || afterGap || h->bitrateIndex() != header->bitrateIndex())
            return full(fd, start, path);
        s.mono = s.mono && h->mono();
        ++frames;
    }
    if (frames < kConstantFrames)
        return full(fd, start, path); // a short file: reading it all costs nothing
    const double frameBytes = static_cast<double>(s.samplesPerFrame) / 8.0 * header->bitrateKbps() * 1000.0 / s.sampleRate;
    s.streamBytes = framesEnd(fd) - start;
    s.audioFrames = static_cast<std::int64_t>(static_cast<double>(s.streamBytes) / frameBytes + 0.5);
    s.averageKbps = header->bitrateKbps();
    s.decodedFrames = s.audioFrames * s.samplesPerFrame;
    return s;
}

bool MpegSurvey::smallEnoughFor(int bitrate, bool monoAsked) const
{
    if (layer != 3 || !clean || audioFrames <= 0)
        return false;
    if (monoAsked && !mono)
        return false;
    // Read from every frame the average is exact; taken from byte counts it may be a frame's
    // padding byte above a constant bitrate.
    const double allowance = exact ? 1.0 : kPaddingAllowance;
    return averageKbps * 1000.0 <= bitrate * allowance;
}

bool MpegSurvey::undecidedAt(int bitrate) const
{
    return !exact && averageKbps * 1000.0 > bitrate && averageKbps * 1000.0 <= bitrate * kPaddingAllowance;
}
