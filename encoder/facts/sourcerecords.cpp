#include "facts/sourcerecords.h"

int SourceRecords::answer(std::FILE* in, std::FILE* out, const std::function<std::string(const std::string&)>& lineFor)
{
    std::string path;
    bool tooLong = false;
    bool pending = false;
    const auto answerOne = [&] {
        const std::string line = tooLong ? "error\tthe name is longer than any file name can be" : lineFor(path);
        std::fprintf(out, "%s\n", line.c_str());
        std::fflush(out);
        path.clear();
        tooLong = false;
        pending = false;
    };
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) {
        if (c == '\0') {
            answerOne();
            continue;
        }
        pending = true;
        if (path.size() < kMaxPath)
            path += static_cast<char>(c);
        else
            tooLong = true;
    }
    if (pending)
        answerOne();
    return std::ferror(out) ? 1 : 0;
}
