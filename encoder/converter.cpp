#include "converter.h"

#include "atomicfile.h"
#include "audiosource.h"
#include "channelmixer.h"
#include "encodeerror.h"
#include "mp3writer.h"
#include "readaheadsource.h"
#include "resampledsource.h"
#include "samplecleaner.h"
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

    const int channels = decoder->channels();
    const int lameChannels = std::min(channels, 2);
    Mp3Writer::Settings settings;
    settings.bitrate = m_options.bitrate;
    settings.mono = m_options.mono;
    // LAME lowers the sample rate at low bitrates. It is asked which rate it would pick, and
    // the sound is resampled to it before LAME, on the read-ahead thread.
    const int sourceRate = decoder->sampleRate();
    const int lameRate = Mp3Writer::chosenRate(sourceRate, lameChannels, settings);
    if (lameRate != sourceRate) {
        decoder = std::make_unique<ResampledSource>(std::move(decoder), lameRate);
        settings.sourceRate = sourceRate;
    }
    auto source = std::make_unique<ReadAheadSource>(std::move(decoder));

    AtomicFile out(m_options.target);
    out.write(tag.data(), tag.size());

    std::unique_ptr<ChannelMixer> mixer;
    if (channels > 2)
        mixer = std::make_unique<ChannelMixer>(channels, source->channelPositions());

    Mp3Writer writer(out, lameRate, lameChannels, settings);

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
        SampleCleaner::clean(samples, frames * static_cast<std::size_t>(lameChannels));
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
