#include "output/foldercover.h"

#include "common/encodeerror.h"
#include "common/filedescriptor.h"
#include "output/atomicfile.h"
#include "output/coverscaler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The picture's bytes: a regular file of at most CoverScaler::kMaxPictureBytes, read without
// waiting on a FIFO or a device that a hostile name may stand for.
TagLib::ByteVector readPicture(const std::string& source)
{
    const auto fail = [&](const std::string& why) { return EncodeError("cannot read the picture " + source + ": " + why); };
    const FileDescriptor fd(open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        throw fail(std::strerror(errno));
    struct stat st {};
    if (fstat(fd.get(), &st) != 0)
        throw fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw fail("not a regular file");
    if (st.st_size > static_cast<off_t>(CoverScaler::kMaxPictureBytes))
        throw fail("larger than any cover");
    TagLib::ByteVector bytes(static_cast<unsigned int>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw fail(std::strerror(errno));
        if (n == 0)
            break;  // cut short while it was read: what is there is judged
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(static_cast<unsigned int>(done));
    return bytes;
}

} // namespace

void FolderCover::write(const std::string& source, const std::string& target)
{
    const TagLib::ByteVector picture = readPicture(source);
    const TagLib::ByteVector jpeg
        = CoverScaler::fitOf(picture) == CoverScaler::Fit::LeftOut ? TagLib::ByteVector() : CoverScaler::scale(picture);
    if (jpeg.isEmpty())
        throw EncodeError("cannot read the picture " + source + ": not a picture that decodes whole (damaged, cut short, or past the limits)");
    const std::string path = AtomicFile::resolveTarget(target);
    AtomicFile file(path, source);
    file.write(jpeg.data(), jpeg.size());
    file.commit();
}
