#include "keptfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardune {

namespace {

// What stands at a name instead of a regular file, for the user.
std::string KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "it is a folder";
    if (S_ISFIFO(mode))
        return "it is a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device";
    if (S_ISSOCK(mode))
        return "it is a socket";
    return "it is not a regular file";
}

} // namespace

std::string KeptFile::SizeText(std::size_t bytes)
{
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MB";
    return std::to_string((bytes + 1023) / 1024) + " kB";
}

KeptFile::Reading KeptFile::Read(const std::string& path, std::size_t maxBytes)
{
    Reading reading;
    // Non-blocking: a FIFO opens at once (and is then refused for what it is), where a plain
    // open would wait for a writer that never comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        reading.state = error == ENOENT ? State::Missing : State::Unreadable;
        // A link to nothing, or a loop of links: nothing to read, but something to set aside.
        struct stat link {};
        if (error == ENOENT || error == ELOOP) {
            if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
                reading.state = State::Refused;
                reading.why = error == ELOOP ? "it is a loop of links" : "it is a link to a file that does not exist";
                return reading;
            }
        }
        if (error == ENXIO) {
            // A socket (or a FIFO opened for writing elsewhere) cannot be opened at all.
            reading.state = State::Refused;
            reading.why = "it is not a regular file";
            return reading;
        }
        if (reading.state == State::Unreadable)
            reading.why = std::strerror(error);
        return reading;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        reading.state = State::Unreadable;
        reading.why = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        reading.state = State::Refused;
        reading.why = KindOf(st.st_mode);
    } else if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        reading.state = State::Refused;
        reading.why = "it is larger than " + SizeText(maxBytes);
    } else {
        reading.state = State::Read;
        std::string& text = reading.text;
        text.resize(static_cast<std::size_t>(st.st_size) + 1);
        std::size_t done = 0;
        for (;;) {
            if (done == text.size()) {
                // Grown since: read on, up to one byte past the limit.
                if (text.size() > maxBytes)
                    break;
                text.resize(std::min(text.size() * 2, maxBytes + 1));
            }
            const ssize_t n = ::read(fd, &text[done], text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                reading.state = State::Unreadable;
                reading.why = std::strerror(errno);
                break;
            }
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        text.resize(done);
        if (reading.state == State::Read && done > maxBytes) {
            reading.state = State::Refused;
            reading.why = "it is larger than " + SizeText(maxBytes);
        }
        if (reading.state != State::Read)
            std::string().swap(text);
    }
    ::close(fd);
    return reading;
}

std::string KeptFile::SetAside(const std::string& path, std::time_t now)
{
    std::tm local {};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, ".damaged-%Y%m%d-%H%M%S", &local);
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string aside = path + stamp + (attempt > 1 ? "-" + std::to_string(attempt) : std::string());
        // A hard link made under the new name, then the old name removed: the link fails
        // rather than replacing a file already there. Where links cannot be made (a FAT
        // folder), a rename after a look.
        if (::link(path.c_str(), aside.c_str()) == 0) {
            if (::unlink(path.c_str()) == 0)
                return aside;
            ::unlink(aside.c_str());
            return std::string();
        }
        if (errno == EEXIST)
            continue;
        struct stat there {};
        if (::lstat(aside.c_str(), &there) == 0)
            continue;
        if (errno != ENOENT)
            return std::string();
        return std::rename(path.c_str(), aside.c_str()) == 0 ? aside : std::string();
    }
    return std::string();
}

} // namespace vardune
