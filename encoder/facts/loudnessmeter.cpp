#include "facts/loudnessmeter.h"

#include "common/encodeerror.h"
#include "common/filedescriptor.h"
#include "facts/sourcerecords.h"
#include "mpeg/mpegdetector.h"
#include "mpeg/mpegsurvey.h"
#include "output/mp3writer.h"
#include "output/sourcetags.h"
#include "sources/audiosource.h"
#include "sources/downmixedsource.h"
#include "sources/resampledsource.h"
#include "sources/samplecleaner.h"
#include "sources/sourceopener.h"

#include "sources/mpegsource.h"

#include <ebur128.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

ebur128_state* stateOf(void* state) { return static_cast<ebur128_state*>(state); }

// The source as it is read, its true peak taken on the way: the peak rule holds the sound
// as it goes into LAME, before anything band-limits it.
class PeakTap : public AudioSource {
public:
    explicit PeakTap(std::unique_ptr<AudioSource> inner)
        : m_inner(std::move(inner))
        , m_peak(m_inner->channels())
    {
    }
    int sampleRate() const override { return m_inner->sampleRate(); }
    int channels() const override { return m_inner->channels(); }
    Container container() const override { return m_inner->container(); }
    std::vector<ChannelMixer::Position> channelPositions() const override { return m_inner->channelPositions(); }
    std::size_t read(float* interleaved, std::size_t maxFrames) override
    {
        const std::size_t frames = m_inner->read(interleaved, maxFrames);
        SampleCleaner::clean(interleaved, frames * static_cast<std::size_t>(channels()));
        m_peak.add(interleaved, frames);
        return frames;
    }
    double progress() const override { return m_inner->progress(); }
    Ending ending() const override { return m_inner->ending(); }
    double peak() const { return m_peak.peak(); }

private:
    std::unique_ptr<AudioSource> m_inner;
    TruePeak m_peak;
};

// Whether the encoder copies this source as it is at this quality (StreamCopy's rule).
bool copiedAsItIs(const std::string& path, const LoudnessMeter::Shape& shape)
{
    const FileDescriptor fd(SourceOpener::openFile(path));
    const auto start = MpegDetector::findAudioStart(fd.get());
    return start && MpegSurvey::full(fd.get(), *start, path).smallEnoughFor(shape.bitrate, shape.mono);
}

} // namespace

LoudnessMeter::LoudnessMeter(int channels, int sampleRate)
    : m_channels(channels)
    , m_hop(static_cast<std::size_t>(std::max(1, (sampleRate + 5) / 10)))
    , m_rate(sampleRate)
    , m_truePeak(channels)
{
    m_state = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate), EBUR128_MODE_I);
    if (!m_state)
        throw std::bad_alloc();
    if (channels == 1)
        ebur128_set_channel(stateOf(m_state), 0, EBUR128_DUAL_MONO);
}

LoudnessMeter::~LoudnessMeter()
{
    ebur128_state* state = stateOf(m_state);
    ebur128_destroy(&state);
}

void LoudnessMeter::add(const float* interleaved, std::size_t frames)
{
    m_frames += static_cast<double>(frames);
    m_truePeak.add(interleaved, frames);
    // Given a hop at a time, so that after each the last 400 ms are one gating block of the
    // integrated loudness (libebur128 makes a block every 100 ms once 400 ms are in).
    while (frames > 0) {
        const std::size_t n = std::min(frames, m_hop - m_inHop);
        ebur128_add_frames_float(stateOf(m_state), interleaved, n);
        interleaved += n * static_cast<std::size_t>(m_channels);
        frames -= n;
        m_inHop += n;
        if (m_inHop == m_hop) {
            m_inHop = 0;
            if (++m_hops >= 4) {
                double block = 0;
                if (ebur128_loudness_momentary(stateOf(m_state), &block) == EBUR128_SUCCESS) {
                    const int bin = vardune::LoudnessLevel::BinOf(block);
                    if (bin >= 0)
                        ++m_measure.bins[bin];
                }
            }
        }
    }
}

vardune::LoudnessLevel::Measure LoudnessMeter::result()
{
    vardune::LoudnessLevel::Measure m = m_measure;
    double lufs = 0;
    m.loud = ebur128_loudness_global(stateOf(m_state), &lufs) == EBUR128_SUCCESS && std::isfinite(lufs);
    m.lufs = m.loud ? lufs : 0;
    m.peak = m_truePeak.peak();
    m.seconds = m_frames / m_rate;
    return m;
}

