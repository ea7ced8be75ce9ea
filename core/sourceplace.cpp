#include "sourceplace.h"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vardune {

namespace {

std::string Parent(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::optional<std::string> Identity(const std::string& path, const struct stat& st)
{
    struct statfs fs {};
    if (statfs(path.c_str(), &fs) != 0)
        return std::nullopt;
    int words[2];
    static_assert(sizeof words == sizeof fs.f_fsid, "two words");
    std::memcpy(words, &fs.f_fsid, sizeof words);
    char text[64];
    if (words[0] != 0 || words[1] != 0)
        std::snprintf(text, sizeof text, "fsid:%08x%08x", static_cast<unsigned>(words[0]), static_cast<unsigned>(words[1]));
    else
        std::snprintf(text, sizeof text, "dev:%u:%u", major(st.st_dev), minor(st.st_dev));
    return std::string(text);
}

} // namespace

std::optional<std::string> SourcePlace::IdOf(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return Identity(path, st);
}

std::optional<SourcePlace::Place> SourcePlace::Of(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return std::nullopt;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::nullopt;
    const auto id = Identity(path, st);
    if (!id)
        return std::nullopt;
    // Up from the path while the folder above lies on the same device: the highest such
    // folder is where it is mounted.
    std::string mount = path;
    while (mount != "/") {
        const std::string up = Parent(mount);
        struct stat above {};
        if (stat(up.c_str(), &above) != 0 || above.st_dev != st.st_dev)
            break;
        mount = up;
    }
    return Place {mount, *id};
}

SourcePlace::Standing SourcePlace::Judge(const std::string& sourcePath, const Place& place)
{
    struct stat st {};
    if (lstat(sourcePath.c_str(), &st) == 0)
        return Standing::Present;
    if (errno != ENOENT && errno != ENOTDIR)
        return Standing::Unreachable;
    if (place.mount.empty() || place.mount[0] != '/' || place.id.empty())
        return Standing::Unreachable;
    // The path must lie on that file system as recorded: below its mount point.
    const std::string prefix = place.mount == "/" ? place.mount : place.mount + '/';
    if (sourcePath.compare(0, prefix.size(), prefix) != 0)
        return Standing::Unreachable;
    struct stat mounted {};
    if (stat(place.mount.c_str(), &mounted) != 0 || !S_ISDIR(mounted.st_mode))
        return Standing::Unreachable;
    // A folder left where a disk was mounted lies on the file system above it.
    if (place.mount != "/") {
        struct stat above {};
        if (stat(Parent(place.mount).c_str(), &above) != 0 || above.st_dev == mounted.st_dev)
            return Standing::Unreachable;
    }
    const auto id = Identity(place.mount, mounted);
    if (!id || *id != place.id)
        return Standing::Unreachable;
    // Mounted where it was, and the path is missing on it now: the source is gone. (Once
    // more, so that a disk mounted just now is not taken for one without the file.)
    if (lstat(sourcePath.c_str(), &st) == 0)
        return Standing::Present;
    return errno == ENOENT || errno == ENOTDIR ? Standing::Gone : Standing::Unreachable;
}

} // namespace vardune
