#include "batchwalk.h"

#include "encodercommand.h"
#include "numerictext.h"
#include "pathtext.h"
#include "portablename.h"
#include "sourcemark.h"
#include "statedlength.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_set>

namespace vardune {

BatchWalk::BatchWalk(TakenNames::Fold fold)
    : outputs_(std::move(fold))
{
}

void BatchWalk::Start(const VardoList& list, const std::optional<std::vector<std::uint64_t>>& chosen)
{
    ids_.clear();
    std::unordered_set<std::uint64_t> only;
    if (chosen)
        only.insert(chosen->begin(), chosen->end());
    for (const VardoEntry& e : list.Entries())
        if (e.state == EntryState::Waiting && !e.converting && (!chosen || only.count(e.id)))
            ids_.push_back(e.id);
    at_ = 0;
    current_ = 0;
    outputs_ = TakenNames(outputs_.Folding());
}

std::optional<std::uint64_t> BatchWalk::Next(const VardoList& list)
{
    while (at_ < ids_.size()) {
        const std::uint64_t id = ids_[at_++];
        const long position = list.Find(id);
        if (position < 0)
            continue;
        const VardoEntry& e = list.At(static_cast<std::size_t>(position));
        if (e.state != EntryState::Waiting || e.converting)
            continue;
        ++current_;
        return id;
    }
    return std::nullopt;
}

std::string BatchWalk::OutputPath(const std::string& folder, const std::string& name, const TakenNames& running,
                                  const NameRules& rules, const std::string& source)
{
    // A byte that is not UTF-8 (a name from an old archive) becomes "_": every output's name
    // is text a card takes.
    const std::string text = PathText::NameText(name);
    std::string output = OutputName(rules.ascii ? PortableName::Ascii(text) : text);
    if (rules.portable)
        output = PortableName::Make(output);
    const auto dot = output.rfind('.');
    const std::string stem = output.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : output.substr(dot);
    return PlacePath(folder, [&](int k) {
        return PortableName::Fit(stem, k >= 2 ? " (" + std::to_string(k) + ")" : std::string(), extension, rules.maxBytes,
                                 rules.portable);
    }, running, source);
}

std::string BatchWalk::PlacePath(const std::string& folder, const std::function<std::string(int)>& relative,
                                 const TakenNames& running, const std::string& source)
{
    const auto someoneElses = [&](const std::string& path) {
        struct stat st {};
        if (source.empty())
            return false;
        if (someoneElses_)
            return someoneElses_(path, source);
        return lstat(path.c_str(), &st) == 0 && !SourceMark::MadeFrom(path, source);
    };
    const auto taken = [&](const std::string& path) {
        return outputs_.Contains(path) || running.Contains(path) || someoneElses(path);
    };
    std::string path = folder + relative(1);
    for (int k = 2; taken(path); ++k)
        path = folder + relative(k);
    outputs_.Take(path);
    return path;
}

bool BatchWalk::UpToDate(const std::string& output, const std::string& source, const std::string& profile)
{
    if (profile.empty())
        return false;
    const auto mark = SourceMark::ReadFile(output);
    const auto now = mark && StatedLength::WholeFile(output) ? SourceMark::Of(source) : std::nullopt;
    return now && SourceMark::UpToDate(SourceMark::For(*mark, *now, [&] { return SourceMark::Content(now->path); }), *now, profile);
}

std::size_t BatchWalk::NameMax(const std::string& folder)
{
    const long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return limit > 0 && limit < 255 ? static_cast<std::size_t>(limit) : 255;
}

int BatchWalk::JobLimit(const std::string& setting, int cores)
{
    const int fallback = std::clamp(cores, 1, kMaxJobs);
    const auto first = setting.find_first_not_of(' ');
    if (first == std::string::npos)
        return fallback;
    const auto last = setting.find_last_not_of(' ');
    // Only digits, with blanks around them: "2x", "-1", "1.5" and "0" are no setting.
    int value = 0;
    for (std::size_t i = first; i <= last; ++i) {
        if (setting[i] < '0' || setting[i] > '9')
            return fallback;
        value = std::min(value * 10 + (setting[i] - '0'), kMaxJobs);
    }
    return value >= 1 ? value : fallback;
}

std::string BatchWalk::CounterText(int n)
{
    const std::string text = "000" + std::to_string(n);
    return text.substr(text.size() - 3);
}

std::string BatchWalk::NormaliseOutputFolder(const std::string& folder)
{
    if (!folder.empty() && folder.back() != '/')
        return folder + '/';
    return folder;
}

std::string BatchWalk::OutputName(const std::string& name)
{
    std::string ending = name.size() > 4 ? name.substr(name.size() - 4) : std::string();
    for (char& c : ending)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return "V_" + name + (ending == ".MP3" ? "" : ".MP3");
}

std::optional<std::string> BatchWalk::RateText(const std::string& sourceSize, const std::string& targetSize)
{
    const double source = LeadingNumber(sourceSize);
    if (source == 0)
        return std::nullopt;
    const double rate = std::floor(LeadingNumber(targetSize) / source * 100);
    if (rate == 0 || !std::isfinite(rate))
        return std::nullopt;
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.0f", rate);
    return " " + std::string(digits) + "%";
}

BatchWalk::Outcome BatchWalk::Judge(int started, int exitStatus, const std::string& errorLine,
                                    const std::string& targetSizeText, const std::string& sourceSizeText)
{
    Outcome outcome;
    if (started != 0) {
        outcome.note = "the encoder could not be started";
        return outcome;
    }
    // "fastencc: not an audio file" reads "not an audio file" in the entry's tool tip.
    static const std::string program = "fastencc: ";
    const std::string words = errorLine.compare(0, program.size(), program) == 0 ? errorLine.substr(program.size()) : errorLine;
    if (exitStatus == kFolderFullStatus) {
        outcome.note = "the output folder is full";
        return outcome;
    }
    if (exitStatus == kFolderUnwritableStatus && words.empty()) {
        outcome.note = "the output folder can no longer be written";
        return outcome;
    }
    if (exitStatus != 0) {
        outcome.note = words.empty() ? "the encoder failed (exit status " + std::to_string(exitStatus) + ")" : words;
        return outcome;
    }
    outcome.writeTarget = true;
    outcome.targetSize = targetSizeText;
    if (LeadingNumber(targetSizeText) > 0) {
        outcome.state = EntryState::Done;
        // A converted file can still come with a warning (a source cut short) or a note (an MP3
        // already small enough was copied, a small source kept the output's bitrate to its
        // own, named by the quality): the user sees it where a failed entry says why.
        outcome.note = EncoderCommand::QualityWords(words);
        outcome.upToDate = words == kUpToDateNote;
    } else {
        outcome.note = "the encoder left no output";
    }
    outcome.rate = RateText(sourceSizeText, targetSizeText);
    return outcome;
}

} // namespace vardune
