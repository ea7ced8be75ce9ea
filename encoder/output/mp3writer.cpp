#include "output/mp3writer.h"

#include "common/encodeerror.h"
#include "output/atomicfile.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>

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
    // Sound resampled for LAME already has the rate LAME chose: it must not pick again.
    if (settings.sourceRate > 0)
        lame_set_out_samplerate(lame, sampleRate);
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

lame_global_struct* Mp3Writer::startOrThrow(int sampleRate, int channels, const Settings& settings, bool lameInfoFrame)
{
    lame_global_struct* lame = startLame(sampleRate, channels, settings, lameInfoFrame);
    if (!lame)
        throw EncodeError("the MP3 encoder cannot encode "
                          + std::to_string(settings.sourceRate > 0 ? settings.sourceRate : sampleRate) + " Hz at "
                          + std::to_string(settings.bitrate) + " bit/s");
    return lame;
}

bool Mp3Writer::writesOwnInfoFrame(lame_global_struct* lame, const Settings& settings)
{
    const MpegHeader layout = MpegHeader::layer3(lame_get_out_samplerate(lame), lame_get_mode(lame) == MONO, lame_get_brate(lame));
    return settings.ownInfoFrame || !InfoFrame::fitsInFrame(layout, layout.bitrateIndex());
}

int Mp3Writer::chosenRate(int sampleRate, int channels, const Settings& settings)
{
    Settings asked = settings;
    asked.sourceRate = 0;
    lame_global_struct* lame = startOrThrow(sampleRate, channels, asked, false);
    const int rate = lame_get_out_samplerate(lame);
    lame_close(lame);
    return rate;
}

Mp3Writer::Band Mp3Writer::keptBand(int sampleRate, int channels, const Settings& settings)
{
    Settings asked = settings;
    asked.sourceRate = 0;
    lame_global_struct* lame = startOrThrow(sampleRate, channels, asked, false);
    Band band;
    band.rate = lame_get_out_samplerate(lame);
    const int lowpass = lame_get_lowpassfreq(lame);
    lame_close(lame);
    band.topHz = band.rate / 2.0;
    if (lowpass > 0) {
        // The first subband zeroed is the first whose index over 31 reaches the lowpass as a
        // fraction of the Nyquist frequency (LAME's lame_init_params_ppflt).
        const double fraction = 2.0 * lowpass / band.rate;
        const int first = std::clamp(static_cast<int>(std::ceil(fraction * 31.0 - 1e-9)), 1, 32);
        band.topHz = first * band.rate / 64.0;
    }
    return band;
}

Mp3Writer::Mp3Writer(AtomicFile& out, int sampleRate, int channels, const Settings& settings)
    : m_out(out)
    , m_channels(channels)
    , m_sourceRate(settings.sourceRate > 0 ? settings.sourceRate : sampleRate)
    , m_buffer(kBufferSize)
{
    m_lame = startOrThrow(sampleRate, channels, settings, true);

    m_streamStart = m_out.bytesWritten();
    const MpegHeader layout = MpegHeader::layer3(lame_get_out_samplerate(m_lame),
        lame_get_mode(m_lame) == MONO, lame_get_brate(m_lame));
    const bool lameWritesInfo = InfoFrame::fitsInFrame(layout, layout.bitrateIndex());
    m_ownInfoFrame = writesOwnInfoFrame(m_lame, settings);
    if (settings.ownInfoFrame && lameWritesInfo) {
        lame_close(m_lame);
        m_lame = startOrThrow(sampleRate, channels, settings, false);
    }
    if (m_ownInfoFrame) {
        // Room for our Info frame, filled in by finish().
        m_placeholderSize = layout.frameLengthAt(InfoFrame::bitrateIndexFor(layout));
        const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(m_placeholderSize), 0);
        m_out.write(zeros.data(), zeros.size());
    }
    m_maxFramesPerCall = std::clamp(lame_get_maximum_number_of_samples(m_lame, kBufferSize / 2), 1, kMaxFramesPerCall);
    m_left.resize(static_cast<std::size_t>(m_maxFramesPerCall));
    m_right.resize(static_cast<std::size_t>(m_maxFramesPerCall));
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
    float* left = m_left.data();
    float* right = m_right.data();
    while (frames > 0) {
        const int n = static_cast<int>(std::min<std::size_t>(frames, static_cast<std::size_t>(m_maxFramesPerCall)));
        // LAME is fed floats on the scale of 16-bit samples, as it holds them inside. The
        // factor is a power of two, so nothing is rounded: a 16- or 24-bit source reaches the
        // psychoacoustic model with exactly the values that the `lame` tool gives it (its
        // output is bit for bit the reference encoder's), and a float source keeps every bit
        // of its precision.
        if (m_channels == 2) {
            for (int i = 0; i < n; ++i) {
                left[i] = pcm[2 * i] * kSampleScale;
                right[i] = pcm[2 * i + 1] * kSampleScale;
            }
        } else {
            for (int i = 0; i < n; ++i)
                left[i] = pcm[i] * kSampleScale;
        }
        const int written = lame_encode_buffer_float(m_lame, left, m_channels == 2 ? right : nullptr, n,
            m_buffer.data(), static_cast<int>(m_buffer.size()));
        if (written < 0)
            failEncode(written);
        put(m_buffer.data(), written);
        pcm += static_cast<std::size_t>(n) * static_cast<std::size_t>(m_channels);
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
        if (size > 0 && size <= sizeof frame) {
            // LAME names the rate it was given; the source had its own.
            InfoFrame::setSourceRate(frame, size, m_sourceRate);
            m_out.writeAt(m_streamStart, frame, size);
        }
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
    f.inputRate = m_sourceRate;
    f.quality = lame_get_quality(m_lame);
    f.musicCrc = m_musicCrc;
    const auto frame = InfoFrame::build(*header, f);
    m_out.writeAt(m_streamStart, frame.data(), frame.size());
}
