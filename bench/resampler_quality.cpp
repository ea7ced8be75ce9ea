// Sound quality of fastencc's resampling (libsoxr before LAME) against LAME's own resampler
// (the `lame` tool, which lets LAME pick and resample), both decoded back with libmpg123:
// level and noise of a 1 kHz tone, the passband error over stepped tones up to LAME's
// lowpass, and the aliasing of tones above the new Nyquist frequency. Then, where nothing
// resamples, what feeding LAME floats gives against feeding it integers.
// Usage: resampler_quality FASTENCC   (runs `lame` from the path)

#include <lame/lame.h>
#include <mpg123.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kSourceRate = 44100;
constexpr double kToneAmplitude = 0.5; // -6 dBFS
constexpr double kSegmentSeconds = 0.3;
constexpr double kEdgeSeconds = 0.06;  // left out at each end of a segment (frames, transients)

using Sample = std::function<double(std::int64_t frame, int channel)>;

// A WAV file: 16-bit PCM (exactly what both encoders read alike) or 32-bit float.
void writeWav(const std::string& path, std::int64_t frames, bool isFloat, const Sample& sample)
{
    const int channels = 2;
    const int bytes = isFloat ? 4 : 2;
    std::string data;
    data.reserve(std::size_t(frames * channels * bytes));
    for (std::int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double v = std::clamp(sample(i, c), -1.0, 1.0);
            if (isFloat) {
                const float f = float(v);
                data.append(reinterpret_cast<const char*>(&f), 4);
            } else {
                const auto s = std::int16_t(std::lround(v * 32767.0));
                data.append(reinterpret_cast<const char*>(&s), 2);
            }
        }
    auto u32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    const auto block = std::uint16_t(channels * bytes);
    std::ofstream out(path, std::ios::binary);
    out << "RIFF" << u32(std::uint32_t(36 + data.size())) << "WAVEfmt " << u32(16) << u16(isFloat ? 3 : 1)
        << u16(channels) << u32(kSourceRate) << u32(kSourceRate * block) << u16(block) << u16(std::uint16_t(bytes * 8))
        << "data" << u32(std::uint32_t(data.size())) << data;
}

bool run(const std::vector<std::string>& args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Decoded {
    long rate = 0;
    std::vector<float> left; // the first channel: both carry the same test signal
    std::vector<float> right;
};

Decoded decode(const std::string& path)
{
    Decoded d;
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0);
    if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
        mpg123_delete(mh);
        return d;
    }
    int channels = 0;
    int encoding = 0;
    mpg123_getformat(mh, &d.rate, &channels, &encoding);
    std::vector<float> buf(16384);
    for (;;) {
        size_t done = 0;
        const int rc = mpg123_read(mh, reinterpret_cast<unsigned char*>(buf.data()), buf.size() * sizeof(float), &done);
        for (std::size_t i = 0; i + std::size_t(channels) <= done / sizeof(float); i += std::size_t(channels)) {
            d.left.push_back(buf[i]);
            d.right.push_back(channels > 1 ? buf[i + 1] : buf[i]);
        }
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT)
            break;
    }
    mpg123_close(mh);
    mpg123_delete(mh);
    return d;
}

// Least-squares amplitude of a sine of frequency f in x[from, to), and the RMS of the rest.
double fitAmplitude(const std::vector<float>& x, std::size_t from, std::size_t to, double rate, double f, double* rest = nullptr)
{
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0, xx = 0;
    for (std::size_t i = from; i < to && i < x.size(); ++i) {
        const double t = 2 * M_PI * f * double(i) / rate;
        const double s = std::sin(t), c = std::cos(t), v = x[i];
        ss += s * s; cc += c * c; sc += s * c; xs += v * s; xc += v * c; xx += v * v;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det;
    const double b = (xc * ss - xs * sc) / det;
    if (rest)
        *rest = std::sqrt(std::max(0.0, (xx - (a * xs + b * xc)) / double(std::max<std::size_t>(1, to - from))));
    return std::hypot(a, b);
}

double rms(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to && i < x.size(); ++i)
        sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(std::max<std::size_t>(1, to - from)));
}

double dB(double ratio) { return 20 * std::log10(std::max(ratio, 1e-12)); }

// A row of stepped tones, each kSegmentSeconds long.
Sample steppedTones(const std::vector<double>& freqs)
{
    return [freqs](std::int64_t i, int) {
        const auto segment = std::size_t(double(i) / (kSegmentSeconds * kSourceRate));
        return segment < freqs.size() ? kToneAmplitude * std::sin(2 * M_PI * freqs[segment] * double(i) / kSourceRate) : 0.0;
    };
}

