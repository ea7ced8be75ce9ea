// fastencc as anyone may call it: targets that are not files, closed or odd descriptors,
// signals its caller chose to ignore, conversions killed outright, names at the limits of
// the file system, and paths that would break its one line of error.

#include "testsupport.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

using namespace enctest;

namespace {

bool isRoot()
{
    return geteuid() == 0;
}

// A socket file at path (bound and closed: the node stays).
void makeSocket(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

// What a node is, as far as replacing it would show: its type, device number and, for a
// link, where it points.
std::string nodeOf(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return "missing";
    std::string node = std::to_string(st.st_mode & S_IFMT) + ":" + std::to_string(st.st_rdev) + ":" + std::to_string(st.st_ino);
    if (S_ISLNK(st.st_mode))
        node += "->" + std::filesystem::read_symlink(path).string();
    return node;
}

// The hidden temporary files fastencc makes for out.mp3.
std::vector<std::string> temporariesIn(const TempDir& dir)
{
    std::vector<std::string> found;
    for (const auto& name : dir.files())
        if (name.rfind(".out.mp3.fastencc-", 0) == 0)
            found.push_back(name);
    return found;
}

struct TargetCase {
    const char* name;
    std::function<void(const TempDir&, const std::string& target)> make;
    const char* reason;
    bool needsRoot = false;
};

void PrintTo(const TargetCase& c, std::ostream* os)
{
    *os << c.name;
}

} // namespace

// A target that exists and is not a regular file is refused before anything is encoded and
// left exactly as it was: the device node, FIFO, socket or folder itself, and a link to one.
class NonRegularTargetTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(NonRegularTargetTest, RefusedAndLeftAsItWas)
{
    const TargetCase& c = GetParam();
    if (c.needsRoot && !isRoot())
        GTEST_SKIP() << "making a device node needs root";
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    std::filesystem::create_directory(dir.path("d"));
    const std::string target = dir.path("d/target");
    c.make(dir, target);
    const std::string before = nodeOf(target);
    const auto filesBefore = dir.files();

    const RunResult r = runFastencc({dir.path("in.wav"), target});
    expectOneErrorLine(r, "cannot write to " + target + ": " + c.reason);
    EXPECT_TRUE(r.out.empty()) << "encoded before refusing";
    EXPECT_EQ(nodeOf(target), before);
    EXPECT_EQ(dir.files(), filesBefore);
    std::vector<std::string> inFolder;
    for (const auto& e : std::filesystem::directory_iterator(dir.path("d")))
        inFolder.push_back(e.path().filename().string());
    EXPECT_EQ(inFolder, std::vector<std::string> {"target"}) << "left a temporary file";
}

INSTANTIATE_TEST_SUITE_P(Nodes, NonRegularTargetTest,
    ::testing::Values(
        // `mknod d/null c 1 3`: a copy of the system's /dev/null.
        TargetCase {"char_device",
            [](const TempDir&, const std::string& t) { ASSERT_EQ(mknod(t.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0); },
            "it is a device, not a regular file", true},
        TargetCase {"fifo", [](const TempDir&, const std::string& t) { ASSERT_EQ(mkfifo(t.c_str(), 0644), 0); },
            "it is a FIFO, not a regular file"},
        TargetCase {"socket", [](const TempDir&, const std::string& t) { makeSocket(t); },
            "it is a socket, not a regular file"},
        TargetCase {"folder", [](const TempDir&, const std::string& t) { std::filesystem::create_directory(t); },
            "it is a folder, not a regular file"},
        TargetCase {"link_to_dev_null",
            [](const TempDir&, const std::string& t) { std::filesystem::create_symlink("/dev/null", t); },
            "it is a device, not a regular file"},
        // `ln -s /proc/self/fd/1 d/stdout`: whatever the caller's standard output is.
        TargetCase {"link_to_stdout",
            [](const TempDir&, const std::string& t) { std::filesystem::create_symlink("/proc/self/fd/1", t); },
            "it is a FIFO, not a regular file"},
        TargetCase {"link_to_fifo",
            [](const TempDir& d, const std::string& t) {
                ASSERT_EQ(mkfifo(d.path("fifo").c_str(), 0644), 0);
                std::filesystem::create_symlink(d.path("fifo"), t);
            },
            "it is a FIFO, not a regular file"},
        TargetCase {"link_to_folder",
            [](const TempDir& d, const std::string& t) { std::filesystem::create_symlink(d.root(), t); },
            "it is a folder, not a regular file"},
        TargetCase {"link_to_nothing",
            [](const TempDir& d, const std::string& t) { std::filesystem::create_symlink(d.path("nowhere"), t); },
            "it is a link to a file that does not exist"}),
    [](const auto& info) { return std::string(info.param.name); });

// A replaced file stays the file it was: a link is written through (and stays a link), and
// the file keeps its permission bits and, where the process may give it, its owner.
TEST(Target, ReplacedFileKeepsItsLinkModeAndOwner)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    std::filesystem::create_directory(dir.path("music"));
    writeFile(dir.path("music/real.mp3"), markedFor(dir.path("in.wav"), "old"));
    ASSERT_EQ(chmod(dir.path("music/real.mp3").c_str(), 0604), 0);
    // As root the owner can be kept even when it is someone else's file.
    const uid_t owner = isRoot() ? 65534 : geteuid();
    const gid_t group = isRoot() ? 65534 : getegid();
    ASSERT_EQ(chown(dir.path("music/real.mp3").c_str(), owner, group), 0);
    std::filesystem::create_symlink("music/real.mp3", dir.path("link.mp3"));

    const mode_t oldMask = umask(077);
    const RunResult r = runFastencc({dir.path("in.wav"), dir.path("link.mp3")});
    umask(oldMask);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::filesystem::read_symlink(dir.path("link.mp3")), "music/real.mp3");
    EXPECT_TRUE(decodeMp3(dir.path("music/real.mp3")).ok);
    struct stat st {};
    ASSERT_EQ(stat(dir.path("music/real.mp3").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u) << "mode not kept";
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(st.st_gid, group);
    std::vector<std::string> inMusic;
    for (const auto& e : std::filesystem::directory_iterator(dir.path("music")))
        inMusic.push_back(e.path().filename().string());
    EXPECT_EQ(inMusic, std::vector<std::string> {"real.mp3"});

    // A new target gets the mode any new file of the user gets.
    const mode_t mask = umask(027);
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("new.mp3")}).exitCode, 0);
    umask(mask);
    ASSERT_EQ(stat(dir.path("new.mp3").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// `fastencc in out <&- >&-`: the output file must not become standard output, where the
// progress lines would land inside the MP3. The output is byte for byte that of a normal run.
TEST(Descriptors, ClosedStandardDescriptorsDoNotReachTheFile)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("reference.mp3")}).exitCode, 0);
    const std::string reference = readFile(dir.path("reference.mp3"));
    for (const std::vector<int>& closed : {std::vector<int> {0, 1}, std::vector<int> {1}, std::vector<int> {0, 1, 2}}) {
        RunOptions options;
        options.closedDescriptors = closed;
        const RunResult r = runFastencc({dir.path("in.wav"), dir.path("out.mp3")}, options);
        EXPECT_EQ(r.exitCode, 0) << closed.size() << " closed: " << r.err;
        EXPECT_TRUE(readFile(dir.path("out.mp3")) == reference) << closed.size() << " closed: the MP3 differs";
        std::filesystem::remove(dir.path("out.mp3"));
    }
}

