#pragma once
#include "batchhost.h"
#include "mainlayout.h"
#include "sizeforecast.h"
#include "takennames.h"
#include "windowplacement.h"

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>

class ChoiceBox;
class EncoderPool;
class FileListView;
class ForecastReader;
class LoudnessPass;
class FolderTreeView;
class QLabel;
class QLineEdit;
class QStatusBar;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeView;
class SplitterBar;
class VardoListModel;
class VardoListView;
class frmStartUp;
class frmMonitor;
class frmOption;
class frmAbout;
class frmUpdate;
class InstanceChannel;
class QMenu;

// The main window: folder tree and file view on the left, the Vardo list and the output
// folder on the right, toolbar on top, the profile line in the status bar at the bottom.
// Panes are placed by the layout arithmetic in twips; the window only applies it.
class Form1 : public QMainWindow, public BatchHost {
    Q_OBJECT
public:
    explicit Form1(frmStartUp* splash = nullptr, QWidget* parent = nullptr);

    // The first layout pass. The first call loads the window (settings, file view, status
    // bar) before the pass runs.
    void InitForm();
    // The layout pass: on every resize and on every mouse move over a splitter bar.
    void Form_Resize();
    // Writes the settings, with the file view's folder, and ends the process. The operating
    // system's requests to end come here at once.
    void Form_Unload();
    // The Exit command and the close box: when encoders run, asks first whether to stop
    // after the files in progress and quit; a second request while that goes on ends at once.
    void RequestUnload();
    void ShowStatusBarValue();
    // Where a waiting entry's output will go, by the layout and output folder chosen now,
    // numbered as the batch numbers names that collide within the list (a file found standing
    // there is numbered past only when the batch writes); empty while it cannot be said.
    std::string PlannedOutput(const vardune::VardoEntry& entry) const;
    // Plans every waiting entry's output again, soon: the layout, the output folder, the
    // list or a source's tags have changed.
    void SchedulePlans();
    // A toolbar button, by its key.
    void ButtonClick(const QString& key);

    // The Vardo list commands.
    void AddSelectedEntries();
    bool IsDuplicatedEntry(const QString& path) const;
    void RemoveSelectedEntries();
    void ClearAllEntries();
    static QString GetFileName(const QString& path);
    void SelectOutputPath();
    // Offers to remove the outputs Vardune made whose source is no longer among the list's.
    void TidyPlayer();
    // Opens the status board, which runs the batch.
    void ShowStatusBoard();
    // Shows the options dialog (one at a time) and the profile line at once.
    void ShowOptions();
    void ShowAbout();
    // Shows the version check; when it is open already, only brings it to the front.
    void ShowCheckNewVersion();

    // Adds every file of the folder and its subfolders that matches the type box.
    void AddFolderEntries(const QString& folder);
    // Sets the selected failed entries waiting again.
    void RetrySelectedEntries();
    // The output of the entry the list's menu was opened on: opened with the desktop's
    // program for it, or shown in its folder.
    void OpenOutput();
    void ShowOutputInFolder();
    // A batch has ended: what it did stands in the status bar until the next command.
    void BatchFinished(const QString& summary);
    // The encoders running now, of every batch.
    int EncodersRunning() const;
    // A second start asked: the window, and the window in charge of it, come to the front.
    void ShowYourself();

    const vardune::MainGeometry& Geometry() const { return geometry_; }
    vardune::LayoutFrame Frame() const;
    bool IsLoaded() const { return loaded_; }
    // Output paths that encoders write now, of every batch: no other encoder gets them.
    vardune::TakenNames& RunningTargets();
    EncoderPool& Pool() override { return *pool_; }
    // The waiting files' outputs at the chosen quality, with what is known of them now.
    vardune::SizeForecast Forecast() const;
    // The tags the encoder read of an entry's source for the forecast, or nullptr while they
    // are not read (or it cannot be read).
    const vardune::OutputLayout::Tags* SourceTags(std::uint64_t entry) const override;
    // Whether the encoder has yet to say what it read of an entry's source (its tags among it).
    bool SourceTagsPending(std::uint64_t entry) const override;
    double SourceSeconds(std::uint64_t entry) const override;
    const std::optional<vardune::LoudnessLevel::Measure>* MeasuredAhead(std::uint64_t entry) const override;
    // Even loudness: whether waiting files are being measured ahead of the batch.
    bool MeasuringAhead() const { return aheadPass_ != nullptr; }
    // Shows the forecast beside the list: now, or soon when called again and again.
    void ShowForecast();
    // Before a batch names outputs by tags: every waiting source edited since the encoder read
    // it (tags written again in place, the size unchanged) is read again, then ShowForecast.
    void ReadEditedSources() override;

    // The playlists found in added folders (or added themselves), carried when a batch ends.
    const std::vector<CarriedPlaylist>& Playlists() const override { return playlists_; }
    // The batch's view of the window: its list and its output folder box.
    QObject* HostObject() override { return this; }
    VardoListModel* BatchList() override { return ListModel; }
    QString OutputFolderText() const override;
    void SetOutputFolderText(const QString& folder) override;
    bool WantsDesktopNotice() const override;
    // Remembers a playlist once; a later add of the same file keeps the first root.
    void RememberPlaylist(const std::string& path, const std::string& root);
    void ScheduleForecast();

    // Menu items, under their menu names.
    QAction* AddEntry;
    QAction* RemoveEntry;
    QAction* ClearAllEntry;
    QAction* Exit;
    QAction* StartVardo;
    QAction* CheckNewVersion;
    QAction* TidyThePlayer;
    QAction* Options;
    QAction* OutputPath;
    QAction* ActiveHelp;
    QAction* About;

