#pragma once
#include <ctime>
#include <string>

namespace vardune {

// What an encoder killed outright leaves behind. The encoder writes each output to a hidden
// temporary file beside it, ".NAME.fastencc-XXXXXX" (and probes a folder's name rules with
// ".fastencc-probe-XXXXXX"), holds an advisory lock on it while it writes, and renames it over
// the output once whole or removes it when it fails. Only SIGKILL (the OOM killer, the end of a
// cluster node's job, a time limit) keeps it from removing the file, which then stays until
// the same output is written again.
class EncoderLeftover {
public:
    // Whether a name in a folder is such a temporary file's: a leading dot, the marker and six
    // letters or digits at the end.
    static bool IsTemporaryName(const std::string& name);
    // Whether the entry name in the open folder dirfd is a leftover: a temporary file's name,
    // a regular file (never followed through a link), no encoder holding its lock, and not
    // changed since before cutoff (the start of the oldest encoder this program runs, or now:
    // an encoder on another computer that writes through a file system without locks still
    // changes its file as it goes).
    static bool IsLeftover(int dirfd, const std::string& name, std::time_t cutoff);
    // Removes it when it is a leftover, checked again with its lock held; false otherwise.
    static bool Remove(int dirfd, const std::string& name, std::time_t cutoff);
};

} // namespace vardune
