#include "streamcopy.h"

#include "common/encodeerror.h"
#include "common/filedescriptor.h"
#include "facts/loudnessmeter.h"
#include "mpeg/granulegain.h"
#include "mpeg/infoframe.h"
#include "mpeg/mpegdetector.h"
#include "mpeg/mpegframechain.h"
#include "mpeg/mpegsurvey.h"
#include "output/atomicfile.h"
#include "output/tagcopier.h"
#include "sources/audiosource.h"
#include "sources/sourceopener.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The Xing/Info frame at the start of a stream: no sound, its side information is empty.
bool isInfoFrame(const std::uint8_t* frame, std::size_t length, const MpegHeader& header)
{
    const std::size_t at = static_cast<std::size_t>(header.sideInfoEnd() + (header.hasCrc() ? 2 : 0));
    return at + 4 <= length && (std::memcmp(frame + at, "Xing", 4) == 0 || std::memcmp(frame + at, "Info", 4) == 0);
}

} // namespace

bool StreamCopy::copyIfSmall(const CommandLine& options, const std::string& target,
    const std::function<void(int)>& progress, double* surveyedSeconds, double* levelledDb)
{
    const FileDescriptor source(SourceOpener::openFile(options.source));
    const auto start = MpegDetector::findAudioStart(source.get());
    if (!start)
        return false;
    const MpegSurvey survey = MpegSurvey::full(source.get(), *start, options.source);
    if (!survey.smallEnoughFor(options.bitrate, options.mono))
        return false;

    // Levelled by the MP3's own gain steps: the sound is not decoded and encoded again. The
    // nearest step, lowered where the peak given says it must; then the copy is decoded as a
    // player decodes it and, where its true peak passes the limit whatever the peak given
    // said, lowered by as many steps as that takes and written again.
    int steps = 0;
    if (options.gainGiven)
        steps = options.peak > 0 ? GranuleGain::stepsFor(options.gainDb, options.peak, CommandLine::kPeakLimitDb)
                                 : std::clamp(static_cast<int>(std::lround(options.gainDb / GranuleGain::kStepDb)), -255, 255);
    struct stat st {};
    const double size = fstat(source.get(), &st) == 0 && st.st_size > 0 ? static_cast<double>(st.st_size) : 1.0;
    int shown = -1;
    for (int attempt = 0;; ++attempt) {
        const double applied = steps * GranuleGain::kStepDb;
        const std::vector<TagLib::ByteVector> tag = TagCopier::id3v2For(options.source, AudioSource::Container::Mpeg,
            options.profile(), options.replayGainFrames(applied, applied));
        AtomicFile out(target, options.source);
        for (const TagLib::ByteVector& piece : tag)
            out.write(piece.data(), piece.size());

        MpegFrameChain chain(source.get(), *start, options.source);
        const std::uint8_t* frame = nullptr;
        std::size_t length = 0;
        bool afterGap = false;
        std::int64_t copied = 0;
        bool same = true;
        std::vector<std::uint8_t> levelled;
        bool first = true;
        while (chain.next(frame, length, afterGap)) {
            copied += static_cast<std::int64_t>(length);
            same = same && !afterGap && !chain.partStart();
            if (first && isInfoFrame(frame, length, chain.header())) {
                // The copy is judged whole by the byte count its Info frame states: it states
                // what the copy holds, whatever the source's said.
                levelled.assign(frame, frame + length);
                InfoFrame::setStreamBytes(levelled.data(), length, chain.header(), static_cast<std::uint32_t>(survey.streamBytes));
                out.write(levelled.data(), length);
            } else if (steps != 0) {
                levelled.assign(frame, frame + length);
                same = same && GranuleGain::apply(levelled.data(), length, chain.header(), steps);
                out.write(levelled.data(), length);
            } else {
                out.write(frame, length);
            }
            first = false;
            const int percent = std::min(99, static_cast<int>(static_cast<double>(chain.position()) / size * 100.0));
            if (percent > shown && progress) {
                shown = percent;
                progress(percent);
            }
        }
        if (!same || copied != survey.streamBytes || chain.endsEarly()) {
            // The source is not what the survey read: the temporary file goes, the source is
            // encoded as it now is.
            if (surveyedSeconds && survey.sampleRate > 0)
                *surveyedSeconds = static_cast<double>(survey.decodedFrames) / survey.sampleRate;
            return false;
        }
        if (options.gainGiven && attempt < 3) {
            double peak = 0;
            try {
                peak = LoudnessMeter::ofMp3(out.descriptor(), target).peak;
            } catch (const EncodeError&) {
                // Frames the decoder takes no sound from: no peak to hold.
            }
            const double over = peak > 0 ? 20.0 * std::log10(peak) - CommandLine::kPeakLimitDb : -1.0;
            if (over > 0 && steps > -255) {
                steps = std::max(-255, steps - static_cast<int>(std::ceil(over / GranuleGain::kStepDb - 1e-9)));
                continue;
            }
        }
        out.commit();
        if (levelledDb)
            *levelledDb = applied;
        return true;
    }
}
