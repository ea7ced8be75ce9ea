#pragma once
#include "mainlayout.h"
#include "sizeforecast.h"
#include "takennames.h"
#include "windowplacement.h"

#include <QMainWindow>
#include <QPointer>

#include <unordered_map>

class ChoiceBox;
class FileListView;
class ForecastReader;
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

// The main window: folder tree and file view on the left, the Vardo list and the output
// folder on the right, toolbar on top, the profile line in the status bar at the bottom.
// Panes are placed by the layout arithmetic in twips; the window only applies it.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(frmStartUp* splash = nullptr, QWidget* parent = nullptr);

    // The first layout pass. The first call loads the window (settings, file view, status
    // bar) before the pass runs.
    void InitForm();
    // The layout pass: on every resize and on every mouse move over a splitter bar.
    void Form_Resize();
    // Writes the settings, with the file view's folder, and ends the process.
    void Form_Unload();
    void ShowStatusBarValue();
    // A toolbar button, by its key.
    void ButtonClick(const QString& key);

    // The Vardo list commands.
    void AddSelectedEntries();
    bool IsDuplicatedEntry(const QString& path) const;
    void RemoveSelectedEntries();
    void ClearAllEntries();
    static QString GetFileName(const QString& path);
    void SelectOutputPath();
    // Opens the status board, which runs the batch.
    void ShowStatusBoard();
    // Shows the options dialog (one at a time) and the profile line at once.
    void ShowOptions();
    void ShowAbout();
    // Shows the version check; when it is open already, only brings it to the front.
    void ShowCheckNewVersion();

    const vardune::MainGeometry& Geometry() const { return geometry_; }
    vardune::LayoutFrame Frame() const;
    bool IsLoaded() const { return loaded_; }
    // Output paths that encoders write now, of every batch: no other encoder gets them.
    vardune::TakenNames& RunningTargets() { return runningTargets_; }
    // The waiting files' outputs at the chosen quality, with what is known of them now.
    vardune::SizeForecast Forecast() const;
    // Shows the forecast beside the list: now, or soon when called again and again.
    void ShowForecast();
    void ScheduleForecast();

    // Menu items, under their menu names.
    QAction* AddEntry;
    QAction* RemoveEntry;
    QAction* ClearAllEntry;
    QAction* Exit;
    QAction* StartVardo;
    QAction* CheckNewVersion;
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
    void PlaceDockedBars();
    void ApplyGeometry();
    // Checks each path and appends the good ones; each refused one gets its own message.
    // Returns how many were appended.
    int AddEntries(const QStringList& paths);
    // Files and folders dropped from a file manager: a file goes through Add's checks, a
    // folder gives its MP3 and WAV files, and a message says how many of them were added.
    void AddDroppedPaths(const QStringList& paths);
    // The placement the user left the window in, restored at load and kept at unload.
    void RestorePlacement(const vardune::WindowPlacement& placement);
    vardune::WindowPlacement CurrentPlacement() const;
    void XListView1_ItemEvent();
    void SplitH_MouseMove(float x);
    void SplitV_MouseMove(float y);

    frmStartUp* splash_;
    QPointer<frmMonitor> monitor_;
    QPointer<frmOption> options_;
    QPointer<frmAbout> about_;
    QPointer<frmUpdate> update_;
    vardune::MainGeometry geometry_ = vardune::MainGeometry::Designed();
    vardune::TakenNames runningTargets_;
    ForecastReader* forecastReader_;
    // Each entry's source as the forecast reader numbers it, by entry id.
    std::unordered_map<std::uint64_t, int> forecastSource_;
    QTimer* forecastTimer_;
    QTimer* freeSpaceTimer_;
    bool loaded_ = false;
    bool unloading_ = false;
};
