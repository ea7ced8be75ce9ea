#include "testsupport.h"

#include "sourcemark.h"

#include <mpg123.h>
#include <sndfile.h>
#include <vips/vips.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

namespace enctest {

namespace {

void put16(std::string& s, std::uint32_t v)
{
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}

void put32(std::string& s, std::uint32_t v)
{
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

// Another user (nobody, as the superuser's tests run the encoder) may not be able to enter the
// folder the build lies in: a checkout in /root or in any private folder. Such runs start a
// copy of the encoder in a folder anyone may enter, made once per test program, with the
// sanitizer's suppressions beside it where they are named. Removed when the program ends.
struct ReachableEncoder {
    std::string folder;
    std::string program;
    std::string leakOptions; // LSAN_OPTIONS naming the copied suppressions, or empty

    ReachableEncoder()
    {
        std::string pattern = "/tmp/fastencc-any-user-XXXXXX";
        if (!mkdtemp(pattern.data()) || chmod(pattern.c_str(), 0755) != 0)
            std::abort();
        folder = pattern;
        program = folder + "/fastencc";
        namespace fs = std::filesystem;
        fs::copy_file(FASTENCC_PATH, program);
        fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
            | fs::perms::others_read | fs::perms::others_exec);
        if (const char* lsan = std::getenv("LSAN_OPTIONS")) {
            // suppressions=PATH up to the next ':' is the only path the options hold.
            std::string options = lsan;
            const std::string key = "suppressions=";
            const std::size_t at = options.find(key);
            if (at != std::string::npos) {
                const std::size_t start = at + key.size();
                const std::size_t end = std::min(options.find(':', start), options.size());
                const std::string copied = folder + "/lsan.supp";
                std::error_code ec;
                fs::copy_file(options.substr(start, end - start), copied, ec);
                chmod(copied.c_str(), 0644);
                options.replace(start, end - start, copied);
            }
            leakOptions = options;
        }
    }
    ~ReachableEncoder()
    {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

const ReachableEncoder& reachableEncoder()
{
    static const ReachableEncoder copy;
    return copy;
}

} // namespace

float signal(int channel, std::int64_t frame, int rate)
{
    const double t = double(frame) / rate;
    const double base = 220.0 * (1 + channel);
    const double v = 0.4 * std::sin(2 * M_PI * base * t) + 0.2 * std::sin(2 * M_PI * base * 2.01 * t)
        + 0.1 * std::sin(2 * M_PI * 3150.0 * t) * (0.5 + 0.5 * std::sin(2 * M_PI * 2.0 * t));
    return float(v);
}

double signalToError(const std::vector<float>& pcm, int channel, int rate)
{
    double error = 0;
    double energy = 0;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const double ref = signal(channel, std::int64_t(i), rate);
        error += (pcm[i] - ref) * (pcm[i] - ref);
        energy += ref * ref;
    }
    return energy / std::max(error, 1e-30);
}

void writeWav(const std::string& path, const WavSpec& spec)
{
    const int bits = spec.isFloat ? 32 : spec.bits;
    const int bytesPerSample = bits / 8;
    const std::int64_t frames = std::int64_t(spec.seconds * spec.rate);
    std::string data;
    data.reserve(std::size_t(frames * spec.channels * bytesPerSample));
    for (std::int64_t f = 0; f < frames; ++f)
        for (int c = 0; c < spec.channels; ++c) {
            float v = c < 32 && ((spec.soundingChannels >> c) & 1) ? float(spec.gain) * signal(c, f, spec.rate) : 0.0f;
            if (spec.isFloat) {
                if (spec.nanSamples && (f + c) % 2 == 0)
                    v = (f % 7 == 0) ? std::numeric_limits<float>::infinity() : std::nanf("");
                std::uint32_t u;
                std::memcpy(&u, &v, 4);
                put32(data, u);
            } else if (bits == 8) {
                data.push_back(char(std::lround(v * 127.0) + 128));
            } else {
                const std::int64_t scaled = std::llround(double(v) * double((1LL << (bits - 1)) - 1));
                for (int b = 0; b < bytesPerSample; ++b)
                    data.push_back(char((scaled >> (8 * b)) & 0xFF));
            }
        }

    const std::uint16_t channels = spec.claimedChannels ? spec.claimedChannels : std::uint16_t(spec.channels);
    const std::uint32_t rate = spec.zeroRateInHeader ? 0 : std::uint32_t(spec.rate);
    std::string fmt;
    put16(fmt, spec.extensible ? 0xFFFE : (spec.isFloat ? 3 : 1));
    put16(fmt, channels);
    put32(fmt, rate);
    put32(fmt, rate * channels * bytesPerSample);
    put16(fmt, std::uint16_t(channels * bytesPerSample));
    put16(fmt, std::uint16_t(bits));
    if (spec.extensible) {
        put16(fmt, 22);
        put16(fmt, std::uint16_t(bits));
        put32(fmt, channels == 6 ? 0x3F : channels == 1 ? 0x4 : 0x3);
        // KSDATAFORMAT_SUBTYPE_PCM / IEEE_FLOAT GUID
        put32(fmt, spec.isFloat ? 3 : 1);
        fmt += std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    }
    std::string out = "RIFF";
    put32(out, std::uint32_t(4 + 8 + fmt.size() + 8 + data.size()));
    out += "WAVEfmt ";
    put32(out, std::uint32_t(fmt.size()));
    out += fmt;
    out += "data";
    put32(out, spec.claimedDataBytes ? spec.claimedDataBytes : std::uint32_t(data.size()));
    out += data;
    writeFile(path, out);
}

void writeWithSndfile(const std::string& path, int format, int rate, int channels, double seconds, double compression)
{
    SF_INFO info {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    if (compression >= 0) {
        ASSERT_EQ(sf_command(f, SFC_SET_COMPRESSION_LEVEL, &compression, sizeof compression), SF_TRUE);
    }
    const sf_count_t frames = sf_count_t(seconds * rate);
    std::vector<float> buf(std::size_t(frames * channels));
    for (sf_count_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            buf[std::size_t(i * channels + c)] = signal(c, i, rate);
    sf_writef_float(f, buf.data(), frames);
    sf_close(f);
}

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = char(gen() & 0xFF);
    return s;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    ASSERT_TRUE(f.good()) << path;
}

std::string withoutId3v2(const std::string& mp3)
{
    if (mp3.size() < 10 || mp3.compare(0, 3, "ID3") != 0)
        return mp3;
    std::size_t size = 0;
    for (std::size_t i = 6; i < 10; ++i)
        size = size << 7 | (static_cast<unsigned char>(mp3[i]) & 0x7F);
    return mp3.substr(std::min(mp3.size(), 10 + size));
}

std::size_t markSize(const std::string& mp3)
{
    const auto value = vardune::SourceMark::Find(mp3.substr(0, vardune::SourceMark::kSearchedBytes));
    return value ? vardune::SourceMark::Frame(*value).size() : 0;
}

std::string markedFor(const std::string& source, const std::string& body)
{
    const std::string frame = vardune::SourceMark::Frame(vardune::SourceMark::Value(*vardune::SourceMark::Of(source)));
    std::string header = "ID3\x03";
    header += std::string(2, '\0');
    for (int shift = 21; shift >= 0; shift -= 7)
        header += static_cast<char>((frame.size() >> shift) & 0x7F);
    return header + frame + body;
}

std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> RunResult::errLines() const
{
    std::vector<std::string> lines;
    std::istringstream s(err);
    for (std::string line; std::getline(s, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> RunResult::warningLines() const
{
    std::vector<std::string> lines;
    for (std::string& line : errLines())
        if (line.rfind("fastencc: kept at ", 0) != 0 && line != "fastencc: already small: copied, not re-encoded"
            && line.rfind("fastencc: levelled by ", 0) != 0)
            lines.push_back(std::move(line));
    return lines;
}

RunResult runFastencc(const std::vector<std::string>& args, const RunOptions& options)
{
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        std::abort();
    std::string peakFile;
    std::vector<char*> argv;
    if (options.ownPeak) {
        char name[] = "/tmp/fastenc_peak_XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            std::abort();
        close(fd);
        peakFile = name;
        argv.push_back(const_cast<char*>(PEAKOF_PATH));
        argv.push_back(const_cast<char*>(peakFile.c_str()));
    }
    // Made before the fork (the test program may have threads of its own): the child only
    // execs.
    const ReachableEncoder* otherUser = options.user >= 0 ? &reachableEncoder() : nullptr;
    std::vector<std::string> environment;
    std::vector<char*> envp;
    for (char** variable = environ; *variable; ++variable)
        if (!otherUser || otherUser->leakOptions.empty() || std::strncmp(*variable, "LSAN_OPTIONS=", 13) != 0)
            environment.emplace_back(*variable);
    if (otherUser && !otherUser->leakOptions.empty())
        environment.push_back("LSAN_OPTIONS=" + otherUser->leakOptions);
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    argv.push_back(const_cast<char*>(otherUser ? otherUser->program.c_str() : FASTENCC_PATH));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        if (!options.standardOutput.empty()) {
            const int out = open(options.standardOutput.c_str(), O_WRONLY);
            if (out < 0 || dup2(out, 1) != 1)
                _exit(126);
            close(out);
        }
        close(outPipe[0]);
        close(errPipe[0]);
        close(outPipe[1]);
        close(errPipe[1]);
        if (options.fileSizeLimit >= 0) {
            rlimit limit {rlim_t(options.fileSizeLimit), rlim_t(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (const int sig : options.ignoredSignals)
            ::signal(sig, SIG_IGN);
        if (!options.standardInput.empty()) {
            const int in = open(options.standardInput.c_str(), O_RDONLY);
            if (in < 0 || dup2(in, 0) != 0)
                _exit(126);
            close(in);
        }
        for (const int fd : options.closedDescriptors)
            close(fd);
        if (options.user >= 0 && (setgroups(0, nullptr) != 0 || setgid(gid_t(options.user)) != 0 || setuid(uid_t(options.user)) != 0))
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);

    RunResult result;
    bool killed = false;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, 1000) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buf, std::size_t(n));
        }
        if (options.killAtPercent >= 0 && !killed) {
            std::istringstream s(result.out);
            for (std::string line; std::getline(s, line);)
                if (!line.empty() && std::atoi(line.c_str()) >= options.killAtPercent) {
                    killed = true;
                    // Held still while it is acted on; a signal sent meanwhile arrives as it
                    // goes on (SIGKILL at once).
                    siginfo_t info {};
                    const bool hold = !options.ownPeak;
                    if (hold) {
                        kill(pid, SIGSTOP);
                        if (waitid(P_PID, id_t(pid), &info, WSTOPPED | WEXITED | WNOWAIT) != 0 || info.si_code != CLD_STOPPED) {
                            result.endedBeforeStop = true;
                            break;
                        }
                    }
                    if (options.atPercent)
                        options.atPercent(pid);
                    else
                        kill(pid, SIGTERM);
                    if (hold)
                        kill(pid, SIGCONT);
                    break;
                }
        }
    }
    for (const pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    result.peakKiB = usage.ru_maxrss;
    if (!peakFile.empty()) {
        result.peakKiB = std::atol(readFile(peakFile).c_str());
        std::remove(peakFile.c_str());
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

void expectOneErrorLine(const RunResult& r, const std::string& words)
{
    EXPECT_EQ(r.signal, 0) << "crashed";
    EXPECT_NE(r.exitCode, 0);
    const auto lines = r.errLines();
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_NE(lines[0].find(words), std::string::npos) << lines[0];
}

float peakOf(const Decoded& d)
{
    float peak = 0;
    for (const auto* channel : {&d.pcm, &d.pcmRight})
        for (const float v : *channel)
            peak = std::max(peak, std::fabs(v));
    return peak;
}

RunResult convertWav(const TempDir& dir, const WavSpec& spec, int kbps, bool mono)
{
    writeWav(dir.path("in.wav"), spec);
    std::vector<std::string> args = {dir.path("in.wav"), dir.path("out.mp3"), "-br", std::to_string(kbps * 1000)};
    if (mono)
        args.push_back("-dm");
    return runFastencc(args);
}

Decoded decodeMp3(const std::string& path, bool keepPcm)
{
    Decoded d;
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    mpg123_format_none(mh);
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(mh, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
        mpg123_delete(mh);
        return d;
    }
    int encoding = 0;
    for (;;) {
        off_t num = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int rc = mpg123_decode_frame(mh, &num, &audio, &bytes);
        if (rc == MPG123_NEW_FORMAT) {
            mpg123_getformat(mh, &d.rate, &d.channels, &encoding);
            continue;
        }
        if (rc == MPG123_DONE) {
            d.ok = d.rate > 0;
            break;
        }
        if (rc != MPG123_OK)
            break;
        mpg123_frameinfo info {};
        if (mpg123_info(mh, &info) == MPG123_OK) {
            d.bitratesKbps.insert(info.bitrate);
            d.layers.insert(info.layer);
        }
        const std::size_t n = bytes / sizeof(float) / std::size_t(std::max(1, d.channels));
        if (keepPcm) {
            const float* s = reinterpret_cast<const float*>(audio);
            for (std::size_t i = 0; i < n; ++i) {
                d.pcm.push_back(s[i * std::size_t(d.channels)]);
                if (d.channels > 1)
                    d.pcmRight.push_back(s[i * std::size_t(d.channels) + 1]);
            }
        }
        d.frames += std::int64_t(n);
    }
    mpg123_close(mh);
    mpg123_delete(mh);
    return d;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "fastencc-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Undo permission changes made by a test before removing.
    chmod(m_path.c_str(), 0700);
    std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::files() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace enctest

namespace enctest {

std::string makeMp3(const TempDir& dir, double seconds, double gain)
{
    WavSpec spec;
    spec.seconds = seconds;
    spec.gain = gain;
    writeWav(dir.path("mk.wav"), spec);
    EXPECT_EQ(runFastencc({dir.path("mk.wav"), dir.path("mk.mp3")}).exitCode, 0);
    std::string mp3 = readFile(dir.path("mk.mp3"));
    std::filesystem::remove(dir.path("mk.wav"));
    std::filesystem::remove(dir.path("mk.mp3"));
    return mp3;
}

void startVips()
{
    static const bool started = VIPS_INIT("fastenc_tests") == 0 && std::atexit(vips_shutdown) == 0;
    ASSERT_TRUE(started);
}

} // namespace enctest
