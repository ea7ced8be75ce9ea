#include "batchprogress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vardune {

namespace {
// Too early to judge: the first seconds of a batch are start-up, not throughput.
constexpr double kMinSeconds = 2.0;
constexpr double kMinFraction = 0.01;
// Judged from the pace: half a second of steady percents is enough.
constexpr double kMinPaceSeconds = 0.5;
} // namespace

void BatchProgress::Start(const std::vector<std::pair<std::uint64_t, double>>& files)
{
    *this = BatchProgress();
    for (const auto& [id, bytes] : files) {
        File file;
        file.sourceBytes = bytes > 0 ? bytes : 0;
        // A file of unknown size still counts for something.
        file.weight = std::max(file.sourceBytes, 1.0);
        totalWeight_ += file.weight;
        files_[id] = file;
    }
}

void BatchProgress::Update(std::uint64_t id, int percent, std::optional<double> elapsedSeconds)
{
    const auto it = files_.find(id);
    if (it == files_.end() || it->second.finished)
        return;
    File& file = it->second;
    percent = std::clamp(percent, 0, 100);
    if (percent <= file.percent)
        return;
    doneWeight_ += file.weight * (percent - file.percent) / 100.0;
    file.percent = percent;
    if (!movedAt_ && elapsedSeconds) {
        movedAt_ = *elapsedSeconds;
        movedFraction_ = Fraction();
    }
}

void BatchProgress::Finish(std::uint64_t id, bool done, double targetBytes, bool upToDate)
{
    const auto it = files_.find(id);
    if (it == files_.end() || it->second.finished)
        return;
    Update(id, 100);
    File& file = it->second;
    file.finished = true;
    if (done && upToDate) {
        ++upToDate_;
    } else if (done) {
        ++done_;
        saved_ += file.sourceBytes - targetBytes;
    } else {
        ++failed_;
    }
}

double BatchProgress::Fraction() const
{
    if (totalWeight_ <= 0)
        return 1.0;
    return std::clamp(doneWeight_ / totalWeight_, 0.0, 1.0);
}

int BatchProgress::Percent() const
{
    // Rounding errors of the running sum must not show 100 before the last file ends.
    int percent = static_cast<int>(std::floor(Fraction() * 100.0 + 1e-9));
    if (percent >= 100 && std::any_of(files_.begin(), files_.end(), [](const auto& f) { return !f.second.finished; }))
        percent = 99;
    return percent;
}

std::optional<double> BatchProgress::SecondsLeft(double elapsedSeconds) const
{
    const double fraction = Fraction();
    if (movedAt_) {
        const double seconds = elapsedSeconds - *movedAt_;
        const double gained = fraction - movedFraction_;
        if (seconds >= kMinPaceSeconds && gained >= kMinFraction)
            return seconds * (1.0 - fraction) / gained;
    }
    if (elapsedSeconds < kMinSeconds || fraction < kMinFraction)
        return std::nullopt;
    return elapsedSeconds * (1.0 - fraction) / fraction;
}

std::string BatchProgress::Line(double elapsedSeconds) const
{
    std::string line = "Batch " + std::to_string(Percent()) + "% done, ";
    const auto left = SecondsLeft(elapsedSeconds);
    return line + (left ? TimeLeftText(*left) : std::string("estimating the time left"));
}

std::string BatchProgress::Summary() const
{
    // Outputs larger than their sources all told are shown as such, not as nothing saved.
    const std::string bytes = saved_ < 0 ? SizeText(-saved_) + " larger" : SizeText(saved_) + " saved";
    const std::string upToDate = upToDate_ > 0 ? std::to_string(upToDate_) + " up to date, " : std::string();
    return std::to_string(done_) + " done, " + upToDate + std::to_string(failed_) + " failed, " + bytes;
}

std::string BatchProgress::TimeLeftText(double seconds)
{
    // Coarser as the wait gets longer: nobody needs the seconds of an hour.
    long s = std::lround(std::max(seconds, 0.0));
    if (s < 60) {
        s = std::max(5L, (s + 4) / 5 * 5);
        return "about " + std::to_string(s) + " s left";
    }
    if (s < 3600) {
        s = (s + 5) / 10 * 10;
        const long minutes = s / 60, rest = s % 60;
        return "about " + std::to_string(minutes) + " min" + (rest ? " " + std::to_string(rest) + " s" : "") + " left";
    }
    const long minutes = (s + 30) / 60;
    const long hours = minutes / 60, rest = minutes % 60;
    return "about " + std::to_string(hours) + " h" + (rest ? " " + std::to_string(rest) + " min" : "") + " left";
}

std::string BatchProgress::SizeText(double bytes)
{
    const char* const units[] = {"kB", "MB", "GB", "TB"};
    if (bytes < 1000)
        return std::to_string(static_cast<long long>(std::max(bytes, 0.0))) + " B";
    int unit = -1;
    // 999,960 bytes is "1.0 MB", not "1000.0 kB".
    while (bytes >= 999.95 && unit < 3) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
    return text;
}

} // namespace vardune
