#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The output file, written to a temporary file in the target's folder and renamed over the
// target only once it is complete and on disk. Until commit() the target is never touched;
// if the conversion fails or is interrupted (SIGTERM, SIGINT, SIGHUP) the temporary file is
// removed. Only one AtomicFile may be open at a time (the signal handler knows one name).
//
// The temporary file is named ".NAME.fastencc-XXXXXX" and holds an advisory lock while it
// is written. A process killed outright (SIGKILL, a CPU limit) cannot remove its file; the
// next conversion to the same target removes every such file that no live process holds.
class AtomicFile {
public:
    // The path to write for a target: the target itself, or the regular file that a symbolic
    // link names (the link stays). Throws EncodeError ("cannot write to TARGET: reason") when
    // the target exists and is not a regular file (a folder, device, FIFO or socket, or a link
    // to one), when a link leads nowhere, or when the name is longer than the folder allows,
    // so that nothing is encoded for a target that cannot be written.
    static std::string resolveTarget(const std::string& target);

    // Creates the temporary file beside target (a path resolveTarget gave), with the mode and,
    // where allowed, the owner of the file it will replace. Throws EncodeError.
    explicit AtomicFile(const std::string& target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Appends; throws EncodeError on any write error (a full disk included).
    void write(const void* data, std::size_t size);
    // Overwrites bytes already written (the Info frame at the start of the stream).
    void writeAt(std::int64_t offset, const void* data, std::size_t size);
    std::int64_t size() const { return m_size; }
    // Flushes to disk and renames over the target.
    void commit();

    // Routes SIGTERM, SIGINT and SIGHUP to a handler that removes the temporary file before
    // the process dies, each only if it was not ignored when the process started (nohup and
    // `trap '' INT` stay in force); ignores SIGPIPE and SIGXFSZ so that they surface as write
    // errors.
    static void installSignalHandlers();

private:
    [[noreturn]] void fail(int error) const;
    [[noreturn]] void failWith(const std::string& reason) const;
    void removeStaleTemporaries(const std::string& prefix) const;
    void createTemporary(const std::string& prefix);
    void keepModeOf(const struct stat* replaced); // nullptr: a new file
    void discard();
    void writeAll(const void* data, std::size_t size, std::int64_t offset);

    std::string m_target;
    std::string m_name;     // the target's name inside its folder
    std::string m_tempName; // the temporary file's name in the same folder; empty when none
    int m_dir = -1;         // the target's folder
    int m_fd = -1;
    std::int64_t m_size = 0;
};
