#include "recordkeeper.h"

#include "playlistcarrier.h"
#include "sourcemark.h"

#include <unistd.h>

#include <algorithm>
#include <set>

namespace vardune {

namespace {

// What waits before it is written: this many lines, or this long. Each writing reads the
// record through (its lines checked), so a re-run that records thousands of outputs found up to
// date writes a few times, not once per file.
constexpr std::size_t kPendingLines = 4096;
constexpr auto kPendingTime = std::chrono::seconds(2);

std::string FolderOfSource(const std::string& source)
{
    const auto slash = source.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : source.substr(0, slash);
}

} // namespace

RecordKeeper::RecordKeeper(const std::string& outputFolder)
    : folder_(outputFolder.empty() || outputFolder.back() == '/' ? outputFolder : outputFolder + '/'),
      tree_(outputFolder),
      flushed_(std::chrono::steady_clock::now())
{
    if (tree_.IsOpen())
        known_ = WrittenRecord::Read(tree_.Folder(std::string()));
    for (const auto& [path, entry] : known_.entries) {
        order_ = std::max(order_, entry.order);
        bySource_[entry.source].insert(path);
    }
}

RecordKeeper::~RecordKeeper()
{
    Flush();
}

std::string RecordKeeper::Relative(const std::string& path) const
{
    if (folder_.empty() || path.size() <= folder_.size() || path.compare(0, folder_.size(), folder_) != 0)
        return std::string();
    const std::string relative = path.substr(folder_.size());
    return OutputTree::Valid(relative) ? relative : std::string();
}

void RecordKeeper::Wrote(WrittenRecord::Kind kind, const std::string& path, const std::string& source)
{
    const std::string relative = Relative(path);
    if (relative.empty() || !tree_.IsOpen() || source.empty())
        return;
    auto st = tree_.Stat(relative);
    if (!st) {
        // A folder may have been removed and made again since it was opened: afresh.
        tree_.Forget();
        st = tree_.Stat(relative);
    }
    if (!st || !S_ISREG(st->st_mode))
        return;
    WrittenRecord::Entry entry;
    entry.kind = kind;
    entry.path = relative;
    entry.size = static_cast<std::uint64_t>(st->st_size);
    entry.seconds = st->st_mtim.tv_sec;
    entry.nanoseconds = st->st_mtim.tv_nsec;
    entry.source = source;
    const auto known = known_.entries.find(relative);
    if (known != known_.entries.end() && known->second.kind == kind && known->second.source == source
        && known->second.seconds == entry.seconds && WrittenRecord::Matches(known->second, *st))
        return;  // recorded as it stands
    if (kind == WrittenRecord::Kind::Output) {
        const std::string sourceFolder = FolderOfSource(source);
        auto place = places_.find(sourceFolder);
        if (place == places_.end())
            place = places_.emplace(sourceFolder, SourcePlace::Of(sourceFolder)).first;
        if (place->second) {
            entry.mount = place->second->mount;
            entry.fileSystem = place->second->id;
        }
    }
    entry.order = ++order_;
    if (known != known_.entries.end())
        bySource_[known->second.source].erase(relative);
    known_.entries[relative] = entry;
    bySource_[source].insert(relative);
    pending_.push_back({entry, false});
    if (pending_.size() >= kPendingLines || std::chrono::steady_clock::now() - flushed_ >= kPendingTime)
        Flush();
}

void RecordKeeper::Flush()
{
    flushed_ = std::chrono::steady_clock::now();
    if (pending_.empty() || !tree_.IsOpen())
        return;
    WrittenRecord::Append(tree_.Folder(std::string()), pending_);
    pending_.clear();
}

bool RecordKeeper::MarkedFrom(WrittenRecord::Kind kind, int fd, const std::string& source)
{
    if (kind == WrittenRecord::Kind::Output) {
        const auto mark = SourceMark::Read(fd);
        const auto named = mark ? SourceMark::PathIn(*mark) : std::nullopt;
        return named && *named == source;
    }
    if (kind == WrittenRecord::Kind::Playlist) {
        std::string head(8192, '\0');
        const ssize_t n = pread(fd, head.data(), head.size(), 0);
        if (n <= 0)
            return false;
        head.resize(static_cast<std::size_t>(n));
        const auto named = PlaylistCarrier::MarkedSource(head);
        return named && *named == source;
    }
    return true;  // a picture carries no mark: its record alone speaks for it
}

OutputTree::Spare RecordKeeper::PicturesOf(OutputTree& tree, const WrittenRecord::Contents& record)
{
    return [&tree, &record](const std::string& relative) {
        const auto entry = record.entries.find(relative);
        if (entry == record.entries.end() || entry->second.kind != WrittenRecord::Kind::Picture)
            return false;
        const auto st = tree.Stat(relative);
        return st && WrittenRecord::Matches(entry->second, *st);
    };
}

std::vector<std::string> RecordKeeper::Supersede(WrittenRecord::Kind kind, const std::string& source, const std::string& path)
{
    std::vector<std::string> removed;
    const std::string relative = Relative(path);
    if (relative.empty() || !tree_.IsOpen() || kind == WrittenRecord::Kind::Picture)
        return removed;
    std::vector<WrittenRecord::Entry> earlier;
    if (const auto paths = bySource_.find(source); paths != bySource_.end())
        for (const std::string& p : paths->second)
            if (const auto entry = known_.entries.find(p);
                p != relative && entry != known_.entries.end() && entry->second.kind == kind)
                earlier.push_back(entry->second);
    if (earlier.empty())
        return removed;
    // The successor is recorded before its predecessor goes.
    Flush();
    tree_.Forget();
    // Only while the successor stands whole where it was recorded.
    const auto now = tree_.Stat(relative);
    const auto successor = known_.entries.find(relative);
    if (!now || successor == known_.entries.end() || !WrittenRecord::Matches(successor->second, *now))
        return removed;
    std::vector<WrittenRecord::Event> events;
    std::vector<std::string> folders;
    for (const WrittenRecord::Entry& entry : earlier) {
        std::string why;
        const bool gone = tree_.RemoveFile(entry.path, [&](int fd, const struct stat& st, std::string& reason) {
            if (!WrittenRecord::Matches(entry, st)) {
                reason = "changed since Vardune wrote it";
                return false;
            }
            if (!MarkedFrom(kind, fd, source)) {
                reason = "no longer marked as made from its source";
                return false;
            }
            return true;
        }, why);
        if (!gone)
            continue;
        removed.push_back(entry.path);
        known_.entries.erase(entry.path);
        bySource_[source].erase(entry.path);
        events.push_back({entry, true});
        folders.push_back(OutputTree::FolderOf(entry.path));
    }
    std::vector<std::string> pictures;
    tree_.RemoveEmptyFolders(folders, PicturesOf(tree_, known_), pictures);
    for (const std::string& picture : pictures) {
        WrittenRecord::Entry entry;
        entry.path = picture;
        events.push_back({entry, true});
        if (const auto known = known_.entries.find(picture); known != known_.entries.end()) {
            bySource_[known->second.source].erase(picture);
            known_.entries.erase(known);
        }
    }
    if (tree_.IsOpen())
        WrittenRecord::Append(tree_.Folder(std::string()), events);
    return removed;
}

} // namespace vardune
