#include "writtenrecord.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vardune {

namespace {

constexpr const char kHeader[] = "vardune-record 1";
constexpr const char kHeaderStart[] = "vardune-record ";
constexpr const char kNewName[] = ".vardune-record.new";
// How long a writer waits for another's lock before it gives up on recording.
constexpr int kLockTries = 100;
constexpr auto kLockPause = std::chrono::milliseconds(50);

std::uint32_t Checksum(const std::string& text)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

std::string Escape(const std::string& text)
{
    if (text.empty())
        return "-";
    if (text == "-")
        return "%2D";
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F || c == '%') {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int Hex(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool Unescape(const std::string& text, std::string& out)
{
    out.clear();
    if (text == "-")
        return true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = Hex(text[i + 1]);
        const int low = Hex(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t from = 0;
    while (from <= line.size()) {
        const std::size_t space = line.find(' ', from);
        fields.push_back(line.substr(from, space == std::string::npos ? std::string::npos : space - from));
        if (space == std::string::npos)
            break;
        from = space + 1;
    }
    return fields;
}

bool Number(const std::string& text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

char KindLetter(WrittenRecord::Kind kind)
{
    switch (kind) {
    case WrittenRecord::Kind::Output:
        return 'o';
    case WrittenRecord::Kind::Picture:
        return 'p';
    case WrittenRecord::Kind::Playlist:
        return 'l';
    }
    return 'o';
}

bool ReadAll(int fd, std::string& bytes)
{
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > WrittenRecord::kMaxBytes)
            return false;
    }
}

bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool Lock(int fd, int operation)
{
    for (int i = 0; i < kLockTries; ++i) {
        if (flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno == ENOLCK || errno == EINVAL || errno == ENOSYS)
            return true;  // a file system without locks: writers take their chance
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        std::this_thread::sleep_for(kLockPause);
    }
    return false;
}

// Parses the record's bytes.
WrittenRecord::Contents Parse(const std::string& bytes, std::size_t* wholeBytes)
{
    WrittenRecord::Contents contents;
    contents.state = WrittenRecord::State::Kept;
    std::size_t end = bytes.find('\n');
    if (end == std::string::npos) {
        // Not even the first line whole: an empty record, or one cut while it was begun.
        if (bytes.empty() || std::string(kHeader).compare(0, bytes.size(), bytes) == 0) {
            if (wholeBytes)
                *wholeBytes = 0;
            return contents;
        }
        contents.state = WrittenRecord::State::Damaged;
        return contents;
    }
    const std::string header = bytes.substr(0, end);
    if (header != kHeader) {
        contents.state = header.compare(0, sizeof kHeaderStart - 1, kHeaderStart) == 0 && header.size() > sizeof kHeaderStart - 1
                                 && header[sizeof kHeaderStart - 1] >= '2' && header[sizeof kHeaderStart - 1] <= '9'
                             ? WrittenRecord::State::Newer
                             : WrittenRecord::State::Damaged;
        return contents;
    }
    std::size_t at = end + 1;
    std::uint64_t order = 0;
    while (at < bytes.size()) {
        end = bytes.find('\n', at);
        if (end == std::string::npos)
            break;  // cut short: proves nothing
        const std::string line = bytes.substr(at, end - at);
        at = end + 1;
        WrittenRecord::Event event;
        if (!WrittenRecord::Decode(line, event)) {
            contents.state = WrittenRecord::State::Damaged;
            contents.entries.clear();
            return contents;
        }
        ++contents.lines;
        if (event.removed) {
            contents.entries.erase(event.entry.path);
            continue;
        }
        event.entry.order = ++order;
        contents.entries[event.entry.path] = event.entry;
    }
    if (wholeBytes)
        *wholeBytes = at;
    return contents;
}

// Opens the record for writing with its lock held, the descriptor still the file the name
// gives (a writer that rewrote it meanwhile renamed a new one over it); -1 on failure.
int OpenLocked(int folderfd)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = openat(folderfd, WrittenRecord::kName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
        if (fd < 0)
            return -1;
        struct stat held {};
        if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || !Lock(fd, LOCK_EX)) {
            close(fd);
            return -1;
        }
        struct stat named {};
        if (fstatat(folderfd, WrittenRecord::kName, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev
            && named.st_ino == held.st_ino)
            return fd;
        close(fd);
    }
    return -1;
}

// Writes the record anew with only what still counts, and puts it in place of the old one
// (whose lock the caller holds).
bool Rewrite(int folderfd, const WrittenRecord::Contents& contents)
{
    std::vector<const WrittenRecord::Entry*> ordered;
    for (const auto& [path, entry] : contents.entries)
        ordered.push_back(&entry);
    std::sort(ordered.begin(), ordered.end(), [](const auto* a, const auto* b) { return a->order < b->order; });
    std::string text = std::string(kHeader) + '\n';
    for (const WrittenRecord::Entry* entry : ordered)
        text += WrittenRecord::Encode({*entry, false}) + '\n';
    unlinkat(folderfd, kNewName, 0);
    const int fd = openat(folderfd, kNewName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text) && (fsync(fd) == 0 || errno == EINVAL);
    ok = close(fd) == 0 && ok;
    if (ok && renameat(folderfd, kNewName, folderfd, WrittenRecord::kName) == 0)
        return true;
    unlinkat(folderfd, kNewName, 0);
    return false;
}

} // namespace

std::string WrittenRecord::Encode(const Event& event)
{
    const Entry& e = event.entry;
    std::string body;
    if (event.removed) {
        body = "x " + Escape(e.path);
    } else {
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, " %llu %lld.%09ld ", static_cast<unsigned long long>(e.size),
                      static_cast<long long>(e.seconds), e.nanoseconds);
        body = std::string(1, KindLetter(e.kind)) + ' ' + Escape(e.path) + numbers + Escape(e.source) + ' ' + Escape(e.mount) + ' '
               + Escape(e.fileSystem);
    }
    char sum[16];
    std::snprintf(sum, sizeof sum, "%08x ", Checksum(body));
    return sum + body;
}

