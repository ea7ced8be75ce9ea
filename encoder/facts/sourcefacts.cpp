#include "facts/sourcefacts.h"

#include "common/encodeerror.h"
#include "common/filedescriptor.h"
#include "facts/bitratecap.h"
#include "facts/sourcerecords.h"
#include "mpeg/mpegdetector.h"
#include "mpeg/mpegsurvey.h"
#include "output/coverscaler.h"
#include "output/sourcetags.h"
#include "sources/audiosource.h"
#include "sources/sourceopener.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

namespace {

const int kBitratesKbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

// Sizes of scaled covers remembered at once (under a megabyte of memory).
constexpr std::size_t kMaxKnownCovers = 10000;

// What a forecast needs of a source.
struct Source {
    std::int64_t frames = 0; // sample frames, as decoded
    int rate = 0;
    int channels = 0;
    std::size_t tag = 0;     // bytes of the ID3v2 tag an output carries
    bool atLeast = false;    // frames is only what is known to be there
    bool mpeg = false;
    MpegSurvey survey;       // for an MPEG source
    double bitsPerSecond = 0; // the average of its audio, 0 when not known
    std::int64_t fileBytes = 0;
    SourceTags::Texts texts;  // the text tags an output carries, output names are made of
};

// The tags that output names are made of, as the line names them.
const char* const kNamingTags[] = {"ARTIST", "ALBUMARTIST", "ALBUM", "TITLE", "TRACKNUMBER", "DISCNUMBER", "DATE", "GENRE"};

Source readSource(const std::string& path, const SourceTags::ScaledSize& scaledSize)
{
    Source s;
    FileDescriptor fd(SourceOpener::openFile(path));
    struct stat st {};
    s.fileBytes = fstat(fd.get(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    if (const auto start = MpegDetector::findAudioStart(fd.get())) {
        s.mpeg = true;
        s.survey = MpegSurvey::quick(fd.get(), *start, path);
        // Where the byte count cannot tell whether it is at a bitrate or just above, every
        // frame is read, as the conversion reads them, so both decide alike: copy or encode.
        if (std::any_of(std::begin(kBitratesKbps), std::end(kBitratesKbps),
                [&](int kbps) { return s.survey.undecidedAt(kbps * 1000); }))
            s.survey = MpegSurvey::full(fd.get(), *start, path);
        s.frames = s.survey.decodedFrames;
        s.rate = s.survey.sampleRate;
        s.channels = s.survey.mono ? 1 : 2;
        s.bitsPerSecond = BitrateCap::bitsPerSecond(s.survey);
        s.tag = SourceTags::id3v2SizeFor(path, AudioSource::Container::Mpeg, scaledSize, &s.texts);
        return s;
    }
    // Everything else is opened as a conversion opens it; the decoder knows the frames from
    // the header or measures them from the stream's end (FLAC, Ogg Vorbis, Ogg Opus). A length it
    // cannot measure is given as the least it is, never as a guess.
    const std::unique_ptr<AudioSource> decoder = SourceOpener::open(path);
    s.frames = std::max<std::int64_t>(0, decoder->lengthFrames());
    s.atLeast = !decoder->lengthIsExact();
    s.rate = decoder->sampleRate();
    s.channels = decoder->channels();
    s.bitsPerSecond = BitrateCap::bitsPerSecond(fd.get(), decoder->container(), s.frames, s.rate);
    s.tag = SourceTags::id3v2SizeFor(path, decoder->container(), scaledSize, &s.texts);
    return s;
}

} // namespace

std::string SourceFacts::lineFor(const std::string& path)
{
    Source s;
    try {
        s = readSource(path, [this](const TagLib::ByteVector& picture) { return scaledCoverSize(picture); });
    } catch (const std::exception& e) {
        return SourceRecords::errorLine(e);
    }
    if (s.rate <= 0)
        return "error\t" + EncodeError::printable(path) + " has no sample rate";
    char number[64];
    std::snprintf(number, sizeof number, "%.3f", static_cast<double>(s.frames) / s.rate);
    std::string line = std::string("ok\t") + number + (s.atLeast ? "+" : "");
    const BitrateCap::Source cap {s.bitsPerSecond, s.fileBytes, s.frames, s.rate, s.channels,
        s.tag - SourceTags::markBytesFor(path, s.tag)};
    for (const int kbps : kBitratesKbps) {
        std::int64_t bytes[2] = {};
        for (const bool mono : {false, true}) {
            // The same rule a conversion follows: a small MP3 is copied, so it keeps its size.
            if (s.mpeg && s.survey.smallEnoughFor(kbps * 1000, mono))
                bytes[mono] = static_cast<std::int64_t>(s.tag) + s.survey.streamBytes;
            else
                bytes[mono] = m_sizes.bytes(s.frames, s.rate, s.channels,
                    BitrateCap::choose(cap, kbps * 1000, mono, m_sizes).bitrate / 1000, mono, s.tag);
        }
        line += "\t" + std::to_string(kbps * 1000) + ":" + std::to_string(bytes[0]) + ":" + std::to_string(bytes[1]);
    }
    for (const char* key : kNamingTags) {
        const auto text = s.texts.find(key);
        if (text != s.texts.end() && !text->second.empty())
            line += std::string("\ttag:") + key + "=" + SourceRecords::fieldText(text->second);
    }
    return line;
}

std::size_t SourceFacts::scaledCoverSize(const TagLib::ByteVector& picture)
{
    // Scaled as the conversion will scale it, since no rule of thumb comes near: the same
    // 600 x 600 takes from 20 kB (a flat picture) to 150 kB (fine detail). The files of an
    // album mostly share their cover, which is then scaled once.
    const auto key = std::make_pair(std::hash<std::string_view> {}(std::string_view(picture.data(), picture.size())),
        static_cast<std::size_t>(picture.size()));
    const auto known = m_coverSizes.find(key);
    if (known != m_coverSizes.end())
        return known->second;
    const std::size_t size = CoverScaler::scale(picture).size();
    if (m_coverSizes.size() >= kMaxKnownCovers)
        m_coverSizes.clear();
    m_coverSizes.emplace(key, size);
    return size;
}

int SourceFacts::run(std::FILE* in, std::FILE* out)
{
    return SourceRecords::answer(in, out, [this](const std::string& path) { return lineFor(path); });
}
