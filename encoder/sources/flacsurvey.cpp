#include "sources/flacsurvey.h"

#include "common/positionalread.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

// The first look at the end: more than the largest frame of any usual stream.
constexpr std::int64_t kFirstWindow = 256 * 1024;
// Looked at in all from the end before the length is given as unknown.
constexpr std::int64_t kMaxLook = 8 * 1024 * 1024;
// A frame is at least its header, one byte per subframe and its checksum.
constexpr std::int64_t kMinFrameBytes = 9;

std::uint8_t crc8(const std::uint8_t* p, std::size_t size)
{
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = static_cast<std::uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

} // namespace

namespace {

const std::array<std::uint16_t, 256>& crc16Table()
{
    static const auto table = [] {
        std::array<std::uint16_t, 256> t {};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned r = i << 8;
            for (int b = 0; b < 8; ++b)
                r = (r & 0x8000) ? (r << 1) ^ 0x8005 : r << 1;
            t[i] = static_cast<std::uint16_t>(r);
        }
        return t;
    }();
    return table;
}

} // namespace

std::uint16_t FlacSurvey::crc16Step(std::uint16_t crc, std::uint8_t byte)
{
    return static_cast<std::uint16_t>((crc << 8) ^ crc16Table()[((crc >> 8) ^ byte) & 0xFF]);
}

std::uint16_t FlacSurvey::crc16(const std::uint8_t* p, std::size_t size)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = crc16Step(crc, p[i]);
    return crc;
}

bool FlacSurvey::parseHeader(const std::uint8_t* p, std::size_t available, const Stream& stream, Header& header)
{
    if (available < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8)
        return false;
    const bool variable = p[1] & 1;
    const int blockCode = p[2] >> 4;
    const int rateCode = p[2] & 0x0F;
    const int channelCode = p[3] >> 4;
    const int sizeCode = (p[3] >> 1) & 7;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || sizeCode == 3 || (p[3] & 1))
        return false;
    if (stream.channels > 0 && (channelCode < 8 ? channelCode + 1 : 2) != stream.channels)
        return false;
    static const int kRates[12] = {0, 88200, 176400, 192000, 8000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
    if (stream.rate > 0 && rateCode > 0 && rateCode < 12 && kRates[rateCode] != stream.rate)
        return false;
    // The number, coded as UTF-8 is (up to 36 bits in 7 bytes).
    std::size_t at = 4;
    std::uint64_t number = p[at];
    int extra = 0;
    if (!(number & 0x80)) {
        extra = 0;
    } else if ((number & 0xE0) == 0xC0) {
        number &= 0x1F, extra = 1;
    } else if ((number & 0xF0) == 0xE0) {
        number &= 0x0F, extra = 2;
    } else if ((number & 0xF8) == 0xF0) {
        number &= 0x07, extra = 3;
    } else if ((number & 0xFC) == 0xF8) {
        number &= 0x03, extra = 4;
    } else if ((number & 0xFE) == 0xFC) {
        number &= 0x01, extra = 5;
    } else if (number == 0xFE && variable) {
        number = 0, extra = 6;
    } else {
        return false;
    }
    ++at;
    for (int i = 0; i < extra; ++i, ++at) {
        if (at >= available || (p[at] & 0xC0) != 0x80)
            return false;
        number = (number << 6) | (p[at] & 0x3F);
    }
    int blockSize = 0;
    if (blockCode == 1)
        blockSize = 192;
    else if (blockCode <= 5)
        blockSize = 576 << (blockCode - 2);
    else if (blockCode >= 8)
        blockSize = 256 << (blockCode - 8);
    else if (blockCode == 6) {
        if (at + 1 > available)
            return false;
        blockSize = p[at++] + 1;
    } else {
        if (at + 2 > available)
            return false;
        blockSize = ((p[at] << 8) | p[at + 1]) + 1;
        at += 2;
    }
    int rate = 0;
    if (rateCode >= 12 && at + (rateCode == 12 ? 1 : 2) > available)
        return false;
    if (rateCode == 12)
        rate = p[at] * 1000, at += 1;
    else if (rateCode == 13 || rateCode == 14)
        rate = ((p[at] << 8) | p[at + 1]) * (rateCode == 14 ? 10 : 1), at += 2;
    if (at + 1 > available || crc8(p, at) != p[at] || (stream.rate > 0 && rate > 0 && rate != stream.rate))
        return false;
    header.length = static_cast<int>(at + 1);
    header.blockSize = blockSize;
    // A stream of one block size numbers its frames: the last, shorter one too.
    const int nominal = !variable && stream.minBlock > 0 && stream.minBlock == stream.maxBlock ? stream.minBlock : blockSize;
    header.sample = variable ? static_cast<std::int64_t>(number) : static_cast<std::int64_t>(number) * nominal;
    return true;
}

FlacSurvey::Result FlacSurvey::measure(int fd, std::int64_t fileSize, const Stream& stream)
{
    Result result;
    std::vector<std::uint8_t> data;
    // Each look reaches twice as far back as the one before; a frame is judged by the
    // checksum over its bytes, up to the next frame header found or the end of the file.
    std::int64_t end = fileSize;
    for (std::int64_t window = kFirstWindow; result.frames < 0 && end > 0; window *= 2) {
        const std::int64_t start = std::max<std::int64_t>(0, fileSize - std::min(window, kMaxLook));
        data.resize(static_cast<std::size_t>(end - start));
        if (data.empty() || !ReadAt(fd, start, data.data(), data.size()))
            break;
        // From the end backwards: the last whole frame is wanted, and each candidate needs
        // only the few headers after it.
        std::vector<std::pair<std::size_t, Header>> later; // nearest first, at most a few
        for (std::size_t i = data.size() - 1; i-- > 0 && result.frames < 0;) {
            Header h;
            if (data[i] != 0xFF || !parseHeader(data.data() + i, data.size() - i, stream, h))
                continue;
            // The frame ends at a later header that begins a whole frame, or at the end of the
            // file.
            const std::size_t tries = later.size() + (later.size() < 4 ? 1 : 0);
            for (std::size_t next = 0; next < tries; ++next) {
                const std::size_t to = next < later.size() ? later[next].first : (end == fileSize ? data.size() : 0);
                if (to < i + static_cast<std::size_t>(h.length) + 2)
                    continue;
                const std::uint16_t stored = static_cast<std::uint16_t>((data[to - 2] << 8) | data[to - 1]);
                if (crc16(data.data() + i, to - i - 2) == stored) {
                    result.frames = h.sample + h.blockSize;
                    result.exact = window == kFirstWindow;
                    break;
                }
            }
            later.insert(later.begin(), {i, h});
            if (later.size() > 4)
                later.pop_back();
        }
        if (start == 0 || window >= kMaxLook)
            break;
        // The next look ends a little into this one, for the frame across the border.
        end = std::min(fileSize, start + kFirstWindow / 4);
    }
    // No stream holds more frames than its bytes can carry, whatever a header says.
    const std::int64_t most = fileSize / kMinFrameBytes * std::max(stream.maxBlock, 16);
    if (result.frames > most) {
        result.frames = most;
        result.exact = false;
    }
    return result;
}
