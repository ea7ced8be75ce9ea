#pragma once
#include <cstddef>
#include <ctime>
#include <string>

namespace vardune {

// A file the program keeps from one run to the next (its settings, the Vardo list and the
// playlists it carries), read whole only when it is what such a file can be: a regular file
// (a link to one is followed) of a size the program could have written. Whatever else stands
// at its name (a FIFO, a device, a link to /dev/zero, a file of hundreds of megabytes) is
// refused without waiting on it or reading it, so that it can be set aside and replaced.
class KeptFile {
public:
    enum class State {
        Read,        // text holds the whole file
        Missing,     // nothing at the name: a first start
        Unreadable,  // there, but not readable (no permission, an I/O error): left as it is
        Refused,     // not a file the program could have written: why says what it is
    };
    struct Reading {
        State state = State::Missing;
        std::string text;
        std::string why;  // Unreadable and Refused: "it is a FIFO", "it is larger than 1 MB"
    };

    // Reads the file at path when it is a regular file of at most maxBytes. Opening never
    // waits (a FIFO without a writer, a terminal), and no more than maxBytes + 1 bytes are
    // ever read, however the file grows meanwhile.
    static Reading Read(const std::string& path, std::size_t maxBytes);

    // Renames what stands at path (a link itself, not what it names) out of the way of the
    // next save, beside it as "PATH.damaged-YYYYMMDD-HHMMSS" (then "-2", "-3"... when such a
    // name is taken: nothing is ever renamed over another file). Returns the new path, or an
    // empty text when it could not be renamed.
    static std::string SetAside(const std::string& path, std::time_t now);

    // A size as the reasons give it: "1 MB", "64 MB", "300 kB".
    static std::string SizeText(std::size_t bytes);
};

} // namespace vardune
