#include "output/segmentedmp3writer.h"

#include "common/encodeerror.h"
#include "common/terminationsignalsheld.h"
#include "mpeg/infoframe.h"
#include "mpeg/mpegheader.h"
#include "output/atomicfile.h"

#include <lame/lame.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>

namespace {

constexpr std::size_t kBufferSize = 256 * 1024; // as Mp3Writer's: lame_encode_flush needs room
constexpr std::size_t kFeedBufferSize = 64 * 1024;
constexpr int kMaxFramesPerCall = 8192;

[[noreturn]] void failEncode(int code)
{
    if (code == -2)
        throw EncodeError("the MP3 encoder ran out of memory");
    throw EncodeError("the MP3 encoder failed (error " + std::to_string(code) + ")");
}

// Storage of the segments' samples, mapped from the system for each segment and given back
// when it is written. Through malloc, whose threshold for mapping rises with every large block
// freed, the blocks of later segments would come from the heap, which does not shrink: the
// peak memory would grow with the length of the source.
template <class T>
struct MappedAllocator {
    using value_type = T;
    MappedAllocator() = default;
    template <class U>
    MappedAllocator(const MappedAllocator<U>&) {}
    T* allocate(std::size_t n)
    {
        void* p = mmap(nullptr, std::max<std::size_t>(n, 1) * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) { munmap(p, std::max<std::size_t>(n, 1) * sizeof(T)); }
    template <class U>
    bool operator==(const MappedAllocator<U>&) const { return true; }
    template <class U>
    bool operator!=(const MappedAllocator<U>&) const { return false; }
};

// A stretch of main data slot bytes: frame bytes from offset, length long.
struct SlotSpan {
    std::uint8_t* data;
    int length;
};

} // namespace

struct SegmentedMp3Writer::Job {
    int index = 0;                  // of its segment
    std::int64_t firstSample = 0;   // where its encoder starts: a multiple of the frame length
    std::int64_t firstFrame = 0;    // the global number of its encoder's first audio frame
    std::int64_t boundaryFrame = 0; // where its segment begins (the join sought near it)
    std::vector<float, MappedAllocator<float>> pcm; // interleaved, from firstSample
    bool last = false;

    // Filled by the encoding; read by the writer once done.
    bool done = false;
    std::exception_ptr error;
    lame_global_struct* lame = nullptr;
    Layer3Stream stream;
    bool placeholderPending = false; // LAME's Info frame placeholder not yet taken off
    std::vector<std::uint8_t> placeholder;
    std::vector<Layer3Stream::Frame> frames; // frames[i] is global audio frame frameBase + i
    std::int64_t frameBase = 0;
    std::int64_t fedUntil = 0;       // global sample after the last one given to LAME
    // Of the encoder that was flushed: LAME's Info frame, and what ours is made of.
    std::vector<std::uint8_t> lameTag;
    InfoFrame::Fields fields;

