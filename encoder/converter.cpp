#include "converter.h"

#include "common/encodeerror.h"
#include "common/filedescriptor.h"
#include "facts/bitratecap.h"
#include "facts/encodedsize.h"
#include "facts/loudnessmeter.h"
#include "mpeg/granulegain.h"
#include "mpeg/mpegdetector.h"
#include "output/atomicfile.h"
#include "output/markrename.h"
#include "output/mp3writer.h"
#include "output/segmentedmp3writer.h"
#include "output/sourcetags.h"
#include "output/tagcopier.h"
#include "sources/audiosource.h"
#include "sources/downmixedsource.h"
#include "sources/readaheadsource.h"
#include "sources/resampledsource.h"
#include "sources/samplecleaner.h"
#include "sources/sourceopener.h"
#include "streamcopy.h"

#include "loudnesslevel.h"
#include "sourcemark.h"
#include "statedlength.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// "11.4 s of 1200.0 s": what was converted is rounded down, so it never reads as the whole.
std::string convertedText(double convertedSeconds, double declaredSeconds)
{
    char text[128];
    const double seconds = std::floor(convertedSeconds * 10.0) / 10.0;
    if (declaredSeconds > 0)
        std::snprintf(text, sizeof text, "(%.1f s of %.1f s converted)", seconds, declaredSeconds);
    else
        std::snprintf(text, sizeof text, "(%.1f s converted)", seconds);
    return text;
}

// The source as the rule that keeps the output smaller sees it, measured as the forecast of
// `fastencc --facts` measures it, so that both choose the same bitrate for a whole file.
BitrateCap::Source capSource(const std::string& path, const AudioSource& decoder, std::size_t tag)
{
    BitrateCap::Source s;
    s.tag = tag;
    const FileDescriptor fd(SourceOpener::openFile(path));
    struct stat st {};
    s.fileBytes = fstat(fd.get(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    if (decoder.container() == AudioSource::Container::Mpeg) {
        if (const auto start = MpegDetector::findAudioStart(fd.get())) {
            // Every frame, as the decoder then reads them: the Info frame of a file cut short
            // or damaged tells of frames that are no longer there.
            const MpegSurvey survey = MpegSurvey::full(fd.get(), *start, path);
            s.frames = survey.decodedFrames;
            s.rate = survey.sampleRate;
            s.channels = survey.mono ? 1 : 2;
            s.bitsPerSecond = BitrateCap::bitsPerSecond(survey);
        }
        return s;
    }
    s.frames = std::max<std::int64_t>(0, decoder.lengthFrames());
    s.rate = decoder.sampleRate();
    s.channels = decoder.channels();
    s.bitsPerSecond = BitrateCap::bitsPerSecond(fd.get(), decoder.container(), s.frames, s.rate);
    return s;
}

} // namespace

std::string Converter::gainText(double gainDb)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", gainDb);
    return text;
}

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
    const auto mark = AtomicFile::checkReplaceable(m_target, m_options.source);
    // An output made from this very source, unchanged since, with the same settings, and whole,
    // is not made again: a second batch over a whole library reads one tag and the first frame
    // per file and decodes nothing. One cut short is made again. -reencode asks for a new
    // output whatever stands there.
    // One made from the same source before it was moved (the same size, time and content) is
    // up to date too: its mark is named after the source's new path, nothing else changes.
    if (mark && !m_options.reencode) {
        const auto source = vardune::SourceMark::Of(m_options.source);
        const std::string holds = source
            ? vardune::SourceMark::For(*mark, *source, [&] { return vardune::SourceMark::Content(source->path); })
            : *mark;
        if (source && vardune::SourceMark::UpToDate(holds, *source, m_options.profile())
            && vardune::StatedLength::WholeFile(m_target)) {
            // Where it cannot be written now (its folder full), it stays as it is: still up to
            // date, known by its content next time too.
            if (holds != *mark)
                MarkRename::apply(m_target, m_options.source, *mark, holds);
            m_notes.push_back(kUpToDateNote);
            return;
        }
    }
    double surveyedSeconds = 0; // set when the source changed under the copy
    double levelled = 0;
    if (!m_options.reencode && StreamCopy::copyIfSmall(m_options, m_target, m_progress, &surveyedSeconds, &levelled)) {
        m_notes.push_back(StreamCopy::kNote);
        if (levelled != 0)
            m_notes.push_back("levelled by " + gainText(levelled) + " in the MP3's own gain steps");
        const double nearest = std::lround(m_options.gainDb / GranuleGain::kStepDb) * GranuleGain::kStepDb;
        if (m_options.gainGiven && levelled < nearest - 0.005)
            m_warnings.push_back("the gain is lowered from " + gainText(m_options.gainDb) + " to " + gainText(levelled)
                + " so that the peaks stay at " + gainText(CommandLine::kPeakLimitDb) + "TP");
        return;
    }
    double gain = m_options.gainGiven ? m_options.gainDb : 0.0;
    const double asked = gain;
    double ceiling = CommandLine::kMaxGainDb; // the most gain the peaks allow, as learnt
    if (m_options.peak > 0 && (gain > 0 || m_options.trackGain.given))
        ceiling = std::floor((CommandLine::kPeakLimitDb - 20.0 * std::log10(m_options.peak)) * 100.0) / 100.0;
    const double givenCeiling = ceiling;
    // Levelled with its ReplayGain figures, the output must come to the loudness they promise
    // (the track's, raised by the gain): it is decoded and measured as written, and encoded
    // again with the gain corrected by what it missed. Its true peak, not only the sound given
    // to LAME, is held at the limit. Without the figures the gain is applied as it is.
    const bool landing = m_options.gainGiven && m_options.trackGain.given;
    const double promisedLufs = vardune::LoudnessLevel::kReferenceLufs - m_options.trackGain.gainDb;
    double loss = landing ? kCodecLossDb : 0.0;
    double applied = std::max(-CommandLine::kMaxGainDb, std::min(gain + loss, ceiling));
    const std::size_t notesBefore = m_notes.size();
    const std::size_t warningsBefore = m_warnings.size();
    constexpr int kEncodings = 4;
    for (int attempt = 0;; ++attempt) {
        const double tagGain = applied - loss;
        const bool last = attempt + 1 >= kEncodings;
        bool again = false;
        encode(applied, tagGain, surveyedSeconds, landing, [&](const Encoded& e) {
            // The peak given may be wrong (or not given): a gain that raises any sample above
            // the limit is lowered by as much, and the sound encoded again, so that it is
            // never clipped. The peak follows the gain exactly, so a second try fits.
            if (e.inputPeakDb > CommandLine::kPeakLimitDb + 0.005 && (applied > 0 || landing)) {
                ceiling = std::min(ceiling, std::floor((applied - (e.inputPeakDb - CommandLine::kPeakLimitDb)) * 100.0) / 100.0);
                again = true;
            } else if (e.measured && e.truePeakDb > CommandLine::kPeakLimitDb) {
                // LAME's rounding can raise a peak held right at the limit.
                ceiling = std::min(ceiling, std::floor((applied - (e.truePeakDb - CommandLine::kPeakLimitDb) - 0.01) * 100.0) / 100.0);
                again = true;
            } else if (e.measured && e.loud && std::fabs(promisedLufs + tagGain - e.lufs) > kLandingLu) {
                const double corrected = std::clamp(loss + promisedLufs + tagGain - e.lufs, -kMostCorrectionDb, kMostCorrectionDb);
                again = !last && corrected != loss;
                if (again)
                    loss = corrected;
            }
            if (again && last)
                throw EncodeError("the sound cannot be levelled by " + gainText(asked) + " without clipping");
            return !again;
        });
        if (!again)
            break;
        applied = std::max(-CommandLine::kMaxGainDb, std::min(asked + loss, ceiling));
        m_notes.resize(notesBefore);
        m_warnings.resize(warningsBefore);
    }
    const double gained = applied - loss;
    // Before what the encoding said of the source, which stays the last word. Told is a gain
    // the peak given does not allow, or one the peaks as written held back; where the peak
    // given leaves less than LAME's rounding takes, the tags say what is still to apply.
    if (m_options.gainGiven && (asked > givenCeiling + 0.005 || applied < std::min(asked + loss, givenCeiling) - 0.005))
        m_warnings.insert(m_warnings.begin() + static_cast<std::ptrdiff_t>(warningsBefore), "the gain is lowered from "
            + gainText(asked) + " to " + gainText(gained) + " so that the peaks stay at " + gainText(CommandLine::kPeakLimitDb) + "TP");
}

