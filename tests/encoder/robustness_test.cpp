// fastencc never loses or corrupts data: every failure gives one clear line on standard
// error, a non-zero status, no temporary file and no new or damaged target.

#include "testsupport.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

using namespace enctest;

namespace {

// A shared library: libmpg123 alone would take most of them for layer I audio.
std::string sharedLibrary()
{
    for (const char* p : {"/usr/lib/x86_64-linux-gnu/libmpg123.so.0", "/usr/lib/x86_64-linux-gnu/libc.so.6",
             "/lib/x86_64-linux-gnu/libc.so.6"})
        if (std::filesystem::exists(p))
            return readFile(p);
    return readFile("/bin/ls");
}

struct InputCase {
    const char* name;
    const char* fileName;
    std::function<void(const TempDir&, const std::string& path)> make;
    const char* error;         // nullptr: the conversion succeeds
    double minSeconds = 0;     // for successes: the output plays at least / at most this long
    double maxSeconds = 0;
};

void PrintTo(const InputCase& c, std::ostream* os)
{
    *os << c.name;
}

} // namespace

class BadInputTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(BadInputTest, SoundOutcome)
{
    const InputCase& c = GetParam();
    TempDir dir;
    const std::string source = dir.path(c.fileName);
    c.make(dir, source);
    const auto filesBefore = dir.files();
    const RunResult r = runFastencc({source, dir.path("out.mp3")});

    if (c.error) {
        expectOneErrorLine(r, c.error);
        EXPECT_EQ(dir.files(), filesBefore) << "left a file behind";
        return;
    }
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const Decoded d = decodeMp3(dir.path("out.mp3"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.bitratesKbps, std::set<int>{128});
    EXPECT_GE(d.seconds(), c.minSeconds);
    EXPECT_LE(d.seconds(), c.maxSeconds);
    auto expected = filesBefore;
    expected.push_back("out.mp3");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.files(), expected);
}

INSTANTIATE_TEST_SUITE_P(Inputs, BadInputTest,
    ::testing::Values(
        InputCase {"empty", "empty.wav", [](const TempDir&, const std::string& p) { writeFile(p, ""); },
            "not an audio file"},
        InputCase {"random_bytes", "noise.mp3",
            [](const TempDir&, const std::string& p) { writeFile(p, randomBytes(100000, 1)); }, "not an audio file"},
        // libsndfile would open any data named .gsm as raw GSM if it were given the name.
        InputCase {"random_bytes_named_gsm", "noise.gsm",
            [](const TempDir&, const std::string& p) { writeFile(p, randomBytes(50000, 2)); }, "not an audio file"},
        InputCase {"text_named_mp3", "notes.mp3",
            [](const TempDir&, const std::string& p) {
                std::string text;
                for (int i = 0; i < 200; ++i)
                    text += "This is a plain text file, line " + std::to_string(i) + ".\n";
                writeFile(p, text);
            },
            "not an audio file"},
        InputCase {"elf_program", "ls.mp3",
            [](const TempDir&, const std::string& p) { writeFile(p, readFile("/bin/ls")); }, "not an audio file"},
        InputCase {"elf_shared_library", "lib.mp3",
            [](const TempDir&, const std::string& p) { writeFile(p, sharedLibrary()); }, "not an audio file"},
        InputCase {"missing", "missing.wav", [](const TempDir&, const std::string&) {}, "No such file or directory"},
        InputCase {"folder", "folder.wav",
            [](const TempDir&, const std::string& p) { std::filesystem::create_directory(p); }, "folder"},
        // A well-formed file of no sample: an MP3 of no frame would play nowhere.
        InputCase {"no_samples", "silence.wav",
            [](const TempDir&, const std::string& p) {
                WavSpec s;
                s.seconds = 0;
                writeWav(p, s);
            },
            "the source holds no sound"},
        InputCase {"zero_rate", "zero-rate.wav",
            [](const TempDir&, const std::string& p) {
                WavSpec s;
                s.zeroRateInHeader = true;
                writeWav(p, s);
            },
            "fastencc: "},
        InputCase {"zero_channels", "zero-channels.wav",
            [](const TempDir&, const std::string& p) {
                WavSpec s;
                s.claimedChannels = 0xFFFF; // overwritten below to 0
                writeWav(p, s);
                std::string bytes = readFile(p);
                bytes[22] = 0;
                bytes[23] = 0;
                writeFile(p, bytes);
            },
            "fastencc: "},
        // Resyncs after the damage and keeps the second half.
        InputCase {"garbage_in_mp3", "damaged.mp3",
            [](const TempDir& d, const std::string& p) {
                const std::string mp3 = makeMp3(d, 4.0);
                writeFile(p, mp3.substr(0, mp3.size() / 2) + randomBytes(8192, 3) + mp3.substr(mp3.size() / 2));
            },
            nullptr, 3.8, 4.4},
        InputCase {"nan_float_wav", "nan.wav",
            [](const TempDir&, const std::string& p) {
                WavSpec s;
                s.isFloat = true;
                s.nanSamples = true;
                writeWav(p, s);
            },
            nullptr, 1.95, 2.05},
        InputCase {"six_channels", "surround.wav",
            [](const TempDir&, const std::string& p) {
                WavSpec s;
                s.channels = 6;
                writeWav(p, s);
            },
            nullptr, 1.95, 2.05}),
    [](const auto& info) { return std::string(info.param.name); });

