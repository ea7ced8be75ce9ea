#include "playertidy.h"

#include "sourcemark.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>

namespace vardune {

namespace {

// Deeper trees than this are not walked: no music collection nests so far, and a hostile
// tree costs no more.
constexpr int kMaxDepth = 64;

std::string Trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string Real(const std::string& path)
{
    if (path.empty())
        return path;
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer))
        return buffer;
    return Trimmed(path);
}

bool IsMp3Name(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".mp3";
}

std::string Parent(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The mark of a regular file that is not a link, read without blocking on anything else.
std::optional<std::string> MarkOf(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<std::string> value;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        value = SourceMark::Read(fd);
    close(fd);
    return value;
}

} // namespace

PlayerTidy::PlayerTidy(const std::vector<std::string>& folders, const std::vector<std::string>& files)
{
    for (const std::string& folder : folders)
        if (!folder.empty())
            folders_.insert(Real(folder));
    for (const std::string& file : files)
        if (!file.empty())
            files_.insert(Real(file));
}

bool PlayerTidy::Counts(const std::string& sourcePath) const
{
    struct stat st {};
    if (sourcePath.empty() || stat(sourcePath.c_str(), &st) != 0)
        return false;
    if (files_.count(sourcePath))
        return true;
    // Each folder above the source, nearest first: a long list costs a look-up per level.
    for (std::string above = Parent(sourcePath); !above.empty(); above = above == "/" ? std::string() : Parent(above))
        if (folders_.count(above))
            return true;
    return false;
}

std::vector<PlayerTidy::Stale> PlayerTidy::Scan(const std::string& outputFolder) const
{
    std::vector<Stale> stale;
    const std::string root = Real(outputFolder);
    if (root.empty())
        return stale;
    struct Pending {
        std::string path;
        int depth;
    };
    std::vector<Pending> folders{{root, 0}};
    while (!folders.empty()) {
        const Pending folder = folders.back();
        folders.pop_back();
        DIR* dir = opendir(folder.path.c_str());
        if (!dir)
            continue;
        const std::string prefix = folder.path == "/" ? folder.path : folder.path + '/';
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = prefix + name;
            struct stat st {};
            if (lstat(path.c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                if (folder.depth + 1 < kMaxDepth)
                    folders.push_back({path, folder.depth + 1});
            } else if (S_ISREG(st.st_mode) && IsMp3Name(name)) {
                const auto value = MarkOf(path);
                if (!value)
                    continue;
                // A mark that names no source proves nothing about it: such a file stays.
                const auto source = SourceMark::PathIn(*value);
                if (source && !Counts(*source))
                    stale.push_back({path, *source});
            }
        }
        closedir(dir);
    }
    std::sort(stale.begin(), stale.end(), [](const Stale& a, const Stale& b) { return a.output < b.output; });
    return stale;
}

std::string PlayerTidy::Keeps(const std::string& path) const
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "no longer a plain file";
    const auto value = MarkOf(path);
    if (!value)
        return "no longer carries Vardune's mark";
    const auto source = SourceMark::PathIn(*value);
    if (!source)
        return "its mark names no source";
    if (Counts(*source))
        return "its source is in the list again";
    return std::string();
}

PlayerTidy::Removal PlayerTidy::Remove(const std::string& outputFolder, const std::vector<Stale>& listed) const
{
    Removal result;
    const std::string root = Real(outputFolder);
    std::set<std::string> parents;
    for (const Stale& file : listed) {
        // Only what the scan found below the output folder is ever removed.
        const std::string& path = file.output;
        if (root.empty() || path.size() <= root.size() + 1 || path.compare(0, root.size(), root) != 0
            || (root != "/" && path[root.size()] != '/')) {
            result.kept.emplace_back(path, "not below the output folder");
            continue;
        }
        std::string why = Keeps(path);
        if (why.empty() && unlink(path.c_str()) != 0)
            why = std::strerror(errno);
        if (!why.empty()) {
            result.kept.emplace_back(path, why);
            continue;
        }
        result.removed.push_back(path);
        parents.insert(Parent(path));
    }
    // Deepest first, so a folder whose only content was an emptied folder goes too. rmdir
    // removes nothing but an empty folder, so anything else found there keeps its folder.
    std::vector<std::string> pending(parents.begin(), parents.end());
    std::set<std::string> tried;
    while (!pending.empty()) {
        std::sort(pending.begin(), pending.end(), [](const std::string& a, const std::string& b) {
            return std::count(a.begin(), a.end(), '/') < std::count(b.begin(), b.end(), '/');
        });
        const std::string folder = pending.back();
        pending.pop_back();
        if (folder == root || folder.size() <= root.size() || !tried.insert(folder).second)
            continue;
        if (rmdir(folder.c_str()) != 0)
            continue;
        result.foldersRemoved.push_back(folder);
        const std::string up = Parent(folder);
        if (up.size() > root.size())
            pending.push_back(up);
    }
    return result;
}

} // namespace vardune
