#include "converter.h"

#include "atomicfile.h"
#include "audiosource.h"
#include "channelmixer.h"
#include "encodeerror.h"
#include "mp3writer.h"
#include "readaheadsource.h"
#include "streamcopy.h"
#include "tagcopier.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

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

// "11.4 s of 1200.0 s": what was converted is rounded down, so it never reads as the whole.
std::string endsEarlyText(std::int64_t converted, std::int64_t declared, int rate)
{
    char text[128];
    const double seconds = std::floor(static_cast<double>(converted) * 10.0 / rate) / 10.0;
    if (declared > 0)
        std::snprintf(text, sizeof text, "the source ends early (%.1f s of %.1f s converted)", seconds,
            static_cast<double>(declared) / rate);
    else
        std::snprintf(text, sizeof text, "the source ends early (%.1f s converted)", seconds);
    return text;
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
    if (stat(m_target.c_str(), &target) != 0)
        return; // no target yet
    if (source.st_dev == target.st_dev && source.st_ino == target.st_ino)
        throw EncodeError("the target " + EncodeError::printable(m_options.target) + " is the source file itself");
}

void Converter::run()
{
    m_warnings.clear();
    m_notes.clear();
    m_target = AtomicFile::resolveTarget(m_options.target);
    checkTargetIsNotSource();
    if (!m_options.reencode && StreamCopy::copyIfSmall(m_options, m_target, m_progress)) {
        m_notes.push_back(StreamCopy::kNote);
        return;
    }
    std::unique_ptr<AudioSource> decoder = AudioSource::open(m_options.source);
    // Tags are read before anything is written, so the source is only ever read.
    const std::vector<TagLib::ByteVector> tag = TagCopier::id3v2For(m_options.source, decoder->container());
    auto source = std::make_unique<ReadAheadSource>(std::move(decoder));

    AtomicFile out(m_target);
    for (const TagLib::ByteVector& piece : tag)
        out.write(piece.data(), piece.size());

    const int channels = source->channels();
    const int lameChannels = std::min(channels, 2);
    std::unique_ptr<ChannelMixer> mixer;
    if (channels > 2)
        mixer = std::make_unique<ChannelMixer>(channels, source->channelPositions());

    Mp3Writer::Settings settings;
    settings.bitrate = m_options.bitrate;
    settings.mono = m_options.mono;
    Mp3Writer writer(out, source->sampleRate(), lameChannels, settings);
    if (writer.outputBitrateKbps() * 1000 != m_options.bitrate)
        // LAME never upsamples, and caps the bitrate of a low sample rate.
        m_warnings.push_back("the MP3 is written at " + std::to_string(writer.outputBitrateKbps() * 1000)
            + " bit/s, not " + std::to_string(m_options.bitrate) + " (the encoder's limit for a source of "
            + std::to_string(source->sampleRate()) + " Hz)");

    // Small enough that memory does not grow with the file or the channels, large enough
    // that the per-call overhead vanishes.
    const std::size_t chunkFrames = AudioSource::chunkFrames(channels);
    std::vector<float> pcm(chunkFrames * static_cast<std::size_t>(channels));
    std::vector<float> stereo(mixer ? chunkFrames * 2 : 0);
    int shown = -1;
    std::int64_t framesRead = 0;
    for (;;) {
        const std::size_t frames = source->read(pcm.data(), chunkFrames);
        if (frames == 0)
            break;
        framesRead += static_cast<std::int64_t>(frames);
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
    const AudioSource::Ending ending = source->ending();
    if (ending.early)
        m_warnings.push_back(endsEarlyText(framesRead, ending.declaredFrames, source->sampleRate()));
}
