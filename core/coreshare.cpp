#include "coreshare.h"

#include <algorithm>
#include <cmath>

namespace vardune {

int CoreShare::SegmentsLeft(double seconds, int percent)
{
    if (!(seconds > 0))
        return 1;
    const double left = seconds * (100 - std::clamp(percent, 0, 100)) / 100.0;
    return std::max(1, static_cast<int>(std::min(1e6, std::ceil(left / kSegmentSeconds))));
}

CoreShare::Start CoreShare::ForStart(int freeCores, int cores, int waitingAfter, double seconds, double waitingSeconds)
{
    Start start;
    const int segments = SegmentsLeft(seconds);
    if (segments < 2)
        return start;  // too short to split: one encoder, as always
    // Each waiting file will want a core of its own; the rest is this one's.
    const int spare = std::max(1, freeCores) - std::max(0, waitingAfter);
    start.threads = std::clamp(spare, 1, std::min(segments, kMaxThreads));
    // It can outlast the files after it: fewer of them than cores, or all of them shorter
    // together than it is on the cores they share.
    // With one core for the whole batch there is never a core to lend; a file of a few
    // segments would gain less from one than its run-ins cost it.
    const bool outlasts = waitingAfter < cores || seconds * std::max(1, cores) > waitingSeconds;
    start.segmented = start.threads > 1 || (cores > 1 && segments >= kLendableSegments && outlasts);
    return start;
}

std::vector<int> CoreShare::Lend(int freeCores, const std::vector<Running>& running)
{
    std::vector<int> threads;
    for (const Running& r : running)
        threads.push_back(r.threads);
    for (int free = freeCores; free > 0; --free) {
        int best = -1;
        double bestShare = 1.0;
        for (std::size_t i = 0; i < running.size(); ++i) {
            const Running& r = running[i];
            if (!r.segmented || threads[i] >= std::min(r.segmentsLeft, kMaxThreads))
                continue;
            const double share = static_cast<double>(r.segmentsLeft) / threads[i];
            if (share > bestShare) {
                bestShare = share;
                best = static_cast<int>(i);
            }
        }
        if (best < 0)
            break;
        ++threads[static_cast<std::size_t>(best)];
    }
    return threads;
}

int CoreShare::TakeBackFrom(const std::vector<Running>& running)
{
    int best = -1;
    for (std::size_t i = 0; i < running.size(); ++i)
        if (running[i].segmented && running[i].threads > 1
            && (best < 0 || running[i].threads > running[static_cast<std::size_t>(best)].threads))
            best = static_cast<int>(i);
    return best;
}

} // namespace vardune
