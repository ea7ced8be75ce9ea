#include "sources/oggpagewalk.h"

#include "common/byteorder.h"
#include "common/positionalread.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Searched for the next page after bytes that are none, at a time.
constexpr std::size_t kSearch = 64 * 1024;
// Page headers read (some gigabytes of usual pages); a file of more, or of tiny pages, is
// measured as far as that.
constexpr int kMaxPages = 1 << 20;

} // namespace

OggPageWalk::OggPageWalk(int fd, std::int64_t fileSize)
    : m_fd(fd)
    , m_fileSize(fileSize)
{
}

bool OggPageWalk::next(Page& page)
{
    std::vector<std::uint8_t> search;
    while (m_pos < m_fileSize) {
        if (m_pages >= kMaxPages)
            return m_endedAfterPage = false;
        std::uint8_t head[27 + 255];
        if (!ReadAt(m_fd, m_pos, head, 27) || std::memcmp(head, "OggS", 4) != 0 || head[4] != 0
            || !ReadAt(m_fd, m_pos + 27, head + 27, head[26])) {
            // Not a page: the next one is searched for.
            m_afterPage = false;
            search.resize(kSearch);
            const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(kSearch, m_fileSize - m_pos - 1));
            if (n < 4 || !ReadAt(m_fd, m_pos + 1, search.data(), n))
                return m_endedAfterPage = false;
            const auto end = search.begin() + static_cast<std::ptrdiff_t>(n);
            const auto found = std::search(search.begin(), end, "OggS", "OggS" + 4);
            m_pos += 1 + (found - search.begin()) - (found == end ? 3 : 0);
            continue;
        }
        std::int64_t size = 27 + head[26];
        page.packets = 0;
        for (int i = 0; i < head[26]; ++i) {
            size += head[27 + i];
            page.packets += head[27 + i] < 255;
        }
        if (m_pos + size > m_fileSize)
            return m_endedAfterPage = false;
        ++m_pages;
        page.body = m_pos + 27 + head[26];
        page.granule = LittleEndian(head + 6, 8);
        page.serial = LittleEndian(head + 14, 4);
        page.firstOfLink = (head[5] & 2) != 0;
        page.lastOfLink = (head[5] & 4) != 0;
        m_pos += size;
        m_afterPage = true;
        return true;
    }
    m_endedAfterPage = m_afterPage;
    return false;
}
