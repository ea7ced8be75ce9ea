#include "mpeg/mpegsurvey.h"

#include "common/positionalread.h"
#include "mpeg/mpegframechain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

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
    double bits = 0;    // of the audio frames
    double seconds = 0; // their playing time
    // The part being read: its audio frames, whether junk broke into it, its rate.
    std::int64_t partFrames = 0;
    bool partGap = false;
    MpegFrameChain::StreamInfo partInfo;
    int partRate = 0;
    int partSamples = 0;
    double decoded = 0; // sample frames at the first part's rate
    const auto endPart = [&]() {
        // One frame apart: some encoders count their Info frame among the frames.
        if (partInfo.frames >= 0 && std::llabs(partInfo.frames - partFrames) > 1)
            s.infoTrue = false;
        // As gapless decoding trims: the delay at the start, the padding where the Info frame
        // says the part ends (not reached when the part is cut short or its count lies high).
        // Both lie 529 samples later in the decoder's output than the encoder counted them.
        constexpr double kDecoderDelay = 529;
        double frames = static_cast<double>(partFrames * partSamples);
        if (!partGap && (partInfo.delay > 0 || partInfo.padding > 0)) {
            frames -= partInfo.delay + kDecoderDelay;
            if (partInfo.frames >= 0 && partFrames >= partInfo.frames)
                frames -= partInfo.padding - kDecoderDelay;
            frames = std::max(0.0, frames);
        }
        if (partRate > 0)
            decoded += frames * s.sampleRate / partRate;
    };
    const std::uint8_t* frame = nullptr;
    std::size_t size = 0;
    bool afterGap = false;
    bool first = true;
    bool anyMono = false;
    bool firstMono = false;
    while (chain.next(frame, size, afterGap)) {
        const MpegHeader& header = chain.header();
        s.streamBytes += static_cast<std::int64_t>(size);
        if (afterGap)
            s.clean = false;
        if (afterGap && !chain.partStart())
            partGap = true;
        if (first || chain.partStart()) {
            if (first) {
                s.layer = header.layer();
                s.sampleRate = header.sampleRate();
                s.samplesPerFrame = header.samplesPerFrame();
            } else {
                endPart();
                ++s.parts;
            }
            first = false;
            partFrames = 0;
            partGap = false; // junk before a part's first frame costs that part nothing
            partInfo = chain.streamInfo();
            partRate = header.sampleRate();
            partSamples = header.samplesPerFrame();
            if (partInfo.present)
                continue; // the Info frame tells of the sound; it is none of it
        }
        if (s.audioFrames == 0)
            firstMono = header.mono();
        ++s.audioFrames;
        ++partFrames;
        const double frameSeconds = static_cast<double>(header.samplesPerFrame()) / header.sampleRate();
        bits += header.bitrateKbps() * frameSeconds;
        seconds += frameSeconds;
        s.mono = s.mono && header.mono();
        anyMono = anyMono || header.mono();
        s.freeFormat = s.freeFormat || header.freeFormat();
    }
    if (!first)
        endPart();
    if (chain.endsEarly())
        s.clean = false;
    s.averageKbps = seconds > 0 ? bits / seconds : 0.0;
    s.uniform = s.parts == 1 && (s.mono || !anyMono);
    if (anyMono && !s.mono)
        s.mono = firstMono; // decoded as the first part's channels, as the conversion does
    s.decodedFrames = static_cast<std::int64_t>(std::llround(decoded));
    return s;
}