struct UsageCase {
    std::vector<std::string> args; // IN and OUT stand for a source and a target in a fresh folder
    const char* words;             // what the line says besides the usage
};

void PrintTo(const UsageCase& c, std::ostream* os)
{
    for (const auto& a : c.args)
        *os << "[" << a << "]";
}

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, ExitsTwoWithUsageLine)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    std::vector<std::string> args;
    for (const auto& a : GetParam().args)
        args.push_back(a == "IN" ? dir.path("in.wav") : a == "OUT" ? dir.path("out.mp3") : a);
    const RunResult r = runFastencc(args);
    EXPECT_EQ(r.exitCode, 2);
    const auto lines = r.errLines();
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_NE(lines[0].find("usage: fastencc SOURCE TARGET"), std::string::npos);
    EXPECT_NE(lines[0].find(GetParam().words), std::string::npos) << lines[0];
    EXPECT_EQ(dir.files(), std::vector<std::string> {"in.wav"}) << "wrote a file";
}

INSTANTIATE_TEST_SUITE_P(Arguments, UsageTest,
    ::testing::Values(UsageCase {{}, "a source and a target"}, UsageCase {{"IN"}, "a source and a target"},
        UsageCase {{"IN", "OUT", "-x"}, "unknown option \"-x\""}, UsageCase {{"IN", "OUT", "-br"}, "-br needs"},
        UsageCase {{"IN", "OUT", "-br", "7999"}, "outside 8000 to 320000"},
        UsageCase {{"IN", "OUT", "-br", "320001"}, "outside 8000 to 320000"},
        UsageCase {{"IN", "OUT", "-br", "99999999999999999999"}, "outside 8000 to 320000"},
        UsageCase {{"IN", "OUT", "-br", "128k"}, "not a number"}, UsageCase {{"IN", "OUT", "-br", "abc"}, "not a number"},
        UsageCase {{"IN", "OUT", "-br", "-128000"}, "not a number"},
        UsageCase {{"IN", "OUT", "-br", "+128000"}, "not a number"},
        // Digits only: strtol would skip blanks, tabs and newlines before them.
        UsageCase {{"IN", "OUT", "-br", " 128000"}, "not a number"},
        UsageCase {{"IN", "OUT", "-br", "\t128000"}, "\"\\t128000\" is not a number"},
        UsageCase {{"IN", "OUT", "-br", "\n128000"}, "\"\\n128000\" is not a number"},
        UsageCase {{"IN", "OUT", "-br", "128000 "}, "not a number"},
        // LAME would write 96000 for it without a word.
        UsageCase {{"IN", "OUT", "-br", "100500"}, "100500 is not an MP3 bitrate (those are 8000, 16000, "},
        // An option where the target belongs, and nothing after it: the target was forgotten.
        UsageCase {{"IN", "-dm"}, "a target file is needed before -dm"},
        UsageCase {{"IN", "-br"}, "a target file is needed before -br"},
        UsageCase {{"-br", "128000", "IN", "OUT"}, "unknown option"},
        UsageCase {{"IN", "OUT", "-threads"}, "-threads needs a number"},
        UsageCase {{"IN", "OUT", "-threads", "65"}, "outside 0 to 64"},
        UsageCase {{"IN", "OUT", "-threads", "99999999999999999999"}, "outside 0 to 64"},
        UsageCase {{"IN", "OUT", "-threads", "-1"}, "not a number"},
        UsageCase {{"IN", "OUT", "-threads", " 2"}, "not a number"},
        UsageCase {{"IN", "OUT", "-threads", "two"}, "not a number"},
        UsageCase {{"IN", "-threads"}, "a target file is needed before -threads"}));

// The first two arguments are the paths whatever they look like.
TEST(Paths, OddNamesAreJustNames)
{
    TempDir dir;
    for (const std::string name : {"-dm", "-br", "with blanks  .wav", "it's \"quoted\".wav", "Ümlaut 音楽.wav"}) {
        writeWav(dir.path(name), WavSpec {});
        const std::string target = dir.path("-" + name + ".mp3");
        const RunResult r = runFastencc({dir.path(name), target, "-dm"});
        ASSERT_EQ(r.exitCode, 0) << name << ": " << r.err;
        EXPECT_EQ(decodeMp3(target).channels, 1) << name;
    }
    // Relative names beginning with "-" are paths too.
    writeWav(dir.path("-in.wav"), WavSpec {});
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.root());
    const RunResult r = runFastencc({"-in.wav", "-out.mp3"});
    std::filesystem::current_path(cwd);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(decodeMp3(dir.path("-out.mp3")).ok);
}

