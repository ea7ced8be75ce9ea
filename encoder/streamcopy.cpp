#include "streamcopy.h"

#include "atomicfile.h"
#include "audiosource.h"
#include "filedescriptor.h"
#include "mpegdetector.h"
#include "mpegframechain.h"
#include "mpegsurvey.h"
#include "tagcopier.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

bool StreamCopy::copyIfSmall(const CommandLine& options, const std::string& target,
    const std::function<void(int)>& progress, double* surveyedSeconds)
{
    const FileDescriptor source(AudioSource::openFile(options.source));
    const auto start = MpegDetector::findAudioStart(source.get());
    if (!start)
        return false;
    const MpegSurvey survey = MpegSurvey::full(source.get(), *start, options.source);
    if (!survey.smallEnoughFor(options.bitrate, options.mono))
        return false;

    const std::vector<TagLib::ByteVector> tag = TagCopier::id3v2For(options.source, AudioSource::Container::Mpeg, options.profile());
    AtomicFile out(target, options.source);
    for (const TagLib::ByteVector& piece : tag)
        out.write(piece.data(), piece.size());

    struct stat st {};
    const double size = fstat(source.get(), &st) == 0 && st.st_size > 0 ? static_cast<double>(st.st_size) : 1.0;
    MpegFrameChain chain(source.get(), *start, options.source);
    const std::uint8_t* frame = nullptr;
    std::size_t length = 0;
    bool afterGap = false;
    int shown = -1;
    std::int64_t copied = 0;
    bool same = true;
    while (chain.next(frame, length, afterGap)) {
        copied += static_cast<std::int64_t>(length);
        same = same && !afterGap && !chain.partStart();
        out.write(frame, length);
        const int percent = std::min(99, static_cast<int>(static_cast<double>(chain.position()) / size * 100.0));
        if (percent != shown && progress) {
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
    out.commit();
    return true;
}
