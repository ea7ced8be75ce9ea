#include "sources/audiosource.h"

#include <algorithm>

AudioSource::~AudioSource() = default;

std::size_t AudioSource::chunkFrames(int channels)
{
    constexpr std::size_t kChunkBytes = 8192 * 2 * sizeof(float);
    constexpr std::size_t kMaxFrames = 8192;
    return std::clamp<std::size_t>(kChunkBytes / (sizeof(float) * static_cast<std::size_t>(std::max(channels, 1))), 1, kMaxFrames);
}