    std::int64_t pcmFrames(int channels) const { return static_cast<std::int64_t>(pcm.size()) / channels; }
    Layer3Stream::Frame* frame(std::int64_t global)
    {
        const std::int64_t i = global - frameBase;
        return i >= 0 && i < static_cast<std::int64_t>(frames.size()) ? &frames[static_cast<std::size_t>(i)] : nullptr;
    }
    std::int64_t frameEnd() const { return frameBase + static_cast<std::int64_t>(frames.size()); }
    // The last `bytes` main data slot bytes before global frame `before`, last span first;
    // false when the frames held do not have that many.
    bool slotTail(std::int64_t before, int bytes, std::int64_t notBefore, std::vector<SlotSpan>& spans)
    {
        spans.clear();
        for (std::int64_t g = before - 1; bytes > 0; --g) {
            Layer3Stream::Frame* f = g >= notBefore ? frame(g) : nullptr;
            if (!f)
                return false;
            const int take = std::min(bytes, f->slotSize());
            spans.push_back({f->bytes.data() + f->bytes.size() - take, take});
            bytes -= take;
        }
        return true;
    }
    ~Job()
    {
        if (lame)
            lame_close(lame);
    }
};

SegmentedMp3Writer::SegmentedMp3Writer(AtomicFile& out, int sampleRate, int channels, const Mp3Writer::Settings& settings, int threads,
    int requests)
    : m_out(out)
    , m_rate(sampleRate)
    , m_channels(channels)
    , m_settings(settings)
    , m_threads(std::max(2, threads))
    , m_requests(requests)
{
    lame_global_struct* probe = Mp3Writer::startOrThrow(sampleRate, channels, settings, false);
    m_outputRate = lame_get_out_samplerate(probe);
    m_outputKbps = lame_get_brate(probe);
    m_ownInfoFrame = Mp3Writer::writesOwnInfoFrame(probe, settings);
    const MpegHeader layout = MpegHeader::layer3(m_outputRate, lame_get_mode(probe) == MONO, m_outputKbps);
    lame_close(probe);
    m_frameSamples = layout.samplesPerFrame();
    if (m_ownInfoFrame)
        m_placeholderSize = layout.frameLengthAt(InfoFrame::bitrateIndexFor(layout));
    // The encoder before a boundary must have finished the frames of every join tried: those
    // after the boundary, LAME's own look-ahead, and the frames whose slots are only complete
    // once later frames' main data has filled them (a full reservoir's worth).
    const int slot = std::max(1, layout.frameLengthAt(layout.bitrateIndex()) - layout.sideInfoEnd());
    const int limit = layout.version() == MpegHeader::Mpeg1 ? 511 : 255;
    const int lag = 2 + (limit + slot - 1) / slot; // measured: LAME holds back one or two frames more
    m_runOutSamples = static_cast<std::int64_t>(kJoinsAfter + lag) * m_frameSamples;
    m_streamStart = m_out.bytesWritten();
}

SegmentedMp3Writer::~SegmentedMp3Writer()
{
    stopWorkers();
}

void SegmentedMp3Writer::stopWorkers()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers)
        t.join();
    m_workers.clear();
}

void SegmentedMp3Writer::startWorkers()
{
    if (static_cast<int>(m_workers.size()) >= m_threads)
        return;
    // The encoders never take a termination signal: it stays with the thread that owns the
    // temporary output file (and holds it back while the file is put in place). Where the
    // system grants fewer threads, fewer encoders work.
    const TerminationSignalsHeld held;
    try {
        while (static_cast<int>(m_workers.size()) < m_threads)
            m_workers.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        if (m_workers.empty())
            throw EncodeError("cannot start the encoders' threads");
        m_threads = static_cast<int>(m_workers.size());
    }
}

void SegmentedMp3Writer::readRequests()
{
    // Between segments only, and only what is there to read: the conversion never waits for
    // its caller. A line longer than any request is dropped whole.
    constexpr std::size_t kLongestLine = 32;
    for (int round = 0; round < 4 && m_requests >= 0; ++round) {
        pollfd p {m_requests, POLLIN, 0};
        if (poll(&p, 1, 0) != 1 || !(p.revents & (POLLIN | POLLHUP)))
            return;
        char bytes[256];
        const ssize_t n = read(m_requests, bytes, sizeof bytes);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                return;
            m_requests = -1; // the caller closed it: nothing more will come
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (bytes[i] != '\n') {
                if (m_requestLine.size() <= kLongestLine)
                    m_requestLine.push_back(bytes[i]);
                continue;
            }
            const std::string& line = m_requestLine;
            if (line.size() > 8 && line.size() <= 10 && line.compare(0, 8, "threads ") == 0
                && line.find_first_not_of("0123456789", 8) == std::string::npos) {
                const int wanted = std::stoi(line.substr(8));
                if (wanted >= 1 && wanted <= 64)
                    m_threads = wanted;
            }
            m_requestLine.clear();
        }
        if (n < static_cast<ssize_t>(sizeof bytes))
            return;
    }
}

