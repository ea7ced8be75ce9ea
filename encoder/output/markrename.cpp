#include "output/markrename.h"

#include "common/encodeerror.h"
#include "common/filedescriptor.h"
#include "common/positionalread.h"
#include "output/atomicfile.h"

#include "sourcemark.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

// The tags the encoder writes are small (texts and a cover fitted to a player): a larger one is
// not rewritten.
constexpr std::uint32_t kLargestTag = 16 * 1024 * 1024;

} // namespace

bool MarkRename::apply(const std::string& target, const std::string& source, const std::string& value,
    const std::string& renamed)
{
    try {
        const FileDescriptor file(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (file.get() < 0 || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        // ID3v2.3, as the encoder writes it: no unsynchronisation, no extended header.
        std::string header(10, '\0');
        if (!ReadAt(file.get(), 0, header.data(), header.size()) || header.compare(0, 4, std::string("ID3\x03", 4)) != 0
            || header[5] != 0)
            return false;
        std::uint32_t tagSize = 0;
        for (std::size_t i = 6; i < 10; ++i) {
            if (static_cast<unsigned char>(header[i]) & 0x80)
                return false;
            tagSize = tagSize << 7 | static_cast<unsigned char>(header[i]);
        }
        if (tagSize > kLargestTag || static_cast<std::uint64_t>(st.st_size) < 10u + tagSize)
            return false;
        std::string tag(tagSize, '\0');
        if (!ReadAt(file.get(), 10, tag.data(), tag.size()))
            return false;
        // The mark's frame, found by its whole content.
        const std::string frame = vardune::SourceMark::Frame(value);
        const std::size_t at = tag.find(frame);
        if (at == std::string::npos)
            return false;
        const std::string renamedFrame = vardune::SourceMark::Frame(renamed);
        tag.replace(at, frame.size(), renamedFrame);
        if (tag.size() >= (1u << 28))
            return false;
        for (std::size_t i = 0; i < 4; ++i)
            header[6 + i] = static_cast<char>((tag.size() >> (21 - 7 * i)) & 0x7F);

        AtomicFile out(target, source);
        out.write(header.data(), header.size());
        out.write(tag.data(), tag.size());
        std::vector<char> chunk(1 << 20);
        for (off_t offset = 10 + static_cast<off_t>(tagSize); offset < st.st_size;) {
            const std::size_t n = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(chunk.size()), st.st_size - offset));
            if (!ReadAt(file.get(), offset, chunk.data(), n))
                return false;  // cut meanwhile: the temporary file goes
            out.write(chunk.data(), n);
            offset += static_cast<off_t>(n);
        }
        out.commit();
        return true;
    } catch (const EncodeError&) {
        return false;
    }
}
