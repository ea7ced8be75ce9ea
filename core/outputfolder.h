#pragma once
#include <string>

namespace vardune {

// The batch's output folder, looked at before a batch starts: every file of the batch would
// fail in a folder that is not there or cannot be written, so the user is asked or told once
// instead.
class OutputFolder {
public:
    enum class State {
        Ready,       // a folder that takes new files
        Missing,     // nothing of that name (or a parent is missing): it can be created
        Uncreatable, // missing, and its nearest existing parent takes no new folder
        NotFolder,   // a file or something else stands there
        Unwritable,  // a folder, but no new file can be made in it
    };
    struct Check {
        State state = State::Ready;
        std::string reason;  // the system's words for what went wrong ("Permission denied")
    };

    // Looks at the folder; a relative one is taken from the current folder, as the encoder
    // takes it. Whether it can be written is tried with a real file, which is removed again,
    // so read-only mounts and access lists count too.
    static Check Inspect(const std::string& folder);
    // Creates the folder and its missing parents: an empty text, or the reason it failed.
    static std::string Create(const std::string& folder);
    // The folder as a message names it: without a trailing separator, unless it is the root.
    static std::string DisplayName(const std::string& folder);
};

} // namespace vardune
