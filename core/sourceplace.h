#pragma once
#include <optional>
#include <string>

namespace vardune {

// Where a source lies: the file system that holds it, known by where it is mounted and by an
// identity of its own, so that a source found missing later can be told gone (its file system
// is there and the file is not) from out of reach (a disk not mounted, a share not connected,
// the same path on another computer: nothing there proves it gone).
class SourcePlace {
public:
    struct Place {
        std::string mount;  // the folder the file system is mounted at, "/" for the root
        // "fsid:…" from the file system's own identity where it gives one (ext4 and btrfs
        // derive it from the volume's UUID, so it holds over reboots and on another port),
        // else "dev:MAJOR:MINOR" of the device it is mounted from.
        std::string id;
    };

    enum class Standing { Present, Gone, Unreachable };

    // The place of the file system that holds path (a file or a folder), as it stands now;
    // nothing when path cannot be looked at.
    static std::optional<Place> Of(const std::string& path);
    // The identity of the file system that holds path now, as Place::id writes it.
    static std::optional<std::string> IdOf(const std::string& path);

    // What became of a source recorded at place: Present while a file stands at its path;
    // Gone when nothing does while its file system is mounted where it was (the folder it lay
    // in may have gone with it); Unreachable otherwise, and whenever the system cannot say
    // (no permission, an input/output error).
    static Standing Judge(const std::string& sourcePath, const Place& place);
};

} // namespace vardune
