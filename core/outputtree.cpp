#include "outputtree.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <set>

namespace vardune {

namespace {

// Folders kept open at once by Folder: a long record walks thousands, in path order.
constexpr std::size_t kOpenFolders = 128;

int OpenBelow(int dirfd, const std::string& name)
{
    return openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

std::vector<std::string> Levels(const std::string& relative)
{
    std::vector<std::string> levels;
    std::size_t from = 0;
    while (from <= relative.size()) {
        const std::size_t slash = relative.find('/', from);
        const std::size_t end = slash == std::string::npos ? relative.size() : slash;
        levels.push_back(relative.substr(from, end - from));
        if (slash == std::string::npos)
            break;
        from = slash + 1;
    }
    return levels;
}

std::size_t Depth(const std::string& relative)
{
    return static_cast<std::size_t>(std::count(relative.begin(), relative.end(), '/'));
}

} // namespace

OutputTree::OutputTree(const std::string& folder)
{
    root_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (root_ >= 0 && fstat(root_, &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
}

OutputTree::~OutputTree()
{
    Forget();
    if (root_ >= 0)
        close(root_);
}

void OutputTree::Forget()
{
    for (const auto& [folder, fd] : open_)
        close(fd);
    open_.clear();
}

bool OutputTree::Valid(const std::string& relative)
{
    if (relative.empty() || relative.front() == '/' || relative.find('\0') != std::string::npos)
        return false;
    if (static_cast<int>(Depth(relative)) >= kMaxDepth)
        return false;
    for (const std::string& level : Levels(relative))
        if (level.empty() || level == "." || level == "..")
            return false;
    return true;
}

std::string OutputTree::FolderOf(const std::string& relative)
{
    const auto slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string OutputTree::NameOf(const std::string& relative)
{
    const auto slash = relative.rfind('/');
    return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

int OutputTree::Folder(const std::string& relativeFolder)
{
    if (root_ < 0)
        return -1;
    if (relativeFolder.empty())
        return root_;
    if (!Valid(relativeFolder))
        return -1;
    if (const auto known = open_.find(relativeFolder); known != open_.end())
        return known->second;
    if (open_.size() >= kOpenFolders)
        Forget();
    // From the deepest folder above it that is open already.
    std::string above = FolderOf(relativeFolder);
    while (!above.empty() && !open_.count(above))
        above = FolderOf(above);
    int fd = above.empty() ? root_ : open_[above];
    std::string path = above;
    const std::string rest = above.empty() ? relativeFolder : relativeFolder.substr(above.size() + 1);
    for (const std::string& level : Levels(rest)) {
        const int next = OpenBelow(fd, level);
        if (next < 0)
            return -1;
        path = path.empty() ? level : path + '/' + level;
        open_[path] = next;
        fd = next;
    }
    return fd;
}

std::optional<struct stat> OutputTree::Stat(const std::string& relative)
{
    if (!Valid(relative))
        return std::nullopt;
    const int dirfd = Folder(FolderOf(relative));
    struct stat st {};
    if (dirfd < 0 || fstatat(dirfd, NameOf(relative).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return st;
}

int OutputTree::OpenFile(const std::string& relative)
{
    if (!Valid(relative))
        return -1;
    const int dirfd = Folder(FolderOf(relative));
    if (dirfd < 0)
        return -1;
    const int fd = openat(dirfd, NameOf(relative).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        return -1;
    }
    return fd;
}

bool OutputTree::RemoveFile(const std::string& relative, const Check& check, std::string& why)
{
    if (!Valid(relative)) {
        why = "not a path below the output folder";
        return false;
    }
    const int dirfd = Folder(FolderOf(relative));
    if (dirfd < 0) {
        why = "a folder on its way is no longer a folder";
        return false;
    }
    const std::string name = NameOf(relative);
    const int fd = openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = errno == ELOOP ? "it is a link now" : std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool removable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!removable)
        why = "no longer a plain file";
    removable = removable && check(fd, st, why);
    // The name must still be the file just checked.
    struct stat named {};
    if (removable && (fstatat(dirfd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != st.st_dev
                      || named.st_ino != st.st_ino)) {
        removable = false;
        why = "it was replaced meanwhile";
    }
    close(fd);
    if (!removable)
        return false;
    if (unlinkat(dirfd, name.c_str(), 0) != 0) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

bool OutputTree::Replace(const std::string& relative, const std::string& bytes, std::string& why)
{
    if (!Valid(relative)) {
        why = "not a path below the output folder";
        return false;
    }
    const int dirfd = Folder(FolderOf(relative));
    if (dirfd < 0) {
        why = "a folder on its way is no longer a folder";
        return false;
    }
    std::random_device device;
    const std::string temporary = ".vardune-" + std::to_string(device() % 1000000000u) + ".tmp";
    const int fd = openat(dirfd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    if (!ok)
        why = std::strerror(errno ? errno : EIO);
    if (ok && fsync(fd) != 0 && errno != EINVAL) {
        ok = false;
        why = std::strerror(errno);
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (ok && renameat(dirfd, temporary.c_str(), dirfd, NameOf(relative).c_str()) != 0) {
        ok = false;
        why = std::strerror(errno);
    }
    if (!ok)
        unlinkat(dirfd, temporary.c_str(), 0);
    return ok;
}

std::optional<std::vector<std::string>> OutputTree::Names(const std::string& relativeFolder)
{
    const int dirfd = Folder(relativeFolder);
    if (dirfd < 0)
        return std::nullopt;
    const int copy = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        return std::nullopt;
    DIR* dir = fdopendir(copy);
    if (!dir) {
        close(copy);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    return names;
}

std::vector<std::string> OutputTree::RemoveEmptyFolders(const std::vector<std::string>& folders, const Spare& spare,
                                                        std::vector<std::string>& removedFiles)
{
    std::vector<std::string> removed;
    std::set<std::string> pending;
    for (const std::string& folder : folders)
        if (Valid(folder))
            pending.insert(folder);
    std::set<std::string> tried;
    while (!pending.empty()) {
        // The deepest first, so a folder whose only content was an emptied folder goes too.
        const auto deepest = std::max_element(pending.begin(), pending.end(), [](const std::string& a, const std::string& b) {
            return Depth(a) < Depth(b) || (Depth(a) == Depth(b) && a < b);
        });
        const std::string folder = *deepest;
        pending.erase(deepest);
        if (!tried.insert(folder).second)
            continue;
        const auto names = Names(folder);
        if (!names)
            continue;
        bool empty = true;
        for (const std::string& name : *names)
            empty = empty && spare && spare(folder + '/' + name);
        if (!empty)
            continue;
        const int dirfd = Folder(folder);
        for (const std::string& name : *names) {
            // What spare let go is removed only while it is still a plain file.
            struct stat st {};
            if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
                && unlinkat(dirfd, name.c_str(), 0) == 0)
                removedFiles.push_back(folder + '/' + name);
        }
        const std::string above = FolderOf(folder);
        const int parent = Folder(above);
        // rmdir removes nothing but an empty folder: anything put there meanwhile keeps it.
        // The folder is checked to be the one just emptied, not one swapped in for it.
        struct stat named {};
        struct stat held {};
        if (parent < 0 || dirfd < 0 || fstat(dirfd, &held) != 0
            || fstatat(parent, NameOf(folder).c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != held.st_ino
            || named.st_dev != held.st_dev)
            continue;
        open_.erase(folder);
        close(dirfd);
        if (unlinkat(parent, NameOf(folder).c_str(), AT_REMOVEDIR) != 0)
            continue;
        removed.push_back(folder);
        if (!above.empty())
            pending.insert(above);
    }
    return removed;
}

void OutputTree::Walk(const Visit& visit)
{
    if (root_ < 0)
        return;
    const int first = openat(root_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (first >= 0)
        WalkFolder(std::string(), first, 0, visit);
}

void OutputTree::WalkFolder(const std::string& folder, int fd, int depth, const Visit& visit)
{
    // A folder's listing stays open while its folders are walked: at most kMaxDepth at once.
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return;
    }
    const int dirfd = ::dirfd(dir);
    std::vector<std::string> folders;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        if (type == DT_DIR)
            folders.push_back(name);
        else
            visit(folder, dirfd, name, type);
    }
    for (const std::string& name : folders) {
        visit(folder, dirfd, name, DT_DIR);
        if (depth + 1 >= kMaxDepth)
            continue;
        const int below = OpenBelow(dirfd, name);
        if (below >= 0)
            WalkFolder(folder.empty() ? name : folder + '/' + name, below, depth + 1, visit);
    }
    closedir(dir);
}

} // namespace vardune
