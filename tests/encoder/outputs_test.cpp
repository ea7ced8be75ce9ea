// What fastencc does to the file at its target and to the target's folder: a file is replaced
// only when fastencc made it from the same source (the mark in its tag says so), a folder
// that can no longer be written says so with a status of its own and names what it could not
// remove, and a FAT card that refuses names says why.
#include "testsupport.h"

#include "sourcemark.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

using namespace enctest;
using vardune::SourceMark;

namespace {

bool isRoot()
{
    return geteuid() == 0;
}

std::string realPath(const std::string& path)
{
    return std::filesystem::canonical(path).string();
}

// An ID3v2.3 tag around the given frames.
std::string tagOf(const std::string& frames)
{
    std::string header = "ID3\x03";
    header += std::string(2, '\0');
    for (int shift = 21; shift >= 0; shift -= 7)
        header += static_cast<char>((frames.size() >> shift) & 0x7F);
    return header + frames;
}

// A user text frame of ID3v2.3 with any description.
std::string txxx(const std::string& description, const std::string& value)
{
    const std::string body = std::string(1, '\0') + description + std::string(1, '\0') + value;
    std::string frame = "TXXX";
    for (int shift = 24; shift >= 0; shift -= 8)
        frame += static_cast<char>((body.size() >> shift) & 0xFF);
    return frame + std::string(2, '\0') + body;
}

bool hasTemporary(const TempDir& dir)
{
    for (const std::string& name : dir.files())
        if (name.find(".fastencc-") != std::string::npos)
            return true;
    return false;
}

} // namespace

