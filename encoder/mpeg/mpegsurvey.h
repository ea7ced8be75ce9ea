#pragma once

#include <cstdint>
#include <string>

// What the frames of an MPEG audio file say about its sound: how many there are, their
// average bitrate, whether every one is mono, and whether they chain from start to end
// without junk or a cut. It decides whether an MP3 is already as small as asked. A joined
// file (parts at other rates, or with Info frames of their own) is counted whole, its length
// at the first part's rate as the conversion resamples it.
class MpegSurvey {
public:
    int layer = 0;
    int sampleRate = 0;
    int samplesPerFrame = 0;
    bool mono = true;                // every audio frame is single-channel (where the channel count
                                     // changes: the first audio frame is; the rest is mixed to it)
    std::int64_t audioFrames = 0;    // the Info frame not counted
    double averageKbps = 0;          // of the audio frames, by their playing time
    std::int64_t streamBytes = 0;    // every frame that counts, the Info frame included
    std::int64_t decodedFrames = 0;  // sample frames a gapless decoder gives
    bool clean = true;               // no junk inside, not cut off
    bool exact = true;               // every frame was read; false: figures from the Info frame or the first frames
    int parts = 1;                   // files joined end to end (see MpegFrameChain)
    bool uniform = true;             // one part, and all of it mono or none of it
    bool freeFormat = false;         // some frames are free format (few players play them)
    bool infoTrue = true;            // no Info frame tells of more or fewer frames than its part has

    // Reads every frame from start (the first frame, as MpegDetector found it). Throws
    // EncodeError when the file cannot be read.
    static MpegSurvey full(int fd, std::int64_t start, const std::string& path);
    // Reads the Info frame (or, for a file without one whose first frames share one bitrate,
    // only those) and takes the rest from the file's size, once the file's size and frames
    // sampled further in agree with that; falls back to full() otherwise.
    static MpegSurvey quick(int fd, std::int64_t start, const std::string& path);

    // The rule of the copy path: an MP3 whose average bitrate is at or below the bitrate
    // asked, and mono when mono is asked, is not made any better by encoding it again. A
    // stream that changes part way, or is free format, is always encoded: players stumble
    // over both.
    bool smallEnoughFor(int bitrate, bool monoAsked) const;
    // Whether figures taken from byte counts leave it open if the average is at or just above
    // the bitrate; only full() can tell, and the conversion reads every frame.
    bool undecidedAt(int bitrate) const;
};
