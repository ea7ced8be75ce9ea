#include "consoletidy.h"

#include "playertidy.h"

#include <ctime>

ConsoleTidy::ConsoleTidy(const std::vector<std::string>& sources, const std::string& outputFolder)
    : sources_(sources), folder_(outputFolder)
{
}

std::string ConsoleTidy::Run(ConsoleOutput& output, bool dryRun, bool& failed) const
{
    failed = false;
    const vardune::PlayerTidy tidy(sources_, sources_);
    // A temporary file an encoder still writes changes as it goes, and holds its lock.
    const std::time_t cutoff = std::time(nullptr) - 60;
    const vardune::PlayerTidy::Scan scan = tidy.Look(folder_, cutoff);
    const std::string prefix = folder_.empty() || folder_.back() == '/' ? folder_ : folder_ + '/';
    if (scan.record == vardune::WrittenRecord::State::Damaged)
        ConsoleOutput::Warn("the record of what Vardune wrote in " + ConsoleOutput::Printable(folder_)
                            + " is damaged: nothing there can be proven Vardune's, nothing is removed");
    if (scan.unwanted.empty())
        return std::string();
    if (dryRun) {
        for (const auto& item : scan.unwanted)
            output.Report(item.source, prefix + item.path, "would remove", vardune::PlayerTidy::WhyText(item.why), 0);
        return std::to_string(scan.unwanted.size()) + " would be removed by tidying";
    }
    const vardune::PlayerTidy::Removal result = tidy.Remove(folder_, scan, scan.unwanted, cutoff);
    std::size_t at = 0;
    for (const auto& item : scan.unwanted) {
        const bool gone = at < result.removed.size() && result.removed[at] == item.path;
        if (gone) {
            ++at;
            output.Report(item.source, prefix + item.path, "removed", vardune::PlayerTidy::WhyText(item.why), 0);
        }
    }
    for (const auto& [path, why] : result.kept) {
        std::string source;
        for (const auto& item : scan.unwanted)
            if (item.path == path)
                source = item.source;
        output.Report(source, prefix + path, "kept", why, 0);
    }
    failed = !result.kept.empty();
    std::string said = std::to_string(result.removed.size()) + " removed by tidying";
    if (!result.kept.empty())
        said += ", " + std::to_string(result.kept.size()) + " kept";
    return said;
}
