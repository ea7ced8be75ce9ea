#pragma once

#include <cstdio>
#include <exception>
#include <functional>
#include <string>

// The passes that read many sources in one process (`--facts`, `--loudness`): source paths on
// standard input, each ended by a NUL byte (the last may end at the end of the input), and
// one line on standard output for each, flushed at once so the caller can go on while the
// rest is read. A path longer than any file name gets an error line, without its bytes ever
// being held beyond that length.
class SourceRecords {
public:
    static constexpr std::size_t kMaxPath = 4096;

    // Answers every record with lineFor(path); returns the process's exit status: 1, with
    // errno the write's own error, when a line could not be written (nothing more is read).
    static int answer(std::FILE* in, std::FILE* out, const std::function<std::string(const std::string&)>& lineFor);

    // The line of a source whose reading failed with e: "error <TAB> REASON", the reason an
    // EncodeError's own words, "out of memory", or another failure's text made printable.
    static std::string errorLine(const std::exception& e);

    // A tag's value as one field of a line: cut to 1024 bytes at a character, a tab, line
    // break or backslash written as \t, \n, \r or \\, other control characters left out.
    static std::string fieldText(const std::string& value);
};