void SegmentedMp3Writer::work()
{
    for (;;) {
        Job* job = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            job = m_queue.front();
            m_queue.pop_front();
        }
        try {
            encodeJob(*job);
        } catch (...) {
            job->error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            job->done = true;
        }
        m_done.notify_all();
    }
}

void SegmentedMp3Writer::feed(Job& job, const float* pcm, std::size_t frames, bool flush)
{
    // The room for the encoded bytes: what the samples of one call can make, and for the
    // flush what lame_encode_flush needs.
    std::vector<unsigned char> buffer(flush ? kBufferSize : kFeedBufferSize);
    const int maxPerCall = std::clamp(lame_get_maximum_number_of_samples(job.lame, kFeedBufferSize / 2), 1, kMaxFramesPerCall);
    std::vector<float> left(static_cast<std::size_t>(maxPerCall));
    std::vector<float> right(m_channels == 2 ? static_cast<std::size_t>(maxPerCall) : 0);
    auto take = [&](int written) {
        if (written < 0)
            failEncode(written);
        job.stream.append(buffer.data(), static_cast<std::size_t>(written));
        std::vector<Layer3Stream::Frame> made = job.stream.take();
        auto from = made.begin();
        if (job.placeholderPending && from != made.end()) {
            job.placeholder = std::move(from->bytes);
            job.placeholderPending = false;
            ++from;
        }
        job.frames.insert(job.frames.end(), std::make_move_iterator(from), std::make_move_iterator(made.end()));
    };
    while (frames > 0) {
        const int n = static_cast<int>(std::min<std::size_t>(frames, static_cast<std::size_t>(maxPerCall)));
        if (m_channels == 2) {
            for (int i = 0; i < n; ++i) {
                left[static_cast<std::size_t>(i)] = pcm[2 * i] * Mp3Writer::kSampleScale;
                right[static_cast<std::size_t>(i)] = pcm[2 * i + 1] * Mp3Writer::kSampleScale;
            }
        } else {
            for (int i = 0; i < n; ++i)
                left[static_cast<std::size_t>(i)] = pcm[i] * Mp3Writer::kSampleScale;
        }
        take(lame_encode_buffer_float(job.lame, left.data(), m_channels == 2 ? right.data() : nullptr, n,
            buffer.data(), static_cast<int>(buffer.size())));
        pcm += static_cast<std::size_t>(n) * static_cast<std::size_t>(m_channels);
        frames -= static_cast<std::size_t>(n);
        job.fedUntil += n;
    }
    if (!flush)
        return;
    // The end of the sound: flushed as one encoder flushes it, and the Info frame kept.
    take(lame_encode_flush(job.lame, buffer.data(), static_cast<int>(buffer.size())));
    if (job.stream.pending() != 0)
        throw EncodeError("the MP3 encoder wrote a frame that cannot be read back");
    if (!m_ownInfoFrame) {
        std::vector<std::uint8_t> tag(2880);
        const std::size_t size = lame_get_lametag_frame(job.lame, tag.data(), tag.size());
        if (size > 0 && size <= tag.size())
            job.lameTag.assign(tag.begin(), tag.begin() + static_cast<std::ptrdiff_t>(size));
    }
    job.fields.encoderDelay = lame_get_encoder_delay(job.lame);
    job.fields.padding = lame_get_encoder_padding(job.lame);
    job.fields.lowpassHz = lame_get_lowpassfreq(job.lame);
    job.fields.bitrateKbps = lame_get_brate(job.lame);
    job.fields.quality = lame_get_quality(job.lame);
    lame_close(job.lame);
    job.lame = nullptr;
}

