#pragma once

#include <cstddef>

// Float sources can hold anything; LAME aborts the process on NaN and distorts beyond full
// scale, and a filter spreads one bad sample over its whole length. Every sample is made
// finite and kept within [-1, 1] before it goes on.
class SampleCleaner {
public:
    static void clean(float* samples, std::size_t count);
};