    QWidget* Client;
    QToolBar* Toolbar1;
    QStatusBar* StatusBar1;
    QLabel* StatusPanel;
    // The waiting files, their playing time, the forecast size and the free space.
    QLabel* ForecastPanel;
    FolderTreeView* XTreeView1;
    SplitterBar* SplitV;
    QWidget* Picture2;
    QLabel* Label1;
    ChoiceBox* ComboBox1;
    FileListView* XListView1;
    SplitterBar* SplitH;
    VardoListView* ListView1;
    VardoListModel* ListModel;
    QWidget* Picture1;
    QToolButton* Command1;
    QLineEdit* Text1;

    // The list's context menu.
    QMenu* ListMenu;
    QAction* ListRemove;
    QAction* ListRetry;
    QAction* ListOpen;
    QAction* ListShowInFolder;

    // The status board's animation step: kept from one opening of the board to the next.
    qint16 monitorAnimationStep = 0;

    // True (-1) from a press on either splitter bar to the next release on either.
    qint16 bSplitDrag = 0;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void CreateMenus();
    void CreateToolbar();
    void CreatePanes();
    void CreateListMenu();
    void ShowListMenu(const QModelIndex& entry, const QPoint& at);
    // Every command ends the end-of-batch line: the profile line stands there again.
    void CommandStarted();
    // Before a batch: the output folder is there and takes files, or the user has it made;
    // false when the batch must not start.
    bool OutputFolderReady();
    void PlaceDockedBars();
    void ApplyGeometry();
    // The playlists carried by the list kept from the last run.
    void RestorePlaylists();
    // Checks each path and appends the good ones; each refused one gets its own message.
    // Returns how many were appended.
    // root: the folder they were added from (the file view's), or empty for files on their own.
    int AddEntries(const QStringList& paths, const QString& root = QString());
    // What Add's checks make of a file: taken (its size text in size), not of an audio type
    // the encoder reads, already waiting, or empty, missing or unreadable. pending holds the
    // paths taken but not yet appended.
    enum class AddCheck { Taken, NotAudio, Duplicate, Invalid };
    AddCheck CheckForAdd(const std::string& file, const std::unordered_set<std::string>& pending,
                         std::string& size) const;
    // The wanted files of a folder and its subfolders, in path order, through Add's checks:
    // one message for those already waiting, one for the empty ones, one that says how many
    // were added and how many other files were left out.
    void AddFolder(const QString& folder, const std::function<bool(const std::string&)>& wanted);
    void ShowRefused(const QStringList& paths, AddCheck why);
    // Files and folders dropped from a file manager: a file goes through Add's checks, a
    // folder gives its audio files as AddFolder takes them, whatever the type box shows.
    void AddDroppedPaths(const QStringList& paths);
    // The Vardo list of the last run, read at load; a file that cannot be read as one is set
    // aside, with a message. Kept at unload, written whole or not at all.
    void RestoreList();
    void KeepList();
    // The placement the user left the window in, restored at load and kept at unload.
    void RestorePlacement(const vardune::WindowPlacement& placement);
    vardune::WindowPlacement CurrentPlacement() const;
    // No placement kept yet: the designed window scaled to about two thirds of the screen.
    void SizeForFirstStart();
    void XListView1_ItemEvent();
    void SplitH_MouseMove(float x);
    void SplitV_MouseMove(float y);

    frmStartUp* splash_;
    QPointer<frmMonitor> monitor_;
    QPointer<frmOption> options_;
    QPointer<frmAbout> about_;
    QPointer<frmUpdate> update_;
    InstanceChannel* channel_ = nullptr;
    std::uint64_t menuEntry_ = 0;  // the entry the list's menu was opened on, or 0
    vardune::MainGeometry geometry_ = vardune::MainGeometry::Designed();
    EncoderPool* pool_;
    ForecastReader* forecastReader_;
    // Each entry's source as the forecast reader numbers it, and when the file was changed
    // as it was asked for, by entry id.
    struct ForecastSource {
        int number = -1;
        std::int64_t changed = -1;
    };
    std::unordered_map<std::uint64_t, ForecastSource> forecastSource_;
    QTimer* forecastTimer_;
    QTimer* freeSpaceTimer_;
    bool loaded_ = false;
    bool unloading_ = false;
    bool quitting_ = false;      // quits once the files in progress are done
    bool summaryShown_ = false;  // the status bar tells of the batch that ended
    std::vector<CarriedPlaylist> playlists_;
    // Plans the waiting entries' outputs in list order, as the batch will take them up: once
    // after a change, never each time a row is drawn (ten thousand entries take some 30 ms).
    void PlanOutputs();
    QTimer* planTimer_;
    // Even loudness: the waiting files are measured while the list is put together, in one
    // process beside the window, so a batch started later has no measuring left to do.
    // Stopped while a batch runs (the batch measures what is left with every core).
    void MeasureAhead();
    void AheadMeasured();
    struct Ahead {
        std::int64_t changed = -1;  // the file's change time when it was measured
        std::optional<vardune::LoudnessLevel::Measure> measure;
    };
    std::unordered_map<std::uint64_t, Ahead> measuredAhead_;  // by entry id
    std::unordered_map<std::uint64_t, std::int64_t> aheadAsked_;  // by entry id: change time asked at
    LoudnessPass* aheadPass_ = nullptr;
    std::unordered_map<std::uint64_t, std::string> plannedOutputs_;  // by entry id
};