void SegmentedMp3Writer::encodeJob(Job& job)
{
    job.lame = Mp3Writer::startOrThrow(m_rate, m_channels, m_settings, !m_ownInfoFrame);
    job.placeholderPending = !m_ownInfoFrame;
    job.fedUntil = job.firstSample;
    job.frameBase = job.firstFrame;
    feed(job, job.pcm.data(), static_cast<std::size_t>(job.pcmFrames(m_channels)), job.last);
}

void SegmentedMp3Writer::encode(const float* pcm, std::size_t frames)
{
    const std::int64_t segmentSamples = static_cast<std::int64_t>(kSegmentFrames) * m_frameSamples;
    while (frames > 0) {
        if (!m_building) {
            m_building = std::make_unique<Job>();
            m_building->pcm.reserve(static_cast<std::size_t>(segmentSamples + m_runOutSamples) * static_cast<std::size_t>(m_channels));
        }
        Job& b = *m_building;
        const std::int64_t target = static_cast<std::int64_t>(b.index + 1) * segmentSamples + m_runOutSamples;
        const std::int64_t have = b.firstSample + b.pcmFrames(m_channels);
        const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(frames), target - have));
        b.pcm.insert(b.pcm.end(), pcm, pcm + take * static_cast<std::size_t>(m_channels));
        pcm += take * static_cast<std::size_t>(m_channels);
        frames -= take;
        if (have + static_cast<std::int64_t>(take) == target)
            dispatch(false);
    }
}

void SegmentedMp3Writer::dispatch(bool last)
{
    std::unique_ptr<Job> job = std::move(m_building);
    job->last = last;
    while (static_cast<int>(m_inFlight.size()) >= m_threads)
        settleOldest();
    readRequests();
    startWorkers();
    ++m_segmentsDispatched;
    const Job& sent = *job;
    m_inFlight.push_back(std::move(job));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(m_inFlight.back().get());
    }
    m_wake.notify_one();
    if (last)
        return;
    // The next segment's encoder starts its run-in before the boundary, on the frame grid.
    // (The encoder of the segment sent only reads its samples, as this copy does.)
    auto next = std::make_unique<Job>();
    next->index = sent.index + 1;
    next->boundaryFrame = static_cast<std::int64_t>(next->index) * kSegmentFrames;
    next->firstFrame = next->boundaryFrame - kRunInFrames;
    next->firstSample = next->firstFrame * m_frameSamples;
    const std::size_t from = static_cast<std::size_t>(next->firstSample - sent.firstSample) * static_cast<std::size_t>(m_channels);
    const std::int64_t length = static_cast<std::int64_t>(kSegmentFrames + kRunInFrames) * m_frameSamples + m_runOutSamples;
    next->pcm.reserve(static_cast<std::size_t>(length) * static_cast<std::size_t>(m_channels));
    next->pcm.assign(sent.pcm.begin() + static_cast<std::ptrdiff_t>(from), sent.pcm.end());
    // No more segments held than encoders: the next is read once the oldest is written.
    while (static_cast<int>(m_inFlight.size()) >= m_threads)
        settleOldest();
    m_building = std::move(next);
}

void SegmentedMp3Writer::settleOldest()
{
    Job* oldest = m_inFlight.front().get();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [oldest] { return oldest->done; });
    }
    std::unique_ptr<Job> job = std::move(m_inFlight.front());
    m_inFlight.pop_front();
    if (job->error)
        std::rethrow_exception(job->error);
    join(std::move(job));
}

void SegmentedMp3Writer::join(std::unique_ptr<Job> next)
{
    if (!m_current) {
        // The first segment: the stream starts with room for the Info frame.
        m_current = std::move(next);
        m_current->pcm = {};
        if (m_ownInfoFrame)
            m_current->placeholder.assign(static_cast<std::size_t>(m_placeholderSize), 0);
        m_out.write(m_current->placeholder.data(), m_current->placeholder.size());
        m_placeholderSize = static_cast<int>(m_current->placeholder.size());
        return;
    }
    if (tryJoin(*next, next->boundaryFrame - kJoinsBefore, next->boundaryFrame + kJoinsAfter) || takeOver(*next)) {
        m_current = std::move(next);
        m_current->pcm = {};
    }
}

