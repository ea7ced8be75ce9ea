#pragma once

#include "commandline.h"

#include <functional>
#include <string>

// The copy path. An MP3 whose bitrate is already at or below the one asked (and mono when
// mono is asked) only grows and loses sound when it is encoded again; it is written as it is
// instead: the same ID3v2 tag an encoding would carry, then its audio frames byte for byte,
// through the same temporary file and rename as an encoding. A damaged MP3 (junk inside, cut
// off) is left to the encoder, which repairs what it can and says what it could not.
class StreamCopy {
public:
    // What the caller is told of a file that was copied.
    static constexpr const char* kNote = "already small: copied, not re-encoded";

    // Copies the source to target (a path AtomicFile::resolveTarget gave) when the rule holds
    // and returns true; returns false, having written nothing, when the source is to be
    // encoded. progress gets whole percents 0..99 as the copy goes. Throws EncodeError.
    // What is copied is checked against what was surveyed: when the source changed in
    // between (cut off while it was copied), nothing is written, false is returned and
    // surveyedSeconds (when given) gets the playing time the survey found, so that the
    // encoding that follows can say what it lacks.
    // With a gain (options.gainDb), every audio frame's granules get the nearest gain step
    // that keeps the peak rule (GranuleGain), and levelledDb (when given) the gain applied.
    static bool copyIfSmall(const CommandLine& options, const std::string& target,
        const std::function<void(int)>& progress, double* surveyedSeconds = nullptr, double* levelledDb = nullptr);
};