bool WrittenRecord::Decode(const std::string& line, Event& event)
{
    if (line.size() < 10 || line[8] != ' ')
        return false;
    const std::string body = line.substr(9);
    char sum[16];
    std::snprintf(sum, sizeof sum, "%08x", Checksum(body));
    if (line.compare(0, 8, sum) != 0)
        return false;
    const std::vector<std::string> fields = Fields(body);
    event = Event {};
    if (fields.size() == 2 && fields[0] == "x") {
        event.removed = true;
        return Unescape(fields[1], event.entry.path) && !event.entry.path.empty();
    }
    if (fields.size() != 7 || fields[0].size() != 1)
        return false;
    Entry& e = event.entry;
    switch (fields[0][0]) {
    case 'o':
        e.kind = Kind::Output;
        break;
    case 'p':
        e.kind = Kind::Picture;
        break;
    case 'l':
        e.kind = Kind::Playlist;
        break;
    default:
        return false;
    }
    const std::string& time = fields[3];
    const auto dot = time.find('.');
    std::uint64_t seconds = 0;
    std::uint64_t nanoseconds = 0;
    const bool negative = !time.empty() && time[0] == '-';
    if (dot == std::string::npos || !Number(fields[2], e.size)
        || !Number(time.substr(negative ? 1 : 0, dot - (negative ? 1 : 0)), seconds) || !Number(time.substr(dot + 1), nanoseconds)
        || nanoseconds >= 1000000000u || seconds > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    e.seconds = negative ? -static_cast<std::int64_t>(seconds) : static_cast<std::int64_t>(seconds);
    e.nanoseconds = static_cast<long>(nanoseconds);
    return Unescape(fields[1], e.path) && !e.path.empty() && Unescape(fields[4], e.source) && Unescape(fields[5], e.mount)
           && Unescape(fields[6], e.fileSystem);
}

bool WrittenRecord::Matches(const Entry& entry, const struct stat& st)
{
    if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != entry.size)
        return false;
    if (st.st_mtim.tv_nsec != entry.nanoseconds)
        return false;
    const std::int64_t shift = static_cast<std::int64_t>(st.st_mtim.tv_sec) - entry.seconds;
    constexpr std::int64_t kQuarterHour = 15 * 60;
    constexpr std::int64_t kDay = 24 * 60 * 60;
    return shift == 0 || (shift % kQuarterHour == 0 && shift >= -kDay && shift <= kDay);
}

WrittenRecord::Contents WrittenRecord::Read(int folderfd)
{
    Contents contents;
    const int fd = openat(folderfd, kName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        contents.state = errno == ENOENT ? State::Missing : State::Damaged;
        return contents;
    }
    struct stat st {};
    std::string bytes;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > kMaxBytes
        || !Lock(fd, LOCK_SH) || !ReadAll(fd, bytes)) {
        close(fd);
        contents.state = State::Damaged;
        return contents;
    }
    close(fd);
    return Parse(bytes, nullptr);
}

bool WrittenRecord::Append(int folderfd, const std::vector<Event>& events)
{
    if (events.empty())
        return true;
    int fd = OpenLocked(folderfd);
    if (fd < 0)
        return false;
    std::string bytes;
    struct stat st {};
    const bool read = fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) <= kMaxBytes && lseek(fd, 0, SEEK_SET) == 0
                      && ReadAll(fd, bytes);
    std::size_t whole = 0;
    Contents contents = read ? Parse(bytes, &whole) : Contents {State::Damaged, {}, 0};
    if (contents.state == State::Newer) {
        close(fd);
        return false;
    }
    if (contents.state == State::Damaged) {
        // Kept for whoever wants to look, and a new record begun.
        renameat(folderfd, kName, folderfd, kDamagedName);
        close(fd);
        fd = OpenLocked(folderfd);
        if (fd < 0)
            return false;
        bytes.clear();
        whole = 0;
        contents = Contents {State::Kept, {}, 0};
    }
    std::string text;
    if (whole == 0)
        text = std::string(kHeader) + '\n';
    for (const Event& event : events)
        text += Encode(event) + '\n';
    // A last line cut short goes: the new lines start on a line of their own.
    bool ok = (whole == bytes.size() || ftruncate(fd, static_cast<off_t>(whole)) == 0)
              && lseek(fd, static_cast<off_t>(whole), SEEK_SET) >= 0 && WriteAll(fd, text);
    if (ok) {
        // Rewritten without what no longer counts once it holds far more lines than files.
        std::uint64_t order = 0;
        for (auto& [path, entry] : contents.entries)
            order = std::max(order, entry.order);
        for (const Event& event : events) {
            ++contents.lines;
            if (event.removed) {
                contents.entries.erase(event.entry.path);
            } else {
                Entry entry = event.entry;
                entry.order = ++order;
                contents.entries[entry.path] = entry;
            }
        }
        if (contents.lines > 2 * contents.entries.size() + 256)
            Rewrite(folderfd, contents);
    }
    close(fd);
    return ok;
}

} // namespace vardune
