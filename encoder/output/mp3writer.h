#pragma once

#include "mpeg/infoframe.h"
#include "mpeg/mpegheader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class AtomicFile;
struct lame_global_struct;

// Constant-bitrate MP3 through libmp3lame at LAME's default quality, so the sound is the
// reference encoder's. Appends to the output after whatever is already in it (the ID3v2
// tag) and, when finished, writes the Info frame in front of the audio.
class Mp3Writer {
public:
    struct Settings {
        int bitrate = 128000;        // bits per second; LAME snaps to the MPEG table
        bool mono = false;           // downmix to one channel
        bool ownInfoFrame = false;   // write our Info frame even where LAME could (tests)
        // The source's own rate when the sound comes already resampled to the rate LAME
        // picked for it (0: not resampled). LAME is then held at the rate it is given, and
        // the Info frame names the source's rate, as when LAME resamples itself.
        int sourceRate = 0;
    };

    // The output sample rate LAME chooses for a source of this rate, channel count (1 or 2)
    // and these settings. Throws EncodeError if LAME refuses the combination.
    static int chosenRate(int sampleRate, int channels, const Settings& settings);
    // The sound LAME keeps of such a source: the rate it encodes at and the highest frequency
    // it lets through. LAME's lowpass zeroes whole polyphase subbands (each a 64th of the
    // rate wide) from the first one at or above its lowpass frequency, so what passes ends
    // at that subband's lower edge.
    struct Band {
        int rate = 0;
        double topHz = 0;
    };
    static Band keptBand(int sampleRate, int channels, const Settings& settings);

    // sampleRate: of the sound given to encode(). channels: 1 or 2 (more are folded by the
    // caller). Throws EncodeError if LAME refuses.
    Mp3Writer(AtomicFile& out, int sampleRate, int channels, const Settings& settings);
    ~Mp3Writer();
    Mp3Writer(const Mp3Writer&) = delete;
    Mp3Writer& operator=(const Mp3Writer&) = delete;

    // Interleaved frames of channels() samples, already finite and within [-1, 1].
    void encode(const float* interleaved, std::size_t frames);
    // Flushes LAME and writes the Info frame.
    void finish();

    int outputSampleRate() const;
    int outputBitrateKbps() const;

    // A LAME configured as this writer configures its own (lameInfoFrame: LAME writes the
    // Info frame). Throws EncodeError if LAME refuses the combination.
    static lame_global_struct* startOrThrow(int sampleRate, int channels, const Settings& settings, bool lameInfoFrame);
    // Whether the writer writes the Info frame itself rather than LAME, for LAME's settings.
    static bool writesOwnInfoFrame(lame_global_struct* lame, const Settings& settings);
    // LAME's float entry takes the scale of 16-bit samples.
    static constexpr float kSampleScale = 32768.0f;

private:
    static lame_global_struct* startLame(int sampleRate, int channels, const Settings& settings, bool lameInfoFrame);
    void put(const unsigned char* data, int size);
    [[noreturn]] void failEncode(int code) const;

    AtomicFile& m_out;
    lame_global_struct* m_lame = nullptr;
    int m_channels;
    int m_sourceRate;
    bool m_ownInfoFrame = false;
    std::int64_t m_streamStart = 0;    // where the first MPEG frame goes (after the ID3v2 tag)
    std::vector<std::uint8_t> m_firstHeader; // of the first audio frame, for our Info frame
    std::uint16_t m_musicCrc = 0;
    std::int64_t m_audioBytes = 0;
    std::vector<unsigned char> m_buffer;
    std::vector<float> m_left;   // LAME takes the channels apart
    std::vector<float> m_right;
    int m_maxFramesPerCall = 0;
    int m_placeholderSize = 0;
};
