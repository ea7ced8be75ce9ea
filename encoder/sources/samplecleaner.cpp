#include "sources/samplecleaner.h"

void SampleCleaner::clean(float* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float s = samples[i];
        // Written without calls or branches so that the compiler vectorises it; NaN is the
        // only value unequal to itself, infinities are caught by the clamp.
        const float finite = s == s ? s : 0.0f;
        samples[i] = finite > 1.0f ? 1.0f : (finite < -1.0f ? -1.0f : finite);
    }
}