TEST(Target, SourceItselfIsRefusedUnderAnyName)
{
    TempDir dir;
    writeFile(dir.path("song.mp3"), makeMp3(dir, 1.0));
    const std::string original = readFile(dir.path("song.mp3"));
    std::filesystem::create_hard_link(dir.path("song.mp3"), dir.path("hardlink.mp3"));
    std::filesystem::create_symlink(dir.path("song.mp3"), dir.path("symlink.mp3"));
    const auto filesBefore = dir.files();
    for (const std::string& target : std::vector<std::string> {dir.path("song.mp3"), dir.root() + "/./song.mp3", dir.path("hardlink.mp3"),
             dir.path("symlink.mp3")}) {
        const RunResult r = runFastencc({dir.path("song.mp3"), target});
        expectOneErrorLine(r, "is the source file");
        EXPECT_EQ(readFile(dir.path("song.mp3")), original) << target;
        EXPECT_EQ(dir.files(), filesBefore) << target;
    }
}

TEST(Target, UnwritablePlaceFailsCleanly)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    writeFile(dir.path("a-file"), "x");
    std::filesystem::create_directory(dir.path("a-folder"));
    std::vector<std::string> targets = {dir.path("no-such-folder/out.mp3"), dir.path("a-file/out.mp3"), dir.path("a-folder")};
    if (geteuid() != 0) { // root writes anywhere
        std::filesystem::create_directory(dir.path("read-only"));
        chmod(dir.path("read-only").c_str(), 0555);
        targets.push_back(dir.path("read-only/out.mp3"));
    }
    const auto filesBefore = dir.files();
    for (const auto& target : targets) {
        const RunResult r = runFastencc({dir.path("in.wav"), target});
        expectOneErrorLine(r, "cannot write to " + target + ": ");
        EXPECT_EQ(dir.files(), filesBefore);
    }
    if (geteuid() != 0) {
        EXPECT_TRUE(std::filesystem::is_empty(dir.path("read-only")));
    }
}

TEST(Target, ExistingTargetUntouchedOnFailure)
{
    TempDir dir;
    writeFile(dir.path("noise.wav"), randomBytes(30000, 4));
    writeWav(dir.path("in.wav"), WavSpec {});
    // An earlier output of each source, which a conversion of that source may replace.
    const std::string old = markedFor(dir.path("in.wav"), "precious old content");
    writeFile(dir.path("out.mp3"), old);
    writeFile(dir.path("noise.mp3"), markedFor(dir.path("noise.wav"), "old noise"));
    const auto filesBefore = dir.files();

    // An input that is not audio.
    expectOneErrorLine(runFastencc({dir.path("noise.wav"), dir.path("noise.mp3")}), "not an audio file");
    EXPECT_EQ(readFile(dir.path("noise.mp3")), markedFor(dir.path("noise.wav"), "old noise"));

    // A write error part way (a file size limit stands in for a full disk).
    RunOptions limited;
    limited.fileSizeLimit = 8000;
    expectOneErrorLine(runFastencc({dir.path("in.wav"), dir.path("out.mp3")}, limited),
        "cannot write to " + dir.path("out.mp3") + ": File too large");
    EXPECT_EQ(readFile(dir.path("out.mp3")), old);
    EXPECT_EQ(dir.files(), filesBefore);
}

TEST(Interruption, SigtermLeavesNothing)
{
    TempDir dir;
    WavSpec spec;
    spec.seconds = 30;
    writeWav(dir.path("long.wav"), spec);
    const std::string old = markedFor(dir.path("long.wav"), "old");
    writeFile(dir.path("old.mp3"), old);
    for (const std::string& target : std::vector<std::string> {dir.path("new.mp3"), dir.path("old.mp3")}) {
        RunOptions options;
        options.killAtPercent = 5;
        const RunResult r = runFastencc({dir.path("long.wav"), target, "-br", "320000"}, options);
        ASSERT_EQ(r.signal, SIGTERM) << "finished before the signal: " << r.out << r.err;
        EXPECT_EQ(dir.files(), (std::vector<std::string> {"long.wav", "old.mp3"}));
        EXPECT_EQ(readFile(dir.path("old.mp3")), old);
    }
}

TEST(Interruption, ACallerThatGoesAwayDoesNotEndTheConversion)
{
    // The program may quit mid-batch: the pipe its percent lines went to has no reader any
    // more, and the file still has to be finished.
    TempDir dir;
    WavSpec spec;
    spec.seconds = 10;
    writeWav(dir.path("in.wav"), spec);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(fds[1], 1);
        execl(FASTENCC_PATH, FASTENCC_PATH, dir.path("in.wav").c_str(), dir.path("out.mp3").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const Decoded d = decodeMp3(dir.path("out.mp3"));
    ASSERT_TRUE(d.ok);
    EXPECT_NEAR(double(d.frames) / d.rate, 10.0, 0.05);
}
