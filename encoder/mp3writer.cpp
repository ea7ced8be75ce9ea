#include "mp3writer.h"

#include "atomicfile.h"
#include "encodeerror.h"

#include <lame/lame.h>

#include <algorithm>

namespace {

// LAME's messages go nowhere: fastencc has exactly one line of its own for errors.
void quiet(const char*, va_list) {}

// Large enough for lame_encode_flush in 3.100, which can overrun a buffer with no room left.
constexpr std::size_t kBufferSize = 256 * 1024;
constexpr int kMaxFramesPerCall = 8192;

} // namespace

// A configured LAME, or nullptr when LAME refuses the combination.
lame_global_struct* Mp3Writer::startLame(int sampleRate, int channels, const Settings& settings, bool lameInfoFrame)
{
    lame_global_flags* lame = lame_init();
    if (!lame)
        throw EncodeError("cannot start the MP3 encoder: out of memory");
    lame_set_errorf(lame, quiet);
    lame_set_msgf(lame, quiet);
    lame_set_debugf(lame, quiet);
    lame_set_in_samplerate(lame, sampleRate);
    lame_set_num_channels(lame, channels);
    if (settings.mono)
        lame_set_mode(lame, MONO); // LAME folds stereo as (L+R)/2, as `lame -m m` does
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, settings.bitrate / 1000);
    // Quality stays LAME's default (3), the `lame` tool's too. ReplayGain analysis stays off
    // (the library's default, unlike the `lame` tool): it changes no sample of the output.
    lame_set_write_id3tag_automatic(lame, 0);
    lame_set_bWriteVbrTag(lame, lameInfoFrame ? 1 : 0);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return nullptr;
    }
    return lame;
}

Mp3Writer::Mp3Writer(AtomicFile& out, int sampleRate, int channels, const Settings& settings)
    : m_out(out)
    , m_channels(channels)
    , m_buffer(kBufferSize)
{
    m_lame = startLame(sampleRate, channels, settings, true);
    if (!m_lame)
        throw EncodeError("the MP3 encoder cannot encode " + std::to_string(sampleRate) + " Hz at "
                          + std::to_string(settings.bitrate) + " bit/s");

    m_streamStart = m_out.size();
    const MpegHeader layout = MpegHeader::layer3(lame_get_out_samplerate(m_lame),
        lame_get_mode(m_lame) == MONO, lame_get_brate(m_lame));
    const bool lameWritesInfo = InfoFrame::fitsInFrame(layout, layout.bitrateIndex());
    m_ownInfoFrame = settings.ownInfoFrame || !lameWritesInfo;
    if (settings.ownInfoFrame && lameWritesInfo) {
        lame_close(m_lame);
        m_lame = startLame(sampleRate, channels, settings, false);
        if (!m_lame)
            throw EncodeError("the MP3 encoder cannot encode " + std::to_string(sampleRate) + " Hz");
    }
    if (m_ownInfoFrame) {
        // Room for our Info frame, filled in by finish().
        m_placeholderSize = layout.frameLengthAt(InfoFrame::bitrateIndexFor(layout));
        const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(m_placeholderSize), 0);
        m_out.write(zeros.data(), zeros.size());
    }
    m_maxFramesPerCall = std::clamp(lame_get_maximum_number_of_samples(m_lame, kBufferSize / 2), 1, kMaxFramesPerCall);
    m_intBuffer.resize(static_cast<std::size_t>(m_maxFramesPerCall) * static_cast<std::size_t>(m_channels));
}

Mp3Writer::~Mp3Writer()
{
    lame_close(m_lame);
}

int Mp3Writer::outputSampleRate() const
{
    return lame_get_out_samplerate(m_lame);
}

int Mp3Writer::outputBitrateKbps() const
{
    return lame_get_brate(m_lame);
}

void Mp3Writer::failEncode(int code) const
{
    switch (code) {
    case -2: throw EncodeError("the MP3 encoder ran out of memory");
    default: throw EncodeError("the MP3 encoder failed (error " + std::to_string(code) + ")");
    }
}

void Mp3Writer::put(const unsigned char* data, int size)
{
    if (size <= 0)
        return;
    if (m_ownInfoFrame) {
        if (m_firstHeader.size() < 4)
            m_firstHeader.insert(m_firstHeader.end(), data, data + std::min(size, 4 - static_cast<int>(m_firstHeader.size())));
        m_musicCrc = InfoFrame::crc16(data, static_cast<std::size_t>(size), m_musicCrc);
    }
    m_audioBytes += size;
    m_out.write(data, static_cast<std::size_t>(size));
}

void Mp3Writer::encode(const float* pcm, std::size_t frames)
{
    while (frames > 0) {
        const int n = static_cast<int>(std::min<std::size_t>(frames, static_cast<std::size_t>(m_maxFramesPerCall)));
        const std::size_t samples = static_cast<std::size_t>(n) * static_cast<std::size_t>(m_channels);
        // LAME is fed 32-bit integers, as the `lame` tool feeds it: a 16-bit source then
        // reaches the psychoacoustic model with exactly the values `lame` gives it (LAME's
        // float entry scales by 32767, not 32768), so the output is bit for bit the
        // reference encoder's.
        // Samples are within [-1, 1]; only +1.0 itself would overflow, so it is clamped to
        // the largest float below 2^31.
        for (std::size_t i = 0; i < samples; ++i)
            m_intBuffer[i] = static_cast<int>(std::min(pcm[i] * 2147483648.0f, 2147483520.0f));
        const int size = static_cast<int>(m_buffer.size());
        // The interleaved call assumes two channels: mono goes through the planar one.
        const int written = m_channels == 2
            ? lame_encode_buffer_interleaved_int(m_lame, m_intBuffer.data(), n, m_buffer.data(), size)
            : lame_encode_buffer_int(m_lame, m_intBuffer.data(), nullptr, n, m_buffer.data(), size);
        if (written < 0)
            failEncode(written);
        put(m_buffer.data(), written);
        pcm += samples;
        frames -= static_cast<std::size_t>(n);
    }
}

void Mp3Writer::finish()
{
    const int written = lame_encode_flush(m_lame, m_buffer.data(), static_cast<int>(m_buffer.size()));
    if (written < 0)
        failEncode(written);
    put(m_buffer.data(), written);

    if (!m_ownInfoFrame) {
        unsigned char frame[2880];
        const std::size_t size = lame_get_lametag_frame(m_lame, frame, sizeof frame);
        if (size > 0 && size <= sizeof frame)
            m_out.writeAt(m_streamStart, frame, size);
        return;
    }
    const auto header = m_firstHeader.size() == 4 ? MpegHeader::parse(m_firstHeader.data()) : std::nullopt;
    if (!header)
        return; // no audio frame at all: nothing to describe
    InfoFrame::Fields f;
    f.frames = static_cast<std::uint32_t>(lame_get_frameNum(m_lame));
    f.streamBytes = static_cast<std::uint32_t>(m_audioBytes + m_placeholderSize);
    f.encoderDelay = lame_get_encoder_delay(m_lame);
    f.padding = lame_get_encoder_padding(m_lame);
    f.lowpassHz = lame_get_lowpassfreq(m_lame);
    f.bitrateKbps = lame_get_brate(m_lame);
    f.inputRate = lame_get_in_samplerate(m_lame);
    f.quality = lame_get_quality(m_lame);
    f.musicCrc = m_musicCrc;
    const auto frame = InfoFrame::build(*header, f);
    m_out.writeAt(m_streamStart, frame.data(), frame.size());
}
