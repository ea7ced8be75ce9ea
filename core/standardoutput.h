#pragma once
#include <string>

namespace vardune {

// The program's standard output, with every failure seen: a write to a full disk, to
// /dev/full or to a reader that went away, and a close that reports an earlier failure (a
// file on NFS), is a failure of the program's answer, which it says on standard error and in
// its exit status rather than ending as if all had been written.
class StandardOutput {
public:
    // Writes bytes whole to descriptor 1 (stdio's stdout, when anything was put there, is
    // flushed first): true when all of them went; else false with why ("No space left on
    // device").
    static bool Write(const std::string& bytes, std::string& why);
    // Flushes and closes stdout: an empty text when everything written to it reached it, else
    // why not. A program started with its standard output closed fails only when it wrote.
    static std::string Close();
    // A program's whole answer (--help, --version): written, then stdout closed; an empty
    // text when all of it reached standard output, else why not.
    static std::string WriteAndClose(const std::string& text);
    // The position of descriptor 1 in a regular file, or -1 when it writes elsewhere (a pipe,
    // a terminal, a device).
    static long long FileOffset();
    // Cuts the regular file of descriptor 1 back to length, so that what a failed write left
    // half written goes; false when it could not be.
    static bool CutBackTo(long long length);
};

} // namespace vardune
