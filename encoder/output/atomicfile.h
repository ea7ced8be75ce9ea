#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The output file, written to a temporary file in the target's folder and renamed over the
// target only once it is complete and on disk. Until commit() the target is never touched;
// if the conversion fails or is interrupted (SIGTERM, SIGINT, SIGHUP) the temporary file is
// removed. Only one AtomicFile may be open at a time (the signal handler knows one name).
//
// The temporary file is named ".NAME.fastencc-XXXXXX" and holds an advisory lock while it
// is written. A process killed outright (SIGKILL, a CPU limit) cannot remove its file; the
// next conversion to the same target removes every such file that no live process holds.
//
// A file that stands at the target is replaced only when its mark (SourceMark) names the
// same source: anything else there is the user's, checked when the file is opened and again
// at the moment of the rename, and never replaced (EncodeError::Target::Taken).
class AtomicFile {
public:
    // The path to write for a target: the target itself, or the regular file that a symbolic
    // link names (the link stays). Throws EncodeError ("cannot write to TARGET: reason") when
    // the target exists and is not a regular file (a folder, device, FIFO or socket, or a link
    // to one), when a link leads nowhere, or when the name is longer than the folder allows,
    // so that nothing is encoded for a target that cannot be written.
    static std::string resolveTarget(const std::string& target);

    // Throws EncodeError (Taken) when a file stands at target (a path resolveTarget gave)
    // that was not made from source. Returns the mark of the file that stands there (one
    // made from source), or nothing when no file stands there.
    static std::optional<std::string> checkReplaceable(const std::string& target, const std::string& source);

    // Creates the temporary file beside target (a path resolveTarget gave), with the mode and,
    // where allowed, the owner of the file it will replace, which must have been made from
    // source. Throws EncodeError.
    AtomicFile(const std::string& target, const std::string& source);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Appends; throws EncodeError on any write error (a full disk included).
    void write(const void* data, std::size_t size);
    // Overwrites bytes already written (the Info frame at the start of the stream).
    void writeAt(std::int64_t offset, const void* data, std::size_t size);
    // The bytes appended so far: where the next write() lands.
    std::int64_t bytesWritten() const { return m_size; }
    // The temporary file, open for reading too: what was written can be read back before
    // commit() (the file stays this object's).
    int descriptor() const { return m_fd; }
    // Flushes to disk and renames over the target.
    void commit();

    // Routes SIGTERM, SIGINT and SIGHUP to a handler that removes the temporary file before
    // the process dies, each only if it was not ignored when the process started (nohup and
    // `trap '' INT` stay in force); ignores SIGPIPE and SIGXFSZ so that they surface as write
    // errors.
    static void installSignalHandlers();

    // After a failure: "; its unfinished copy .NAME.fastencc-XXXXXX is left in the folder"
    // when a temporary file could not be removed (its folder made read-only while it was
    // written), so that the one error line tells the user of it; otherwise empty.
    static std::string leftBehind();

private:
    [[noreturn]] void fail(int error);
    [[noreturn]] void failWith(const std::string& reason);
    [[noreturn]] void failCreating(int error);
    [[noreturn]] void failNamesFullOr(int error);
    [[noreturn]] void refuseTaken() const;
    bool madeFromSource(int fd) const;
    void removeStaleTemporaries(const std::string& prefix) const;
    void createTemporary(const std::string& prefix);
    void keepModeOf(const struct stat* replaced); // nullptr: a new file
    void discard();
    void writeAll(const void* data, std::size_t size, std::int64_t offset);

    std::string m_target;
    std::string m_source;   // the source's real path, empty when it cannot be resolved
    std::string m_name;     // the target's name inside its folder
    std::string m_tempName; // the temporary file's name in the same folder; empty when none
    int m_dir = -1;         // the target's folder
    int m_fd = -1;
    std::int64_t m_size = 0;
    bool m_replaces = false;   // a file of this source stood at the target when it opened
    struct stat m_replaced {}; // that file
};
