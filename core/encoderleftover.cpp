#include "encoderleftover.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace vardune {

namespace {

constexpr const char kMarker[] = ".fastencc-";
constexpr const char kProbe[] = ".fastencc-probe-";
constexpr std::size_t kRandomLength = 6;

bool RandomLetters(const std::string& text)
{
    if (text.size() != kRandomLength)
        return false;
    for (const char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

// Opens the leftover with its lock held, or -1: the lock is taken only where no live encoder
// holds it, and the name must still be the opened file's.
int OpenUnheld(int dirfd, const std::string& name, std::time_t cutoff)
{
    if (!EncoderLeftover::IsTemporaryName(name))
        return -1;
    // Writable where possible: over NFS an exclusive lock needs a descriptor open for writing.
    int fd = openat(dirfd, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        fd = openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat held {};
    struct stat named {};
    const bool stale = fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_mtime < cutoff
                       && flock(fd, LOCK_EX | LOCK_NB) == 0
                       && fstatat(dirfd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
                       && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
    if (!stale) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool EncoderLeftover::IsTemporaryName(const std::string& name)
{
    if (name.size() < 1 + kRandomLength || name[0] != '.')
        return false;
    const std::string letters = name.substr(name.size() - kRandomLength);
    const std::string before = name.substr(0, name.size() - kRandomLength);
    if (!RandomLetters(letters))
        return false;
    if (before == kProbe)
        return true;
    const std::size_t marker = sizeof kMarker - 1;
    // ".NAME.fastencc-": the name may be cut to fit, even to nothing.
    return before.size() >= 1 + marker && before.compare(before.size() - marker, marker, kMarker) == 0;
}

bool EncoderLeftover::IsLeftover(int dirfd, const std::string& name, std::time_t cutoff)
{
    const int fd = OpenUnheld(dirfd, name, cutoff);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool EncoderLeftover::Remove(int dirfd, const std::string& name, std::time_t cutoff)
{
    const int fd = OpenUnheld(dirfd, name, cutoff);
    if (fd < 0)
        return false;
    // Removed while its lock is held: an encoder that starts on the name now cannot take it.
    const bool removed = unlinkat(dirfd, name.c_str(), 0) == 0;
    close(fd);
    return removed;
}

} // namespace vardune
