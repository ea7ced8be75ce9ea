#include "audiosource.h"

#include "encodeerror.h"
#include "flacsource.h"
#include "mpegdetector.h"
#include "mpegsource.h"
#include "sndfilesource.h"
#include "vorbissource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

AudioSource::~AudioSource() = default;

std::size_t AudioSource::chunkFrames(int channels)
{
    constexpr std::size_t kChunkBytes = 8192 * 2 * sizeof(float);
    constexpr std::size_t kMaxFrames = 8192;
    return std::clamp<std::size_t>(kChunkBytes / (sizeof(float) * static_cast<std::size_t>(std::max(channels, 1))), 1, kMaxFrames);
}

int AudioSource::openFile(const std::string& path)
{
    const std::string shown = EncodeError::printable(path);
    // The type is checked before opening and again on what was opened: open() of a FIFO
    // without a writer would wait forever, of a device may act on it. O_NONBLOCK makes the
    // open itself return at once should the name change in between.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        throw EncodeError("cannot read " + shown + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        throw EncodeError(shown + " is a folder, not an audio file");
    if (!S_ISREG(st.st_mode))
        throw EncodeError(shown + " is not a regular file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw EncodeError("cannot read " + shown + ": " + std::strerror(errno));
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw EncodeError(shown + " is not a regular file");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The size stat gives is not trusted (files under /proc say 0 and have content): empty
    // is what a read finds.
    char first = 0;
    ssize_t got = 0;
    do
        got = pread(fd, &first, 1, 0);
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
        const int e = errno;
        ::close(fd);
        throw EncodeError(got == 0 ? shown + " is empty, not an audio file" : "cannot read " + shown + ": " + std::strerror(e));
    }
    return fd;
}

std::unique_ptr<AudioSource> AudioSource::open(const std::string& path)
{
    const int fd = openFile(path);
    // FLAC goes to libFLAC, Ogg Vorbis to libvorbisfile, MPEG audio to libmpg123; everything
    // else to libsndfile, opened without a file name so that it cannot fall back to guessing
    // from the extension.
    try {
        if (FlacSource::detect(fd))
            return std::make_unique<FlacSource>(fd, path);
        if (VorbisSource::detect(fd))
            return std::make_unique<VorbisSource>(fd, path);
        if (const auto start = MpegDetector::findAudioStart(fd))
            return std::make_unique<MpegSource>(fd, path, *start);
        return std::make_unique<SndfileSource>(fd, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
}