std::string LoudnessMeter::lineFor(const std::string& path, const Shape& shape)
{
    std::unique_ptr<LoudnessMeter> meter;
    // The peak as the tap saw it, read while the source chain that owns the tap still stands.
    double peak = 0;
    AudioSource::Container container = AudioSource::Container::Other;
    try {
        std::unique_ptr<AudioSource> source = SourceOpener::open(path);
        container = source->container();
        if (source->channels() > 2)
            source = std::make_unique<DownmixedSource>(std::move(source));
        // Below 1 kHz a 100 ms hop is a handful of frames and no sound a player plays.
        if (source->sampleRate() < 1000 || source->sampleRate() > 768000)
            return "error\t" + EncodeError::printable(path) + " has no usable sample rate";
        auto tapped = std::make_unique<PeakTap>(std::move(source));
        const PeakTap* tap = tapped.get();
        source = std::move(tapped);
        bool fold = false;
        if (shape.bitrate > 0 && !(container == AudioSource::Container::Mpeg && copiedAsItIs(path, shape))) {
            // As LAME will keep it: its rate, its lowpass. Loudness does not depend on the
            // rate it is measured at, so where LAME keeps the source's rate the sound is
            // measured at a rate just above twice the lowpass, the resampler's filter
            // standing in for LAME's.
            Mp3Writer::Settings settings;
            settings.bitrate = shape.bitrate;
            settings.mono = shape.mono;
            const int rate = source->sampleRate();
            const Mp3Writer::Band band = Mp3Writer::keptBand(rate, source->channels(), settings);
            int measuredRate = band.rate;
            if (measuredRate == rate && band.topHz < 0.97 * rate / 2)
                measuredRate = 2 * static_cast<int>(std::ceil(band.topHz / 0.97));
            if (measuredRate != rate)
                source = std::make_unique<ResampledSource>(std::move(source), measuredRate, band.topHz);
            fold = shape.mono && source->channels() == 2; // LAME folds stereo as (L+R)/2
        }
        const int channels = source->channels();
        meter = std::make_unique<LoudnessMeter>(fold ? 1 : channels, source->sampleRate());
        const std::size_t chunk = AudioSource::chunkFrames(channels);
        std::vector<float> pcm(chunk * static_cast<std::size_t>(channels));
        try {
            for (;;) {
                const std::size_t frames = source->read(pcm.data(), chunk);
                if (frames == 0)
                    break;
                if (fold)
                    for (std::size_t i = 0; i < frames; ++i)
                        pcm[i] = 0.5f * (pcm[2 * i] + pcm[2 * i + 1]);
                meter->add(pcm.data(), frames);
            }
        } catch (const EncodeError&) {
            // Damage the decoder cannot pass: what was decoded before it is measured, as the
            // conversion encodes what it decoded.
        }
        peak = tap->peak();
    } catch (const std::exception& e) {
        return SourceRecords::errorLine(e);
    }
    vardune::LoudnessLevel::Measure measure = meter->result();
    measure.peak = peak;
    // The album tag tells a caller which sources level together; a tag that cannot be read
    // leaves the source an album of its own.
    try {
        SourceTags::Texts texts;
        SourceTags::id3v2SizeFor(path, container, [](const TagLib::ByteVector&) { return std::size_t(0); }, &texts);
        const auto album = texts.find("ALBUM");
        if (album != texts.end())
            measure.album = SourceRecords::fieldText(album->second);
    } catch (...) {
    }
    return vardune::LoudnessLevel::Line(measure);
}

vardune::LoudnessLevel::Measure LoudnessMeter::ofMp3(int fd, const std::string& name)
{
    const auto start = MpegDetector::findAudioStart(fd);
    if (!start)
        throw EncodeError(EncodeError::printable(name) + " holds no MPEG audio to measure");
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        throw EncodeError("cannot read " + EncodeError::printable(name) + " back: " + std::strerror(errno));
    MpegSource mp3(own, name, *start);
    LoudnessMeter meter(mp3.channels(), mp3.sampleRate());
    const std::size_t chunk = AudioSource::chunkFrames(mp3.channels());
    std::vector<float> pcm(chunk * static_cast<std::size_t>(mp3.channels()));
    for (;;) {
        const std::size_t frames = mp3.read(pcm.data(), chunk);
        if (frames == 0)
            break;
        meter.add(pcm.data(), frames);
    }
    return meter.result();
}

int LoudnessMeter::run(std::FILE* in, std::FILE* out, const Shape& shape)
{
    return SourceRecords::answer(in, out, [shape](const std::string& path) { return lineFor(path, shape); });
}