// The mark names the source by its real path, with its size and time; a conversion of the
// same source (under any name of it) replaces the output, anything else at the target stays
// as it is, with exit status 4.
TEST(Outputs, ReplacedOnlyWhenMadeFromTheSameSource)
{
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    writeWav(dir.path("other.wav"), WavSpec {}); // the same sound, another file
    std::filesystem::create_symlink("in.wav", dir.path("alias.wav"));

    ASSERT_EQ(runFastencc({dir.path("in.wav"), dir.path("out.mp3")}).exitCode, 0);
    const auto mark = SourceMark::ReadFile(dir.path("out.mp3"));
    ASSERT_TRUE(mark);
    EXPECT_EQ(SourceMark::PathIn(*mark), realPath(dir.path("in.wav")));
    EXPECT_EQ(SourceMark::Field(*mark, "size"), std::to_string(readFile(dir.path("in.wav")).size()));
    EXPECT_TRUE(SourceMark::Field(*mark, "mtime"));
    const RunResult again = runFastencc({dir.path("alias.wav"), dir.path("out.mp3"), "-br", "64000"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(decodeMp3(dir.path("out.mp3")).bitratesKbps, std::set<int>{64});

    const std::string made = readFile(dir.path("out.mp3"));
    const std::string audio = withoutId3v2(made);
    const std::string markOfIn = txxx(SourceMark::kDescription, *mark);
    const struct {
        const char* what;
        std::string bytes;
    } foreign[] = {
        {"another source's output", markedFor(dir.path("other.wav"), audio)},
        {"a file of the user's", "my own recording"},
        {"an MP3 with a tag but no mark", tagOf(txxx("OTHER", "x")) + audio},
        {"the mark's description with another value", tagOf(txxx(SourceMark::kDescription, "size=1")) + audio},
        {"the mark behind 70 KB of another frame", tagOf(txxx("PAD", std::string(70000, 'p')) + markOfIn) + audio},
        {"a frame that claims more than the file", tagOf(markOfIn).substr(0, 30)},
    };
    for (const auto& f : foreign) {
        SCOPED_TRACE(f.what);
        writeFile(dir.path("taken.mp3"), f.bytes);
        const RunResult r = runFastencc({dir.path("in.wav"), dir.path("taken.mp3")});
        EXPECT_EQ(r.exitCode, 4);
        expectOneErrorLine(r, "was not made from this source stands there; it is not replaced");
        EXPECT_EQ(readFile(dir.path("taken.mp3")), f.bytes);
        EXPECT_FALSE(hasTemporary(dir));
    }
    // The output of in.wav is not other.wav's, though the sound is the same.
    EXPECT_EQ(runFastencc({dir.path("other.wav"), dir.path("out.mp3")}).exitCode, 4);
    EXPECT_EQ(readFile(dir.path("out.mp3")), made);
}

// A file that comes to stand at the target while the conversion runs is kept: the check is
// made again when the output is put in place.
TEST(Outputs, AFileThatAppearsMeanwhileIsKept)
{
    TempDir dir;
    WavSpec spec;
    spec.seconds = 20;
    writeWav(dir.path("long.wav"), spec);
    RunOptions meanwhile;
    meanwhile.killAtPercent = 5;
    meanwhile.atPercent = [&](int) { writeFile(dir.path("out.mp3"), "saved by another program"); };
    const RunResult r = runFastencc({dir.path("long.wav"), dir.path("out.mp3"), "-br", "320000"}, meanwhile);
    EXPECT_EQ(r.exitCode, 4);
    expectOneErrorLine(r, "not made from this source");
    EXPECT_EQ(readFile(dir.path("out.mp3")), "saved by another program");
    EXPECT_FALSE(hasTemporary(dir));
}

// A folder that is gone, or made read-only while the file is written, ends the conversion with
// exit status 6; a temporary file it could not remove is named on the error line.
TEST(Outputs, AFolderThatCanNoLongerBeWritten)
{
    TempDir dir;
    WavSpec spec;
    spec.seconds = 20;
    writeWav(dir.path("long.wav"), spec);
    const RunResult gone = runFastencc({dir.path("long.wav"), dir.path("gone/x.mp3")});
    EXPECT_EQ(gone.exitCode, 6);
    expectOneErrorLine(gone, "the output folder can no longer be written (No such file or directory)");

    // The superuser writes into a read-only folder: the conversion runs as nobody then.
    ASSERT_EQ(chmod(dir.root().c_str(), 0755), 0);
    const std::string out = dir.path("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    RunOptions readOnly;
    if (isRoot()) {
        ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
        readOnly.user = 65534;
    }
    // Made read-only while the encoder is held still (see killAtPercent), so the change
    // comes before its end however busy the machine.
    readOnly.killAtPercent = 1;
    readOnly.atPercent = [&](int) { chmod(out.c_str(), 0555); };
    const RunResult r = runFastencc({dir.path("long.wav"), out + "/x.mp3", "-br", "320000"}, readOnly);
    chmod(out.c_str(), 0755);
    ASSERT_FALSE(r.endedBeforeStop) << "the encoder ended before the folder changed";
    EXPECT_EQ(r.exitCode, 6) << r.err;
    expectOneErrorLine(r, "the output folder can no longer be written (Permission denied); its unfinished copy .x.mp3.fastencc-");
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(out))
        left.push_back(e.path().filename().string());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(r.err.find(left[0] + " is left in the folder"), std::string::npos) << r.err;
}

// A FAT card mounted to take ASCII names only (the kernel's vfat with iocharset=ascii, or
// fusefat, which takes no other): a name with other characters is refused with exit status 5
// and the folder stays clean; a top folder that holds its fixed number of entries says so
// (exit status 6) rather than that it is full or that the operation is not permitted.
TEST(Outputs, AnAsciiOnlyFatCard)
{
    TempDir dir;
    const std::string image = dir.path("card.img");
    const std::string card = dir.path("card");
    mkdir(card.c_str(), 0755);
    writeFile(image, "");
    ASSERT_EQ(truncate(image.c_str(), 16 << 20), 0);
    if (std::system(("mkfs.vfat -F 16 -r 64 " + image + " > /dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
    std::string how;
    if (std::system(("mount -o loop,iocharset=ascii " + image + " " + card + " > /dev/null 2>&1").c_str()) == 0)
        how = "the kernel's vfat with iocharset=ascii";
    else if (std::system(("fusefat -o rw+ " + image + " " + card + " > /dev/null 2>&1 && mountpoint -q " + card).c_str()) == 0)
        how = "fusefat";
    else
        GTEST_SKIP() << "cannot mount a FAT image here: no loop mount (needs root and the vfat driver) and no fusefat";
    std::printf("[   NOTE   ] FAT image mounted by %s\n", how.c_str());
    const auto unmount = [&] {
        if (umount2(card.c_str(), MNT_DETACH) != 0)
            std::system(("fusermount -u -z " + card).c_str());
    };
    writeWav(dir.path("in.wav"), WavSpec {});

    const RunResult refused = runFastencc({dir.path("in.wav"), card + "/V_Ünïcødé.mp3"});
    EXPECT_EQ(refused.exitCode, 5);
    expectOneErrorLine(refused, "the folder's file system refuses the characters of this name");
    EXPECT_EQ(runFastencc({dir.path("in.wav"), card + "/V_Unicode.mp3"}).exitCode, 0);

    // The top folder filled with names, while the card has megabytes free.
    ASSERT_EQ(mkdir((card + "/sub").c_str(), 0755), 0);
    int made = 0;
    for (; made < 1000; ++made) {
        FILE* f = std::fopen((card + "/F" + std::to_string(made) + ".TXT").c_str(), "w");
        if (!f)
            break;
        std::fclose(f);
    }
    ASSERT_LT(made, 1000);
    std::vector<std::string> before;
    for (const auto& e : std::filesystem::directory_iterator(card))
        before.push_back(e.path().filename().string());
    const RunResult full = runFastencc({dir.path("in.wav"), card + "/V_one more.mp3"});
    EXPECT_EQ(full.exitCode, 6) << full.err;
    expectOneErrorLine(full, "the folder can take no more names");
    EXPECT_NE(full.err.find("subfolder"), std::string::npos);
    std::vector<std::string> after;
    for (const auto& e : std::filesystem::directory_iterator(card))
        after.push_back(e.path().filename().string());
    EXPECT_EQ(after, before);
    EXPECT_EQ(runFastencc({dir.path("in.wav"), card + "/sub/V_one more.mp3"}).exitCode, 0);
    unmount();
}

namespace {

// Which file stands at a path: its inode and its modification time to the nanosecond.
std::pair<ino_t, long long> identity(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return {0, 0};
    return {st.st_ino, static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

void setTime(const std::string& path, long long seconds)
{
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

} // namespace

// An output made from the same source, unchanged since (path, size, time), with the same
// settings (bitrate asked, mono) is left as it is: exit 0, one note, nothing written. Any
// change of the source or of those settings, an output of an older version that recorded no
// settings, or -reencode makes it again; a file of another source still stays.
TEST(Outputs, AnOutputUpToDateIsNotConvertedAgain)
{
    const std::string upToDate = "fastencc: up to date: not converted again";
    TempDir dir;
    writeWav(dir.path("in.wav"), WavSpec {});
    setTime(dir.path("in.wav"), 1700000000);
    const std::string out = dir.path("out.mp3");
    ASSERT_EQ(runFastencc({dir.path("in.wav"), out, "-br", "64000"}).exitCode, 0);
    EXPECT_EQ(SourceMark::Field(*SourceMark::ReadFile(out), "profile"), "br064000,mono0");

    const auto unchanged = [&](const std::vector<std::string>& options) {
        const auto before = identity(out);
        const std::string bytes = readFile(out);
        std::vector<std::string> args = {dir.path("in.wav"), out};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = runFastencc(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.errLines(), std::vector<std::string>{upToDate});
        EXPECT_EQ(r.out, "100\n");
        EXPECT_EQ(identity(out), before);
        EXPECT_EQ(readFile(out), bytes);
        EXPECT_FALSE(hasTemporary(dir));
    };
    const auto convertedAgain = [&](const std::vector<std::string>& options, int kbps, const std::string& profile) {
        const auto before = identity(out);
        std::vector<std::string> args = {dir.path("in.wav"), out};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = runFastencc(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("up to date"), std::string::npos) << r.err;
        EXPECT_NE(identity(out).first, before.first);
        EXPECT_EQ(decodeMp3(out).bitratesKbps, std::set<int>{kbps});
        EXPECT_EQ(SourceMark::Field(*SourceMark::ReadFile(out), "profile"), profile);
    };
    {
        SCOPED_TRACE("run again unchanged, under another name of the source too");
        unchanged({"-br", "64000"});
        std::filesystem::create_symlink("in.wav", dir.path("alias.wav"));
        const RunResult r = runFastencc({dir.path("alias.wav"), out, "-br", "64000"});
        EXPECT_EQ(r.errLines(), std::vector<std::string>{upToDate});
    }
    {
        SCOPED_TRACE("other settings");
        convertedAgain({"-br", "32000"}, 32, "br032000,mono0");
        unchanged({"-br", "32000"});
        convertedAgain({"-br", "32000", "-dm"}, 32, "br032000,mono1");
        unchanged({"-dm", "-br", "32000"});
        convertedAgain({"-br", "32000", "-dm", "-reencode"}, 32, "br032000,mono1");
    }
    {
        SCOPED_TRACE("the source touched");
        setTime(dir.path("in.wav"), 1700000001);
        convertedAgain({"-br", "32000", "-dm"}, 32, "br032000,mono1");
        unchanged({"-br", "32000", "-dm"});
    }
    {
        SCOPED_TRACE("the source of another size at the same time");
        WavSpec longer;
        longer.seconds = 2.5;
        writeWav(dir.path("in.wav"), longer);
        setTime(dir.path("in.wav"), 1700000001);
        convertedAgain({"-br", "32000", "-dm"}, 32, "br032000,mono1");
        unchanged({"-br", "32000", "-dm"});
    }
    {
        SCOPED_TRACE("an output of a version that recorded no settings");
        writeFile(out, markedFor(dir.path("in.wav"), withoutId3v2(readFile(out))));
        ASSERT_EQ(SourceMark::Field(*SourceMark::ReadFile(out), "profile"), std::nullopt);
        convertedAgain({"-br", "32000", "-dm"}, 32, "br032000,mono1");
    }
    {
        SCOPED_TRACE("another source's output, with these very settings");
        writeWav(dir.path("other.wav"), WavSpec {});
        ASSERT_EQ(runFastencc({dir.path("other.wav"), dir.path("other.mp3"), "-br", "32000", "-dm"}).exitCode, 0);
        const std::string others = readFile(dir.path("other.mp3"));
        writeFile(out, others);
        const RunResult r = runFastencc({dir.path("in.wav"), out, "-br", "32000", "-dm"});
        EXPECT_EQ(r.exitCode, 4);
        expectOneErrorLine(r, "was not made from this source stands there; it is not replaced");
        EXPECT_EQ(readFile(out), others);
    }
}

// An MP3 already small enough is copied, not encoded; its copy is up to date as an encoding is.
TEST(Outputs, ACopyUpToDateIsNotCopiedAgain)
{
    TempDir dir;
    writeFile(dir.path("small.mp3"), makeMp3(dir, 2.0));
    const RunResult first = runFastencc({dir.path("small.mp3"), dir.path("out.mp3"), "-br", "320000"});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(first.errLines(), std::vector<std::string>{"fastencc: already small: copied, not re-encoded"});
    const auto before = identity(dir.path("out.mp3"));
    const RunResult again = runFastencc({dir.path("small.mp3"), dir.path("out.mp3"), "-br", "320000"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.errLines(), std::vector<std::string>{"fastencc: up to date: not converted again"});
    EXPECT_EQ(identity(dir.path("out.mp3")), before);
}

// A source moved (its folder renamed), unchanged: its output is up to date, and its mark now
// names the new path, nothing else changed (every byte after the tag, the mode). A mark naming
// another path without the source's content (written before it was recorded), or a file of
// the same size and time but other bytes, is still another source's: never replaced.
TEST(Outputs, AMovedSourcesOutputIsUpToDateAndRenamed)
{
    const std::string upToDate = "fastencc: up to date: not converted again";
    TempDir dir;
    std::filesystem::create_directory(dir.path("old"));
    WavSpec spec;
    spec.seconds = 3.0;
    writeWav(dir.path("old/in.wav"), spec);
    const std::string out = dir.path("out.mp3");
    ASSERT_EQ(runFastencc({dir.path("old/in.wav"), out, "-br", "96000"}).exitCode, 0);
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    const std::string before = readFile(out);
    const std::string mark = *SourceMark::ReadFile(out);
    ASSERT_EQ(SourceMark::Field(mark, "content")->size(), 16u);
    std::filesystem::rename(dir.path("old"), dir.path("new"));
    const std::string source = dir.path("new/in.wav");

    const RunResult moved = runFastencc({source, out, "-br", "96000"});
    EXPECT_EQ(moved.exitCode, 0) << moved.err;
    EXPECT_EQ(moved.errLines(), std::vector<std::string>{upToDate});
    const std::string after = readFile(out);
    EXPECT_EQ(withoutId3v2(after), withoutId3v2(before));
    EXPECT_EQ(SourceMark::ReadFile(out), SourceMark::Renamed(mark, realPath(source)));
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(hasTemporary(dir));
    const auto renamed = identity(out);
    EXPECT_EQ(runFastencc({source, out, "-br", "96000"}).errLines(), std::vector<std::string>{upToDate});
    EXPECT_EQ(identity(out), renamed);

    // Not the same source: the same size and time, a byte changed in its middle; or a mark
    // that recorded no content.
    std::string otherBytes = readFile(source);
    otherBytes[otherBytes.size() / 2] = static_cast<char>(otherBytes[otherBytes.size() / 2] ^ 1);
    writeFile(dir.path("other.wav"), otherBytes);
    struct stat sourceStat {};
    ASSERT_EQ(stat(source.c_str(), &sourceStat), 0);
    const struct timespec sourceTimes[2] = {sourceStat.st_mtim, sourceStat.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, dir.path("other.wav").c_str(), sourceTimes, 0), 0);
    const RunResult other = runFastencc({dir.path("other.wav"), out, "-br", "96000"});
    EXPECT_EQ(other.exitCode, 4) << other.err;
    EXPECT_EQ(readFile(out), after);
    const std::string oldStyle = SourceMark::Renamed(SourceMark::Value(*SourceMark::Of(source), "br096000,mono0"), "/elsewhere/in.wav");
    writeFile(out, tagOf(SourceMark::Frame(oldStyle)) + withoutId3v2(after));
    const RunResult older = runFastencc({source, out, "-br", "96000"});
    EXPECT_EQ(older.exitCode, 4) << older.err;
}

// Up to date needs the output whole too: as long as its Info frame says, on every road an
// output is written by (one encoder, segments, our own Info frame at a low bitrate, a copy, a
// levelled copy, a copy of an MP3 whose Info frame counted wrong). Cut short after the fact,
// it is still its source's own: made again where it stands, and whole again.
TEST(Outputs, AnOutputCutShortIsMadeAgain)
{
    const std::string upToDate = "fastencc: up to date: not converted again";
    TempDir dir;
    WavSpec shortWav;
    shortWav.seconds = 3.0;
    writeWav(dir.path("short.wav"), shortWav);
    WavSpec longWav;
    longWav.seconds = 30.0;
    writeWav(dir.path("long.wav"), longWav);
    const std::string mp3 = makeMp3(dir, 3.0);
    writeFile(dir.path("small.mp3"), mp3);
    // The same MP3, its Info frame counting a frame more than the stream holds.
    std::string miscounted = mp3;
    const std::size_t info = miscounted.find("Info", mp3.size() - withoutId3v2(mp3).size());
    ASSERT_NE(info, std::string::npos);
    const std::size_t countAt = info + 12;
    std::uint32_t stated = 0;
    for (std::size_t i = 0; i < 4; ++i)
        stated = (stated << 8) | static_cast<unsigned char>(miscounted[countAt + i]);
    ASSERT_EQ(stated, withoutId3v2(mp3).size());
    stated += 417;
    for (std::size_t i = 0; i < 4; ++i)
        miscounted[countAt + i] = static_cast<char>(stated >> (24 - 8 * i));
    writeFile(dir.path("miscounted.mp3"), miscounted);

    const struct {
        const char* what;
        std::vector<std::string> args;
        double seconds;
    } roads[] = {
        {"one encoder", {dir.path("short.wav"), dir.path("one.mp3"), "-threads", "1"}, 3.0},
        {"segments", {dir.path("long.wav"), dir.path("segments.mp3"), "-threads", "2"}, 30.0},
        {"our own Info frame", {dir.path("short.wav"), dir.path("low.mp3"), "-br", "8000", "-dm"}, 3.0},
        {"a copy", {dir.path("small.mp3"), dir.path("copy.mp3"), "-br", "320000"}, 3.0},
        {"a levelled copy", {dir.path("small.mp3"), dir.path("levelled.mp3"), "-br", "320000", "-gain", "-3"}, 3.0},
        {"a copy of a miscounted MP3", {dir.path("miscounted.mp3"), dir.path("recounted.mp3"), "-br", "320000"}, 3.0},
    };
    for (const auto& road : roads) {
        SCOPED_TRACE(road.what);
        const std::string& out = road.args[1];
        const RunResult first = runFastencc(road.args);
        ASSERT_EQ(first.exitCode, 0) << first.err;
        const std::string whole = readFile(out);
        EXPECT_EQ(runFastencc(road.args).errLines(), std::vector<std::string>{upToDate});
        for (const std::size_t keep : {std::size_t {1000}, whole.size() - 1}) {
            SCOPED_TRACE(keep);
            ASSERT_EQ(truncate(out.c_str(), static_cast<off_t>(keep)), 0);
            const RunResult again = runFastencc(road.args);
            EXPECT_EQ(again.exitCode, 0) << again.err;
            EXPECT_EQ(again.err.find("up to date"), std::string::npos) << again.err;
            EXPECT_EQ(readFile(out).size(), whole.size());
            const Decoded d = decodeMp3(out);
            EXPECT_TRUE(d.ok);
            EXPECT_NEAR(d.seconds(), road.seconds, 0.05);
            EXPECT_EQ(runFastencc(road.args).errLines(), std::vector<std::string>{upToDate});
        }
        EXPECT_FALSE(hasTemporary(dir));
    }
}
