#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The output file, written to a temporary file in the target's folder and renamed over the
// target only once it is complete and on disk. Until commit() the target is never touched;
// if the conversion fails or is interrupted (SIGTERM, SIGINT, SIGHUP) the temporary file is
// removed. Only one AtomicFile may be open at a time (the signal handler knows one path).
class AtomicFile {
public:
    // Creates the temporary file. Throws EncodeError ("cannot write to TARGET: reason").
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
    // the process dies; ignores SIGPIPE and SIGXFSZ so that they surface as write errors.
    static void installSignalHandlers();

private:
    [[noreturn]] void fail(int error) const;
    void discard();
    void writeAll(const void* data, std::size_t size, std::int64_t offset);

    std::string m_target;
    std::string m_tempPath;
    int m_fd = -1;
    std::int64_t m_size = 0;
};
