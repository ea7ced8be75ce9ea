#pragma once

// Fixtures and probes shared by the encoder tests: a small WAV writer, a runner for the real
// fastencc executable, and an MP3 decoder (libmpg123) to judge what fastencc wrote.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace enctest {

// A WAV file as written by writeWav. The header can lie, to model damaged files.
struct WavSpec {
    int rate = 44100;
    int channels = 2;
    int bits = 16;          // 8, 16, 24 or 32
    bool isFloat = false;   // 32-bit IEEE float
    bool extensible = false;
    double seconds = 2.0;
    std::uint32_t claimedDataBytes = 0; // non-zero: the data chunk says this many bytes
    std::uint16_t claimedChannels = 0;  // non-zero: the header says this many channels
    bool zeroRateInHeader = false;
    bool nanSamples = false;  // float only: every other sample NaN, some Inf
    unsigned soundingChannels = ~0u; // bit per channel (the first 32): the others are silent
    double gain = 1.0;        // of the test signal
};

void writeWav(const std::string& path, const WavSpec& spec);
// A fixture written by libsndfile (format: SF_FORMAT_...), for the encodings and containers
// our own WAV writer does not make. compression: libsndfile's level from 0 to 1 (for Vorbis
// and Opus, from the highest bitrate to the lowest); below 0 its default.
void writeWithSndfile(const std::string& path, int format, int rate, int channels, double seconds,
    double compression = -1);
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
std::string randomBytes(std::size_t n, unsigned seed);

// Every output starts with an ID3v2 tag that holds at least the mark naming its source.
// The bytes after that tag (the whole file when it has none).
std::string withoutId3v2(const std::string& mp3);
// The size of the mark's frame in an output (0 when it has none).
std::size_t markSize(const std::string& mp3);
// A file as fastencc makes one from source: an ID3v2 tag holding the mark, then body.
std::string markedFor(const std::string& source, const std::string& body);

// Music-like test signal: a few partials per channel, different for each channel.
float signal(int channel, std::int64_t frame, int rate);
// Energy of that signal over the energy of pcm's difference from it (one channel at rate):
// above 100 (20 dB) pcm is the signal, sample-aligned, with coding noise only.
double signalToError(const std::vector<float>& pcm, int channel, int rate);

struct RunResult {
    int exitCode = -1;   // -1 when killed by a signal
    int signal = 0;
    std::string out;
    std::string err;
    long peakKiB = 0;    // the child's peak resident memory (see RunOptions::ownPeak)
    bool endedBeforeStop = false;  // killAtPercent: it had ended before it could be stopped
    std::vector<std::string> errLines() const;
    // errLines without the notes that are no reservation (a bitrate kept, a copy made, the
    // gain applied).
    std::vector<std::string> warningLines() const;
};

struct RunOptions {
    long fileSizeLimit = -1;              // RLIMIT_FSIZE for the child, bytes
    // When this progress line appears, the encoder is stopped (SIGSTOP), then atPercent(pid)
    // runs, or SIGTERM is sent when there is none, then it goes on (SIGCONT): what is done to
    // it or its files meanwhile does not race it, however busy the machine. (Not with ownPeak,
    // where pid is the measuring process.)
    int killAtPercent = -1;
    std::function<void(int pid)> atPercent;
    std::vector<int> closedDescriptors;   // closed in the child before fastencc starts
    std::string standardInput;            // a file the child reads as its standard input
    std::vector<int> ignoredSignals;      // ignored in the child, as nohup and trap '' do
    int timeoutSeconds = 120;             // then SIGKILL: a hang fails the test, not the run
    // Started through a small process of its own, so that peakKiB is fastencc's alone: a child
    // forked from the test process counts the test's pages too, however large it has grown.
    bool ownPeak = false;
    int user = -1;                        // run as this user and group (needs root)
    std::string standardOutput;           // a file the child writes as its standard output
};

RunResult runFastencc(const std::vector<std::string>& args, const RunOptions& options = {});

// A failure as fastencc reports one: not a crash, a non-zero status and exactly one line on
// standard error that contains words.
void expectOneErrorLine(const RunResult& r, const std::string& words);

class TempDir;
// Writes spec as in.wav in dir and converts it to out.mp3 at kbps kbit/s (mono: with -dm).
RunResult convertWav(const TempDir& dir, const WavSpec& spec, int kbps, bool mono);

// What libmpg123 (gapless) makes of an MP3.
struct Decoded {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    std::int64_t frames = 0;        // decoded sample frames after gapless trimming
    std::set<int> bitratesKbps;     // of all audio frames
    std::set<int> layers;
    double seconds() const { return rate ? double(frames) / double(rate) : 0.0; }
    std::vector<float> pcm;         // first channel, when asked for
    std::vector<float> pcmRight;    // second channel, when asked for and there is one
};

Decoded decodeMp3(const std::string& path, bool keepPcm = false);
// The largest sample magnitude of either channel (decoded with keepPcm).
float peakOf(const Decoded& d);

// A fresh folder per test, removed afterwards; lists files to prove no temporary is left.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return m_path + "/" + name; }
    const std::string& root() const { return m_path; }
    std::vector<std::string> files() const; // names in the folder, sorted

private:
    std::string m_path;
};

// Starts libvips for the tests that make or read pictures, once; it is stopped again before
// the process ends (the leak check cannot look at threads torn down under it).
void startVips();

// An MP3 of the test signal made by fastencc at 128 kbit/s (its bytes; no file is left in dir).
std::string makeMp3(const TempDir& dir, double seconds, double gain = 1.0);

} // namespace enctest
