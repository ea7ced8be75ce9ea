#include "playertidy.h"

#include "encoderleftover.h"
#include "outputtree.h"
#include "playlistcarrier.h"
#include "recordkeeper.h"
#include "sourceplace.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>

namespace vardune {

namespace {

std::string Trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string Real(const std::string& path)
{
    if (path.empty())
        return path;
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer))
        return buffer;
    return Trimmed(path);
}

std::string Parent(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + '/' + name;
}

using Entry = WrittenRecord::Entry;

// The record's outputs whose files stand as recorded, by source, in the order written.
std::map<std::string, std::vector<const Entry*>> StandingOutputs(OutputTree& tree, const WrittenRecord::Contents& record)
{
    std::map<std::string, std::vector<const Entry*>> bySource;
    for (const auto& [path, entry] : record.entries) {
        if (entry.kind != WrittenRecord::Kind::Output)
            continue;
        const auto st = tree.Stat(path);
        if (st && WrittenRecord::Matches(entry, *st))
            bySource[entry.source].push_back(&entry);
    }
    for (auto& [source, entries] : bySource)
        std::sort(entries.begin(), entries.end(), [](const Entry* a, const Entry* b) { return a->order < b->order; });
    return bySource;
}

SourcePlace::Place PlaceOf(const Entry& entry)
{
    return {entry.mount, entry.fileSystem};
}

bool Marked(OutputTree& tree, const Entry& entry)
{
    const int fd = tree.OpenFile(entry.path);
    if (fd < 0)
        return false;
    const bool marked = RecordKeeper::MarkedFrom(entry.kind, fd, entry.source);
    close(fd);
    return marked;
}

std::string ReadFile(OutputTree& tree, const std::string& path, std::size_t limit, bool& ok)
{
    ok = false;
    const int fd = tree.OpenFile(path);
    if (fd < 0)
        return std::string();
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0)
            break;
        if (n == 0) {
            ok = true;
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > limit)
            break;
    }
    close(fd);
    return bytes;
}

} // namespace

PlayerTidy::PlayerTidy(const std::vector<std::string>& folders, const std::vector<std::string>& files)
{
    for (const std::string& folder : folders)
        if (!folder.empty())
            folders_.insert(Real(folder));
    for (const std::string& file : files)
        if (!file.empty())
            files_.insert(Real(file));
}

bool PlayerTidy::InList(const std::string& sourcePath) const
{
    if (sourcePath.empty())
        return false;
    if (files_.count(sourcePath))
        return true;
    // Each folder above the source, nearest first: a long list costs a look-up per level.
    for (std::string above = Parent(sourcePath); !above.empty(); above = above == "/" ? std::string() : Parent(above))
        if (folders_.count(above))
            return true;
    return false;
}

const char* PlayerTidy::WhyText(Why why)
{
    switch (why) {
    case Why::SourceGone:
        return "its source is gone";
    case Why::Replaced:
        return "replaced by a newer output of its source";
    case Why::Leftover:
        return "left unfinished by an encoder that was stopped";
    case Why::NotInList:
        return "its source is no longer in the Vardo list";
    }
    return "";
}

PlayerTidy::Scan PlayerTidy::Look(const std::string& outputFolder, std::time_t leftoverCutoff) const
{
    Scan scan;
    OutputTree tree(outputFolder);
    if (!tree.IsOpen())
        return scan;
    scan.opened = true;
    scan.device = tree.Device();
    scan.inode = tree.Inode();
    // The folders holding names of an encoder's temporary form; each is then judged (no encoder
    // holds it, unchanged since the cutoff). Listing only: what is removed is judged again
    // through the tree's descriptors.
    std::set<std::string> temporaries;
    tree.Walk([&](const std::string& folder, int, const std::string& name, unsigned char type) {
        if (type == DT_REG && EncoderLeftover::IsTemporaryName(name))
            temporaries.insert(folder);
    });
    const std::string root = outputFolder.empty() || outputFolder.back() == '/' ? outputFolder : outputFolder + '/';
    for (const std::string& folder : temporaries)
        for (const std::string& name : EncoderLeftover::Find(folder.empty() ? root : root + folder, leftoverCutoff))
            scan.unwanted.push_back({Join(folder, name), std::string(), Why::Leftover});
    const WrittenRecord::Contents record = WrittenRecord::Read(tree.Folder(std::string()));
    scan.record = record.state;
    if (record.state == WrittenRecord::State::Kept) {
        for (const auto& [source, entries] : StandingOutputs(tree, record)) {
            // Every output of a source but its latest is replaced by it.
            for (std::size_t i = 0; i + 1 < entries.size(); ++i)
                if (Marked(tree, *entries[i]))
                    scan.unwanted.push_back({entries[i]->path, source, Why::Replaced});
            const Entry& latest = *entries.back();
            switch (SourcePlace::Judge(source, PlaceOf(latest))) {
            case SourcePlace::Standing::Gone:
                if (Marked(tree, latest))
                    scan.unwanted.push_back({latest.path, source, Why::SourceGone});
                break;
            case SourcePlace::Standing::Unreachable:
                ++scan.unreachable;
                break;
            case SourcePlace::Standing::Present:
                if (!InList(source) && Marked(tree, latest))
                    scan.outOfList.push_back({latest.path, source, Why::NotInList});
                break;
            }
        }
    }
    const auto byPath = [](const Item& a, const Item& b) { return a.path < b.path; };
    std::sort(scan.unwanted.begin(), scan.unwanted.end(), byPath);
    std::sort(scan.outOfList.begin(), scan.outOfList.end(), byPath);
    return scan;
}

