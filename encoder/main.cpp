// fastencc: converts one audio file to a constant-bitrate MP3 for small players.
// Exit status 0 on success; otherwise one line on standard error says why (status 2 for a
// command line that cannot be used, 3 for a target folder without room, 4 for a target that
// stands there and was not made from this source, 5 for a name the folder's file system
// refuses for its characters, 6 for a folder that can no longer be written, 1 for any other
// conversion that failed). A success with a reservation (the source ends early) says so in
// "fastencc: warning: ..." lines, the most important one last, since a caller may keep only
// the last line. What is no reservation (a target already up to date left as it is, an MP3
// copied instead of encoded, a bitrate kept below the one asked because the source is
// smaller) comes in "fastencc: ..." lines before the warnings.

#include "common/encodeerror.h"
#include "facts/loudnessmeter.h"
#include "facts/sourcefacts.h"
#include "output/atomicfile.h"
#include "output/foldercover.h"
#include "commandline.h"
#include "converter.h"

#include "standardoutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

// Exit statuses that say what became of the target, so that a caller converting many files
// into one folder can act: stop starting files (no room, or the folder can no longer be
// written), number the output (a file of another source stands there), or write an ASCII
// name (the file system refused the characters).
int statusFor(EncodeError::Target target)
{
    switch (target) {
    case EncodeError::Target::Full:
        return 3;
    case EncodeError::Target::Taken:
        return 4;
    case EncodeError::Target::NameRefused:
        return 5;
    case EncodeError::Target::Unwritable:
        return 6;
    case EncodeError::Target::Fine:
        break;
    }
    return 1;
}

// A descriptor 0, 1 or 2 that the caller left closed would be the next one open() hands
// out: the output file would become standard output and the progress lines would land in
// the MP3. Each closed one is taken by /dev/null before anything else is opened.
bool openStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int null = open("/dev/null", O_RDWR);
        if (null != fd) {
            if (null >= 0)
                close(null);
            return false;
        }
    }
    return true;
}

void showPercent(int percent)
{
    std::printf("%d\n", percent);
    std::fflush(stdout); // the caller reads the progress through a pipe, line by line
}

// The libraries print notes of their own on standard error (libmpg123 does even when told
// to be quiet); the caller gets exactly one line from fastencc. While converting, descriptor
// 2 goes to /dev/null and our line goes to the saved descriptor. Sanitizer builds keep
// standard error so that their reports are seen.
FILE* silenceLibraries()
{
#if defined(__SANITIZE_ADDRESS__)
    return stderr;
#else
    const int saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || null < 0)
        return stderr;
    dup2(null, 2);
    close(null);
    FILE* err = fdopen(saved, "w");
    return err ? err : stderr;
#endif
}

// `fastencc --help` and `fastencc --version`, alone: the answer on standard output, or
// nothing. With two or more arguments the first two are always the paths, whatever they are
// (but for `--picture`, which takes exactly two paths after it).
const char* informationRequest(const std::vector<std::string>& args)
{
    static const std::string help = std::string(CommandLine::usage()) + "\n"
        "Converts one audio file (MP3, MP2, WAV, AIFF, FLAC, Ogg) to a constant-bitrate MP3.\n"
        "\n"
        "  -dm          mono output\n"
        "  -br BITS     bitrate in bits per second\n"
        "  -reencode    encode even an MP3 already at or below the bitrate (it is copied\n"
        "               otherwise), and even when the target is up to date\n"
        "  -threads N   encoders working on consecutive segments of the source at once\n"
        "               (0, the default: one per processor; 1: a single encoder)\n"
        "  -threads-stdin\n"
        "               with more than one encoder, read lines \"threads N\" on standard\n"
        "               input between segments and work on with N encoders; without it\n"
        "               a conversion never reads its standard input\n"
        "  -gain DB     change the level by DB decibels (-40 to 40) before encoding, or in\n"
        "               the MP3's own gain steps where it is copied; never above -1 dBTP\n"
        "  -peak P      the source's true peak as --loudness gives it (1.0 full scale)\n"
        "  -rg-track DB,P, -rg-album DB,P\n"
        "               the source's ReplayGain 2.0 gain and peak, written as ReplayGain\n"
        "               tags that hold for the output once levelled\n"
        "  -h, --help   show this help and exit (alone)\n"
        "  --facts      (alone) read sources, each ended by a NUL byte, on standard input and\n"
        "               print for each its playing time and the output's size at every bitrate\n"
        "  --loudness [-br BITS] [-dm]\n"
        "               read sources as --facts does and print for each its loudness by\n"
        "               EBU R128 (LUFS; one channel counted twice), true peak and 400 ms\n"
        "               blocks; with -br (and -dm) the sound as the output at that quality\n"
        "               will carry it (folded, band-limited as LAME does)\n"
        "  --picture PICTURE TARGET\n"
        "               (alone) write a folder's cover picture fitted into 600 x 600 as a JPEG;\n"
        "               a file at TARGET is never replaced\n"
        "  --version    show the version and exit (alone)\n"
        "\n"
        "A source whose own average bitrate is below BITS is encoded at the highest MP3\n"
        "bitrate at or below its own that keeps the output no larger than the source.\n"
        "Progress goes to standard output as percent lines; the target is written only when\n"
        "complete, and a file already there is replaced only when fastencc made it from the\n"
        "same source. When it did so with the same settings and the source has not changed\n"
        "since, nothing is written: \"fastencc: up to date: not converted again\".\n"
        "Exit status: 0 converted (or copied, or up to date), 1 conversion failed, 2 unusable\n"
        "command line, 3 the target's folder is full, 4 the target stands there and was not\n"
        "made from this source, 5 the file system refuses the target's name for its\n"
        "characters, 6 the target's folder can no longer be written.\n"
        "See fastencc(1).\n";
    static const std::string version = "fastencc " VARDUNE_VERSION_TEXT "\n";
    if (args.size() != 1)
        return nullptr;
    if (args[0] == "--help" || args[0] == "-h")
        return help.c_str();
    if (args[0] == "--version")
        return version.c_str();
    return nullptr;
}

