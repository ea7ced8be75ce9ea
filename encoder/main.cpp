// fastencc: converts one audio file to a constant-bitrate MP3 for small players.
// Exit status 0 on success; otherwise one line on standard error says why (status 2 for a
// command line that cannot be used, 1 for a conversion that failed).

#include "atomicfile.h"
#include "commandline.h"
#include "converter.h"
#include "encodeerror.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

void showPercent(int percent)
{
    std::printf("%d\n", percent);
    std::fflush(stdout); // the caller reads the progress through a pipe, line by line
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = CommandLine::parse(args, error);
    if (!options) {
        std::fprintf(stderr, "fastencc: %s; %s\n", error.c_str(), CommandLine::usage());
        return 2;
    }

    AtomicFile::installSignalHandlers();
    try {
        Converter converter(*options, showPercent);
        converter.run();
    } catch (const EncodeError& e) {
        std::fprintf(stderr, "fastencc: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "fastencc: out of memory\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fastencc: %s\n", e.what());
        return 1;
    }
    showPercent(100);
    return 0;
}
