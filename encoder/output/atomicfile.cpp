#include "output/atomicfile.h"

#include "common/encodeerror.h"

#include "encoderleftover.h"
#include "sourcemark.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

// The longest temporary name: NAME_MAX of the common file systems. The name is cut to fit
// the folder's own limit too, so any target name that fits its folder has a temporary name
// that fits.
constexpr std::size_t kMaxName = 255;
const char kMarker[] = ".fastencc-";
constexpr std::size_t kRandomLength = 6;

// The temporary file the signal handler must remove, by folder and name: fixed storage
// because the handler may only use async-signal-safe calls.
char g_pendingName[kMaxName + 1];
volatile sig_atomic_t g_pendingDir = -1;

// A temporary file that could not be removed after a failure, for the error line.
std::string g_leftBehind;

extern "C" void removePendingAndDie(int sig)
{
    if (g_pendingDir >= 0)
        unlinkat(g_pendingDir, g_pendingName, 0);
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

std::string cannotWrite(const std::string& target, const std::string& reason)
{
    return "cannot write to " + EncodeError::printable(target) + ": " + reason;
}

// Errors that say the folder itself takes nothing more: removed, renamed away, made read-only,
// no longer ours to write.
bool folderUnwritable(int error)
{
    return error == EROFS || error == EACCES || error == ENOENT || error == ENOTDIR || error == ESTALE;
}

EncodeError unwritable(const std::string& target, int error)
{
    return EncodeError::about(EncodeError::Target::Unwritable,
        cannotWrite(target, "the output folder can no longer be written (" + std::string(std::strerror(error)) + ")"));
}

std::string randomLetters(std::size_t count)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::mt19937 random(device());
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof letters) - 2);
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += letters[pick(random)];
    return text;
}

// Whether a mark names the source (its real path), or the same source before it was moved
// there; no mark, or no source, does not.
bool namesSource(const std::optional<std::string>& value, const std::string& source)
{
    const auto marked = value ? vardune::SourceMark::PathIn(*value) : std::nullopt;
    if (source.empty() || !marked)
        return false;
    if (*marked == source)
        return true;
    const auto now = vardune::SourceMark::Of(source);
    return now && vardune::SourceMark::Moved(*value, *now, [&] { return vardune::SourceMark::Content(source); });
}

// Whether the open file was made from the source (by its mark); an unreadable file or one
// without the mark was not.
bool markNames(int fd, const std::string& source)
{
    return !source.empty() && namesSource(vardune::SourceMark::Read(fd), source);
}

std::string realSource(const std::string& source)
{
    const auto found = vardune::SourceMark::Of(source);
    return found ? found->path : std::string();
}

EncodeError taken(const std::string& target)
{
    return EncodeError::about(EncodeError::Target::Taken,
        cannotWrite(target, "a file that was not made from this source stands there; it is not replaced"));
}

// What a file that is not a regular file is, in the user's words.
std::string kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "it is a folder, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a regular file";
    if (S_ISFIFO(mode))
        return "it is a FIFO, not a regular file";
    if (S_ISSOCK(mode))
        return "it is a socket, not a regular file";
    return "not a regular file";
}

// The folder's limit for a name, never above 255 bytes (vfat says 1530 and allows 255
// characters).
std::size_t nameMaxOf(long limit)
{
    return limit > 0 && static_cast<unsigned long>(limit) < kMaxName ? static_cast<std::size_t>(limit) : kMaxName;
}

