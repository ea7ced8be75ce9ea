#include "standardoutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardune {

bool StandardOutput::Write(const std::string& bytes, std::string& why)
{
    if (std::fflush(stdout) != 0) {
        why = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = n < 0 ? std::strerror(errno) : "nothing could be written";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string StandardOutput::Close()
{
    std::string why;
    const bool pending = __fpending(stdout) != 0;
    if (std::fflush(stdout) != 0)
        why = std::strerror(errno);
    else if (std::ferror(stdout))
        why = "an earlier write failed";
    errno = 0;
    if (std::fclose(stdout) != 0 && why.empty() && (pending || errno != EBADF))
        why = std::strerror(errno);
    return why;
}

std::string StandardOutput::WriteAndClose(const std::string& text)
{
    std::string why;
    Write(text, why);
    const std::string closing = Close();
    return why.empty() ? closing : why;
}

long long StandardOutput::FileOffset()
{
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(::lseek(STDOUT_FILENO, 0, SEEK_CUR));
}

bool StandardOutput::CutBackTo(long long length)
{
    struct stat st {};
    if (length < 0 || ::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return ::ftruncate(STDOUT_FILENO, static_cast<off_t>(length)) == 0;
}

} // namespace vardune
