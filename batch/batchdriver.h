#pragma once
#include "batchboard.h"
#include "batchhost.h"
#include "batchprogress.h"
#include "batchwalk.h"
#include "coreshare.h"
#include "encoderpool.h"
#include "loudnesslevel.h"
#include "outputlayout.h"
#include "planreader.h"
#include "recordkeeper.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <vector>
#include <set>
#include <string>

#include <ctime>

class LoudnessPass;

// Runs one batch over the Vardo list, with up to the job limit of encoders at once. It
// belongs to its host (the main window, or the command line), not to the status board: closing the board mid-batch starts no
// further file, but every file in progress still finishes and its outcome is written into its
// own entry, found by id, in whatever order the encoders end. It waits for each encoder by its
// signals, so the program uses no CPU while encoders work, and reads their percent lines as
// they come.
class BatchDriver : public QObject, public EncoderPool::Member {
    Q_OBJECT
public:
    // parent owns the driver: the host's object, whose direct children are its batches.
    BatchDriver(BatchHost* main, BatchBoard* board, QObject* parent);
    ~BatchDriver() override;

    void VardoMediaFile();
    // What a plan read of the disk moments ago (PlanReader::Hand), for a batch that follows
    // it at once: each output and source it looked at serves the batch's first look at it.
    void FollowPlan(vardune::PlanReader reader) { reader_ = std::move(reader); }

    // Starts the encoder for one file without waiting for it: 0 when it is on its way (its end
    // or its failure to start arrives as a signal), -1 when it cannot be started at all.
    int MediaConvert(const QString& Source, const QString& Target, std::uint64_t entry);

    // An encoder found no room left in the output folder: the batch stopped for it.
    bool RoomRanOut() const { return roomRanOut_; }

    // Stops the batch now: no further file starts, and each encoder converting a file or a
    // folder's picture is asked to stop (SIGTERM), abandoning its file whole; each such file
    // is recorded as stopped, and the batch ends as the last one ends. Returns how many were
    // asked.
    int StopEncoders();

    // As a member of the program's encoder pool. The cores it is told to work on are told to
    // the encoder, which takes them from its next segment.
    int Running() const override;
    int BusyCores() const override;
    bool WaitsToStart() const override;
    std::vector<vardune::CoreShare::Running> Shares() const override;
    void SetShares(const std::vector<int>& threads) override;
    void Resume() override;

signals:
    // The batch is over; the driver deletes itself afterwards. summary says what it did ("12
    // done, 1 failed, 38.2 MB saved"; "3 done, 397 up to date, 0 failed, 4.1 MB saved"), or is
    // empty when it took up no file.
    void Finished(const QString& summary);
    // The whole batch's percent, weighted by source size, each time it rises.
    void ProgressChanged(int percent);

private:
    struct Job {
        QProcess* process = nullptr;
        std::uint64_t entry = 0;
        std::string target;
        int percent = 0;
        int renamings = 0;  // times it was started again under another name
        int threads = 1;         // the cores it works on
        bool segmented = false;  // it takes more or fewer cores when told
        double seconds = 0;      // its source's playing time, 0 when unknown
        timespec started {};     // when its encoder was started, by the wall clock
    };

    bool MayStart() const;
    // Even loudness: every file of the batch is measured first (LoudnessPass, as many at
    // once as encoders run), then each gets its gain, and the batch goes on (Proceed).
    void MeasureLoudness();
    void LoudnessMeasured();
    // The batch's start once its files are measured (when levelling): names from tags wait
    // for the tags, else the encoders start.
    void Proceed();
    // Names from tags: the batch starts once the encoder has read the tags of every file it
    // takes up (off the window's thread, for the forecast), so no file is named without them.
    void WaitForTags();
    // Starts encoders while there is room and entries wait (an entry whose output is up to
    // date is done without one); ends the batch when nothing runs and nothing more will start. The room is the job limit less the encoders of every batch
    // (a batch started while an earlier one's files finish shares the cores with them), but a
    // batch always runs one of its own: it is never seen to wait on files the user ended, and
    // one encoder at a time stays the one-at-a-time batch.
    void Fill();
    std::list<Job>::iterator FindJob(const QProcess* process);
    // One of its encoders has ended: its place is free for any batch of the pool.
    void EncoderEnded();
    void ReadProgress(QProcess* process);
    void EncoderFinished(QProcess* process, int exitCode, QProcess::ExitStatus status);
    void EncoderError(QProcess* process, QProcess::ProcessError error);
    // An encoder refused its target: a file of another source came to stand there (it gets
    // the next number), or the folder refused the name for its characters (it, and every later
    // file of the batch, gets an ASCII name). Starts the file again under its new name and
    // says so; false when there is no other name to give.
    bool StartUnderAnotherName(const Job& job, int exitStatus);
    // The output path for an entry in the output folder (ending with its separator), by the
    // layout the settings chose, numbered past the paths it may not take.
    std::string TargetFor(const vardune::VardoEntry& entry, const std::string& folder);
    // Makes the target's folders below the output folder; false, with why, when one cannot
    // be, nameRefused set when the file system refused its name (for its characters).
    static bool MakeFolders(const std::string& folder, const std::string& target, std::string& why, bool& nameRefused);
    // Whether the output folder is gone, or lies on another device than when the batch
    // started (its card pulled: the bare mount point is another disk's).
    bool FolderLost() const;
    // The folder is lost: nothing more starts, and nothing is written there any more.
    void LoseFolder();
    // An encoder that started as the card went wrote its output under the bare mount point,
    // on another disk: that file, provably this encoder's (made since it started, marked as
    // made from its source, not on the batch's device), is removed again.
    void RemoveStrayOutput(const Job& job);
    // Fails an entry whose encoder was never started, saying why.
    void Refuse(std::uint64_t entry, const std::string& target, const std::string& why);
    // Writes an encoder's outcome into its entry and lets its output name go.
    // targetSize: the output's size text where it was just read (an output up to date).
    void Record(const Job& job, int started, int exitStatus, const QString& errorLine,
                const std::optional<std::string>& targetSize = std::nullopt);
    void ShowBatchProgress();
    // Shows the percents read since the last time, at most a few times a second.
    void ShowPercents();
    void EndBatch();
    // In the layouts that keep folders: the cover picture of a done entry's source folder goes
    // into its output folder, once per output folder and batch.
    void CarryFolderPicture(const vardune::VardoEntry& entry, const std::string& target);
    // Writes the carried playlists that name an output this batch made (with the outputs of
    // tracks done in earlier batches, still in the list); what each holds, for the batch's
    // summary ("Playlist Road.m3u8: 12 tracks written, 3 left out").
    QStringList CarryPlaylists();
    // An entry's playing time as the encoder measured it, or as its size suggests.
    double PlayingTime(std::uint64_t entry) const;
    // Has the encoder fit a folder's cover into a player's size; the batch ends once it has.
    void ShrinkPicture(const QString& source, const QString& output);
    // The output folder's record of what was written there (RecordKeeper): a file this batch
    // put there, or found up to date where it planned it, from source; an output or playlist
    // whose path changed replaces its predecessor, once whole. Nothing in a dry run.
    void KeepRecord(vardune::WrittenRecord::Kind kind, const std::string& path, const std::string& source);