// The start of every temporary name for this target: "." + its name, cut (at a character
// boundary of UTF-8) so that the whole temporary name fits nameMax, + the marker.
std::string temporaryPrefix(const std::string& name, std::size_t nameMax)
{
    const std::size_t overhead = 1 + (sizeof kMarker - 1) + kRandomLength;
    std::size_t keep = nameMax > overhead ? std::min(name.size(), nameMax - overhead) : 0;
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + name.substr(0, keep) + kMarker;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue; // whoever started us chose that this signal does not end us
        sigaction(sig, &sa, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

std::string AtomicFile::resolveTarget(const std::string& target)
{
    struct stat link {};
    const bool isLink = lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    struct stat st {};
    if (stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            throw EncodeError(cannotWrite(target, kindOf(st.st_mode)));
    } else if (errno != ENOENT) {
        throw folderUnwritable(errno) ? unwritable(target, errno) : EncodeError(cannotWrite(target, std::strerror(errno)));
    } else if (isLink) {
        throw EncodeError(cannotWrite(target, "it is a link to a file that does not exist"));
    }
    std::string path = target;
    if (isLink) {
        // Write the file the link names; renaming over the link would replace the link.
        char* real = realpath(target.c_str(), nullptr);
        if (!real)
            throw EncodeError(cannotWrite(target, std::strerror(errno)));
        path = real;
        std::free(real);
    }
    const std::string name = baseNameOf(path);
    if (name.empty() || name == "." || name == "..")
        throw EncodeError(cannotWrite(target, "it names a folder, not a file"));
    errno = 0;
    const long limit = pathconf(folderOf(path).c_str(), _PC_NAME_MAX);
    if (limit < 0 && errno != 0)
        throw folderUnwritable(errno) ? unwritable(target, errno) : EncodeError(cannotWrite(target, std::strerror(errno)));
    if (name.size() > nameMaxOf(limit))
        throw EncodeError(cannotWrite(target, std::strerror(ENAMETOOLONG)));
    return path;
}

std::optional<std::string> AtomicFile::checkReplaceable(const std::string& target, const std::string& source)
{
    const int fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw taken(target); // a file stands there that cannot even be read
    }
    const auto mark = vardune::SourceMark::Read(fd);
    ::close(fd);
    if (!namesSource(mark, realSource(source)))
        throw taken(target);
    return mark;
}

std::string AtomicFile::leftBehind()
{
    return g_leftBehind;
}

AtomicFile::AtomicFile(const std::string& target, const std::string& source)
    : m_target(target)
    , m_source(realSource(source))
    , m_name(baseNameOf(target))
{
    // Everything below works on names inside this folder, so a target path near PATH_MAX
    // never gets a temporary path beyond it.
    m_dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dir < 0)
        fail(errno);
    struct stat replaced {};
    const bool exists = fstatat(m_dir, m_name.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISREG(replaced.st_mode)) {
        ::close(m_dir);
        failWith(kindOf(replaced.st_mode));
    }
    if (exists) {
        const int fd = openat(m_dir, m_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const bool ours = fd >= 0 && markNames(fd, m_source);
        if (fd >= 0)
            ::close(fd);
        if (!ours) {
            ::close(m_dir);
            refuseTaken();
        }
        m_replaces = true;
        m_replaced = replaced;
    }
    const std::string prefix = temporaryPrefix(m_name, nameMaxOf(fpathconf(m_dir, _PC_NAME_MAX)));
    removeStaleTemporaries(prefix);
    try {
        createTemporary(prefix);
        keepModeOf(exists ? &replaced : nullptr);
    } catch (...) {
        discard();
        ::close(m_dir);
        throw;
    }
}

AtomicFile::~AtomicFile()
{
    discard();
    ::close(m_dir);
}

// Removes the temporary files of this target that a process killed outright left behind:
// those whose lock nobody holds. A file whose writer still runs keeps its lock and stays.
void AtomicFile::removeStaleTemporaries(const std::string& prefix) const
{
    const int listFd = openat(m_dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return; // an unlisted folder only means nothing is tidied
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + kRandomLength && name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    // Whatever its age: a file whose writer still runs keeps its lock and stays.
    for (const std::string& name : names)
        vardune::EncoderLeftover::RemoveIfLeftover(m_dir, name, std::numeric_limits<std::time_t>::max());
    closedir(dir);
}

void AtomicFile::createTemporary(const std::string& prefix)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = prefix + randomLetters(kRandomLength);

        // Register the name before the file exists, with the signals held back, so that no
        // moment leaves a file the handler does not know of.
        blockTerminationSignals(true);
        const int fd = openat(m_dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        const int error = errno;
        if (fd >= 0) {
            m_fd = fd;
            m_tempName = name;
            std::memcpy(g_pendingName, name.c_str(), name.size() + 1);
            g_pendingDir = m_dir;
        }
        blockTerminationSignals(false);
        if (fd < 0) {
            if (error == EEXIST)
                continue;
            failCreating(error);
        }

        // Between creating and locking, another conversion may have taken the file for a
        // stale one and removed it: then start again under a new name.
        if (flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            discard();
            continue;
        } // a file system without locks: nobody can lock it, so nobody removes it either
        struct stat held {};
        struct stat named {};
        if (fstat(m_fd, &held) == 0 && fstatat(m_dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && sameFile(held, named))
            return;
        discard();
    }
    fail(EEXIST);
}

// The new file replaces the old one in place: same permission bits and, where this process
// may give it away, the same owner and group. A new target gets the mode any new file of
// the user gets (the temporary file was made 0600).
void AtomicFile::keepModeOf(const struct stat* replaced)
{
    mode_t mode = 0;
    if (replaced) {
        if (fchown(m_fd, replaced->st_uid, replaced->st_gid) != 0)
            (void)!fchown(m_fd, static_cast<uid_t>(-1), replaced->st_gid);
        mode = replaced->st_mode & 0777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    // FAT and exFAT keep no permission bits of their own: vfat refuses a mode it cannot hold
    // (EPERM), FUSE file systems may not offer chmod at all. The file then has the folder's
    // mode, which is all a player's card can give it.
    if (fchmod(m_fd, mode) != 0 && errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP)
        fail(errno);
}

void AtomicFile::discard()
{
    if (!m_tempName.empty()) {
        blockTerminationSignals(true);
        if (unlinkat(m_dir, m_tempName.c_str(), 0) != 0 && errno != ENOENT)
            g_leftBehind = "; its unfinished copy " + EncodeError::printable(m_tempName) + " is left in the folder ("
                + std::strerror(errno) + ")";
        g_pendingDir = -1;
        m_tempName.clear();
        blockTerminationSignals(false);
    }
    // Closed after the unlink: the lock keeps the file ours until its name is gone.
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

// Every failure removes the temporary file first, so that the error line can say when that
// was not possible.
void AtomicFile::fail(int error)
{
    discard();
    if (error == ENOSPC || error == EDQUOT)
        throw EncodeError::full(cannotWrite(m_target, std::strerror(error)));
    if (folderUnwritable(error))
        throw unwritable(m_target, error);
    failWith(std::strerror(error));
}

void AtomicFile::failWith(const std::string& reason)
{
    discard();
    throw EncodeError(cannotWrite(m_target, reason));
}

void AtomicFile::refuseTaken() const
{
    throw taken(m_target);
}

// The temporary file could not be created. Some refusals need a second look: a FAT file
// system that takes only ASCII names refuses a name for its characters (EILSEQ, EINVAL, or
// EPERM through FUSE), and a FAT16 top folder that holds its fixed number of entries refuses
// any new name (ENOSPC, or EPERM through FUSE) while the disk has room. A plain name tried in
// the same folder tells the two apart.
void AtomicFile::failCreating(int error)
{
    if (error != EILSEQ && error != EINVAL && error != EPERM && error != ENOSPC)
        fail(error);
    const std::string probe = ".fastencc-probe-" + randomLetters(kRandomLength);
    blockTerminationSignals(true);
    const int fd = openat(m_dir, probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int probeError = errno;
    if (fd >= 0) {
        ::close(fd);
        unlinkat(m_dir, probe.c_str(), 0);
    }
    blockTerminationSignals(false);
    if (fd >= 0) {
        if (error == ENOSPC)
            fail(error);
        throw EncodeError::about(EncodeError::Target::NameRefused,
            cannotWrite(m_target, "the folder's file system refuses the characters of this name"));
    }
    failNamesFullOr(probeError);
}

// A new name refused (ENOSPC, or EPERM from FAT through FUSE) while the disk has room: the
// folder holds all the names it can.
void AtomicFile::failNamesFullOr(int error)
{
    struct statvfs room {};
    struct statfs kind {};
    const bool hasRoom = fstatvfs(m_dir, &room) == 0
        && static_cast<double>(room.f_bavail) * static_cast<double>(room.f_frsize) >= 256.0 * 1024;
    // EPERM means a full folder only where FAT or a FUSE file system says it (vfat 0x4d44,
    // FUSE 0x65735546, exFAT 0x2011bab0); elsewhere it is a refusal of its own.
    const bool fatLike = fstatfs(m_dir, &kind) == 0
        && (kind.f_type == 0x4d44 || kind.f_type == 0x65735546 || kind.f_type == 0x2011bab0);
    if (hasRoom && (error == ENOSPC || (error == EPERM && fatLike))) {
        discard();
        throw EncodeError::about(EncodeError::Target::Unwritable,
            cannotWrite(m_target, "the folder can take no more names (a FAT card's top folder holds a fixed number, "
                "long names taking several); put the files into a subfolder"));
    }
    fail(error);
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
    // Hold the signals so that an interruption cannot leave both the renamed target and a
    // handler that thinks the temporary file still exists.
    blockTerminationSignals(true);
    // What was a regular file (or nothing) when the conversion began may have been replaced
    // meanwhile; a device, FIFO, link or folder there is never replaced, nor a file that was
    // not made from this source.
    struct stat now {};
    const bool present = fstatat(m_dir, m_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
    if (present && !S_ISREG(now.st_mode)) {
        blockTerminationSignals(false);
        failWith(kindOf(now.st_mode));
    }
    if (present && !(m_replaces && sameFile(now, m_replaced))) {
        const int fd = openat(m_dir, m_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const bool ours = fd >= 0 && markNames(fd, m_source);
        if (fd >= 0)
            ::close(fd);
        if (!ours) {
            blockTerminationSignals(false);
            discard();
            refuseTaken();
        }
    }
    // Where nothing stood, nothing may have come meanwhile: the rename refuses to replace
    // (file systems without that choice get the plain rename, the check above made).
    int renamed = present ? renameat(m_dir, m_tempName.c_str(), m_dir, m_name.c_str())
                          : renameat2(m_dir, m_tempName.c_str(), m_dir, m_name.c_str(), RENAME_NOREPLACE);
    if (renamed != 0 && !present && (errno == EINVAL || errno == ENOSYS))
        renamed = renameat(m_dir, m_tempName.c_str(), m_dir, m_name.c_str());
    if (renamed != 0) {
        const int e = errno;
        blockTerminationSignals(false);
        if (e == EEXIST) {
            discard();
            refuseTaken();
        }
        // A longer name than the temporary's may need entries the folder no longer has.
        failNamesFullOr(e);
    }
    g_pendingDir = -1;
    m_tempName.clear();
    blockTerminationSignals(false);
    // The lock is held until the name is the target's, so no tidying conversion can take
    // the finished file for a stale one. The data is on disk already (fsync above).
    ::close(m_fd);
    m_fd = -1;
    // Make the rename itself durable.
    fsync(m_dir);
}