PlayerTidy::Removal PlayerTidy::Remove(const std::string& outputFolder, const Scan& scan, const std::vector<Item>& chosen,
                                       std::time_t leftoverCutoff) const
{
    Removal result;
    OutputTree tree(outputFolder);
    if (!tree.IsOpen() || !scan.opened || tree.Device() != scan.device || tree.Inode() != scan.inode) {
        for (const Item& item : chosen)
            result.kept.emplace_back(item.path, "the output folder is no longer the one looked at");
        return result;
    }
    const WrittenRecord::Contents record = WrittenRecord::Read(tree.Folder(std::string()));
    const bool kept = record.state == WrittenRecord::State::Kept;
    const auto bySource = kept ? StandingOutputs(tree, record) : std::map<std::string, std::vector<const Entry*>>();
    std::vector<WrittenRecord::Event> events;
    std::set<std::string> removed;
    std::vector<std::string> folders;

    for (const Item& item : chosen) {
        std::string why;
        if (item.why == Why::Leftover) {
            const int dirfd = OutputTree::Valid(item.path) ? tree.Folder(OutputTree::FolderOf(item.path)) : -1;
            if (dirfd >= 0 && EncoderLeftover::RemoveIfLeftover(dirfd, OutputTree::NameOf(item.path), leftoverCutoff)) {
                result.removed.push_back(item.path);
                folders.push_back(OutputTree::FolderOf(item.path));
            } else {
                result.kept.emplace_back(item.path, "an encoder holds it, or it is no longer where it was");
            }
            continue;
        }
        const auto found = record.entries.find(item.path);
        if (!kept || found == record.entries.end() || found->second.kind != WrittenRecord::Kind::Output
            || found->second.source != item.source) {
            result.kept.emplace_back(item.path, "the record no longer names it as Vardune's");
            continue;
        }
        const Entry& entry = found->second;
        // Still unwanted for the reason it was listed.
        const auto sameSource = bySource.find(entry.source);
        const bool newer = sameSource != bySource.end() && sameSource->second.back()->order > entry.order;
        const SourcePlace::Standing standing = SourcePlace::Judge(entry.source, PlaceOf(entry));
        if (item.why == Why::Replaced && !newer)
            why = "no newer output of its source stands now";
        else if (item.why == Why::SourceGone && standing != SourcePlace::Standing::Gone)
            why = standing == SourcePlace::Standing::Present ? "its source is back" : "its source is out of reach";
        else if (item.why == Why::NotInList && (standing != SourcePlace::Standing::Present || InList(entry.source)))
            why = "its source is in the list again, or out of reach";
        if (why.empty()
            && tree.RemoveFile(entry.path,
                               [&](int fd, const struct stat& st, std::string& reason) {
                                   if (!WrittenRecord::Matches(entry, st)) {
                                       reason = "changed since Vardune wrote it";
                                       return false;
                                   }
                                   if (!RecordKeeper::MarkedFrom(entry.kind, fd, entry.source)) {
                                       reason = "no longer carries the mark of its source";
                                       return false;
                                   }
                                   return true;
                               },
                               why)) {
            result.removed.push_back(entry.path);
            removed.insert(entry.path);
            events.push_back({entry, true});
            folders.push_back(OutputTree::FolderOf(entry.path));
            continue;
        }
        result.kept.emplace_back(item.path, why);
    }

    // Playlists Vardune wrote that named a removed output: written again without it.
    if (kept && !removed.empty()) {
        for (const auto& [path, entry] : record.entries) {
            if (entry.kind != WrittenRecord::Kind::Playlist)
                continue;
            const auto st = tree.Stat(path);
            if (!st || !WrittenRecord::Matches(entry, *st) || !Marked(tree, entry))
                continue;
            bool read = false;
            const std::string text = ReadFile(tree, path, PlaylistCarrier::kMaxBytes, read);
            if (!read)
                continue;
            std::size_t left = 0;
            const std::string without = PlaylistCarrier::Without(text, OutputTree::FolderOf(path), removed, left);
            if (without == text)
                continue;
            std::string why;
            if (left == 0) {
                if (tree.RemoveFile(path, [&](int, const struct stat& now, std::string&) { return WrittenRecord::Matches(entry, now); }, why)) {
                    result.playlistsRemoved.push_back(path);
                    events.push_back({entry, true});
                    folders.push_back(OutputTree::FolderOf(path));
                }
                continue;
            }
            if (!tree.Replace(path, without, why))
                continue;
            result.playlistsWritten.push_back(path);
            if (const auto now = tree.Stat(path)) {
                Entry rewritten = entry;
                rewritten.size = static_cast<std::uint64_t>(now->st_size);
                rewritten.seconds = now->st_mtim.tv_sec;
                rewritten.nanoseconds = now->st_mtim.tv_nsec;
                events.push_back({rewritten, false});
            }
        }
    }

    std::vector<std::string> pictures;
    result.foldersRemoved = tree.RemoveEmptyFolders(folders, RecordKeeper::PicturesOf(tree, record), pictures);
    for (const std::string& picture : pictures) {
        result.picturesRemoved.push_back(picture);
        Entry entry;
        entry.path = picture;
        events.push_back({entry, true});
    }
    if (kept)
        WrittenRecord::Append(tree.Folder(std::string()), events);
    return result;
}

} // namespace vardune
