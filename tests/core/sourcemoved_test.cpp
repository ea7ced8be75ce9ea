// A source moved (its library moved, a link repointed), unchanged: its output's mark names the
// old path, but the same size, time and content. The output is still its own and up to date,
// by every path that judges it; a mark written before the content was recorded, or a file of
// the same size and time but other bytes, is not.
#include "batchwalk.h"
#include "planreader.h"
#include "sourcemark.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace vardune;
namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Bytes(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// An output as the encoder writes one: its tag holding the mark, then a stream whose Info frame
// states its length.
std::string OutputWith(const std::string& value)
{
    const std::string frame = SourceMark::Frame(value);
    std::string tag = "ID3\x03";
    tag += std::string(2, '\0');
    for (int shift = 21; shift >= 0; shift -= 7)
        tag += static_cast<char>((frame.size() >> shift) & 0x7F);
    std::string stream = std::string("\xFF\xFB\x90\x00", 4) + std::string(32, '\0') + "Info" + std::string("\0\0\0\x02", 4);
    const std::uint32_t bytes = 417 * 3;
    for (int shift = 24; shift >= 0; shift -= 8)
        stream += static_cast<char>((bytes >> shift) & 0xFF);
    stream.resize(bytes, '\x11');
    return tag + frame + stream;
}

class SourceMovedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = ::testing::TempDir() + "sourcemoved-" + std::to_string(getpid());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

} // namespace

// The fingerprint reads the start, the middle and the end: a byte changed in any of them, or a
// length, tells two files apart; it is the same for the same bytes anywhere.
TEST_F(SourceMovedTest, ContentTellsFilesApartByTheirBytes)
{
    const std::string large = Bytes(1 << 20, 1);
    Write(dir_ + "/a", large);
    Write(dir_ + "/same", large);
    const std::string content = SourceMark::Content(dir_ + "/a");
    EXPECT_EQ(content.size(), 16u);
    EXPECT_EQ(SourceMark::Content(dir_ + "/same"), content);
    for (const std::size_t at : {std::size_t {0}, large.size() / 2, large.size() - 1}) {
        std::string changed = large;
        changed[at] = static_cast<char>(changed[at] ^ 1);
        Write(dir_ + "/changed", changed);
        EXPECT_NE(SourceMark::Content(dir_ + "/changed"), content) << at;
    }
    for (const std::size_t size : {std::size_t {0}, std::size_t {10}, std::size_t {5000}, std::size_t {12289}}) {
        Write(dir_ + "/small", large.substr(0, size));
        Write(dir_ + "/small2", large.substr(0, size));
        EXPECT_EQ(SourceMark::Content(dir_ + "/small"), SourceMark::Content(dir_ + "/small2")) << size;
        EXPECT_EQ(SourceMark::Content(dir_ + "/small").size(), 16u) << size;
    }
    EXPECT_EQ(SourceMark::Content(dir_ + "/nothing"), "");
    EXPECT_EQ(SourceMark::Content(dir_), "");
}

