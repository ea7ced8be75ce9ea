#include "planreader.h"

#include "statedlength.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace vardune {

const PlanReader::Output& PlanReader::At(const std::string& output)
{
    if (outputPath_ && *outputPath_ == output)
        return output_;
    outputPath_ = output;
    if (const auto kept = keptOutputs_.find(output); kept != keptOutputs_.end()) {
        output_ = std::move(kept->second);
        keptOutputs_.erase(kept);
        return output_;
    }
    output_ = Output {};
    struct stat st {};
    if (lstat(output.c_str(), &st) == 0) {
        output_.there = true;
        output_.regular = S_ISREG(st.st_mode);
        output_.bytes = static_cast<double>(st.st_size);
        if (output_.regular) {
            // Never blocks on a FIFO or a device put there since the look above.
            const int fd = open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            struct stat opened {};
            if (fd >= 0 && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
                output_.bytes = static_cast<double>(opened.st_size);
                output_.mark = SourceMark::Read(fd, static_cast<std::uint64_t>(opened.st_size));
                output_.whole = output_.mark && StatedLength::Whole(fd, static_cast<std::uint64_t>(opened.st_size));
            }
            if (fd >= 0)
                close(fd);
        }
    }
    if (keepAll_)
        keptOutputs_[output] = output_;
    return output_;
}

std::optional<SourceMark::Source> PlanReader::Source(const std::string& path)
{
    if (sourcePath_ && *sourcePath_ == path)
        return source_;
    sourcePath_ = path;
    if (const auto kept = keptSources_.find(path); kept != keptSources_.end()) {
        source_ = std::move(kept->second);
        keptSources_.erase(kept);
        return source_;
    }
    source_ = Resolve(path);
    if (keepAll_)
        keptSources_[path] = source_;
    return source_;
}

void PlanReader::Forget()
{
    outputPath_.reset();
    sourcePath_.reset();
}

PlanReader PlanReader::Hand()
{
    PlanReader reader;
    reader.folders_ = folders_;
    reader.keptOutputs_ = std::move(keptOutputs_);
    reader.keptSources_ = std::move(keptSources_);
    keptOutputs_.clear();
    keptSources_.clear();
    return reader;
}

std::optional<SourceMark::Source> PlanReader::Resolve(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size())
        return SourceMark::Of(path);
    const std::string folder = path.substr(0, slash);
    auto known = folders_.find(folder);
    if (known == folders_.end()) {
        char* real = realpath(folder.empty() ? "/" : folder.c_str(), nullptr);
        if (!real)
            return std::nullopt;
        known = folders_.emplace(folder, real).first;
        std::free(real);
    }
    const std::string name = path.substr(slash + 1);
    SourceMark::Source source;
    source.path = known->second == "/" ? "/" + name : known->second + "/" + name;
    struct stat st {};
    // A link, or a name the folder's real path does not simply end in ("." or ".."), is
    // resolved whole, as SourceMark::Of resolves it.
    if (name == "." || name == ".." || lstat(source.path.c_str(), &st) != 0 || S_ISLNK(st.st_mode))
        return SourceMark::Of(path);
    source.size = static_cast<std::uint64_t>(st.st_size);
    source.seconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    source.nanoseconds = st.st_mtim.tv_nsec;
    return source;
}

bool PlanReader::SomeoneElses(const std::string& output, const std::string& source)
{
    return At(output).there && !MadeFrom(output, source);
}

std::optional<std::string> PlanReader::MarkFor(const std::string& output, const std::string& source)
{
    const Output& at = At(output);
    if (!at.mark)
        return std::nullopt;
    const std::string mark = *at.mark;
    const auto now = Source(source);
    if (!now)
        return std::nullopt;
    return SourceMark::For(mark, *now, [this, path = now->path] {
        auto known = contents_.find(path);
        if (known == contents_.end())
            known = contents_.emplace(path, SourceMark::Content(path)).first;
        return known->second;
    });
}

bool PlanReader::MadeFrom(const std::string& output, const std::string& source)
{
    const auto mark = MarkFor(output, source);
    const auto marked = mark ? SourceMark::PathIn(*mark) : std::nullopt;
    const auto now = marked ? Source(source) : std::nullopt;
    return now && *marked == now->path;
}

bool PlanReader::Moved(const std::string& output, const std::string& source)
{
    const auto mark = MarkFor(output, source);
    return mark && At(output).mark && *mark != *At(output).mark;
}

bool PlanReader::UpToDate(const std::string& output, const std::string& source, const std::string& profile)
{
    if (profile.empty() || !At(output).whole)
        return false;
    const auto mark = MarkFor(output, source);
    const auto now = mark ? Source(source) : std::nullopt;
    return now && SourceMark::UpToDate(*mark, *now, profile);
}

SizeForecast::Standing PlanReader::Look(const std::string& output, const std::string& source)
{
    SizeForecast::Standing standing;
    const Output& at = At(output);
    if (!at.regular || !MadeFrom(output, source))
        return standing;
    standing.bytes = at.bytes;
    // One cut short is ours to replace, but made again whatever its profile.
    if (at.whole)
        standing.profile = SourceMark::MadeWith(*MarkFor(output, source), *Source(source)).value_or(std::string());
    return standing;
}

} // namespace vardune
