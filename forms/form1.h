#pragma once
#include "mainlayout.h"
#include "windowplacement.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <cstdint>

class ChoiceBox;
class EncoderPool;
class FileListView;
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
class VardoListActions;
class WaitingForecast;
class WindowBatch;
class frmStartUp;
class frmOption;
class frmAbout;
class frmUpdate;
class InstanceChannel;
class QMenu;

// The main window: folder tree and file view on the left, the Vardo list and the output
// folder on the right, toolbar on top, the profile line in the status bar at the bottom.
// Panes are placed by the layout arithmetic in twips; the window only applies it. It holds its
// controls and menus; the Vardo list's commands (ListActions), what is known of the waiting
// files (Waiting) and the batch's side (Batch) are classes of their own beside it.
class Form1 : public QMainWindow {
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
    // A toolbar button, by its key.
    void ButtonClick(const QString& key);

    static QString GetFileName(const QString& path);
    void SelectOutputPath();
    // Shows the options dialog (one at a time) and the profile line at once.
    void ShowOptions();
    void ShowAbout();
    // Shows the version check; when it is open already, only brings it to the front.
    void ShowCheckNewVersion();
    // A batch has ended: what it did stands in the status bar until the next command.
    void BatchFinished(const QString& summary);
    // A second start asked: the window, and the window in charge of it, come to the front.
    void ShowYourself();
    // Files and folders given on the command line, or handed over by a copy started with
    // them: added to the Vardo list as a drop adds them, once the window is loaded and free
    // (no batch and no message open). Given before the load, they go to the copy that runs
    // already, if one does.
    void AddGivenPaths(const QByteArrayList& paths);

    const vardune::MainGeometry& Geometry() const { return geometry_; }
    vardune::LayoutFrame Frame() const;
    bool IsLoaded() const { return loaded_; }

    // The Vardo list's commands, what is known of its waiting files, and the batch's side.
    VardoListActions* ListActions;
    WaitingForecast* Waiting;
    WindowBatch* Batch;

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
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    // The settings file could not hold settings (why: "it is a FIFO"): it is set aside, with
    // a message, and the defaults are used.
    void SetSettingsAside(const std::string& why);
    void CreateMenus();
    void CreateToolbar();
    void CreatePanes();
    void CreateListMenu();
    void ShowListMenu(const QModelIndex& entry, const QPoint& at);
    // Every command ends the end-of-batch line: the profile line stands there again.
    void CommandStarted();
    void PlaceDockedBars();
    void ApplyGeometry();
    // The placement the user left the window in, restored at load and kept at unload.
    void RestorePlacement(const vardune::WindowPlacement& placement);
    vardune::WindowPlacement CurrentPlacement() const;
    // No placement kept yet: the designed window scaled to about two thirds of the screen.
    void SizeForFirstStart();
    void XListView1_ItemEvent();
    void SplitH_MouseMove(float x);
    void SplitV_MouseMove(float y);
    void AddGivenPathsWhenFree();
    // The window, with the frame the desktop gives it, no larger than the free area of the
    // screen it is on and inside it.
    void FitToScreen();

    frmStartUp* splash_;
    QPointer<frmOption> options_;
    QPointer<frmAbout> about_;
    QPointer<frmUpdate> update_;
    InstanceChannel* channel_ = nullptr;
    QByteArrayList givenPaths_;    // given, not yet added
    bool givenWaiting_ = false; // a later look for a free moment is due
    bool shownOnce_ = false;
    std::uint64_t menuEntry_ = 0;  // the entry the list's menu was opened on, or 0
    vardune::MainGeometry geometry_ = vardune::MainGeometry::Designed();
    EncoderPool* pool_;
    bool loaded_ = false;
    bool unloading_ = false;
    bool quitting_ = false;      // quits once the files in progress are done
    bool summaryShown_ = false;  // the status bar tells of the batch that ended
};
