#include "mpeg/infoframe.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

void putBigEndian32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

void putBigEndian16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

// The LAME tag's two-bit code of the source's sample rate.
int sourceRateCode(int sampleRate)
{
    if (sampleRate <= 32000)
        return 0;
    if (sampleRate == 48000)
        return 2;
    return sampleRate > 48000 ? 3 : 1;
}

// Where the LAME part of the tag starts, after the Xing part (all four fields present).
constexpr std::size_t kLamePart = 120;
// Offsets in the LAME part.
constexpr std::size_t kMiscByte = 24;  // source rate, stereo mode, noise shaping
constexpr std::size_t kTagCrc = 34;

// LAME's table of contents for a stream of equal frames. LAME keeps a sum of the frames'
// bitrates in a bag of 400 samples, taken every `want` frames and thinned by half (with
// `want` doubled) whenever the bag is full; entry i is that sum at i percent of the bag over
// the whole. With one bitrate only the frame count matters, so the bitrate is 1 here.
void lameTableOfContents(std::uint32_t frames, std::uint8_t* toc)
{
    constexpr int kBagSize = 400;
    int bag[kBagSize];
    int pos = 0;
    int want = 1;
    int seen = 0;
    int sum = 0;
    for (std::uint32_t n = 0; n < frames; ++n) {
        ++sum;
        if (++seen < want)
            continue;
        if (pos < kBagSize) {
            bag[pos++] = sum;
            seen = 0;
        }
        if (pos == kBagSize) {
            for (int i = 1; i < kBagSize; i += 2)
                bag[i / 2] = bag[i];
            want *= 2;
            pos /= 2;
        }
    }
    if (pos <= 0)
        return;
    for (int i = 1; i < 100; ++i) {
        const float j = static_cast<float>(i) / 100.0f;
        const int index = std::min(static_cast<int>(std::floor(j * static_cast<float>(pos))), pos - 1);
        const float act = static_cast<float>(bag[index]);
        const float whole = static_cast<float>(sum);
        toc[i] = static_cast<std::uint8_t>(std::min(255, static_cast<int>(256.0 * act / whole)));
    }
}

} // namespace

void InfoFrame::restate(std::uint8_t* frame, std::size_t size, std::uint32_t frames, std::uint32_t streamBytes,
    std::uint16_t musicCrc)
{
    if (size < 4)
        return;
    const auto header = MpegHeader::parse(frame);
    if (!header)
        return;
    const std::size_t infoAt = static_cast<std::size_t>(header->sideInfoEnd());
    const std::size_t lameAt = infoAt + kLamePart;
    if (lameAt + kTagCrc + 2 > size || std::memcmp(frame + infoAt, "Info", 4) != 0 || std::memcmp(frame + lameAt, "LAME", 4) != 0)
        return;
    std::uint8_t* p = frame + infoAt;
    putBigEndian32(p + 8, frames);
    putBigEndian32(p + 12, streamBytes);
    lameTableOfContents(frames, p + 16);
    std::uint8_t* lame = frame + lameAt;
    putBigEndian32(lame + 28, streamBytes);
    putBigEndian16(lame + 32, musicCrc);
    putBigEndian16(lame + kTagCrc, crc16(frame, lameAt + kTagCrc));
}

bool InfoFrame::setStreamBytes(std::uint8_t* frame, std::size_t size, const MpegHeader& header, std::uint32_t streamBytes)
{
    const std::size_t infoAt = static_cast<std::size_t>(header.sideInfoEnd() + (header.hasCrc() ? 2 : 0));
    if (infoAt + 8 > size || (std::memcmp(frame + infoAt, "Xing", 4) != 0 && std::memcmp(frame + infoAt, "Info", 4) != 0))
        return false;
    const std::uint8_t* f = frame + infoAt + 4;
    const std::uint32_t flags = (std::uint32_t(f[0]) << 24) | (std::uint32_t(f[1]) << 16) | (std::uint32_t(f[2]) << 8) | f[3];
    const std::size_t bytesAt = infoAt + 8 + ((flags & 1) ? 4 : 0);
    if (!(flags & 2) || bytesAt + 4 > size)
        return false;
    std::uint8_t* p = frame + bytesAt;
    const std::uint32_t stated = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
    if (stated == streamBytes)
        return false;
    // LAME's tag follows the four Xing fields; its CRC covers the frame up to itself.
    const std::size_t lameAt = infoAt + kLamePart;
    const bool lameTag = flags == 0x0F && lameAt + kTagCrc + 2 <= size && std::memcmp(frame + lameAt, "LAME", 4) == 0;
    const bool crcRight = lameTag
        && crc16(frame, lameAt + kTagCrc) == ((std::uint16_t(frame[lameAt + kTagCrc]) << 8) | frame[lameAt + kTagCrc + 1]);
    putBigEndian32(p, streamBytes);
    if (crcRight)
        putBigEndian16(frame + lameAt + kTagCrc, crc16(frame, lameAt + kTagCrc));
    return true;
}

