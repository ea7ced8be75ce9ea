#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vardune {

// The output folder, reached through an open descriptor of it: every path below it is a
// relative path ("Album/01 Intro.mp3") walked a level at a time with openat, O_NOFOLLOW and
// O_DIRECTORY, so a folder of the tree swapped for a link (to anywhere) is never entered, and
// files are looked at and removed relative to the folder that holds them (fstatat, unlinkat).
// The output folder itself is opened by its path as the user chose it (it may be a link).
class OutputTree {
public:
    // Deeper trees than this are not walked: no music collection nests so far, and a hostile
    // tree costs no more.
    static constexpr int kMaxDepth = 64;

    explicit OutputTree(const std::string& folder);
    ~OutputTree();
    OutputTree(const OutputTree&) = delete;
    OutputTree& operator=(const OutputTree&) = delete;

    bool IsOpen() const { return root_ >= 0; }
    // The output folder's device and inode, so a later look can tell it is the same folder.
    dev_t Device() const { return device_; }
    ino_t Inode() const { return inode_; }

    // Whether a relative path is one this walks: no empty, "." or ".." level, no leading "/".
    static bool Valid(const std::string& relative);
    // The folder part of a relative path ("" for a name straight in the output folder) and
    // its last level.
    static std::string FolderOf(const std::string& relative);
    static std::string NameOf(const std::string& relative);

    // The open folder below the output folder (relative, "" for the output folder itself),
    // each level a real folder; -1 when one is not (a link, a file, missing). The descriptor
    // stays the tree's: it is valid until the tree is destroyed or Forget is called.
    int Folder(const std::string& relativeFolder);
    // Closes the folders opened so far (their descriptors become invalid).
    void Forget();

    // The entry at a relative path, its link not followed; nothing when it is not there.
    std::optional<struct stat> Stat(const std::string& relative);

    // Opens a regular file at a relative path for reading (never through a link, never
    // blocking on a FIFO); -1 when it is no regular file there.
    int OpenFile(const std::string& relative);

    // Removes the regular file at a relative path when check approves it, given the file
    // opened for reading and its status; the file removed is the one checked (its name is
    // looked at again just before). False, with why, when it stays.
    using Check = std::function<bool(int fd, const struct stat& st, std::string& why)>;
    bool RemoveFile(const std::string& relative, const Check& check, std::string& why);

    // Writes bytes to a relative path through a temporary file beside it, renamed over it
    // once whole. False, with why, on failure.
    bool Replace(const std::string& relative, const std::string& bytes, std::string& why);

    // The entries of a folder (names only, "." and ".." left out), or nothing when it cannot
    // be read.
    std::optional<std::vector<std::string>> Names(const std::string& relativeFolder);

    // Removes the folders among these (and the folders above them, up to but never the output
    // folder) that hold nothing, or nothing but files that spare approves (looked at relative
    // to the folder that holds them: a folder picture Vardune put there), which go first. The
    // deepest first; returns the folders removed and, in removedFiles, the files spare let go.
    using Spare = std::function<bool(const std::string& relative)>;
    std::vector<std::string> RemoveEmptyFolders(const std::vector<std::string>& folders, const Spare& spare,
                                                std::vector<std::string>& removedFiles);

    // Visits every entry below the output folder, depth first (folders entered without
    // following links): visit(folder, name, type) with the folder's relative path and the
    // entry's d_type (DT_DIR, DT_REG, DT_LNK... as fstatat says when the folder's listing
    // does not).
    using Visit = std::function<void(const std::string& folder, int dirfd, const std::string& name, unsigned char type)>;
    void Walk(const Visit& visit);

private:
    void WalkFolder(const std::string& folder, int fd, int depth, const Visit& visit);

    int root_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::map<std::string, int> open_;  // relative folder -> descriptor
};

} // namespace vardune