bool SegmentedMp3Writer::tryJoin(Job& next, std::int64_t lo, std::int64_t hi)
{
    Job& cur = *m_current;
    if (!cur.lame)
        return false; // flushed already: nothing may follow (never the case in order)
    const std::int64_t boundary = next.boundaryFrame;
    std::int64_t chosen = -1;
    std::vector<SlotSpan> room;
    std::vector<SlotSpan> borrowed;
    // Nearest the boundary first; a join between long blocks on both sides before any other.
    const std::int64_t reach = std::max(boundary - lo, hi - boundary);
    for (int pass = 0; pass < 2 && chosen < 0; ++pass) {
        for (std::int64_t d = 0; d <= reach && chosen < 0; ++d) {
            for (const int sign : {1, -1}) {
                if (d == 0 && sign < 0)
                    continue;
                const std::int64_t f = boundary + sign * d;
                if (f < lo || f >= hi || f <= m_nextFrame)
                    continue;
                Layer3Stream::Frame* a = cur.frame(f);
                Layer3Stream::Frame* ap = cur.frame(f - 1);
                Layer3Stream::Frame* b = next.frame(f);
                Layer3Stream::Frame* bp = next.frame(f - 1);
                if (!a || !ap || !b || !bp)
                    continue;
                if (b->mainDataBegin > a->mainDataBegin || a->blockTypes != b->blockTypes || ap->blockTypes != bp->blockTypes)
                    continue;
                if (pass == 0 && !(a->allLong() && ap->allLong()))
                    continue;
                if (!cur.slotTail(f, a->mainDataBegin, m_nextFrame, room) || !next.slotTail(f, b->mainDataBegin, next.frameBase, borrowed))
                    continue;
                chosen = f;
                break;
            }
        }
    }
    if (chosen < 0)
        return false;
    // The room the dropped frames of the encoder before had borrowed: zeros (ancillary data of
    // the frames kept), then, at its end, the bytes the next encoder's frame borrowed.
    const int need = next.frame(chosen)->mainDataBegin;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(need));
    std::size_t at = bytes.size();
    for (const SlotSpan& s : borrowed) { // last span first
        at -= static_cast<std::size_t>(s.length);
        std::memcpy(bytes.data() + at, s.data, static_cast<std::size_t>(s.length));
    }
    std::size_t left = bytes.size();
    for (const SlotSpan& s : room) {
        // Fill each span from its end: the last `need` bytes of the room get the borrowed bytes.
        for (int i = s.length - 1; i >= 0; --i)
            s.data[i] = left > 0 ? bytes[--left] : 0;
    }
    writeFrames(chosen);
    // The frames of the next encoder before the join are its run-in: dropped.
    const std::int64_t drop = chosen - next.frameBase;
    next.frames.erase(next.frames.begin(), next.frames.begin() + static_cast<std::ptrdiff_t>(drop));
    next.frameBase = chosen;
    return true;
}

bool SegmentedMp3Writer::takeOver(Job& next)
{
    // No join near this boundary (the two reservoirs differ and keep their difference until
    // one fills or runs dry): the encoder before goes on into the next segment, a few frames
    // at a time, until a join is found, or to the next segment's end.
    Job& cur = *m_current;
    if (!cur.lame)
        throw EncodeError("the MP3 encoder lost its place in the sound");
    std::int64_t at = cur.fedUntil - next.firstSample;
    const std::int64_t end = next.pcmFrames(m_channels);
    if (at < 0 || at > end)
        throw EncodeError("the MP3 encoder lost its place in the sound");
    const std::int64_t step = static_cast<std::int64_t>(kJoinsAfter) * m_frameSamples;
    while (at < end) {
        const std::int64_t n = std::min(step, end - at);
        feed(cur, next.pcm.data() + static_cast<std::size_t>(at) * static_cast<std::size_t>(m_channels),
             static_cast<std::size_t>(n), false);
        at += n;
        if (tryJoin(next, next.boundaryFrame - kJoinsBefore, cur.frameEnd()))
            return true;
    }
    cur.last = next.last;
    if (next.last)
        feed(cur, nullptr, 0, true);
    return false;
}