// The --facts and --loudness lines are the answer: one that did not reach the caller, or a
// standard output that failed on closing, is a failure.
int answered(int status, FILE* err)
{
    const int writeError = status != 0 ? errno : 0;
    const std::string closing = vardune::StandardOutput::Close();
    const std::string why = writeError != 0 ? std::strerror(writeError) : closing;
    if (why.empty())
        return status;
    std::fprintf(err, "fastencc: cannot write to standard output: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (!openStandardDescriptors())
        return 1; // without /dev/null no output file is safe from stray writes
    std::vector<std::string> args(argv + 1, argv + argc);
    if (const char* answer = informationRequest(args)) {
        const std::string why = vardune::StandardOutput::WriteAndClose(answer);
        if (why.empty())
            return 0;
        std::fprintf(stderr, "fastencc: cannot write to standard output: %s\n", why.c_str());
        return 1;
    }
    if (args.size() == 1 && args[0] == "--facts") {
        FILE* err = silenceLibraries();
        return answered(SourceFacts().run(stdin, stdout), err);
    }
    if (!args.empty() && args[0] == "--loudness") {
        // `--loudness [-br BITS] [-dm]`: measured as the output at that quality will carry it.
        // The options read as a conversion's would; nothing else may follow.
        std::vector<std::string> asked = {"-", "-"};
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] != "-dm" && !(args[i] == "-br" && i + 1 < args.size())) {
                std::fprintf(stderr, "fastencc: --loudness takes only -br BITS and -dm, not %s\n",
                    EncodeError::printable(args[i]).c_str());
                return 2;
            }
            asked.push_back(args[i]);
            if (args[i] == "-br")
                asked.push_back(args[++i]);
        }
        std::string error;
        const auto shape = CommandLine::parse(asked, error);
        if (!shape) {
            std::fprintf(stderr, "fastencc: %s\n", error.c_str());
            return 2;
        }
        FILE* err = silenceLibraries();
        LoudnessMeter::Shape measured;
        if (args.size() > 1) {
            measured.bitrate = shape->bitrate;
            measured.mono = shape->mono;
        }
        return answered(LoudnessMeter::run(stdin, stdout, measured), err);
    }
    if (args.size() == 3 && args[0] == "--picture") {
        AtomicFile::installSignalHandlers();
        FILE* err = silenceLibraries();
        try {
            FolderCover::write(args[1], args[2]);
            return 0;
        } catch (const EncodeError& e) {
            std::fprintf(err, "fastencc: %s%s\n", e.what(), AtomicFile::leftBehind().c_str());
            return statusFor(e.target());
        } catch (const std::exception& e) {
            std::fprintf(err, "fastencc: %s%s\n", e.what(), AtomicFile::leftBehind().c_str());
            return 1;
        }
    }
    std::string error;
    const auto options = CommandLine::parse(args, error);
    if (!options) {
        std::fprintf(stderr, "fastencc: %s; %s\n", error.c_str(), CommandLine::usage());
        return 2;
    }

    AtomicFile::installSignalHandlers();
    FILE* err = silenceLibraries();
    try {
        Converter converter(*options, showPercent);
        converter.run();
        for (const std::string& note : converter.notes())
            std::fprintf(err, "fastencc: %s\n", note.c_str());
        for (const std::string& warning : converter.warnings())
            std::fprintf(err, "fastencc: warning: %s\n", warning.c_str());
        std::fflush(err);
    } catch (const EncodeError& e) {
        std::fprintf(err, "fastencc: %s%s\n", e.what(), AtomicFile::leftBehind().c_str());
        return statusFor(e.target());
    } catch (const std::bad_alloc&) {
        std::fprintf(err, "fastencc: out of memory%s\n", AtomicFile::leftBehind().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(err, "fastencc: %s%s\n", e.what(), AtomicFile::leftBehind().c_str());
        return 1;
    }
    showPercent(100);
    return 0;
}