// An answer that is the product (--help, --version, the facts and loudness passes) and does
// not reach standard output (a full disk, here /dev/full) is a failure said on standard
// error. A conversion's percent lines are not its product: the output is written whole and
// the status says so.
TEST(Descriptors, AnAnswerThatCannotBeWrittenFails)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    writeFile(dir.path("sources"), dir.path("in.wav") + '\0' + dir.path("in.wav") + '\0');
    RunOptions full;
    full.standardOutput = "/dev/full";
    full.standardInput = dir.path("sources");
    for (const char* request : {"--help", "--version", "--facts", "--loudness"}) {
        const RunResult r = runFastencc({request}, full);
        EXPECT_EQ(r.exitCode, 1) << request;
        expectOneErrorLine(r, "fastencc: cannot write to standard output: No space left on device");
    }
    const RunResult converted = runFastencc({dir.path("in.wav"), dir.path("out.mp3")}, full);
    EXPECT_EQ(converted.exitCode, 0) << converted.err;
    EXPECT_NEAR(decodeMp3(dir.path("out.mp3")).seconds(), 2.0, 0.05);
}

// `nohup fastencc ... & kill -HUP $!`, and SIGINT/SIGTERM after `trap '' INT TERM`: a
// signal ignored when fastencc starts stays ignored, and the conversion completes.
TEST(Signals, IgnoredSignalsStayIgnored)
{
    TempDir dir;
    WavSpec spec;
    spec.seconds = 20;
    writeWav(dir.path("in.wav"), spec);
    RunOptions options;
    options.ignoredSignals = {SIGHUP, SIGINT, SIGTERM};
    options.killAtPercent = 5;
    options.atPercent = [](int pid) {
        for (const int sig : {SIGHUP, SIGINT, SIGTERM})
            kill(pid, sig);
    };
    const RunResult r = runFastencc({dir.path("in.wav"), dir.path("out.mp3"), "-br", "320000"}, options);
    ASSERT_EQ(r.signal, 0) << "killed by a signal it was told to ignore";
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NEAR(decodeMp3(dir.path("out.mp3")).seconds(), 20.0, 0.05);
    EXPECT_EQ(dir.files(), (std::vector<std::string> {"in.wav", "out.mp3"}));
}

