#pragma once

#include <cstdint>

// The pages of an Ogg file, checked one after the other: each must follow the one before
// (its checksum right, its sequence number the next of its stream, or the first page of a
// new link, as in files joined end to end).
class OggPages {
public:
    // Where the first damaged page lies, in frames at sampleRate: the position the last whole
    // page before the damage ends at; -1 when every page is whole. opus: the granule
    // positions count at 48 kHz.
    static std::int64_t firstDamage(int fd, int sampleRate, bool opus);
};
