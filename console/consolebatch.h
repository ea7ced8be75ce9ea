#pragma once
#include "batchboard.h"
#include "batchhost.h"
#include "consoleoutput.h"

#include "consolecommand.h"
#include "outputplan.h"
#include "planreader.h"
#include "sizeforecast.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <string>
#include <unordered_map>
#include <vector>

class BatchDriver;
class EncoderPool;
class ForecastReader;

// The batch run from the command line: the files and folders named there go into a list of
// their own, and the same batch the window runs converts them, with no window and no display.
// It reports each finished file on standard output (ConsoleOutput says how).
class ConsoleBatch : public QObject, public BatchHost, public BatchBoard {
    Q_OBJECT
public:
    // The exit statuses.
    static constexpr int kAllDone = 0;
    static constexpr int kSomeFailed = 1;
    static constexpr int kUsage = 2;
    static constexpr int kNoRoom = 3;

    // Runs the whole command under a QCoreApplication made here; returns the exit status.
    static int Main(int argc, char* argv[]);

    explicit ConsoleBatch(const vardune::ConsoleCommand& command);
    ~ConsoleBatch() override;

    // Closes standard output: a write or close that failed is said (once) and makes a batch
    // that went well end with kSomeFailed. Returns the exit status.
    int CloseOutput(int status);
    // Lists the sources, reads them, checks the room and runs the batch (or only prints it);
    // done() is emitted with the exit status.
    void Start();
    // A request to end (SIGINT, SIGTERM, SIGHUP): the first starts no further file and lets
    // the files in progress finish, as the window's Exit does; a second stops their encoders
    // too, which abandon their files whole, and the run ends as they end; a third ends at once.
    void Interrupt();

    // BatchHost
    QObject* HostObject() override { return this; }
    VardoListModel* BatchList() override { return list_; }
    const vardune::Settings& BatchSettings() const override;
    QString OutputFolderText() const override { return outputFolder_; }
    void SetOutputFolderText(const QString& folder) override { outputFolder_ = folder; }
    EncoderPool& Pool() override { return *pool_; }
    const vardune::OutputLayout::Tags* SourceTags(std::uint64_t entry) const override;
    bool SourceTagsPending(std::uint64_t entry) const override;
    double SourceSeconds(std::uint64_t entry) const override;
    // Every file is read afresh in a run of its own.
    void ReadEditedSources() override { ShowForecast(); }
    void ShowForecast();
    const std::vector<CarriedPlaylist>& Playlists() const override { return playlists_; }
    bool WantsDesktopNotice() const override { return false; }
    void EntryRecorded(std::uint64_t entry, const std::string& target,
                       const vardune::BatchWalk::Outcome& outcome) override;
    bool PlansOnly() const override { return command_.dryRun || command_.mode == vardune::ConsoleCommand::Mode::Plan; }
    bool Writes() const override { return !command_.dryRun; }
    void Planned(std::uint64_t entry, const std::string& source, const std::string& target, const std::string& program,
                 const std::vector<std::string>& arguments) override;

    // BatchBoard
    QObject* BoardObject() override { return this; }
    bool Going() const override { return going_; }
    std::optional<std::vector<std::uint64_t>> FilesChosen() const override { return std::nullopt; }
    void BatchStarted(const QString& total) override;
    void ShowStatus(const QString&) override {}
    void ShowSource(const QString&, const QString&) override {}
    void ShowTarget(const QString&) override {}
    void ShowBatchLine(const QString& line) override;
    void EndBoard() override {}

signals:
    void done(int status);

private:
    // Puts the sources into the list; false when none could be taken (each refused one is
    // reported as failed).
    void ListSources();
    void AddFile(const std::string& path, const std::string& root);
    // Whether the output folder is there, or can be made where it is missing (made when make
    // is true); says why not and ends the run with kSomeFailed otherwise.
    bool OutputFolderUsable(bool make);
    // Names every file as the batch will (OutputPlan), then reads the facts of those that
    // will be converted.
    void Plan();
    // Asks the encoder for the facts of these entries (each once).
    void Read(const std::vector<std::uint64_t>& entries);
    // Goes on once every fact asked for is in.
    void WaitForFacts();
    // The forecast of the planned files at the profile as it stands now.
    vardune::SizeForecast Forecast() const;
    // Whether the outputs fit (at the highest bitrate that does, with --fit): the batch runs,
    // or the run ends with kNoRoom; a dry run says which.
    void CheckRoom();
    void RunBatch();
    void Finished(const QString& summary);
    // One finished file, as the output's form wants it.
    void Report(const std::string& source, const std::string& target, const std::string& status,
                const std::string& reason, double bytes);
    // The progress line: how many files are done, the batch's time left, what converts now.
    void Redraw(bool force = false);
    // Whether standard output failed; the first time, says so on standard error and, for a
    // plan, plans no further file.
    bool OutputFailed();

    vardune::ConsoleCommand command_;
    VardoListModel* list_;
    ForecastReader* reader_;
    std::unordered_map<std::uint64_t, int> facts_;  // entry id -> the reader's number
    // What the run waits for: the tags names are made of, the facts of the files to convert,
    // or nothing more (the batch runs).
    enum class Stage { Naming, Room, Batch };
    Stage stage_ = Stage::Room;
    std::vector<vardune::OutputPlan::File> plan_;
    // What the plan read of the disk, and when: the batch follows it while it is fresh.
    vardune::PlanReader planReader_;
    QElapsedTimer plannedAt_;
    static constexpr qint64 kPlanFresh = 1000;  // ms
    bool everyFileRead_ = false;
    EncoderPool* pool_;
    ConsoleOutput output_;
    std::vector<CarriedPlaylist> playlists_;
    QString outputFolder_;
    QPointer<BatchDriver> driver_;
    bool going_ = false;
    bool interrupted_ = false;
    bool outputFailureSaid_ = false;
    bool stopping_ = false;  // asked twice: the encoders are being stopped
    int abandoned_ = 0;      // the files whose encoders were stopped
    int refused_ = 0;        // sources that never became entries
    int finished_ = 0;
    int total_ = 0;
    int planned_ = 0;
    int failed_ = 0;
    std::string forecastLine_;  // a dry run's forecast and whether it fits
    bool fits_ = true;
    QString batchLine_;
    QElapsedTimer drawn_;  // since the progress line was last drawn
};