bool InfoFrame::fitsInFrame(const MpegHeader& header, int bitrateIndex)
{
    return bitrateIndex > 0 && header.frameLengthAt(bitrateIndex) >= header.sideInfoEnd() + kTagLength;
}

int InfoFrame::bitrateIndexFor(const MpegHeader& header)
{
    for (int i = 1; i < 15; ++i)
        if (fitsInFrame(header, i))
            return i;
    return 14;
}

std::uint16_t InfoFrame::crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc)
{
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

std::vector<std::uint8_t> InfoFrame::build(const MpegHeader& header, const Fields& f)
{
    const int index = bitrateIndexFor(header);
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(header.frameLengthAt(index)), 0);
    header.toBytes(frame.data(), index);

    std::uint8_t* p = frame.data() + header.sideInfoEnd();
    std::memcpy(p, "Info", 4);
    putBigEndian32(p + 4, 0x0F); // frames, bytes, TOC and quality present
    putBigEndian32(p + 8, f.frames);
    putBigEndian32(p + 12, f.streamBytes);
    // A constant bitrate stream is linear in time: the table of contents is a straight line.
    for (int i = 0; i < 100; ++i)
        p[16 + i] = static_cast<std::uint8_t>(i * 256 / 100);
    // LAME's quality indicator: 100 - 10 * VBR quality (4 by default) - quality.
    putBigEndian32(p + 116, static_cast<std::uint32_t>(std::max(0, 100 - 10 * 4 - f.quality)));

    std::uint8_t* lame = p + kLamePart;
    std::memcpy(lame, "LAME3.100", 9);
    lame[9] = 0x01;                                     // tag revision 0, CBR
    lame[10] = static_cast<std::uint8_t>(std::clamp((f.lowpassHz + 50) / 100, 0, 255));
    // 11..14 peak, 15..18 replay gain: not measured, left 0 as LAME does without ReplayGain.
    lame[19] = 0;                                       // ATH type / psy flags: unknown here
    lame[20] = static_cast<std::uint8_t>(std::min(f.bitrateKbps, 255));
    const int delay = std::clamp(f.encoderDelay, 0, 4095);
    const int padding = std::clamp(f.padding, 0, 4095);
    lame[21] = static_cast<std::uint8_t>(delay >> 4);
    lame[22] = static_cast<std::uint8_t>(((delay & 0x0F) << 4) | (padding >> 8));
    lame[23] = static_cast<std::uint8_t>(padding & 0xFF);
    const int stereoMode = header.mono() ? 0 : header.channelMode() == 1 ? 3 : 1;
    lame[kMiscByte] = static_cast<std::uint8_t>((sourceRateCode(f.inputRate) << 6) | (stereoMode << 2) | 1);
    // 25 MP3 gain, 26..27 preset and surround: 0.
    putBigEndian32(lame + 28, f.streamBytes);
    putBigEndian16(lame + 32, f.musicCrc);
    const std::size_t crcLength = static_cast<std::size_t>(lame + kTagCrc - frame.data());
    putBigEndian16(lame + kTagCrc, crc16(frame.data(), crcLength));
    return frame;
}

void InfoFrame::setSourceRate(std::uint8_t* frame, std::size_t size, int sampleRate)
{
    if (size < 4)
        return;
    const auto header = MpegHeader::parse(frame);
    if (!header)
        return;
    const std::size_t lameAt = static_cast<std::size_t>(header->sideInfoEnd()) + kLamePart;
    if (lameAt + kTagCrc + 2 > size || std::memcmp(frame + lameAt, "LAME", 4) != 0)
        return;
    std::uint8_t* lame = frame + lameAt;
    // LAME also marks a source of 32 kHz or less as an unusual setting (bit 5). It marks
    // nothing else that fastencc uses, so the mark follows the source's rate.
    const int unusual = sampleRate <= 32000 ? 1 : 0;
    lame[kMiscByte] = static_cast<std::uint8_t>((lame[kMiscByte] & 0x1F) | (unusual << 5) | (sourceRateCode(sampleRate) << 6));
    putBigEndian16(lame + kTagCrc, crc16(frame, lameAt + kTagCrc));
}