void SegmentedMp3Writer::writeFrames(std::int64_t until)
{
    Job& cur = *m_current;
    for (; m_nextFrame < until; ++m_nextFrame) {
        Layer3Stream::Frame* f = cur.frame(m_nextFrame);
        if (!f)
            throw EncodeError("the MP3 encoder lost its place in the sound");
        writeAudio(f->bytes);
    }
    // Frames written are not needed again.
    const std::int64_t done = std::min<std::int64_t>(m_nextFrame - cur.frameBase, static_cast<std::int64_t>(cur.frames.size()));
    if (done > 0) {
        cur.frames.erase(cur.frames.begin(), cur.frames.begin() + static_cast<std::ptrdiff_t>(done));
        cur.frameBase += done;
    }
}

void SegmentedMp3Writer::writeAudio(const std::vector<std::uint8_t>& bytes)
{
    if (m_firstHeader.empty() && bytes.size() >= 4)
        m_firstHeader.assign(bytes.begin(), bytes.begin() + 4);
    m_musicCrc = InfoFrame::crc16(bytes.data(), bytes.size(), m_musicCrc);
    m_audioBytes += static_cast<std::int64_t>(bytes.size());
    m_out.write(bytes.data(), bytes.size());
}

void SegmentedMp3Writer::finish()
{
    if (m_segmentsDispatched == 0) {
        // Too short to split: one encoder, today's bytes.
        std::unique_ptr<Job> only = std::move(m_building);
        m_single = std::make_unique<Mp3Writer>(m_out, m_rate, m_channels, m_settings);
        if (only)
            m_single->encode(only->pcm.data(), static_cast<std::size_t>(only->pcmFrames(m_channels)));
        m_single->finish();
        return;
    }
    dispatch(true);
    while (!m_inFlight.empty())
        settleOldest();
    stopWorkers();
    Job& cur = *m_current;
    if (cur.lame)
        throw EncodeError("the MP3 encoder lost its place in the sound");
    writeFrames(cur.frameEnd());

    const std::uint32_t frames = static_cast<std::uint32_t>(m_nextFrame);
    const std::uint32_t streamBytes = static_cast<std::uint32_t>(m_audioBytes + m_placeholderSize);
    const int sourceRate = m_settings.sourceRate > 0 ? m_settings.sourceRate : m_rate;
    if (!m_ownInfoFrame) {
        std::vector<std::uint8_t>& tag = cur.lameTag;
        if (tag.empty())
            return;
        // The first encoder left room for exactly the frame the last one makes.
        if (tag.size() != static_cast<std::size_t>(m_placeholderSize))
            throw EncodeError("the MP3 encoder lost its place in the sound");
        InfoFrame::restate(tag.data(), tag.size(), frames, streamBytes, m_musicCrc);
        InfoFrame::setSourceRate(tag.data(), tag.size(), sourceRate);
        m_out.writeAt(m_streamStart, tag.data(), tag.size());
        return;
    }
    const auto header = m_firstHeader.size() == 4 ? MpegHeader::parse(m_firstHeader.data()) : std::nullopt;
    if (!header)
        return;
    InfoFrame::Fields f = cur.fields;
    f.frames = frames;
    f.streamBytes = streamBytes;
    f.inputRate = sourceRate;
    f.musicCrc = m_musicCrc;
    const auto frame = InfoFrame::build(*header, f);
    m_out.writeAt(m_streamStart, frame.data(), frame.size());
}
