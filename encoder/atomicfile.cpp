#include "atomicfile.h"

#include "encodeerror.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The temporary file the signal handler must remove; empty when there is none. A fixed
// buffer because the handler may only use async-signal-safe calls.
char g_pendingPath[4096];
volatile sig_atomic_t g_pending = 0;

extern "C" void removePendingAndDie(int sig)
{
    if (g_pending)
        unlink(g_pendingPath);
    // Die of the same signal so the parent sees what happened.
    signal(sig, SIG_DFL);
    raise(sig);
}

void blockTerminationSignals(bool block)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigprocmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

void AtomicFile::installSignalHandlers()
{
    struct sigaction sa {};
    sa.sa_handler = removePendingAndDie;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGTERM);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGHUP);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

AtomicFile::AtomicFile(const std::string& target)
    : m_target(target)
{
    std::string name = baseNameOf(target);
    // Keep the temporary name within NAME_MAX whatever the target's name is.
    if (name.size() > 200)
        name.resize(200);
    std::string pattern = folderOf(target) + "/." + name + ".XXXXXX";
    if (pattern.size() >= sizeof(g_pendingPath))
        throw EncodeError("cannot write to " + target + ": " + std::strerror(ENAMETOOLONG));
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');

    // Register the name before the file exists, with the signals held back, so that no
    // moment leaves a file the handler does not know of.
    blockTerminationSignals(true);
    m_fd = mkstemp(buffer.data());
    const int error = errno;
    if (m_fd >= 0) {
        m_tempPath = buffer.data();
        std::memcpy(g_pendingPath, m_tempPath.c_str(), m_tempPath.size() + 1);
        g_pending = 1;
    }
    blockTerminationSignals(false);
    if (m_fd < 0)
        throw EncodeError("cannot write to " + target + ": " + std::strerror(error));

    // mkstemp makes 0600; the output should get the mode any new file of the user gets.
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(m_fd, 0666 & ~mask) != 0) {
        const int e = errno;
        discard();
        fail(e);
    }
}

AtomicFile::~AtomicFile()
{
    discard();
}

void AtomicFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        blockTerminationSignals(true);
        unlink(m_tempPath.c_str());
        g_pending = 0;
        m_tempPath.clear();
        blockTerminationSignals(false);
    }
}

void AtomicFile::fail(int error) const
{
    throw EncodeError("cannot write to " + m_target + ": " + std::strerror(error));
}

void AtomicFile::write(const void* data, std::size_t size)
{
    writeAll(data, size, -1);
    m_size += static_cast<std::int64_t>(size);
}

void AtomicFile::writeAt(std::int64_t offset, const void* data, std::size_t size)
{
    writeAll(data, size, offset);
}

// Writes every byte, at the current position (offset -1) or at offset; a short write that
// makes no progress means the disk is full.
void AtomicFile::writeAll(const void* data, std::size_t size, std::int64_t offset)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = offset < 0 ? ::write(m_fd, p, size) : ::pwrite(m_fd, p, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (n == 0)
            fail(ENOSPC);
        p += n;
        if (offset >= 0)
            offset += n;
        size -= static_cast<std::size_t>(n);
    }
}

void AtomicFile::commit()
{
    if (fsync(m_fd) != 0)
        fail(errno);
    if (::close(m_fd) != 0) {
        m_fd = -1;
        fail(errno);
    }
    m_fd = -1;
    // Hold the signals so that an interruption cannot leave both the renamed target and a
    // handler that thinks the temporary file still exists.
    blockTerminationSignals(true);
    if (rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        const int e = errno;
        blockTerminationSignals(false);
        fail(e);
    }
    g_pending = 0;
    m_tempPath.clear();
    blockTerminationSignals(false);
    // Make the rename itself durable.
    const int dir = ::open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        ::close(dir);
    }
}