    // The host or the board, for as long as its object lives: null once it is gone.
    template <class T>
    class Guarded {
    public:
        Guarded(T* target, QObject* object) : target_(target), object_(object) {}
        T* get() const { return object_ ? target_ : nullptr; }
        T* operator->() const { return get(); }
        explicit operator bool() const { return get() != nullptr; }

    private:
        T* target_;
        QPointer<QObject> object_;
    };

    Guarded<BatchHost> main_;
    Guarded<BatchBoard> board_;
    QPointer<EncoderPool> pool_;
    vardune::BatchWalk walk_;
    // What naming and judging outputs read of the disk, each once, for this batch.
    vardune::PlanReader reader_;
    vardune::BatchProgress progress_;
    QElapsedTimer clock_;
    QTimer* refresh_;
    QTimer* clockTick_;
    std::list<Job> jobs_;
    // The playing time of the files still to start, reckoned when the first one starts.
    std::optional<double> waitingSeconds_;
    int limit_ = 1;
    int shownPercent_ = -1;
    bool walkOver_ = false;
    // An encoder found the output folder full, or no longer writable: no further file starts.
    bool folderFull_ = false;
    bool roomRanOut_ = false;
    // How output names are formed in the output folder.
    vardune::BatchWalk::NameRules names_;
    // Where outputs go below the output folder, as the settings said when the batch started.
    vardune::OutputLayout layout_;
    // What outputs are made with: the settings' profile when the batch started, at the
    // bitrate the user chose for it where one was (a card filled).
    std::string startQuality_;
    // The profile the next file is converted by.
    vardune::EncodingProfile Profile() const;
    // The output folder's device when the batch started (a batch that writes).
    std::optional<std::uint64_t> device_;
    bool folderLost_ = false;
    std::string folder_;  // the output folder, ending with its separator
    bool ended_ = false;
    bool stopping_ = false;  // StopEncoders: its encoders are being stopped
    // When the batch began: a temporary file of an encoder older than this, that no encoder
    // holds, is a leftover of one that was killed.
    std::time_t began_ = 0;
    // The output folders whose leftovers this batch has cleared.
    std::set<std::string> clearedFolders_;
    // The output each source became in this batch (converted or up to date), by the source's
    // path as the list holds it: what carried playlists name (by its real path).
    std::map<std::string, std::string> outputs_;
    // The output folders whose cover picture this batch has seen to.
    std::set<std::string> picturedFolders_;
    // The encoders shrinking folder pictures now.
    QSet<QProcess*> pictures_;
    // Even loudness as the settings said when the batch started, and each entry's level.
    vardune::LoudnessLevel::Mode levelling_ = vardune::LoudnessLevel::Mode::Off;
    std::map<std::uint64_t, vardune::LoudnessLevel::Level> levels_;
    QPointer<LoudnessPass> pass_;
    // What is measured of the batch's files: before the batch (the host's), then by its pass.
    std::map<std::uint64_t, std::optional<vardune::LoudnessLevel::Measure>> measures_;
    bool measuring_ = false;  // the gains are still to be worked out
    // The record of the output folder the batch writes in, and the earlier outputs it removed.
    std::unique_ptr<vardune::RecordKeeper> record_;
    std::size_t replaced_ = 0;
};
