#include "facts/encodedsize.h"

#include "mpeg/infoframe.h"
#include "mpeg/mpegheader.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>

namespace {

void quiet(const char*, va_list) {}

} // namespace

std::int64_t EncodedSize::lameFrames(std::int64_t inputFrames, int inputRate, int outputRate)
{
    const std::int64_t perFrame = outputRate >= 32000 ? 1152 : 576;
    std::int64_t frames = 0;
    std::int64_t rest = 0;
    if (inputRate != outputRate) {
        const double resampled = static_cast<double>(inputFrames) * outputRate / inputRate;
        frames = static_cast<std::int64_t>(std::floor(resampled / static_cast<double>(perFrame)));
        rest = static_cast<std::int64_t>(std::ceil(resampled - static_cast<double>(frames * perFrame)));
    } else {
        frames = inputFrames / perFrame;
        rest = inputFrames - frames * perFrame;
    }
    // LAME's encoder delay in front, then padding to whole frames with at least a granule to
    // spare at the end.
    rest += 576;
    std::int64_t padding = perFrame - rest % perFrame;
    if (padding < 576)
        padding += perFrame;
    return frames + (rest + padding) / perFrame;
}

EncodedSize::LameChoice EncodedSize::lameChoice(int inputRate, int channels, int kbps, bool mono)
{
    const auto key = std::make_tuple(inputRate, channels, kbps, mono);
    const auto found = m_choices.find(key);
    if (found != m_choices.end())
        return found->second;
    LameChoice choice;
    if (lame_global_flags* lame = lame_init()) {
        lame_set_errorf(lame, quiet);
        lame_set_msgf(lame, quiet);
        lame_set_debugf(lame, quiet);
        lame_set_in_samplerate(lame, inputRate);
        lame_set_num_channels(lame, channels);
        if (mono)
            lame_set_mode(lame, MONO);
        lame_set_VBR(lame, vbr_off);
        lame_set_brate(lame, kbps);
        lame_set_write_id3tag_automatic(lame, 0);
        if (lame_init_params(lame) >= 0)
            choice = {lame_get_out_samplerate(lame), lame_get_brate(lame)};
        lame_close(lame);
    }
    m_choices.emplace(key, choice);
    return choice;
}

std::int64_t EncodedSize::bytes(std::int64_t frames, int rate, int channels, int kbps, bool mono, std::size_t tag)
{
    const int lameChannels = std::min(channels, 2);
    const LameChoice choice = lameChoice(rate, lameChannels, kbps, mono);
    if (choice.rate == 0)
        return 0;
    const MpegHeader layout = MpegHeader::layer3(choice.rate, mono || lameChannels == 1, choice.kbps);
    // The Info frame: LAME's own, a frame of the stream's bitrate, where it fits; else ours.
    const int infoIndex = InfoFrame::fitsInFrame(layout, layout.bitrateIndex()) ? layout.bitrateIndex()
                                                                                : InfoFrame::bitrateIndexFor(layout);
    const double frameBytes = static_cast<double>(layout.samplesPerFrame()) / 8.0 * choice.kbps * 1000.0 / choice.rate;
    const double audio = static_cast<double>(lameFrames(frames, rate, choice.rate)) * frameBytes;
    return static_cast<std::int64_t>(tag) + layout.frameLengthAt(infoIndex) + static_cast<std::int64_t>(std::llround(audio));
}