TEST_F(SourceMovedTest, AMarkNamesItsSourceMovedOnlyByAllItsFacts)
{
    SourceMark::Source source;
    source.path = "/new/A;1/01.flac";
    source.size = 4013311;
    source.seconds = 1700000000;
    source.nanoseconds = 250000000;
    SourceMark::Source old = source;
    old.path = "/old/A;1/01.flac";
    const std::string profile = SourceMark::Profile(96000, false);
    const std::string content = "0123456789abcdef";
    const std::string value = SourceMark::Value(old, profile, content);
    EXPECT_EQ(value, "path=/old/A%3B1/01.flac;size=4013311;mtime=1700000000.250000000;profile=br096000,mono0;content=0123456789abcdef");
    const auto now = [&] { return content; };
    EXPECT_TRUE(SourceMark::Moved(value, source, now));
    const std::string renamed = SourceMark::For(value, source, now);
    EXPECT_EQ(renamed, SourceMark::Value(source, profile, content));
    EXPECT_TRUE(SourceMark::UpToDate(renamed, source, profile));
    EXPECT_EQ(SourceMark::Renamed("size=1;path=/a;x=y", "/b;c"), "size=1;path=/b%3Bc;x=y");

    SourceMark::Source larger = source;
    larger.size += 1;
    SourceMark::Source touched = source;
    touched.nanoseconds += 1;
    bool asked = false;
    const struct {
        const char* what;
        std::string value;
        SourceMark::Source source;
        std::function<std::string()> content;
    } notMoved[] = {
        {"the same path", SourceMark::Value(source, profile, content), source, now},
        {"other bytes", value, source, [] { return std::string("fedcba9876543210"); }},
        {"a source that cannot be read", value, source, [] { return std::string(); }},
        {"another size", value, larger, [&] { asked = true; return content; }},
        {"touched", value, touched, [&] { asked = true; return content; }},
        {"a mark without its content", SourceMark::Value(old, profile), source, now},
        {"a content field of another form", value.substr(0, value.size() - 1), source, [] { return std::string("0123456789abcde"); }},
    };
    for (const auto& c : notMoved) {
        EXPECT_FALSE(SourceMark::Moved(c.value, c.source, c.content)) << c.what;
        EXPECT_EQ(SourceMark::For(c.value, c.source, c.content), c.value) << c.what;
    }
    EXPECT_FALSE(asked) << "the content is read only when all else agrees";
}

// A library moved: the plan, the forecast and the batch's look all take the output as the
// source's own and up to date; a mark of before the content was recorded keeps its old
// meaning (another source's: numbered past), and so does a same-sized file of other bytes.
TEST_F(SourceMovedTest, EveryPathTakesTheMovedSourcesOutputAsItsOwn)
{
    const std::string bytes = Bytes(50000, 7);
    Write(dir_ + "/old/a.wav", bytes);
    const std::string old = dir_ + "/old/a.wav";
    const std::string profile = SourceMark::Profile(128000, false);
    const auto was = *SourceMark::Of(old);
    const std::string withContent = SourceMark::Value(was, profile, SourceMark::Content(old));
    const std::string withoutContent = SourceMark::Value(was, profile);
    fs::rename(dir_ + "/old", dir_ + "/new");
    const std::string source = dir_ + "/new/a.wav";
    const std::string output = dir_ + "/out/V_a.wav.MP3";
    std::string otherBytes = bytes;
    otherBytes[25000] = static_cast<char>(otherBytes[25000] ^ 1);
    const std::string other = dir_ + "/new/b.wav";
    Write(other, otherBytes);
    struct stat st {};
    ASSERT_EQ(stat(source.c_str(), &st), 0);
    const struct timespec times[2] = {st.st_mtim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), times, 0), 0);

    const struct {
        const char* what;
        std::string value;
        std::string source;
        bool own;
    } cases[] = {
        {"moved", withContent, source, true},
        {"a mark without its content", withoutContent, source, false},
        {"the same size and time, other bytes", withContent, other, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write(output, OutputWith(c.value));
        EXPECT_EQ(BatchWalk::UpToDate(output, c.source, profile), c.own);
        EXPECT_EQ(SourceMark::MadeFrom(output, c.source), c.own);
        PlanReader reader;
        EXPECT_EQ(reader.MadeFrom(output, c.source), c.own);
        EXPECT_EQ(reader.SomeoneElses(output, c.source), !c.own);
        EXPECT_EQ(reader.UpToDate(output, c.source, profile), c.own);
        EXPECT_EQ(reader.Moved(output, c.source), c.own);
        EXPECT_EQ(reader.Look(output, c.source).profile, c.own ? profile : std::string());
    }
    // Where it stood, unchanged, it is not moved.
    Write(output, OutputWith(SourceMark::Value(*SourceMark::Of(source), profile, SourceMark::Content(source))));
    PlanReader reader;
    EXPECT_TRUE(reader.UpToDate(output, source, profile));
    EXPECT_FALSE(reader.Moved(output, source));
}
