#include "facts/loudnessmeter.h"

#include "common/encodeerror.h"
#include "facts/sourcerecords.h"
#include "output/sourcetags.h"
#include "sources/audiosource.h"
#include "sources/downmixedsource.h"
#include "sources/samplecleaner.h"
#include "sources/sourceopener.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace {

ebur128_state* stateOf(void* state) { return static_cast<ebur128_state*>(state); }

// The largest magnitude of n samples, in eight lanes, so that the compiler makes vector
// instructions of it (one running maximum would wait on itself at every sample).
float largestMagnitude(const float* __restrict v, std::size_t n)
{
    float lanes[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (std::size_t l = 0; l < 8; ++l) {
            const float a = std::fabs(v[i + l]);
            lanes[l] = lanes[l] > a ? lanes[l] : a;
        }
    float most = 0;
    for (; i < n; ++i)
        most = std::max(most, std::fabs(v[i]));
    for (const float l : lanes)
        most = std::max(most, l);
    return most;
}

} // namespace

// The filter libebur128 interpolates with (49 taps of a sinc cut at the source's Nyquist
// frequency under a Hann window, four phases), so both find the same peaks.
LoudnessMeter::TruePeak::TruePeak(int channels)
    : m_channels(channels)
{
    constexpr std::size_t kTaps = 49;
    for (std::size_t j = 0; j < kTaps; ++j) {
        const double m = static_cast<double>(j) - (kTaps - 1) / 2.0;
        double c = 1.0;
        if (std::fabs(m) > 1e-9)
            c = std::sin(m * M_PI / kFactor) / (m * M_PI / kFactor);
        c *= 0.5 * (1 - std::cos(2 * M_PI * static_cast<double>(j) / (kTaps - 1)));
        m_coeff[j % kFactor][j / kFactor] = static_cast<float>(c);
    }
    // The most any phase can give for samples at most 1: a block whose samples, with the ones
    // before it the filter reaches, stay below the peak seen over this cannot hold a higher one.
    for (const auto& phase : m_coeff) {
        double sum = 0;
        for (const float c : phase)
            sum += std::fabs(c);
        m_bound = std::max(m_bound, sum);
    }
    m_history.assign(static_cast<std::size_t>(kLength * channels), 0.0f);
}

void LoudnessMeter::TruePeak::add(const float* interleaved, std::size_t frames)
{
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    for (std::size_t from = 0; from < frames; from += kBlock) {
        const std::size_t n = std::min(kBlock, frames - from);
        const float* block = interleaved + from * channels;
        const float blockPeak = largestMagnitude(block, n * channels);
        m_samplePeak = std::max(m_samplePeak, static_cast<double>(blockPeak));
        float reach = blockPeak;
        for (const float v : m_history)
            reach = std::max(reach, std::fabs(v));
        // The interpolated values of this block are worked out only where they could pass
        // the peak already known: in loud music most blocks are passed over.
        if (reach * m_bound > std::max(m_peak, m_samplePeak)) {
            m_work.resize(kLength + n);
            m_out.resize(n);
            for (std::size_t c = 0; c < channels; ++c) {
                for (std::size_t i = 0; i < static_cast<std::size_t>(kLength); ++i)
                    m_work[i] = m_history[i * channels + c];
                for (std::size_t i = 0; i < n; ++i)
                    m_work[kLength + i] = block[i * channels + c];
                // Phase 0 is the samples themselves (its other taps are zeros of the sinc).
                float peak = 0;
                float* __restrict out = m_out.data();
                for (std::size_t p = 1; p < kFactor; ++p) {
                    std::fill(out, out + n, 0.0f);
                    for (std::size_t t = 0; t < static_cast<std::size_t>(kLength); ++t) {
                        const float k = m_coeff[p][t];
                        const float* __restrict x = m_work.data() + kLength - t;
                        for (std::size_t i = 0; i < n; ++i)
                            out[i] += k * x[i];
                    }
                    peak = std::max(peak, largestMagnitude(out, n));
                }
                m_peak = std::max(m_peak, static_cast<double>(peak));
            }
        }
        // The last samples, for the next block's filter.
        if (n >= kLength) {
            std::copy(block + (n - kLength) * channels, block + n * channels, m_history.begin());
        } else {
            std::move(m_history.begin() + static_cast<std::ptrdiff_t>(n * channels), m_history.end(), m_history.begin());
            std::copy(block, block + n * channels, m_history.end() - static_cast<std::ptrdiff_t>(n * channels));
        }
    }
}

LoudnessMeter::LoudnessMeter(int channels, int sampleRate)
    : m_channels(channels)
    , m_hop(static_cast<std::size_t>(std::max(1, (sampleRate + 5) / 10)))
    , m_rate(sampleRate)
    , m_truePeak(channels)
{
    m_state = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate), EBUR128_MODE_I);
    if (!m_state)
        throw std::bad_alloc();
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

std::string LoudnessMeter::lineFor(const std::string& path)
{
    std::unique_ptr<LoudnessMeter> meter;
    AudioSource::Container container = AudioSource::Container::Other;
    try {
        std::unique_ptr<AudioSource> source = SourceOpener::open(path);
        container = source->container();
        if (source->channels() > 2)
            source = std::make_unique<DownmixedSource>(std::move(source));
        // Below 1 kHz a 100 ms hop is a handful of frames and no sound a player plays.
        if (source->sampleRate() < 1000 || source->sampleRate() > 768000)
            return "error\t" + EncodeError::printable(path) + " has no usable sample rate";
        meter = std::make_unique<LoudnessMeter>(source->channels(), source->sampleRate());
        const std::size_t chunk = AudioSource::chunkFrames(source->channels());
        std::vector<float> pcm(chunk * static_cast<std::size_t>(source->channels()));
        try {
            for (;;) {
                const std::size_t frames = source->read(pcm.data(), chunk);
                if (frames == 0)
                    break;
                SampleCleaner::clean(pcm.data(), frames * static_cast<std::size_t>(source->channels()));
                meter->add(pcm.data(), frames);
            }
        } catch (const EncodeError&) {
            // Damage the decoder cannot pass: what was decoded before it is measured, as the
            // conversion encodes what it decoded.
        }
    } catch (const std::exception& e) {
        return SourceRecords::errorLine(e);
    }
    vardune::LoudnessLevel::Measure measure = meter->result();
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

int LoudnessMeter::run(std::FILE* in, std::FILE* out)
{
    return SourceRecords::answer(in, out, &LoudnessMeter::lineFor);
}
