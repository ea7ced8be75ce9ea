#pragma once
#include <ctime>
#include <string>
#include <vector>

namespace vardune {

// What an encoder killed outright (SIGKILL, the OOM killer, a node's end, a scheduler's kill
// after its grace time) leaves beside the output it was writing: its hidden temporary file,
// ".NAME.fastencc-XXXXXX" (or ".fastencc-probe-XXXXXX", its test of a folder). A running
// encoder holds a lock on its own temporary file for as long as it writes it, so one that
// nobody holds, and that has not changed since a given moment, is a leftover.
class EncoderLeftover {
public:
    // Whether a file name has the form of an encoder's temporary file.
    static bool IsTemporaryName(const std::string& name);

    // The leftovers in folder (their names, in the folder's order): files of that name form,
    // regular, this user's (any, for the superuser, whose encoders give a replaced file's
    // owner to its replacement), last changed before olderThan, that no encoder holds.
    static std::vector<std::string> Find(const std::string& folder, std::time_t olderThan);
    // Removes the leftovers in folder; returns how many went. Each is judged again, under its
    // lock, just before it goes: a file an encoder took meanwhile stays.
    static int Clear(const std::string& folder, std::time_t olderThan);
    // The file name in the open folder folderFd, removed when it is a leftover as Find judges
    // one; true when it went. The encoder calls it for its own target's temporary files.
    static bool RemoveIfLeftover(int folderFd, const std::string& name, std::time_t olderThan);
};

} // namespace vardune
