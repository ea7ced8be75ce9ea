#include "commandline.h"

#include <cerrno>
#include <cstdlib>

const char* CommandLine::usage()
{
    return "usage: fastencc SOURCE TARGET [-dm] [-br BITS]  (BITS from 8000 to 320000, default 128000)";
}

std::optional<CommandLine> CommandLine::parse(const std::vector<std::string>& args, std::string& error)
{
    if (args.size() < 2 || args[0].empty() || args[1].empty()) {
        error = "a source and a target file are needed";
        return std::nullopt;
    }
    CommandLine cl;
    cl.source = args[0];
    cl.target = args[1];
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-dm") {
            cl.mono = true;
        } else if (a == "-br") {
            if (i + 1 >= args.size()) {
                error = "-br needs a bitrate";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            char* end = nullptr;
            errno = 0;
            const long bits = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || value[0] == '-' || value[0] == '+'
                || value[0] == ' ') {
                error = "the bitrate \"" + value + "\" is not a number";
                return std::nullopt;
            }
            if (bits < kMinBitrate || bits > kMaxBitrate) {
                error = "the bitrate " + value + " is outside 8000 to 320000";
                return std::nullopt;
            }
            cl.bitrate = static_cast<int>(bits);
        } else {
            error = "unknown option \"" + a + "\"";
            return std::nullopt;
        }
    }
    return cl;
}
