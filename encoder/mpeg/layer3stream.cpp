#include "mpeg/layer3stream.h"

#include "common/encodeerror.h"
#include "mpeg/mpegheader.h"

namespace {

// Reads the side information MSB first.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    unsigned read(int bits)
    {
        unsigned v = 0;
        for (int i = 0; i < bits; ++i) {
            const std::size_t byte = m_pos >> 3;
            const unsigned bit = byte < m_size ? (m_data[byte] >> (7 - (m_pos & 7))) & 1u : 0u;
            v = (v << 1) | bit;
            ++m_pos;
        }
        return v;
    }
    void skip(int bits) { m_pos += static_cast<std::size_t>(bits); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

} // namespace

bool Layer3Stream::describe(Frame& f)
{
    if (f.bytes.size() < 4)
        return false;
    const auto header = MpegHeader::parse(f.bytes.data());
    if (!header || header->layer() != 3 || header->freeFormat() || header->frameLength() != static_cast<int>(f.bytes.size()))
        return false;
    const int sideStart = header->hasCrc() ? 6 : 4;
    const int sideEnd = header->sideInfoEnd() + (header->hasCrc() ? 2 : 0);
    if (sideEnd > static_cast<int>(f.bytes.size()))
        return false;
    const bool mpeg1 = header->version() == MpegHeader::Mpeg1;
    const int channels = header->mono() ? 1 : 2;
    BitReader side(f.bytes.data() + sideStart, static_cast<std::size_t>(sideEnd - sideStart));
    f.slotStart = sideEnd;
    f.mainDataBegin = static_cast<int>(side.read(mpeg1 ? 9 : 8));
    if (mpeg1) {
        side.skip(channels == 1 ? 5 : 3); // private bits
        side.skip(4 * channels);          // scfsi
    } else {
        side.skip(channels == 1 ? 1 : 2);
    }
    f.blockTypes = 0;
    int shift = 0;
    for (int gr = 0; gr < (mpeg1 ? 2 : 1); ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            side.skip(12 + 9 + 8 + (mpeg1 ? 4 : 9)); // part2_3_length, big_values, global_gain, scalefac_compress
            unsigned type = 0;
            if (side.read(1)) {      // window switching
                type = side.read(2);
                side.skip(1 + 2 * 5 + 3 * 3);
            } else {
                side.skip(3 * 5 + 4 + 3);
            }
            side.skip(mpeg1 ? 3 : 2);
            f.blockTypes |= type << shift;
            shift += 2;
        }
    }
    return true;
}

void Layer3Stream::append(const std::uint8_t* data, std::size_t size)
{
    m_pending.insert(m_pending.end(), data, data + size);
    std::size_t at = 0;
    while (m_pending.size() - at >= 4) {
        const auto header = MpegHeader::parse(m_pending.data() + at);
        if (!header || header->layer() != 3 || header->freeFormat())
            throw EncodeError("the MP3 encoder wrote a frame that cannot be read back");
        const std::size_t length = static_cast<std::size_t>(header->frameLength());
        if (m_pending.size() - at < length)
            break;
        Frame f;
        f.bytes.assign(m_pending.begin() + static_cast<std::ptrdiff_t>(at), m_pending.begin() + static_cast<std::ptrdiff_t>(at + length));
        if (!describe(f))
            throw EncodeError("the MP3 encoder wrote a frame that cannot be read back");
        m_frames.push_back(std::move(f));
        at += length;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(at));
}

std::vector<Layer3Stream::Frame> Layer3Stream::take()
{
    std::vector<Frame> out;
    out.swap(m_frames);
    return out;
}
