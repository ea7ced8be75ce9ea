#pragma once

#include "mpeg/layer3stream.h"
#include "output/mp3writer.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class AtomicFile;
struct lame_global_struct;

// Mp3Writer's output made by several LAME encoders at once, each on its own segment of the
// sound, joined into one stream that obeys the bit reservoir rules of its MPEG version.
//
// The sound is cut on the MPEG frame grid. The encoder of segment k starts a run-in of frames
// before the segment (LAME's delay is constant, so its frames cover the same samples as the
// one encoder's frames of the same number) and the encoder of segment k-1 goes on a run-out of
// frames past its end, unflushed. Near the boundary both have made the same frames; the join
// is a frame F where both use the same block types and encoder k's frame F borrows no more of
// the reservoir (main_data_begin) than encoder k-1's frame F did: frames before F come from
// encoder k-1, the rest from encoder k, and the bytes encoder k's frame F borrowed are copied
// into the room that encoder k-1's dropped frames had borrowed at the end of the frames kept.
// Where no such frame lies near the boundary, encoder k-1 goes on into segment k until one
// does (or to its end).
//
// Segments are read, encoded and written in order; at most one per encoder is held at once
// (the one being read included), so memory does not grow with the length of the source. A
// source that ends within the first segment and its run-out is encoded by one Mp3Writer: its
// bytes are those of a one-thread encoding.
class SegmentedMp3Writer {
public:
    // threads: encoders at once, at least 2. requests: a descriptor of lines "threads N"
    // (N from 1 to 64) that change the number between segments, as a caller hands out cores
    // (-1: none); it is only read when it has something to read, at most a few bytes a time.
    SegmentedMp3Writer(AtomicFile& out, int sampleRate, int channels, const Mp3Writer::Settings& settings, int threads,
        int requests = -1);
    ~SegmentedMp3Writer();
    SegmentedMp3Writer(const SegmentedMp3Writer&) = delete;
    SegmentedMp3Writer& operator=(const SegmentedMp3Writer&) = delete;

    // As Mp3Writer::encode and Mp3Writer::finish.
    void encode(const float* interleaved, std::size_t frames);
    void finish();

    int outputSampleRate() const { return m_outputRate; }
    int outputBitrateKbps() const { return m_outputKbps; }

    // MPEG frames per segment; frames of run-in before a segment and the window of joins.
    static constexpr int kSegmentFrames = 448;
    static constexpr int kRunInFrames = 10;
    static constexpr int kJoinsBefore = 3;  // joins tried from this many frames before the boundary
    static constexpr int kJoinsAfter = 5;  // to this many after it

private:
    struct Job;
    void dispatch(bool last);
    void work();
    void encodeJob(Job& job);
    void feed(Job& job, const float* pcm, std::size_t frames, bool flush);
    void settleOldest();
    void join(std::unique_ptr<Job> next);
    // Joins the next encoder's frames at a frame in [lo, hi) if one fits: true when done.
    bool tryJoin(Job& next, std::int64_t lo, std::int64_t hi);
    // Has the current encoder go on into the next segment; true when it joined on the way.
    bool takeOver(Job& next);
    void writeFrames(std::int64_t until);
    void writeAudio(const std::vector<std::uint8_t>& bytes);
    void stopWorkers();
    void readRequests();
    void startWorkers();

    AtomicFile& m_out;
    int m_rate;
    int m_channels;
    Mp3Writer::Settings m_settings;
    int m_threads;
    int m_outputRate = 0;
    int m_outputKbps = 0;
    bool m_ownInfoFrame = false;
    int m_frameSamples = 1152;       // per MPEG frame
    std::int64_t m_runOutSamples = 0; // past a segment's end, for the joins and LAME's lag

    std::int64_t m_streamStart = 0;
    std::unique_ptr<Job> m_building;  // the segment being read
    int m_segmentsDispatched = 0;
    std::deque<std::unique_ptr<Job>> m_inFlight; // in order
    std::unique_ptr<Job> m_current;   // the encoder whose frames are being written
    std::int64_t m_nextFrame = 0;     // global number of the next audio frame to write
    bool m_placeholderWritten = false;
    int m_placeholderSize = 0;
    std::vector<std::uint8_t> m_firstHeader;
    std::uint16_t m_musicCrc = 0;
    std::int64_t m_audioBytes = 0;
    std::unique_ptr<Mp3Writer> m_single; // a source that ends within its first segment
    int m_requests = -1;
    std::string m_requestLine;

    std::mutex m_mutex;
    std::condition_variable m_wake;   // workers: a job queued, or stop
    std::condition_variable m_done;   // writer: a job finished
    std::deque<Job*> m_queue;
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};
