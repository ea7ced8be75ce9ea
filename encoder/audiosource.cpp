#include "audiosource.h"

#include "encodeerror.h"
#include "mpegdetector.h"
#include "mpegsource.h"
#include "sndfilesource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

AudioSource::~AudioSource() = default;

std::unique_ptr<AudioSource> AudioSource::open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EncodeError("cannot read " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        throw EncodeError(path + (folder ? " is a folder, not an audio file" : " is not an audio file"));
    }
    if (st.st_size == 0) {
        ::close(fd);
        throw EncodeError(path + " is empty, not an audio file");
    }

    // MPEG audio goes to libmpg123; everything else to libsndfile, opened without a file name
    // so that it cannot fall back to guessing from the extension.
    try {
        if (const auto start = MpegDetector::findAudioStart(fd))
            return std::make_unique<MpegSource>(fd, path);
        return std::make_unique<SndfileSource>(fd, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
}