Converter::Encoded Converter::encode(double gain, double tagGain, double surveyedSeconds, bool measure, const Accept& accept)
{
    std::unique_ptr<AudioSource> decoder = SourceOpener::open(m_options.source);
    // Tags are read before anything is written, so the source is only ever read.
    const std::vector<TagLib::ByteVector> tag = TagCopier::id3v2For(m_options.source, decoder->container(),
        m_options.profile(), m_options.replayGainFrames(tagGain, gain));
    std::size_t tagBytes = 0;
    for (const TagLib::ByteVector& piece : tag)
        tagBytes += piece.size();
    // Never a larger file: a source smaller than the bitrate asked keeps the output to its own
    // (-reencode, which only rules out a copy, included).
    EncodedSize sizes;
    const BitrateCap::Choice cap = BitrateCap::choose(
        capSource(m_options.source, *decoder, tagBytes - SourceTags::markBytesFor(m_options.source, tagBytes)),
        m_options.bitrate, m_options.mono, sizes);

    if (decoder->channels() > 2)
        decoder = std::make_unique<DownmixedSource>(std::move(decoder));
    const int channels = decoder->channels();
    Mp3Writer::Settings settings;
    settings.bitrate = cap.bitrate;
    settings.mono = m_options.mono;
    // LAME lowers the sample rate at low bitrates. It is asked which rate it would pick, and
    // the sound is resampled to it before LAME, on the read-ahead thread.
    const int sourceRate = decoder->sampleRate();
    const int lameRate = Mp3Writer::chosenRate(sourceRate, channels, settings);
    if (lameRate != sourceRate) {
        decoder = std::make_unique<ResampledSource>(std::move(decoder), lameRate);
        settings.sourceRate = sourceRate;
    }
    auto source = std::make_unique<ReadAheadSource>(std::move(decoder));

    AtomicFile out(m_target, m_options.source);
    for (const TagLib::ByteVector& piece : tag)
        out.write(piece.data(), piece.size());

    // One encoder, or several on consecutive segments of the sound.
    const int threads = m_options.encoderThreads();
    std::unique_ptr<Mp3Writer> single;
    std::unique_ptr<SegmentedMp3Writer> segmented;
    if (threads > 1)
        // A caller that said so hands out more or fewer processors as the file goes: lines on
        // standard input, read between segments.
        segmented = std::make_unique<SegmentedMp3Writer>(out, lameRate, channels, settings, threads,
            m_options.threadsFromStdin ? STDIN_FILENO : -1);
    else
        single = std::make_unique<Mp3Writer>(out, lameRate, channels, settings);
    const int outputKbps = single ? single->outputBitrateKbps() : segmented->outputBitrateKbps();
    if (cap.keptKbps > 0)
        m_notes.push_back(BitrateCap::note(outputKbps, m_options.bitrate));
    else if (outputKbps * 1000 != m_options.bitrate)
        // LAME never upsamples, and caps the bitrate of a low sample rate.
        m_warnings.push_back("the MP3 is written at " + std::to_string(outputKbps * 1000)
            + " bit/s, not " + std::to_string(m_options.bitrate) + " (the encoder's limit for a source of "
            + std::to_string(sourceRate) + " Hz)");

    const std::size_t chunkFrames = AudioSource::chunkFrames(channels);
    std::vector<float> pcm(chunkFrames * static_cast<std::size_t>(channels));
    std::int64_t framesRead = 0;
    const float factor = static_cast<float>(std::pow(10.0, gain / 20.0));
    float peak = 0;
    for (;;) {
        const std::size_t frames = source->read(pcm.data(), chunkFrames);
        if (frames == 0)
            break;
        framesRead += static_cast<std::int64_t>(frames);
        const std::size_t samples = frames * static_cast<std::size_t>(channels);
        SampleCleaner::clean(pcm.data(), samples);
        if (gain != 0) {
            for (std::size_t i = 0; i < samples; ++i) {
                pcm[i] *= factor;
                peak = std::max(peak, std::fabs(pcm[i]));
            }
            if (gain > 0)
                SampleCleaner::clean(pcm.data(), samples);
        }
        if (single)
            single->encode(pcm.data(), frames);
        else
            segmented->encode(pcm.data(), frames);

        // 100 is for a finished file only: reading everything is not yet success.
        const int percent = std::min(99, static_cast<int>(source->progress() * 100.0));
        if (percent > m_shown && m_progress) {
            m_shown = percent;
            m_progress(percent);
        }
    }
    if (single)
        single->finish();
    else
        segmented->finish();
    // An MP3 of no frame is one nothing plays: nothing is written instead.
    if (framesRead == 0)
        throw EncodeError("the source holds no sound");
    Encoded encoded;
    encoded.inputPeakDb = peak > 0 ? 20.0 * std::log10(peak) : -200.0;
    if (measure && encoded.inputPeakDb <= CommandLine::kPeakLimitDb + 0.005) {
        try {
            const vardune::LoudnessLevel::Measure written = LoudnessMeter::ofMp3(out.descriptor(), m_target);
            encoded.measured = true;
            encoded.loud = written.loud;
            encoded.lufs = written.lufs;
            encoded.truePeakDb = written.peak > 0 ? 20.0 * std::log10(written.peak) : -200.0;
        } catch (const EncodeError&) {
            // No sound to decode (a source without any): nothing to land, no peak to hold.
        }
    }
    if (!accept(encoded))
        return encoded; // the temporary file goes: encoded again at another gain
    out.commit();
    if (m_options.gainGiven && std::round(tagGain * 100.0) != 0)
        m_notes.push_back("levelled by " + gainText(tagGain));
    const AudioSource::Ending ending = source->ending();
    const std::string converted = convertedText(static_cast<double>(framesRead) / lameRate,
                                                static_cast<double>(ending.declaredFrames) / sourceRate);
    if (ending.damaged)
        m_warnings.push_back("the audio data is damaged "
            + (ending.damagedAtFrame >= 0
                    ? "at " + EncodeError::playingTime(static_cast<double>(ending.damagedAtFrame) / sourceRate) + " "
                    : std::string())
            + converted);
    if (ending.early)
        m_warnings.push_back("the source ends early " + converted);
    else if (static_cast<double>(framesRead) / lameRate < surveyedSeconds - 0.05)
        // Cut off while it was being copied: what it held before is what it lacks now.
        m_warnings.push_back("the source ends early "
            + convertedText(static_cast<double>(framesRead) / lameRate, surveyedSeconds));
    return encoded;
}
