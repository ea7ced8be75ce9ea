#pragma once

#include <string>

// An output whose mark names its source at a path the source has left (a library moved, a link
// repointed), the very source by its size, time and content (SourceMark::Moved): the mark is
// named after the source's new path, every other byte of the file as it was. It is written as
// every output is, into a temporary file beside it that replaces it whole and only while it is
// still this source's (AtomicFile), so a file cut off midway never stands there.
class MarkRename {
public:
    // In the file at target (a path AtomicFile::resolveTarget gave) whose mark's value is
    // value, the mark becomes renamed. Returns false, and leaves the file as it is, when its
    // tag is not one the encoder writes, or the file cannot be written (its folder full or
    // read-only, the file changed meanwhile).
    static bool apply(const std::string& target, const std::string& source, const std::string& value,
        const std::string& renamed);
};
