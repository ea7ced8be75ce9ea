#include "loudnessmeter.h"

#include "audiosource.h"
#include "downmixedsource.h"
#include "encodeerror.h"
#include "samplecleaner.h"
#include "sourcefacts.h"
#include "tagcopier.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace {

// A path longer than any the system can open is not read to its end.
constexpr std::size_t kMaxPath = 4096;

ebur128_state* stateOf(void* state) { return static_cast<ebur128_state*>(state); }

} // namespace

LoudnessMeter::LoudnessMeter(int channels, int sampleRate)
    : m_channels(channels)
    , m_hop(static_cast<std::size_t>((sampleRate + 5) / 10))
    , m_rate(sampleRate)
{
    m_state = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
        EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
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
    double peak = 0;
    for (int c = 0; c < m_channels; ++c) {
        double p = 0;
        if (ebur128_true_peak(stateOf(m_state), static_cast<unsigned>(c), &p) == EBUR128_SUCCESS && std::isfinite(p))
            peak = std::max(peak, p);
    }
    m.peak = peak;
    m.seconds = m_frames / m_rate;
    return m;
}

std::string LoudnessMeter::lineFor(const std::string& path)
{
    std::unique_ptr<LoudnessMeter> meter;
    AudioSource::Container container = AudioSource::Container::Other;
    try {
        std::unique_ptr<AudioSource> source = AudioSource::open(path);
        container = source->container();
        if (source->channels() > 2)
            source = std::make_unique<DownmixedSource>(std::move(source));
        if (source->sampleRate() <= 0 || source->sampleRate() > 768000)
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
    } catch (const EncodeError& e) {
        return std::string("error\t") + e.what();
    } catch (const std::bad_alloc&) {
        return "error\tout of memory";
    } catch (const std::exception& e) {
        return EncodeError::printable(std::string("error\t") + e.what());
    }
    vardune::LoudnessLevel::Measure measure = meter->result();
    // The album tag tells a caller which sources level together; a tag that cannot be read
    // leaves the source an album of its own.
    try {
        TagCopier::Texts texts;
        TagCopier::id3v2SizeFor(path, container, [](const TagLib::ByteVector&) { return std::size_t(0); }, &texts);
        const auto album = texts.find("ALBUM");
        if (album != texts.end())
            measure.album = SourceFacts::fieldText(album->second);
    } catch (...) {
    }
    return vardune::LoudnessLevel::Line(measure);
}

int LoudnessMeter::run(std::FILE* in, std::FILE* out)
{
    std::string path;
    bool tooLong = false;
    bool pending = false;
    const auto answer = [&] {
        const std::string line = tooLong ? "error\tthe name is longer than any file name can be" : lineFor(path);
        std::fprintf(out, "%s\n", line.c_str());
        std::fflush(out);
        path.clear();
        tooLong = false;
        pending = false;
    };
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) {
        if (c == '\0') {
            answer();
            continue;
        }
        pending = true;
        if (path.size() < kMaxPath)
            path += static_cast<char>(c);
        else
            tooLong = true;
    }
    if (pending)
        answer();
    return std::ferror(out) ? 1 : 0;
}
