#include "coreshare.h"

#include <gtest/gtest.h>

using vardune::CoreShare;

// A file about to start takes the cores the files after it cannot use, and is started so it
// can take more later when it may outlast them.
TEST(CoreShare, AFileStartsWithTheCoresTheOthersCannotUse)
{
    const double minute = 60;
    const struct {
        const char* what;
        int freeCores, cores, waitingAfter;
        double seconds, waitingSeconds;
        int threads;
        bool segmented;
    } cases[] = {
        {"one long file alone", 4, 4, 0, 60 * minute, 0, 4, true},
        {"one long file, two after it", 4, 4, 2, 60 * minute, 8 * minute, 2, true},
        {"an hour first, eleven songs after", 2, 2, 11, 60 * minute, 44 * minute, 1, true},
        {"a song among many", 2, 2, 11, 4 * minute, 44 * minute, 1, false},
        {"the last songs of a batch", 2, 2, 1, 4 * minute, 4 * minute, 1, true},
        {"the last short pieces of a batch", 2, 2, 1, 1 * minute, 1 * minute, 1, false},
        {"never more cores than segments", 8, 8, 0, 30, 0, 3, true},
        {"too short to split", 4, 4, 0, 10, 0, 1, false},
        {"playing time unknown", 4, 4, 0, 0, 0, 1, false},
        {"no core free, yet it must start", 0, 2, 0, 60 * minute, 0, 1, true},
        {"one core for the batch: one encoder", 1, 1, 0, 60 * minute, 0, 1, false},
    };
    for (const auto& c : cases) {
        const CoreShare::Start start = CoreShare::ForStart(c.freeCores, c.cores, c.waitingAfter, c.seconds, c.waitingSeconds);
        EXPECT_EQ(start.threads, c.threads) << c.what;
        EXPECT_EQ(start.segmented, c.segmented) << c.what;
    }
}

// Free cores go, one at a time, to the running file with the most segments left per core;
// a file that cannot take more (one encoder, or no more segments) gets none.
TEST(CoreShare, FreeCoresGoWhereMostIsLeft)
{
    using R = CoreShare::Running;
    EXPECT_EQ(CoreShare::Lend(3, {R {1, 100, true}, R {1, 10, true}}), (std::vector<int> {4, 1}));
    EXPECT_EQ(CoreShare::Lend(3, {R {1, 30, true}, R {1, 20, true}}), (std::vector<int> {3, 2}));
    EXPECT_EQ(CoreShare::Lend(4, {R {1, 100, false}, R {1, 2, true}}), (std::vector<int> {1, 2}));
    EXPECT_EQ(CoreShare::Lend(2, {R {2, 2, true}}), (std::vector<int> {2}));
    EXPECT_EQ(CoreShare::Lend(0, {R {1, 50, true}}), (std::vector<int> {1}));
    // Taken back from the one that works on the most, never below one.
    EXPECT_EQ(CoreShare::TakeBackFrom({R {2, 9, true}, R {3, 9, true}, R {1, 9, true}}), 1);
    EXPECT_EQ(CoreShare::TakeBackFrom({R {1, 9, true}, R {4, 9, false}}), -1);
    EXPECT_EQ(CoreShare::SegmentsLeft(117, 50), 5);
    EXPECT_EQ(CoreShare::SegmentsLeft(117, 100), 1);
}
