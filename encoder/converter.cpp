#include "converter.h"

#include "atomicfile.h"
#include "audiosource.h"
#include "channelmixer.h"
#include "encodeerror.h"
#include "mp3writer.h"
#include "readaheadsource.h"
#include "tagcopier.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Frames per decode/encode round: small enough that memory does not grow with the file,
// large enough that the per-call overhead vanishes.
constexpr std::size_t kChunkFrames = 8192;

// Float sources can hold anything; LAME aborts the process on NaN and distorts beyond full
// scale, so every sample is made finite and clamped first.
void cleanSamples(float* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float s = samples[i];
        // Written without calls or branches so that the compiler vectorises it; NaN is the
        // only value unequal to itself, infinities are caught by the clamp.
        const float finite = s == s ? s : 0.0f;
        samples[i] = finite > 1.0f ? 1.0f : (finite < -1.0f ? -1.0f : finite);
    }
}

} // namespace

Converter::Converter(const CommandLine& options, Progress progress)
    : m_options(options)
    , m_progress(std::move(progress))
{
}

void Converter::checkTargetIsNotSource() const
{
    struct stat source {};
    struct stat target {};
    if (stat(m_options.source.c_str(), &source) != 0)
        return; // opening the source reports it
    if (stat(m_options.target.c_str(), &target) != 0)
        return; // no target yet
    if (source.st_dev == target.st_dev && source.st_ino == target.st_ino)
        throw EncodeError("the target " + m_options.target + " is the source file itself");
    if (S_ISDIR(target.st_mode))
        throw EncodeError("cannot write to " + m_options.target + ": " + std::strerror(EISDIR));
}

void Converter::run()
{
    checkTargetIsNotSource();
    std::unique_ptr<AudioSource> decoder = AudioSource::open(m_options.source);
    // Tags are read before anything is written, so the source is only ever read.
    const std::vector<std::uint8_t> tag = TagCopier::id3v2For(m_options.source, decoder->container());
    auto source = std::make_unique<ReadAheadSource>(std::move(decoder));

    AtomicFile out(m_options.target);
    out.write(tag.data(), tag.size());

    const int channels = source->channels();
    const int lameChannels = std::min(channels, 2);
    std::unique_ptr<ChannelMixer> mixer;
    if (channels > 2)
        mixer = std::make_unique<ChannelMixer>(channels, source->channelPositions());

    Mp3Writer::Settings settings;
    settings.bitrate = m_options.bitrate;
    settings.mono = m_options.mono;
    Mp3Writer writer(out, source->sampleRate(), lameChannels, settings);

    std::vector<float> pcm(kChunkFrames * static_cast<std::size_t>(channels));
    std::vector<float> stereo(mixer ? kChunkFrames * 2 : 0);
    int shown = -1;
    for (;;) {
        const std::size_t frames = source->read(pcm.data(), kChunkFrames);
        if (frames == 0)
            break;
        float* samples = pcm.data();
        if (mixer) {
            mixer->mix(pcm.data(), stereo.data(), frames);
            samples = stereo.data();
        }
        cleanSamples(samples, frames * static_cast<std::size_t>(lameChannels));
        writer.encode(samples, frames);

        // 100 is for a finished file only: reading everything is not yet success.
        const int percent = std::min(99, static_cast<int>(source->progress() * 100.0));
        if (percent != shown && m_progress) {
            shown = percent;
            m_progress(percent);
        }
    }
    writer.finish();
    out.commit();
}
