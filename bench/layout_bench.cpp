// Output paths planned for a tagged collection in memory: 10,000 files (500 albums of 20
// tracks, whose file names repeat from album to album) under each layout, and the numbering of
// the paths that collide as the batch numbers them. Usage: layout_bench [FILES] [RUNS].
// Prints the median of RUNS in milliseconds.
#include "batchwalk.h"
#include "outputlayout.h"
#include "takennames.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vardune;

namespace {

std::vector<OutputLayout::Source> Collection(int files)
{
    std::vector<OutputLayout::Source> sources;
    sources.reserve(static_cast<std::size_t>(files));
    for (int i = 0; i < files; ++i) {
        const int album = i / 20;
        const int track = i % 20 + 1;
        const std::string artist = "Artist " + std::to_string(album / 10) + (album % 3 == 0 ? " Bj\xc3\xb6rk" : "");
        const std::string albumName = "Album " + std::to_string(album) + (album % 7 == 0 ? ": Live?" : "");
        char number[8];
        std::snprintf(number, sizeof number, "%02d", track);
        OutputLayout::Source s;
        s.root = "/home/user/Music";
        s.path = s.root + "/" + artist + "/" + albumName + "/" + number + " Track.flac";
        s.tags.artist = artist;
        s.tags.albumArtist = album % 5 == 0 ? "Various Artists" : "";
        s.tags.album = albumName;
        s.tags.title = track % 9 == 0 ? "" : "Track " + std::to_string(track) + " of the album";
        s.tags.track = std::to_string(track) + "/20";
        s.tags.disc = album % 4 == 0 ? "1/2" : "";
        s.tags.year = "2001";
        s.tags.genre = "Rock";
        sources.push_back(std::move(s));
    }
    return sources;
}

// Plans every output and numbers the paths that collide, as the batch gives them out.
std::size_t PlanAll(const OutputLayout& layout, const std::vector<OutputLayout::Source>& sources,
                    const BatchWalk::NameRules& rules)
{
    TakenNames taken;
    std::size_t bytes = 0;
    const std::string folder = "/media/player/";
    for (const OutputLayout::Source& s : sources) {
        const OutputLayout::Plan plan = layout.PlanFor(s, rules);
        std::string path = folder + plan.Relative(rules);
        for (int k = 2; taken.Contains(path); ++k)
            path = folder + plan.Relative(rules, k);
        taken.Take(path);
        bytes += path.size();
    }
    return bytes;
}

template <typename F>
double MedianMs(int runs, F&& f)
{
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        f();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::vector<OutputLayout::Source> sources = Collection(files);
    BatchWalk::NameRules native;
    BatchWalk::NameRules fat;
    fat.portable = true;
    BatchWalk::NameRules fatAscii = fat;
    fatAscii.ascii = true;

    std::size_t sink = 0;
    const struct {
        const char* name;
        OutputLayout layout;
        BatchWalk::NameRules rules;
    } cases[] = {
        {"one folder, V_ names", OutputLayout(OutputLayout::Kind::OneFolder), native},
        {"keep the folders", OutputLayout(OutputLayout::Kind::KeepFolders), native},
        {"names from tags", OutputLayout(OutputLayout::Kind::NamesFromTags), native},
        {"names from tags, FAT", OutputLayout(OutputLayout::Kind::NamesFromTags), fat},
        {"names from tags, FAT in ASCII", OutputLayout(OutputLayout::Kind::NamesFromTags), fatAscii},
    };
    std::printf("%d files, median of %d runs\n", files, runs);
    for (const auto& c : cases) {
        const double ms = MedianMs(runs, [&] { sink += PlanAll(c.layout, sources, c.rules); });
        std::printf("  %-32s %8.1f ms\n", c.name, ms);
    }
    // The batch's own naming today, for comparison: every output into one folder.
    const double batch = MedianMs(runs, [&] {
        BatchWalk walk;
        const TakenNames running;
        for (const OutputLayout::Source& s : sources)
            sink += walk.OutputPath("/media/player/", s.path.substr(s.path.rfind('/') + 1), running, native).size();
    });
    std::printf("  %-32s %8.1f ms\n", "the batch's OutputPath (V_ names)", batch);
    return sink == 0;
}
