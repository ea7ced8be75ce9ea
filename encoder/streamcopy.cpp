#include "streamcopy.h"

#include "atomicfile.h"
#include "audiosource.h"
#include "mpegdetector.h"
#include "mpegframechain.h"
#include "mpegsurvey.h"
#include "tagcopier.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Closes the source however the copy ends.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { ::close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool StreamCopy::copyIfSmall(const CommandLine& options, const std::string& target,
    const std::function<void(int)>& progress)
{
    const Descriptor source(AudioSource::openFile(options.source));
    const auto start = MpegDetector::findAudioStart(source.get());
    if (!start)
        return false;
    if (!MpegSurvey::full(source.get(), *start, options.source).smallEnoughFor(options.bitrate, options.mono))
        return false;

    const std::vector<TagLib::ByteVector> tag = TagCopier::id3v2For(options.source, AudioSource::Container::Mpeg);
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
    while (chain.next(frame, length, afterGap)) {
        out.write(frame, length);
        const int percent = std::min(99, static_cast<int>(static_cast<double>(chain.position()) / size * 100.0));
        if (percent != shown && progress) {
            shown = percent;
            progress(percent);
        }
    }
    out.commit();
    return true;
}
