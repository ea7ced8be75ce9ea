#pragma once

#include "sources/channelmixer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A decoded sound, read in chunks of interleaved float frames in [-1, 1] nominal range
// (float sources may hold anything, the converter cleans that). SourceOpener chooses the
// decoder of a file by its content, never by the file name's extension.
class AudioSource {
public:
    // The container the source came in: tells SourceTags where the tags live.
    enum class Container { Mpeg, Wav, Aiff, Flac, OggVorbis, OggOpus, Other };

    virtual ~AudioSource();

    // Frames per decode round: a fixed number of bytes (8192 stereo frames), so that memory
    // does not grow with the channel count (a WAV may have 1024 channels).
    static std::size_t chunkFrames(int channels);

    virtual int sampleRate() const = 0;
    virtual int channels() const = 0;
    virtual Container container() const = 0;
    // Where each channel sits, when the file says so; empty means the usual WAV order.
    virtual std::vector<ChannelMixer::Position> channelPositions() const { return {}; }
    // Fills at most maxFrames frames; returns how many, 0 at the end of the sound.
    // Throws EncodeError when the sound cannot be decoded any further.
    virtual std::size_t read(float* interleaved, std::size_t maxFrames) = 0;
    // How much of the source has been consumed, 0 to 1, for the progress display.
    virtual double progress() const = 0;
    // The sample frames the source holds, as known before decoding it; -1 when unknown.
    virtual std::int64_t lengthFrames() const { return -1; }
    // Whether lengthFrames() is the length itself, not only as much as is known to be there
    // (a stream whose end could not be measured).
    virtual bool lengthIsExact() const { return lengthFrames() >= 0; }

    // Once read to its end: whether the sound stopped before the length its header promises
    // (a cut-off download), and that length in frames when the header gives one (else 0).
    // damaged: damage inside the sound cost frames that were skipped (the sound went on
    // after it); damagedAtFrame: where the first such damage lies, -1 when not known.
    struct Ending {
        bool early = false;
        std::int64_t declaredFrames = 0;
        bool damaged = false;
        std::int64_t damagedAtFrame = -1;
    };
    virtual Ending ending() const { return {}; }
};
