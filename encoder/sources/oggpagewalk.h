#pragma once

#include <cstdint>

// The page headers of an Ogg file, one after the other, as a length is measured from them:
// bytes that are no page are searched through for the next, a page that the file's end cuts
// off ends the walk (its granule position is not there to count), and so does a limit on the
// pages read, so that a hostile file costs a bounded time.
class OggPageWalk {
public:
    struct Page {
        std::int64_t body = 0;    // where its packets' bytes start
        std::int64_t packets = 0; // packets that end on it
        std::uint64_t granule = 0;
        std::uint64_t serial = 0;
        bool firstOfLink = false; // the first page of a logical stream
        bool lastOfLink = false;  // the last page of a logical stream
    };

    OggPageWalk(int fd, std::int64_t fileSize);

    // The next whole page; false at the file's end, at a page cut off or past the limit.
    bool next(Page& page);
    // Whether the walk ended right after a whole page at the file's very end (no junk after
    // it, nothing cut off, the limit not reached).
    bool endedAfterPage() const { return m_endedAfterPage; }

private:
    int m_fd;
    std::int64_t m_fileSize;
    std::int64_t m_pos = 0;
    int m_pages = 0;
    bool m_afterPage = false;
    bool m_endedAfterPage = false;
};
