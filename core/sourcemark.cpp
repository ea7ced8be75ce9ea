#include "sourcemark.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vardune {

namespace {

bool Escaped(unsigned char c)
{
    return c < 0x20 || c >= 0x7F || c == '%' || c == ';';
}

std::string Escape(const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (Escaped(c)) {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> Unescape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::uint32_t BigEndian(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::uint32_t SyncSafe(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 7 | (static_cast<unsigned char>(bytes[at + i]) & 0x7F);
    return value;
}

bool FrameId(const std::string& bytes, std::size_t at)
{
    for (std::size_t i = 0; i < 4; ++i) {
        const char c = bytes[at + i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

std::string TimeText(const SourceMark::Source& source)
{
    char time[64];
    std::snprintf(time, sizeof time, "%lld.%09ld", static_cast<long long>(source.seconds), source.nanoseconds);
    return time;
}

} // namespace

std::optional<SourceMark::Source> SourceMark::Of(const std::string& sourcePath)
{
    char* real = realpath(sourcePath.c_str(), nullptr);
    if (!real)
        return std::nullopt;
    Source source;
    source.path = real;
    std::free(real);
    struct stat st {};
    if (stat(source.path.c_str(), &st) != 0)
        return std::nullopt;
    source.size = static_cast<std::uint64_t>(st.st_size);
    source.seconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    source.nanoseconds = st.st_mtim.tv_nsec;
    return source;
}

std::string SourceMark::Value(const Source& source, const std::string& profile, const std::string& content)
{
    return "path=" + Escape(source.path) + ";size=" + std::to_string(source.size) + ";mtime=" + TimeText(source)
        + (profile.empty() ? std::string() : ";profile=" + Escape(profile))
        + (content.empty() ? std::string() : ";content=" + Escape(content));
}

std::string SourceMark::Content(const std::string& sourcePath)
{
    const int fd = open(sourcePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return std::string();
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](const unsigned char* bytes, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            hash ^= bytes[i];
            hash *= 1099511628211ULL;
        }
    };
    unsigned char sizeBytes[8];
    for (int i = 0; i < 8; ++i)
        sizeBytes[i] = static_cast<unsigned char>(size >> (8 * i));
    mix(sizeBytes, sizeof sizeBytes);
    // The start, the middle and the end; a file of three blocks or less is read whole.
    const std::uint64_t block = kContentBlock;
    const std::uint64_t starts[] = {0, size > 3 * block ? size / 2 - block / 2 : block,
                                    size > 3 * block ? size - block : 2 * block};
    bool read = true;
    std::vector<unsigned char> bytes(kContentBlock);
    for (const std::uint64_t start : starts) {
        if (start >= size)
            break;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(block, size - start));
        std::size_t got = 0;
        while (got < want) {
            const ssize_t n = pread(fd, bytes.data() + got, want - got, static_cast<off_t>(start + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got != want) {
            read = false;
            break;
        }
        mix(bytes.data(), got);
    }
    close(fd);
    if (!read)
        return std::string();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

bool SourceMark::Moved(const std::string& value, const Source& source, const std::function<std::string()>& content)
{
    // The path first: an output looked at where it was made (every one of a re-run) is known
    // by it at once.
    const auto path = PathIn(value);
    if (!path || *path == source.path)
        return false;
    const auto size = Field(value, "size");
    const auto time = Field(value, "mtime");
    const auto recorded = Field(value, "content");
    if (!size || *size != std::to_string(source.size) || !time || *time != TimeText(source) || !recorded
        || recorded->size() != 16)
        return false;
    const std::string now = content ? content() : std::string();
    return !now.empty() && now == *recorded;
}

std::string SourceMark::Renamed(const std::string& value, const std::string& path)
{
    std::string renamed;
    std::size_t at = 0;
    bool named = false;
    while (at <= value.size()) {
        const std::size_t end = std::min(value.find(';', at), value.size());
        std::string field = value.substr(at, end - at);
        if (!named && field.compare(0, 5, "path=") == 0) {
            field = "path=" + Escape(path);
            named = true;
        }
        renamed += (at == 0 ? "" : ";") + field;
        at = end + 1;
    }
    return named ? renamed : "path=" + Escape(path) + (value.empty() ? "" : ";" + value);
}

std::string SourceMark::For(const std::string& value, const Source& source, const std::function<std::string()>& content)
{
    return Moved(value, source, content) ? Renamed(value, source.path) : value;
}

std::string SourceMark::Profile(int bitrate, bool mono)
{
    char text[32];
    std::snprintf(text, sizeof text, "br%06d,mono%d", std::clamp(bitrate, 0, 999999), mono ? 1 : 0);
    return text;
}

bool SourceMark::UpToDate(const std::string& value, const Source& source, const std::string& profile)
{
    const auto made = MadeWith(value, source);
    return !profile.empty() && made && *made == profile;
}

std::optional<std::string> SourceMark::MadeWith(const std::string& value, const Source& source)
{
    const auto path = PathIn(value);
    const auto size = Field(value, "size");
    const auto time = Field(value, "mtime");
    if (!path || *path != source.path || !size || *size != std::to_string(source.size) || !time || *time != TimeText(source))
        return std::nullopt;
    const auto made = Field(value, "profile");
    const auto profile = made ? Unescape(*made) : std::nullopt;
    return profile ? *profile : std::string();
}

std::optional<std::string> SourceMark::Field(const std::string& value, const std::string& name)
{
    std::size_t at = 0;
    while (at <= value.size()) {
        const std::size_t end = std::min(value.find(';', at), value.size());
        const std::string field = value.substr(at, end - at);
        const std::size_t equals = field.find('=');
        if (equals != std::string::npos && field.compare(0, equals, name) == 0 && equals == name.size())
            return field.substr(equals + 1);
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> SourceMark::PathIn(const std::string& value)
{
    const auto field = Field(value, "path");
    if (!field || field->empty() || (*field)[0] != '/')
        return std::nullopt;
    return Unescape(*field);
}

std::string SourceMark::Frame(const std::string& value)
{
    return TextFrame(kDescription, value);
}

std::string SourceMark::TextFrame(const std::string& description, const std::string& value)
{
    const std::string body = std::string(1, '\0') + description + std::string(1, '\0') + value;
    std::string frame = "TXXX";
    const auto size = static_cast<std::uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        frame += static_cast<char>((size >> shift) & 0xFF);
    frame += std::string(2, '\0');
    return frame + body;
}

std::optional<std::string> SourceMark::Find(const std::string& head)
{
    // "ID3", version 2.3 or 2.4, flags, a 28-bit size; no unsynchronisation or extended
    // header, which the encoder never writes.
    if (head.size() < 10 || head.compare(0, 3, "ID3") != 0)
        return std::nullopt;
    const int version = static_cast<unsigned char>(head[3]);
    const int flags = static_cast<unsigned char>(head[5]);
    if ((version != 3 && version != 4) || (flags & 0xC0) != 0)
        return std::nullopt;
    for (std::size_t i = 6; i < 10; ++i)
        if (static_cast<unsigned char>(head[i]) & 0x80)
            return std::nullopt;
    const std::size_t tagEnd = std::min<std::size_t>(10 + SyncSafe(head, 6), head.size());
    const std::string description = std::string(kDescription) + '\0';
    std::size_t at = 10;
    while (at + 10 <= tagEnd && FrameId(head, at)) {
        const std::size_t size = version == 4 ? SyncSafe(head, at + 4) : BigEndian(head, at + 4);
        if (size > tagEnd - at - 10)
            return std::nullopt;  // runs past what was read: the mark is always before
        const int frameFlags = static_cast<unsigned char>(head[at + 9]);
        if (head.compare(at, 4, "TXXX") == 0 && frameFlags == 0 && size > description.size()
            && (head[at + 10] == 0 || head[at + 10] == 3)
            && head.compare(at + 11, description.size(), description) == 0) {
            std::string value = head.substr(at + 11 + description.size(), size - 1 - description.size());
            while (!value.empty() && value.back() == '\0')
                value.pop_back();
            return value;
        }
        at += 10 + size;
    }
    return std::nullopt;
}

std::optional<std::string> SourceMark::Read(int fd)
{
    return Read(fd, kSearchedBytes);
}

std::optional<std::string> SourceMark::Read(int fd, std::uint64_t fileBytes)
{
    // The mark is the tag's first frame: the first few kilobytes hold it unless its path is
    // very long. Only when they do not is the rest read: a re-run over ten thousand outputs
    // reads each one's mark twice or more.
    constexpr std::size_t kFirstBytes = 4096;
    std::string head(kFirstBytes, '\0');
    std::size_t got = 0;
    const auto readUpTo = [&](std::size_t size) {
        head.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, fileBytes)));
        while (got < head.size()) {
            const ssize_t n = pread(fd, &head[got], head.size() - got, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        head.resize(got);
    };
    readUpTo(kFirstBytes);
    if (auto value = Find(head); value || got < kFirstBytes || fileBytes <= kFirstBytes)
        return value;
    readUpTo(kSearchedBytes);
    return Find(head);
}

std::optional<std::string> SourceMark::ReadFile(const std::string& path)
{
    // Never blocks on a FIFO or a device that stands where an output should be.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<std::string> value;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        value = Read(fd, static_cast<std::uint64_t>(st.st_size));
    close(fd);
    return value;
}

bool SourceMark::MadeFrom(const std::string& output, const std::string& sourcePath)
{
    const auto value = ReadFile(output);
    if (!value)
        return false;
    const auto marked = PathIn(*value);
    const auto source = Of(sourcePath);
    return marked && source
        && (*marked == source->path || Moved(*value, *source, [&] { return Content(source->path); }));
}

} // namespace vardune
