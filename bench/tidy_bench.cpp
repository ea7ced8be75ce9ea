// Tidy the Player over a large output tree: FILES outputs (albums of 20 tracks), each marked
// with its source and written into the output folder's record as a batch records them, of
// which ORPHANS have lost their sources. Each round puts the orphans (and their record lines)
// back, then times Tidy as the window and `vardune --convert --tidy` run it: the look over the
// tree (record, sources, leftovers) and the removal of what it offers.
// Usage: tidy_bench FOLDER [FILES] [ORPHANS] [RUNS]. Makes FOLDER/lib and FOLDER/out (on the
// file system under test, e.g. a FAT card); prints each round and the median in milliseconds.
#include "playertidy.h"
#include "recordkeeper.h"
#include "sourcemark.h"
#include "writtenrecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace vardune;
namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// An output as the encoder writes one: a tag with the mark naming its source, then frames.
std::string MarkedFor(const std::string& source)
{
    const std::string frame = SourceMark::Frame(SourceMark::Value(*SourceMark::Of(source), SourceMark::Profile(96000, false)));
    std::string tag = "ID3\x03";
    tag += std::string(2, '\0');
    for (int shift = 21; shift >= 0; shift -= 7)
        tag += static_cast<char>((frame.size() >> shift) & 0x7F);
    return tag + frame + std::string(4000, '\xff');
}

std::string Track(int i)
{
    char name[64];
    std::snprintf(name, sizeof name, "Album %03d/%02d Track.", i / 20, i % 20 + 1);
    return name;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tidy_bench FOLDER [FILES] [ORPHANS] [RUNS]\n");
        return 2;
    }
    const std::string root = fs::absolute(argv[1]).string();
    const int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int orphans = argc > 3 ? std::atoi(argv[3]) : 100;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 5;
    const std::string lib = root + "/lib";
    const std::string out = root + "/out";
    fs::remove_all(lib);
    fs::remove_all(out);
    for (int i = 0; i < files; i += 20) {
        fs::create_directories(lib + "/" + Track(i).substr(0, 9));
        fs::create_directories(out + "/" + Track(i).substr(0, 9));
    }
    // Every output, recorded in one go as a batch's keeper writes what waits.
    {
        RecordKeeper keeper(out);
        for (int i = 0; i < files; ++i) {
            const std::string source = lib + "/" + Track(i) + "flac";
            Write(source, "source " + std::to_string(i));
            Write(out + "/" + Track(i) + "mp3", MarkedFor(source));
            keeper.Wrote(WrittenRecord::Kind::Output, out + "/" + Track(i) + "mp3", fs::canonical(source).string());
        }
    }
    // The orphans: spread over the albums, their sources deleted.
    std::vector<int> orphaned;
    for (int k = 0; k < orphans; ++k)
        orphaned.push_back(k * files / std::max(1, orphans));
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        {
            RecordKeeper keeper(out);
            for (const int i : orphaned) {
                const std::string source = lib + "/" + Track(i) + "flac";
                Write(source, "source " + std::to_string(i));
                const std::string real = fs::canonical(source).string();
                Write(out + "/" + Track(i) + "mp3", MarkedFor(source));
                keeper.Wrote(WrittenRecord::Kind::Output, out + "/" + Track(i) + "mp3", real);
            }
        }
        for (const int i : orphaned)
            fs::remove(lib + "/" + Track(i) + "flac");
        sync();
        const auto start = std::chrono::steady_clock::now();
        const PlayerTidy tidy({lib}, {});
        const std::time_t cutoff = std::time(nullptr) - 60;
        const PlayerTidy::Scan scan = tidy.Look(out, cutoff);
        const PlayerTidy::Removal removal = tidy.Remove(out, scan, scan.unwanted, cutoff);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (removal.removed.size() != orphaned.size()) {
            std::fprintf(stderr, "round %d removed %zu of %zu orphans\n", run + 1, removal.removed.size(), orphaned.size());
            return 1;
        }
        std::printf("round %d: %.1f ms (%zu removed of %d files)\n", run + 1, ms, removal.removed.size(), files);
        std::fflush(stdout);
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("tidy of %d outputs, %d orphans: median %.1f ms, min %.1f, max %.1f (%d rounds)\n", files, orphans,
                times[times.size() / 2], times.front(), times.back(), runs);
    fs::remove_all(lib);
    fs::remove_all(out);
    return 0;
}