// The middle of segment k of a decoded stepped-tone file.
std::pair<std::size_t, std::size_t> segment(std::size_t k, double rate)
{
    const double start = double(k) * kSegmentSeconds;
    return {std::size_t((start + kEdgeSeconds) * rate), std::size_t((start + kSegmentSeconds - kEdgeSeconds) * rate)};
}

struct Path {
    const char* name;
    std::function<bool(const std::string& in, const std::string& out)> encode;
};

int lowpassOf(const std::string& mp3)
{
    std::ifstream f(mp3, std::ios::binary);
    std::string head(4096, '\0');
    f.read(head.data(), std::streamsize(head.size()));
    const std::size_t at = head.find("LAME3.100");
    return at == std::string::npos ? 0 : std::uint8_t(head[at + 10]) * 100;
}

void compareResamplers(const std::string& fastencc, const std::string& dir, int kbps)
{
    const Path paths[] = {
        {"fastencc (libsoxr)", [&](const std::string& in, const std::string& out) {
             return run({fastencc, in, out, "-br", std::to_string(kbps * 1000)});
         }},
        {"lame (its own)", [&](const std::string& in, const std::string& out) {
             return run({"lame", "--quiet", "--noreplaygain", "-b", std::to_string(kbps), in, out});
         }},
    };

    // The 1 kHz tone tells the output rate and LAME's lowpass, which set the other tones.
    const std::string tone = dir + "/tone.wav";
    writeWav(tone, std::int64_t(4 * kSourceRate), false, [](std::int64_t i, int) {
        return kToneAmplitude * std::sin(2 * M_PI * 1000.0 * double(i) / kSourceRate);
    });
    if (!paths[0].encode(tone, dir + "/probe.mp3")) {
        std::printf("fastencc failed\n");
        return;
    }
    const double rate = double(decode(dir + "/probe.mp3").rate);
    const double nyquist = rate / 2;
    const double lowpass = std::min(double(lowpassOf(dir + "/probe.mp3")), nyquist);

    std::vector<double> passband;
    for (double f = 50; f <= 0.9 * lowpass; f *= 1.25)
        passband.push_back(f);
    passband.push_back(0.9 * lowpass);
    std::vector<double> alias;
    for (double f = nyquist + 250; f < 21500; f += (21500 - nyquist) / 12)
        alias.push_back(f);
    writeWav(dir + "/passband.wav", std::int64_t(double(passband.size()) * kSegmentSeconds * kSourceRate), false, steppedTones(passband));
    writeWav(dir + "/alias.wav", std::int64_t(double(alias.size()) * kSegmentSeconds * kSourceRate), false, steppedTones(alias));

    std::printf("\n%d kbit/s stereo, 44.1 kHz -> %.0f Hz, LAME's lowpass %.0f Hz\n", kbps, rate, lowpass);
    std::printf("%-22s %10s %12s %16s %17s %15s\n", "", "1 kHz", "1 kHz noise", "passband vs 1k",
        "aliasing, worst", "aliasing, mean");
    for (const Path& p : paths) {
        const std::string out = dir + "/out.mp3";
        if (!p.encode(tone, out) ) {
            std::printf("%-22s failed\n", p.name);
            continue;
        }
        Decoded d = decode(out);
        double rest = 0;
        const double level = fitAmplitude(d.left, std::size_t(0.5 * rate), std::size_t(3.5 * rate), rate, 1000, &rest);

        p.encode(dir + "/passband.wav", out);
        d = decode(out);
        // Against the 1 kHz tone's level: what LAME's coding does to every path alike is not
        // the resampler's.
        double worstPass = 0;
        for (std::size_t k = 0; k < passband.size(); ++k) {
            const auto [from, to] = segment(k, rate);
            const double e = dB(fitAmplitude(d.left, from, to, rate, passband[k]) / level);
            worstPass = std::abs(e) > std::abs(worstPass) ? e : worstPass;
        }

        p.encode(dir + "/alias.wav", out);
        d = decode(out);
        double worstAlias = -200, worstAt = 0, energy = 0;
        for (std::size_t k = 0; k < alias.size(); ++k) {
            const auto [from, to] = segment(k, rate);
            // Nothing of these tones belongs in the output: all that is there came back folded.
            const double r = rms(d.left, from, to) * std::sqrt(2.0) / kToneAmplitude;
            energy += r * r;
            if (dB(r) > worstAlias) {
                worstAlias = dB(r);
                worstAt = alias[k];
            }
        }
        std::printf("%-22s %+8.3f dB %9.1f dB %+13.3f dB %8.1f dB @%5.0f %12.1f dB\n", p.name, dB(level / kToneAmplitude),
            dB(rest * std::sqrt(2.0) / level), worstPass, worstAlias, worstAt, 10 * std::log10(energy / double(alias.size())));
    }
}

