#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>

// The size of the MP3 that LAME writes for a source, reckoned without encoding it: LAME's
// frames for the source's sample frames at the rate and bitrate LAME picks, the Info frame
// and the ID3v2 tag in front. The forecast of `fastencc --facts` and the conversion's choice
// of a bitrate that keeps the output smaller than its source both count with it.
class EncodedSize {
public:
    struct LameChoice {
        int rate = 0;  // 0: LAME refuses the combination
        int kbps = 0;
    };
    // LAME's output sample rate and bitrate for this input, asked of LAME once.
    LameChoice lameChoice(int inputRate, int channels, int kbps, bool mono);

    // The bytes of the output for frames sample frames at rate, channels (more than two are
    // folded to two), at kbps, with an ID3v2 tag of tag bytes; 0 where LAME refuses.
    std::int64_t bytes(std::int64_t frames, int rate, int channels, int kbps, bool mono, std::size_t tag);

    // The frames LAME writes for this many input sample frames (the Info frame not counted),
    // as lame_get_totalframes() of LAME 3.100 reckons them.
    static std::int64_t lameFrames(std::int64_t inputFrames, int inputRate, int outputRate);

private:
    std::map<std::tuple<int, int, int, bool>, LameChoice> m_choices;
};
