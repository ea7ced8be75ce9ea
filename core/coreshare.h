#pragma once
#include <vector>

namespace vardune {

// How the batch hands out the processor cores among its encoders. The encoder can spread one
// file over several cores (segments of the sound encoded at once) and take more or fewer cores
// between segments when told. Many files fill the cores best one core each; a file that runs
// while nothing waits to start should get the cores that are free, so that no core idles while
// a running file still has more than one segment left.
class CoreShare {
public:
    // The sound one segment of the encoder holds: 448 MPEG frames, about 11.7 s at 44.1 kHz
    // (and at the lower rates of the lower bitrates, at least as long).
    static constexpr double kSegmentSeconds = 11.7;
    static constexpr int kMaxThreads = 64;
    // A file started on one core is made able to take more only when it is at least this
    // long: each segment costs its encoder a run-in of frames it throws away.
    static constexpr int kLendableSegments = 8;

    // Segments of a file of this playing time still to encode when it is percent done; 1 for a
    // file of unknown time (0 seconds), which is never split.
    static int SegmentsLeft(double seconds, int percent = 0);

    struct Start {
        int threads = 1;         // cores it works on from the start
        bool segmented = false;  // started so that it can take more cores later
    };
    // A file about to start: free cores (this one's included), the cores of the whole batch,
    // how many files wait to start after it and their playing time. It takes the free cores
    // that the waiting files cannot use; it is started so that it can take more later when it
    // may outlast them (it is long, and they are few or short).
    static Start ForStart(int freeCores, int cores, int waitingAfter, double seconds, double waitingSeconds);

    // One running encoder, as the lending sees it.
    struct Running {
        int threads = 1;
        int segmentsLeft = 1;
        bool segmented = false;  // it can take more or fewer cores
    };
    // Nothing waits to start and cores are free: the cores each running encoder works on from
    // now, a free core at a time to the one with the most segments left per core, never more
    // than it has segments left.
    static std::vector<int> Lend(int freeCores, const std::vector<Running>& running);
    // A file waits to start and no core is free: one core taken back from the encoder that
    // works on the most (it gives it up at its next segment), or -1 when none works on more
    // than one.
    static int TakeBackFrom(const std::vector<Running>& running);
};

} // namespace vardune