// Signal-to-error ratio of a decoded MP3 against the sound it was made from, after the best
// gain: LAME's output comes out about 0.45 dB quieter whatever it is fed, which would hide
// every other difference.
double snr(const Decoded& d, const std::vector<float>& reference)
{
    double cross = 0, energy = 0, out = 0;
    const std::size_t n = std::min(d.left.size(), reference.size() / 2);
    for (std::size_t i = 0; i < n; ++i)
        for (int c = 0; c < 2; ++c) {
            const double ref = reference[2 * i + std::size_t(c)];
            const double v = c == 0 ? d.left[i] : d.right[i];
            cross += v * ref;
            energy += ref * ref;
            out += v * v;
        }
    const double gain = cross / energy;
    const double error = out - 2 * gain * cross + gain * gain * energy;
    return 10 * std::log10(gain * gain * energy / std::max(error, 1e-30));
}

// One way of handing LAME the samples of a float source.
struct Feed {
    const char* name;
    std::function<int(lame_t, const std::vector<float>&, std::size_t at, int n, unsigned char*, int)> encode;
};

template <typename Convert>
int encodeAsInt(lame_t lame, const std::vector<float>& pcm, std::size_t at, int n, unsigned char* out, int size, Convert convert)
{
    std::vector<int> samples(std::size_t(n) * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = convert(pcm[2 * at + i]);
    return lame_encode_buffer_interleaved_int(lame, samples.data(), n, out, size);
}

const Feed kFeeds[] = {
    {"float x 32768 (fastencc now)", [](lame_t lame, const std::vector<float>& pcm, std::size_t at, int n, unsigned char* out, int size) {
         std::vector<float> left(static_cast<std::size_t>(n));
         std::vector<float> right(static_cast<std::size_t>(n));
         for (std::size_t i = 0; i < std::size_t(n); ++i) {
             left[i] = pcm[2 * (at + i)] * 32768.0f;
             right[i] = pcm[2 * (at + i) + 1] * 32768.0f;
         }
         return lame_encode_buffer_float(lame, left.data(), right.data(), n, out, size);
     }},
    {"int x 2^31, truncated (before)", [](lame_t lame, const std::vector<float>& pcm, std::size_t at, int n, unsigned char* out, int size) {
         return encodeAsInt(lame, pcm, at, n, out, size,
             [](float x) { return int(std::min(x * 2147483648.0f, 2147483520.0f)); });
     }},
    {"int x 0x7FFFFFFF, rounded", [](lame_t lame, const std::vector<float>& pcm, std::size_t at, int n, unsigned char* out, int size) {
         return encodeAsInt(lame, pcm, at, n, out, size, [](float x) { return int(std::lrint(double(x) * 2147483647.0)); });
     }},
    {"16-bit, rounded (lame on MP3)", [](lame_t lame, const std::vector<float>& pcm, std::size_t at, int n, unsigned char* out, int size) {
         return encodeAsInt(lame, pcm, at, n, out, size,
             [](float x) { return int(std::clamp(std::lrint(double(x) * 32768.0), -32768L, 32767L)) * 65536; });
     }},
};

// LAME at 128 kbit/s (no resampling) on interleaved stereo pcm, fed one way, written to path.
void encodeWithFeed(const Feed& feed, const std::vector<float>& pcm, const std::string& path)
{
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, kSourceRate);
    lame_set_num_channels(lame, 2);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, 128);
    lame_set_write_id3tag_automatic(lame, 0);
    lame_init_params(lame);
    std::vector<unsigned char> out(1 << 20);
    std::ofstream file(path, std::ios::binary);
    // The first frame stands in for the Info frame that gapless decoding reads back.
    const std::size_t frames = pcm.size() / 2;
    for (std::size_t at = 0; at < frames; at += 4096) {
        const int n = int(std::min<std::size_t>(4096, frames - at));
        const int written = feed.encode(lame, pcm, at, n, out.data(), int(out.size()));
        file.write(reinterpret_cast<const char*>(out.data()), std::max(written, 0));
    }
    const int written = lame_encode_flush(lame, out.data(), int(out.size()));
    file.write(reinterpret_cast<const char*>(out.data()), std::max(written, 0));
    const std::size_t tag = lame_get_lametag_frame(lame, out.data(), out.size());
    file.seekp(0);
    file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(tag));
    lame_close(lame);
}