// A conversion killed outright (SIGKILL, a CPU limit) cannot remove its temporary file. The
// next conversion to the same target removes it, but never the file of a conversion that is
// still running: its writer holds a lock on it.
TEST(Temporaries, KilledConversionLeavesNothingAfterTheNextOne)
{
    TempDir dir;
    WavSpec spec;
    spec.seconds = 20;
    writeWav(dir.path("long.wav"), spec);
    const std::vector<std::string> longRun = {dir.path("long.wav"), dir.path("out.mp3"), "-br", "320000"};

    RunOptions killed;
    killed.killAtPercent = 5;
    killed.atPercent = [](int pid) { kill(pid, SIGKILL); };
    ASSERT_EQ(runFastencc(longRun, killed).signal, SIGKILL);
    const auto stale = temporariesIn(dir);
    ASSERT_EQ(stale.size(), 1u) << "the killed conversion left no temporary file to tidy";

    // The same conversion again; half way, another conversion of the source to the same target.
    RunOptions meanwhile;
    meanwhile.killAtPercent = 5;
    std::vector<std::string> duringRerun;
    RunResult shortRun;
    meanwhile.atPercent = [&](int) {
        duringRerun = temporariesIn(dir);
        shortRun = runFastencc({dir.path("long.wav"), dir.path("out.mp3"), "-br", "32000"});
    };
    const RunResult rerun = runFastencc(longRun, meanwhile);
    ASSERT_EQ(duringRerun.size(), 1u) << "the stale file was not removed";
    EXPECT_NE(duringRerun[0], stale[0]);
    EXPECT_EQ(shortRun.exitCode, 0) << shortRun.err;
    // Had the short conversion taken the running one's file for stale, the rename at its end
    // would fail.
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
    EXPECT_EQ(dir.files(), (std::vector<std::string> {"long.wav", "out.mp3"}));
    const Decoded last = decodeMp3(dir.path("out.mp3"));
    EXPECT_NEAR(last.seconds(), 20.0, 0.05);
    EXPECT_EQ(last.bitratesKbps, std::set<int>{320}) << "the conversion that ended last is not the file";
}

// Names at the limits: the final name is checked before anything is encoded, and the
// temporary name of any name that fits fits too, however long the path.
TEST(Names, LongestNamesAndPaths)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    const long nameMax = pathconf(dir.root().c_str(), _PC_NAME_MAX);
    ASSERT_GT(nameMax, 20);

    const RunResult tooLong = runFastencc({dir.path("in.wav"), dir.path(std::string(std::size_t(nameMax) + 1, 'n'))});
    expectOneErrorLine(tooLong, "File name too long");
    EXPECT_TRUE(tooLong.out.empty()) << "encoded before refusing";
    EXPECT_EQ(dir.files(), std::vector<std::string> {"in.wav"});

    // The longest name; a name in multi-byte characters, cut for the temporary name.
    std::string accented;
    while (accented.size() + 2 <= std::size_t(nameMax))
        accented += "é";
    for (const std::string& name : {std::string(std::size_t(nameMax), 'n'), accented}) {
        const RunResult r = runFastencc({dir.path("in.wav"), dir.path(name)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(decodeMp3(dir.path(name)).ok);
    }

    // A path of PATH_MAX - 1 bytes, in folders of long names.
    std::string folder = dir.root();
    while (folder.size() + 200 < 4095 - 20)
        folder += "/" + std::string(198, 'f');
    std::filesystem::create_directories(folder);
    for (const std::size_t length : {4091u, 4095u}) {
        const std::string target = folder + "/" + std::string(length - folder.size() - 1, 'x');
        ASSERT_EQ(target.size(), length);
        const RunResult r = runFastencc({dir.path("in.wav"), target});
        EXPECT_EQ(r.exitCode, 0) << length << ": " << r.err;
        EXPECT_TRUE(std::filesystem::exists(target)) << length;
    }
}

// A newline in a path would give the caller two lines: control characters are escaped.
TEST(Messages, ControlCharactersInPathsAreEscaped)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    struct Case {
        std::vector<std::string> args;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {{dir.path("no\nsuch.wav"), dir.path("out.mp3")}, "cannot read " + dir.path("no\\nsuch.wav") + ": No such file"},
        {{dir.path("in.wav"), dir.path("no\tfolder\x1b/out.mp3")}, "cannot write to " + dir.path("no\\tfolder\\x1b/out.mp3")},
        {{dir.path("in.wav"), dir.path("out.mp3"), "-x\r\n"}, "unknown option \"-x\\r\\n\""},
    };
    for (const Case& c : cases) {
        const RunResult r = runFastencc(c.args);
        expectOneErrorLine(r, c.shown);
    }
}
