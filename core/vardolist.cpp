#include "vardolist.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardune {

std::string VardoList::GetFileSize(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return " ";
    // A file that cannot be read cannot be converted either: refuse it here, at the add.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return " ";
    close(fd);
    return " " + std::to_string(static_cast<unsigned long long>(st.st_size));
}

std::string VardoList::GetFileName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool VardoList::IsDuplicatedEntry(const std::string& path) const
{
    return waiting_.count(path) != 0;
}

void VardoList::CountWaiting(const VardoEntry& e, int delta)
{
    if (e.state != EntryState::Waiting)
        return;
    const std::string path = FullPath(e);
    auto it = waiting_.find(path);
    if (it == waiting_.end()) {
        if (delta > 0)
            waiting_.emplace(path, delta);
        return;
    }
    it->second += delta;
    if (it->second <= 0)
        waiting_.erase(it);
}

std::uint64_t VardoList::Append(const std::string& path, const std::string& sizeText, const std::string& root)
{
    VardoEntry e;
    e.root = root.empty() || root.back() == '/' ? root : root + '/';
    e.id = nextId_++;
    e.sourceName = GetFileName(path);
    e.sourcePath = path.substr(0, path.size() - e.sourceName.size());
    e.sourceSize = sizeText;
    CountWaiting(e, +1);
    entries_.push_back(std::move(e));
    return entries_.back().id;
}

long VardoList::Find(std::uint64_t id) const
{
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                                     [](const VardoEntry& e, std::uint64_t wanted) { return e.id < wanted; });
    if (it == entries_.end() || it->id != id)
        return -1;
    return static_cast<long>(it - entries_.begin());
}

void VardoList::SetState(std::uint64_t id, EntryState state)
{
    const long at = Find(id);
    if (at < 0)
        return;
    VardoEntry& e = entries_[static_cast<std::size_t>(at)];
    CountWaiting(e, -1);
    e.state = state;
    CountWaiting(e, +1);
}

void VardoList::SetResult(std::uint64_t id, const std::string& targetPath, const std::string& targetSize,
                          const std::string& rate, EntryState state)
{
    const long at = Find(id);
    if (at < 0)
        return;
    VardoEntry& e = entries_[static_cast<std::size_t>(at)];
    e.targetPath = targetPath;
    e.targetSize = targetSize;
    e.rate = rate;
    SetState(id, state);
}

void VardoList::SetConverting(std::uint64_t id, bool converting)
{
    const long at = Find(id);
    if (at < 0)
        return;
    VardoEntry& e = entries_[static_cast<std::size_t>(at)];
    e.converting = converting;
    e.percent = 0;
}

bool VardoList::SetPercent(std::uint64_t id, int percent)
{
    const long at = Find(id);
    if (at < 0)
        return false;
    entries_[static_cast<std::size_t>(at)].percent = percent;
    return true;
}

void VardoList::SetNote(std::uint64_t id, const std::string& note)
{
    const long at = Find(id);
    if (at >= 0)
        entries_[static_cast<std::size_t>(at)].note = note;
}

bool VardoList::Retry(std::uint64_t id)
{
    const long at = Find(id);
    if (at < 0)
        return false;
    VardoEntry& e = entries_[static_cast<std::size_t>(at)];
    if (e.state != EntryState::Failed || IsDuplicatedEntry(FullPath(e)))
        return false;
    e.targetPath.clear();
    e.targetSize.clear();
    e.rate.clear();
    e.note.clear();
    SetState(id, EntryState::Waiting);
    return true;
}

void VardoList::RemoveSelected(const std::vector<bool>& selected)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i < selected.size() && selected[i]) {
            CountWaiting(entries_[i], -1);
            continue;
        }
        if (kept != i)
            entries_[kept] = std::move(entries_[i]);
        ++kept;
    }
    entries_.resize(kept);
}

void VardoList::Clear()
{
    entries_.clear();
    waiting_.clear();
}

} // namespace vardune
