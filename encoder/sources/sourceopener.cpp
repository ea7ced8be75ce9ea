#include "sources/sourceopener.h"

#include "common/encodeerror.h"
#include "mpeg/mpegdetector.h"
#include "sources/flacsource.h"
#include "sources/mpegsource.h"
#include "sources/opussource.h"
#include "sources/sndfilesource.h"
#include "sources/vorbissource.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The kernel's own file systems (/proc, /sys and their kin): their files show the kernel's
// state, never a sound, and some that stat calls regular never end or wait for ever when
// read (/proc/kmsg, trace_pipe).
bool kernelFileSystem(int fd)
{
    struct statfs fs {};
    if (fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case 0x62656570: // configfs
        return true;
    default:
        return false;
    }
}

} // namespace

int SourceOpener::openFile(const std::string& path)
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
    if (kernelFileSystem(fd)) {
        ::close(fd);
        throw EncodeError(shown + " is not an audio file");
    }
    // The size stat gives is not trusted: empty is what a read finds. The first read is still
    // made without waiting: a file whose read would wait for data is no file of sound.
    char first = 0;
    ssize_t got = 0;
    do
        got = pread(fd, &first, 1, 0);
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
        const int e = errno;
        ::close(fd);
        if (got < 0 && (e == EAGAIN || e == EWOULDBLOCK))
            throw EncodeError("cannot read " + shown + ": it waits for data that may never come");
        throw EncodeError(got == 0 ? shown + " is empty, not an audio file" : "cannot read " + shown + ": " + std::strerror(e));
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::unique_ptr<AudioSource> SourceOpener::open(const std::string& path)
{
    const int fd = openFile(path);
    // FLAC goes to libFLAC, Ogg Vorbis to libvorbisfile, Ogg Opus to libopusfile, MPEG audio to libmpg123; everything
    // else to libsndfile, opened without a file name so that it cannot fall back to guessing
    // from the extension.
    try {
        if (FlacSource::detect(fd))
            return std::make_unique<FlacSource>(fd, path);
        if (VorbisSource::detect(fd))
            return std::make_unique<VorbisSource>(fd, path);
        if (OpusSource::detect(fd))
            return std::make_unique<OpusSource>(fd, path);
        if (const auto start = MpegDetector::findAudioStart(fd))
            return std::make_unique<MpegSource>(fd, path, *start);
        return std::make_unique<SndfileSource>(fd, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
}
