#include "facts/sourcerecords.h"

#include "common/encodeerror.h"

#include <algorithm>
#include <cerrno>
#include <new>

namespace {

// A tag's value is cut to this many bytes (at a character): no name part is longer.
constexpr std::size_t kMaxTagText = 1024;

} // namespace

int SourceRecords::answer(std::FILE* in, std::FILE* out, const std::function<std::string(const std::string&)>& lineFor)
{
    std::string path;
    bool tooLong = false;
    bool pending = false;
    // False once a line could not be written: no source more is read for a caller that
    // cannot hear the answer.
    const auto answerOne = [&] {
        const std::string line = tooLong ? "error\tthe name is longer than any file name can be" : lineFor(path);
        std::fprintf(out, "%s\n", line.c_str());
        path.clear();
        tooLong = false;
        pending = false;
        return std::fflush(out) == 0 && !std::ferror(out);
    };
    const auto failed = [] {
        const int error = errno;
        errno = error != 0 ? error : EIO;
        return 1;
    };
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) {
        if (c == '\0') {
            if (!answerOne())
                return failed();
            continue;
        }
        pending = true;
        if (path.size() < kMaxPath)
            path += static_cast<char>(c);
        else
            tooLong = true;
    }
    if (pending && !answerOne())
        return failed();
    return 0;
}

std::string SourceRecords::errorLine(const std::exception& e)
{
    if (dynamic_cast<const EncodeError*>(&e))
        return std::string("error\t") + e.what();
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return "error\tout of memory";
    return EncodeError::printable(std::string("error\t") + e.what());
}

// The value as one field of the line: a tab, a line break or a backslash written as \t, \n,
// \r or \\, other control characters left out, cut where a character starts.
std::string SourceRecords::fieldText(const std::string& value)
{
    std::size_t size = std::min(value.size(), kMaxTagText);
    while (size < value.size() && size > 0 && (static_cast<unsigned char>(value[size]) & 0xC0) == 0x80)
        --size;
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = value[i];
        switch (c) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
                out += c;
        }
    }
    return out;
}
