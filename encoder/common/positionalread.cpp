#include "common/positionalread.h"

#include <unistd.h>

#include <cerrno>

bool ReadAt(int fd, std::int64_t offset, void* into, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = pread(fd, static_cast<char*>(into) + got, size - got, offset + static_cast<std::int64_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}
