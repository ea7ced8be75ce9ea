#include "commandline.h"

#include "common/encodeerror.h"

#include "sourcemark.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The bitrates an MP3 frame can say (MPEG-1 and MPEG-2 layer III), in kbit/s.
const int kMp3Bitrates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

bool isOption(const std::string& a)
{
    return a == "-dm" || a == "-br" || a == "-reencode" || a == "-threads" || a == "-threads-stdin" || a == "-gain"
        || a == "-peak" || a == "-rg-track" || a == "-rg-album";
}

// A decimal number: an optional sign (signed), up to intDigits digits, then up to
// fracDigits after a point; nothing else (no blank, no exponent, no "nan").
bool readDecimal(const std::string& text, bool signedAllowed, std::size_t intDigits, std::size_t fracDigits, double& out)
{
    std::size_t i = 0;
    if (signedAllowed && i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    const std::size_t intStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    const std::size_t ints = i - intStart;
    if (ints == 0 || ints > intDigits)
        return false;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i == fracStart || i - fracStart > fracDigits)
            return false;
    }
    if (i != text.size())
        return false;
    out = std::strtod(text.c_str(), nullptr);
    return true;
}

bool readGain(const std::string& text, double& out)
{
    return readDecimal(text, true, 2, 2, out) && out >= -CommandLine::kMaxGainDb && out <= CommandLine::kMaxGainDb;
}

bool readPeak(const std::string& text, double& out)
{
    return readDecimal(text, false, 3, 6, out) && out <= 100.0;
}

std::string mp3BitrateList()
{
    std::string list;
    for (const int kbps : kMp3Bitrates)
        list += (list.empty() ? "" : ", ") + std::to_string(kbps * 1000);
    return list;
}

} // namespace

const char* CommandLine::usage()
{
    return "usage: fastencc SOURCE TARGET [-dm] [-br BITS] [-reencode] [-threads N] [-threads-stdin] [-gain DB] [-peak P]"
           " [-rg-track DB,P] [-rg-album DB,P] (BITS an MP3 bitrate, 8000 to 320000, default 128000; N 0 to 64, 0 one per"
           " processor; DB -40 to 40)";
}

int CommandLine::encoderThreads() const
{
    if (threads > 0)
        return threads;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::clamp(CPU_COUNT(&set), 1, kMaxThreads);
}

std::string CommandLine::profile() const
{
    std::string profile = vardune::SourceMark::Profile(bitrate, mono);
    if (gainGiven) {
        // A level of its own: an output made at another gain, or without one, is made again.
        char text[32];
        std::snprintf(text, sizeof text, ",gain%+06.2f", gainDb);
        profile += text;
    }
    return profile;
}

std::string CommandLine::replayGainFrames(double loudnessDb, double peakDb) const
{
    // The tags say how the output stands to the reference: the gain still to apply is the
    // source's less what its loudness gained, the peak is the source's times the gain.
    std::string frames;
    const double factor = std::pow(10.0, peakDb / 20.0);
    const auto add = [&](const char* name, const ReplayGain& rg) {
        if (!rg.given)
            return;
        char gain[32];
        char peak[32];
        std::snprintf(gain, sizeof gain, "%.2f dB", std::round((rg.gainDb - loudnessDb) * 100.0) / 100.0 + 0.0);
        std::snprintf(peak, sizeof peak, "%.6f", rg.peak * factor);
        frames += vardune::SourceMark::TextFrame(std::string("REPLAYGAIN_") + name + "_GAIN", gain);
        frames += vardune::SourceMark::TextFrame(std::string("REPLAYGAIN_") + name + "_PEAK", peak);
    };
    add("TRACK", trackGain);
    add("ALBUM", albumGain);
    return frames;
}

std::optional<CommandLine> CommandLine::parse(const std::vector<std::string>& args, std::string& error)
{
    if (args.size() < 2 || args[0].empty() || args[1].empty()) {
        error = "a source and a target file are needed";
        return std::nullopt;
    }
    // `fastencc in.wav -dm` names no target: an option in the target's place is a forgotten
    // target, not a file to create. A file really named so is given as ./-dm.
    if (args.size() == 2 && isOption(args[1])) {
        error = "a target file is needed before " + args[1] + " (a file of that name is written as ./" + args[1] + ")";
        return std::nullopt;
    }
    CommandLine cl;
    cl.source = args[0];
    cl.target = args[1];
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-dm") {
            cl.mono = true;
        } else if (a == "-reencode") {
            cl.reencode = true;
        } else if (a == "-threads-stdin") {
            cl.threadsFromStdin = true;
        } else if (a == "-threads") {
            if (i + 1 >= args.size()) {
                error = "-threads needs a number";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
                error = "the thread count \"" + EncodeError::printable(value) + "\" is not a number";
                return std::nullopt;
            }
            const std::size_t firstDigit = std::min(value.find_first_not_of('0'), value.size());
            const std::string digits = value.substr(firstDigit);
            if (digits.size() > 2 || std::atoi(digits.c_str()) > kMaxThreads) {
                error = "the thread count " + value + " is outside 0 to " + std::to_string(kMaxThreads);
                return std::nullopt;
            }
            cl.threads = std::atoi(digits.c_str());
        } else if (a == "-br") {
            if (i + 1 >= args.size()) {
                error = "-br needs a bitrate";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            // Digits only: no sign, no blank, tab or newline before or after.
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
                error = "the bitrate \"" + EncodeError::printable(value) + "\" is not a number";
                return std::nullopt;
            }
            const std::size_t firstDigit = std::min(value.find_first_not_of('0'), value.size());
            const std::string digits = value.substr(firstDigit);
            if (digits.size() > 6 || std::atol(digits.c_str()) < kMinBitrate || std::atol(digits.c_str()) > kMaxBitrate) {
                error = "the bitrate " + value + " is outside 8000 to 320000";
                return std::nullopt;
            }
            const long bits = std::atol(digits.c_str());
            // LAME would silently write the nearest table bitrate instead.
            if (bits % 1000 != 0 || std::find(std::begin(kMp3Bitrates), std::end(kMp3Bitrates), bits / 1000) == std::end(kMp3Bitrates)) {
                error = "the bitrate " + value + " is not an MP3 bitrate (those are " + mp3BitrateList() + ")";
                return std::nullopt;
            }
            cl.bitrate = static_cast<int>(bits);
        } else if (a == "-gain" || a == "-peak" || a == "-rg-track" || a == "-rg-album") {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            const std::string shown = "\"" + EncodeError::printable(value.substr(0, 64)) + "\"";
            if (a == "-gain") {
                if (!readGain(value, cl.gainDb)) {
                    error = "the gain " + shown + " is not a number of dB from -40 to 40 (at most two decimals)";
                    return std::nullopt;
                }
                cl.gainGiven = true;
            } else if (a == "-peak") {
                if (!readPeak(value, cl.peak)) {
                    error = "the peak " + shown + " is not a number from 0 to 100 (at most six decimals)";
                    return std::nullopt;
                }
            } else {
                const std::size_t comma = value.find(',');
                ReplayGain& rg = a == "-rg-track" ? cl.trackGain : cl.albumGain;
                if (comma == std::string::npos || !readGain(value.substr(0, comma), rg.gainDb)
                    || !readPeak(value.substr(comma + 1), rg.peak)) {
                    error = a + " takes GAIN,PEAK (dB from -40 to 40, a peak from 0 to 100), not " + shown;
                    return std::nullopt;
                }
                rg.given = true;
            }
        } else {
            error = "unknown option \"" + EncodeError::printable(a) + "\"";
            return std::nullopt;
        }
    }
    return cl;
}
