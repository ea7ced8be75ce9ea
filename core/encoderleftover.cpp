#include "encoderleftover.h"

#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardune {

namespace {

// The temporary file's own marker and the length of the random part after it.
constexpr const char kMarker[] = ".fastencc-";
constexpr const char kProbe[] = ".fastencc-probe-";
constexpr std::size_t kRandomLength = 6;

bool RandomPart(const std::string& name, std::size_t from)
{
    if (name.size() != from + kRandomLength)
        return false;
    for (std::size_t i = from; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// Judges name in folderFd as a leftover; removes it when remove is set. The file is held
// under its lock while it is judged and removed, so no encoder takes it meanwhile.
bool Judge(int folderFd, const std::string& name, std::time_t olderThan, bool remove)
{
    if (!EncoderLeftover::IsTemporaryName(name))
        return false;
    // Writable where possible: over NFS an exclusive lock needs a descriptor open for writing.
    int fd = ::openat(folderFd, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat held {};
    struct stat named {};
    const uid_t user = ::geteuid();
    // Locked: no live writer. Still under this name: nobody renamed it meanwhile.
    bool leftover = ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && (user == 0 || held.st_uid == user)
        && held.st_mtime < olderThan && ::flock(fd, LOCK_EX | LOCK_NB) == 0
        && ::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev
        && named.st_ino == held.st_ino;
    if (leftover && remove)
        leftover = ::unlinkat(folderFd, name.c_str(), 0) == 0;
    ::close(fd);
    return leftover;
}

// Calls each with the folder's descriptor and every name in it that has the temporary form.
template <class Each>
void ForEachTemporary(const std::string& folder, Each each)
{
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    const int listFd = ::dup(folderFd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        ::close(folderFd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (EncoderLeftover::IsTemporaryName(entry->d_name))
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : names)
        each(folderFd, name);
    ::close(folderFd);
}

} // namespace

bool EncoderLeftover::IsTemporaryName(const std::string& name)
{
    const std::size_t marker = sizeof kMarker - 1;
    const std::size_t probe = sizeof kProbe - 1;
    if (name.compare(0, probe, kProbe) == 0 && RandomPart(name, probe))
        return true;
    return name.size() >= 1 + marker + kRandomLength && name[0] == '.'
        && name.compare(name.size() - kRandomLength - marker, marker, kMarker) == 0
        && RandomPart(name, name.size() - kRandomLength);
}

std::vector<std::string> EncoderLeftover::Find(const std::string& folder, std::time_t olderThan)
{
    std::vector<std::string> found;
    ForEachTemporary(folder, [&](int folderFd, const std::string& name) {
        if (Judge(folderFd, name, olderThan, false))
            found.push_back(name);
    });
    return found;
}

int EncoderLeftover::Clear(const std::string& folder, std::time_t olderThan)
{
    int removed = 0;
    ForEachTemporary(folder, [&](int folderFd, const std::string& name) {
        if (Judge(folderFd, name, olderThan, true))
            ++removed;
    });
    return removed;
}

bool EncoderLeftover::RemoveIfLeftover(int folderFd, const std::string& name, std::time_t olderThan)
{
    return Judge(folderFd, name, olderThan, true);
}

} // namespace vardune