namespace {

// Whether the frames found around offset are of the first frame's stream and channel count
// (and, for constant bitrate, of its bitrate): a file whose figures are taken from the first
// frames must not change further in. lowest, highest: widened to the bitrates met.
bool sampleAgrees(int fd, std::int64_t offset, const MpegHeader& first, bool constantBitrate, int& lowest, int& highest)
{
    constexpr std::size_t kSample = 16 * 1024;
    std::vector<std::uint8_t> buffer(kSample);
    std::size_t got = 0;
    while (got < kSample) {
        const ssize_t n = pread(fd, buffer.data() + got, kSample - got, offset + static_cast<std::int64_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    for (std::size_t i = 0; i + 4 <= got; ++i) {
        const auto h = MpegHeader::parse(&buffer[i]);
        if (!h)
            continue;
        // Three frames in a row: a frame, not bytes inside one that look like its header.
        std::size_t q = i;
        int frames = 0;
        int low = 1 << 30;
        int high = 0;
        while (frames < 16 && q + 4 <= got) {
            const auto next = MpegHeader::parse(&buffer[q]);
            if (!next || !next->sameStream(*h))
                break;
            q += static_cast<std::size_t>(next->frameLength());
            low = std::min(low, next->bitrateKbps());
            high = std::max(high, next->bitrateKbps());
            ++frames;
        }
        if (frames < 3)
            continue;
        lowest = std::min(lowest, low);
        highest = std::max(highest, high);
        return h->sameStream(first) && h->mono() == first.mono()
            && (!constantBitrate || (low == high && h->bitrateIndex() == first.bitrateIndex()));
    }
    return false;
}

} // namespace

MpegSurvey MpegSurvey::quick(int fd, std::int64_t start, const std::string& path)
{
    MpegFrameChain chain(fd, start, path);
    const std::uint8_t* frame = nullptr;
    std::size_t size = 0;
    bool afterGap = false;
    if (!chain.next(frame, size, afterGap))
        return full(fd, start, path);
    const MpegHeader header = chain.header();
    if (header.freeFormat())
        return full(fd, start, path);
    MpegSurvey s;
    s.exact = false;
    s.layer = header.layer();
    s.sampleRate = header.sampleRate();
    s.samplesPerFrame = header.samplesPerFrame();
    const double secondsPerFrame = static_cast<double>(s.samplesPerFrame) / s.sampleRate;
    const std::int64_t end = framesEnd(fd);
    // Frames further in must be of the same stream: a joined file changes there.
    int lowest = 1 << 30;
    int highest = 0;
    const auto samplesAgree = [&](bool constantBitrate) {
        return sampleAgrees(fd, start + (end - start) / 2, header, constantBitrate, lowest, highest)
            && sampleAgrees(fd, start + (end - start) / 8 * 7, header, constantBitrate, lowest, highest);
    };
    const MpegFrameChain::StreamInfo info = chain.streamInfo();
    if (info.present && info.frames > 0 && info.bytes > static_cast<std::int64_t>(size)) {
        const std::int64_t infoSize = static_cast<std::int64_t>(size);
        // The first audio frames, for the range of bitrates the stream uses.
        for (int frames = 0; frames < kConstantFrames && chain.next(frame, size, afterGap); ++frames) {
            if (afterGap || chain.partStart())
                return full(fd, start, path);
            lowest = std::min(lowest, chain.header().bitrateKbps());
            highest = std::max(highest, chain.header().bitrateKbps());
        }
        // What the encoder wrote into its Info frame: every frame and every byte of the
        // stream. It is taken only where the file agrees: an Info frame left from before files
        // were joined, or one that lies, is not believed.
        s.audioFrames = info.frames;
        s.streamBytes = info.bytes;
        s.averageKbps = static_cast<double>(info.bytes - infoSize) * 8.0
            / (static_cast<double>(info.frames) * secondsPerFrame) / 1000.0;
        const std::int64_t slack = std::max<std::int64_t>(4 * header.frameLength(), info.bytes / 500);
        const bool sizeAgrees = std::llabs(end - start - info.bytes) <= slack;
        // The average lies within the bitrates of the frames read: a variable bitrate of a
        // quiet passage far below them all is rare, and costs no more than reading every frame.
        if (!sizeAgrees || !samplesAgree(false) || s.averageKbps < lowest * 0.99 || s.averageKbps > highest * 1.01)
            return full(fd, start, path);
        s.decodedFrames = std::max<std::int64_t>(0, info.frames * s.samplesPerFrame - info.delay - info.padding);
        // The channel mode of the Info frame is the stream's.
        s.mono = header.mono();
        return s;
    }
    if (info.present)
        return full(fd, start, path);
    // No Info frame: constant bitrate when the first frames all have the first one's.
    int frames = 1;
    s.mono = header.mono();
    while (frames < kConstantFrames && chain.next(frame, size, afterGap)) {
        const MpegHeader& h = chain.header();
        if (afterGap || chain.partStart() || h.bitrateIndex() != header.bitrateIndex() || h.mono() != header.mono())
            return full(fd, start, path);
        ++frames;
    }
    if (frames < kConstantFrames || !samplesAgree(true))
        return full(fd, start, path); // a short file: reading it all costs nothing
    const double frameBytes = static_cast<double>(s.samplesPerFrame) / 8.0 * header.bitrateKbps() * 1000.0 / s.sampleRate;
    s.streamBytes = end - start;
    s.audioFrames = static_cast<std::int64_t>(static_cast<double>(s.streamBytes) / frameBytes + 0.5);
    s.averageKbps = header.bitrateKbps();
    s.decodedFrames = s.audioFrames * s.samplesPerFrame;
    return s;
}

bool MpegSurvey::smallEnoughFor(int bitrate, bool monoAsked) const
{
    if (layer != 3 || !clean || !uniform || freeFormat || !infoTrue || audioFrames <= 0)
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