// Where nothing resamples, how the samples are handed to LAME is the only difference: floats
// (fastencc), 32-bit integers truncated or rounded, or 16-bit samples (the `lame` tool's way
// with MP3 sources). Each against the very samples it was given, at full level and 50 dB
// down; then the two real programs on the same files.
void compareFeeds(const std::string& fastencc, const std::string& dir)
{
    std::printf("\n128 kbit/s, no resampling: SNR of the decoded output against the source's samples\n");
    std::printf("%-32s %14s %14s %14s %14s\n", "", "float, 0 dB", "float, -50 dB", "MP3, 0 dB", "MP3, -50 dB");
    std::vector<std::vector<float>> sources;
    std::vector<std::string> wavs;
    for (const double gain : {1.0, 0.00316}) {
        const auto music = [gain](std::int64_t i, int c) {
            const double t = double(i) / kSourceRate;
            const double base = 220.0 * (1 + c);
            return gain * (0.4 * std::sin(2 * M_PI * base * t + 2 * std::sin(2 * M_PI * 5 * t))
                              + 0.2 * std::sin(2 * M_PI * base * 2.01 * t)
                              + 0.1 * std::sin(2 * M_PI * 3150.0 * t) * (0.5 + 0.5 * std::sin(2 * M_PI * 2.0 * t)));
        };
        const std::int64_t frames = 10 * kSourceRate;
        const std::string wav = dir + "/float" + std::to_string(wavs.size()) + ".wav";
        writeWav(wav, frames, true, music);
        std::vector<float> pcm(std::size_t(frames) * 2);
        for (std::size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = float(music(std::int64_t(i / 2), int(i % 2)));
        sources.push_back(pcm);
        wavs.push_back(wav);
    }
    // MP3 sources: what a decoder makes of them, in float, is the sound to keep.
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string mp3 = dir + "/source" + std::to_string(k) + ".mp3";
        run({fastencc, wavs[k], mp3, "-br", "192000"});
        const Decoded d = decode(mp3);
        std::vector<float> pcm;
        for (std::size_t i = 0; i < d.left.size(); ++i) {
            pcm.push_back(d.left[i]);
            pcm.push_back(d.right[i]);
        }
        sources.push_back(pcm);
        wavs.push_back(mp3);
    }
    for (const Feed& feed : kFeeds) {
        std::printf("%-32s", feed.name);
        for (const auto& pcm : sources) {
            encodeWithFeed(feed, pcm, dir + "/feed.mp3");
            std::printf(" %11.2f dB", snr(decode(dir + "/feed.mp3"), pcm));
        }
        std::printf("\n");
    }
    const std::pair<const char*, std::function<bool(const std::string&, const std::string&)>> programs[] = {
        {"fastencc", [&](const std::string& in, const std::string& out) { return run({fastencc, in, out, "-br", "128000"}); }},
        {"lame --noreplaygain -b 128", [](const std::string& in, const std::string& out) {
             return run({"lame", "--quiet", "--noreplaygain", "-b", "128", in, out});
         }},
    };
    for (const auto& [name, encode] : programs) {
        std::printf("%-32s", name);
        for (std::size_t k = 0; k < sources.size(); ++k) {
            encode(wavs[k], dir + "/program.mp3");
            std::printf(" %11.2f dB", snr(decode(dir + "/program.mp3"), sources[k]));
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: resampler_quality FASTENCC\n");
        return 2;
    }
    char pattern[] = "/tmp/resampler-quality-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    std::printf("Tones at -6 dBFS through both paths, decoded back (libmpg123, gapless). The 1 kHz\n"
                "level against the tone put in (LAME's quantiser leaves tones about 0.45 dB quieter in\n"
                "every path); its noise: what is left of the tone's segment besides the tone; passband:\n"
                "the worst level of stepped tones up to 90 %% of LAME's lowpass against the 1 kHz level\n"
                "(0 is flat); aliasing: what comes out of tones above the new Nyquist frequency, of which\n"
                "nothing belongs in the output (lower is better).\n");
    for (const int kbps : {96, 64, 32})
        compareResamplers(argv[1], dir, kbps);
    compareFeeds(argv[1], dir);
    std::filesystem::remove_all(dir);
    return 0;
}
