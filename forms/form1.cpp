#include "form1.h"

#include "choicebox.h"
#include "encoderpool.h"
#include "filelistview.h"
#include "focusframe.h"
#include "formcontrols.h"
#include "foldertreeview.h"
#include "frmabout.h"
#include "frmoption.h"
#include "frmupdate.h"
#include "frmstartup.h"
#include "helpwindow.h"
#include "instancechannel.h"
#include "module1.h"
#include "outputvolume.h"
#include "splitterbar.h"
#include "twips.h"
#include "vardolistactions.h"
#include "vardolistdecoration.h"
#include "vardolistview.h"
#include "waitingforecast.h"
#include "windowbatch.h"

#include "mediafolder.h"
#include "numerictext.h"
#include "outputlayout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <cmath>
#include <utility>

namespace {
// The designed client area: 10215 x 5835 twips.
constexpr int kClientWidth = 681;
constexpr int kClientHeight = 389;

QAction* MenuItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}
} // namespace

Form1::Form1(frmStartUp* splash, QWidget* parent)
    : QMainWindow(parent)
    , splash_(splash)
    , pool_(new EncoderPool(Module1::settings(), this))
{
    Module1::LoadResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vardune"));
    CreateMenus();
    Client = new QWidget(this);
    Client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(Client);
    CreateToolbar();
    CreatePanes();

    ListActions = new VardoListActions({this, ListModel, ListView1, XListView1, ComboBox1, Text1}, this);
    Waiting = new WaitingForecast(ListModel, Text1, ForecastPanel, pool_,
                                  [this] { return Batch && Batch->Board() != nullptr; }, this);
    Batch = new WindowBatch(this, ListModel, Text1, pool_, Waiting, ListActions, &monitorAnimationStep, this);
    connect(ListActions, &VardoListActions::CommandBegun, this, &Form1::CommandStarted);
    connect(Batch, &WindowBatch::CommandBegun, this, &Form1::CommandStarted);
    connect(Batch, &WindowBatch::Finished, this, &Form1::BatchFinished);

    // The commands of the menus, the list's menu, the panes and the toolbar.
    connect(AddEntry, &QAction::triggered, ListActions, &VardoListActions::AddSelectedEntries);
    connect(RemoveEntry, &QAction::triggered, ListActions, &VardoListActions::RemoveSelectedEntries);
    connect(ClearAllEntry, &QAction::triggered, ListActions, &VardoListActions::ClearAllEntries);
    connect(StartVardo, &QAction::triggered, Batch, &WindowBatch::ShowStatusBoard);
    connect(TidyThePlayer, &QAction::triggered, ListActions, &VardoListActions::TidyPlayer);
    connect(ListRemove, &QAction::triggered, ListActions, &VardoListActions::RemoveSelectedEntries);
    connect(ListRetry, &QAction::triggered, ListActions, &VardoListActions::RetrySelectedEntries);
    connect(ListOpen, &QAction::triggered, this, [this] { ListActions->OpenOutput(menuEntry_); });
    connect(ListShowInFolder, &QAction::triggered, this, [this] { ListActions->ShowOutputInFolder(menuEntry_); });
    // After the drop has ended: a message about a refused file must not hold the other
    // program's drag open.
    connect(ListView1, &VardoListView::DroppedFromFileView, ListActions, &VardoListActions::AddSelectedEntries,
            Qt::QueuedConnection);
    connect(ListView1, &VardoListView::DroppedFiles, ListActions, &VardoListActions::AddDroppedPaths, Qt::QueuedConnection);
    connect(ListView1, &VardoListView::DeletePressed, ListActions, &VardoListActions::RemoveSelectedEntries);
    connect(XTreeView1, &FolderTreeView::AddFolderRequested, ListActions, &VardoListActions::AddFolderEntries);

    Client->installEventFilter(this);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    // Until the window is shown its client has not been laid out: give it the designed size
    // so the load can measure it.
    Client->resize(kClientWidth, kClientHeight);
    PlaceDockedBars();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // The least window in which the tree, the file view, the list with its output strip and
    // the status bar all keep room (the tree gives way to them: KeepPanesIn): three quarters of
    // the designed width, and the bars, the strips and two panes down.
    const vardune::MainGeometry designed = vardune::MainGeometry::Designed();
    const float panes = std::max(2 * vardune::MainGeometry::kLeastPane + 80 + designed.picture2.height,
                                 vardune::MainGeometry::kLeastPane + designed.picture1.height);
    setMinimumSize(kClientWidth * 3 / 4, menuBar()->sizeHint().height() + Toolbar1->sizeHint().height()
                                             + StatusBar1->sizeHint().height() + Twips::ToPixels(panes));
}

void Form1::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File"));
    AddEntry = MenuItem(file, "AddEntry", QStringLiteral("Add &Entry"));
    RemoveEntry = MenuItem(file, "RemoveEntry", QStringLiteral("&Remove Entry"));
    ClearAllEntry = MenuItem(file, "ClearAllEntry", QStringLiteral("&Clear All Entry"));
    Exit = MenuItem(file, "Exit", QStringLiteral("E&xit"));

    QMenu* action = menuBar()->addMenu(QStringLiteral("&Action"));
    action->setObjectName(QStringLiteral("Action"));
    StartVardo = MenuItem(action, "StartVardo", QStringLiteral("&Start Vardo"));
    TidyThePlayer = MenuItem(action, "TidyThePlayer", QStringLiteral("&Tidy the Player\u2026"));
    CheckNewVersion = MenuItem(action, "CheckNewVersion", QStringLiteral("&Check New Version"));

    QMenu* option = menuBar()->addMenu(QStringLiteral("&Option"));
    option->setObjectName(QStringLiteral("Option"));
    Options = MenuItem(option, "Options", QStringLiteral("&Options"));
    OutputPath = MenuItem(option, "OutputPath", QStringLiteral("O&utput Path"));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help"));
    ActiveHelp = MenuItem(help, "ActiveHelp", QStringLiteral("&Help"));
    About = MenuItem(help, "About", QStringLiteral("&About"));

    // The desktop's standard keys: F1 for the manual, Ctrl+Q to quit (as Exit, asking first
    // while a batch runs).
    ActiveHelp->setShortcut(QKeySequence::HelpContents);
    // Ctrl+Q itself: the desktop's own binding for quitting is empty under some themes.
    Exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(Exit, &QAction::triggered, this, &Form1::RequestUnload);
    connect(OutputPath, &QAction::triggered, this, &Form1::SelectOutputPath);
    connect(Options, &QAction::triggered, this, &Form1::ShowOptions);
    connect(About, &QAction::triggered, this, &Form1::ShowAbout);
    connect(CheckNewVersion, &QAction::triggered, this, &Form1::ShowCheckNewVersion);
    connect(ActiveHelp, &QAction::triggered, this, [this] {
        CommandStarted();
        HelpWindow::ShowUserGuide(this, Module1::helpFile());
    });
}

void Form1::CreateToolbar()
{
    Toolbar1 = new QToolBar(Client);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Toolbar1->setIconSize(QSize(24, 24));
    const struct {
        const char* caption;
        const char* key;
        const char* tip;
        const char* icon;
    } buttons[] = {
        {"Add New", "Add", "Add selected media files to Vardo list", "add"},
        {"Remove", "Remove", "Remove selected entries from Vardo list", "remove"},
        {"Clear All", "Clear", "Clear all entries from Vardo list", "clear"},
        {"Output", "Output", "Select output path", "output"},
        {"Options", "Options", "Config Vardo parameters", "options"},
        {"Vardo", "Vardo", "Begin to Vardo media files in Vardo list", "vardo"},
    };
    for (const auto& b : buttons) {
        QAction* button = Toolbar1->addAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(b.icon))),
                                              QLatin1String(b.caption));
        button->setObjectName(QStringLiteral("Toolbar1_") + QLatin1String(b.key));
        button->setData(QLatin1String(b.key));
        button->setToolTip(QLatin1String(b.tip));
        connect(button, &QAction::triggered, this, [this, button] { ButtonClick(button->data().toString()); });
    }

    StatusBar1 = new QStatusBar(Client);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFont(SansSerif(8.25, false));
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel = new QLabel(StatusBar1);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusBar1->addWidget(StatusPanel, 1);
    ForecastPanel = new QLabel(StatusBar1);
    ForecastPanel->setObjectName(QStringLiteral("ForecastPanel"));
    ForecastPanel->hide();
    StatusBar1->addPermanentWidget(ForecastPanel);
}

void Form1::CreatePanes()
{
    XTreeView1 = new FolderTreeView(Client);
    XTreeView1->setAccessibleName(tr("Folders"));
    XTreeView1->setObjectName(QStringLiteral("XTreeView1"));

    SplitV = new SplitterBar(Qt::Horizontal, Client);
    SplitV->setObjectName(QStringLiteral("SplitV"));
    connect(SplitV, &SplitterBar::MouseDown, this, [this] { bSplitDrag = -1; });
    connect(SplitV, &SplitterBar::MouseUp, this, [this] { bSplitDrag = 0; });
    connect(SplitV, &SplitterBar::MouseMove, this, &Form1::SplitV_MouseMove);

    Picture2 = new QWidget(Client);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Label1 = new QLabel(QStringLiteral("Type:"), Picture2);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(Twips::ToRect({60, 60, 735, 375}));
    ComboBox1 = new ChoiceBox(Picture2);
    // A screen reader names the box by what it is for, not by the text it shows.
    ComboBox1->setAccessibleName(tr("Type"));
    ComboBox1->lineEdit()->setAccessibleName(ComboBox1->accessibleName());
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));

    XListView1 = new FileListView(Client);
    XListView1->setAccessibleName(tr("Files of the folder"));
    XListView1->setObjectName(QStringLiteral("XListView1"));

    SplitH = new SplitterBar(Qt::Vertical, Client);
    SplitH->setObjectName(QStringLiteral("SplitH"));
    connect(SplitH, &SplitterBar::MouseDown, this, [this] { bSplitDrag = -1; });
    connect(SplitH, &SplitterBar::MouseUp, this, [this] { bSplitDrag = 0; });
    connect(SplitH, &SplitterBar::MouseMove, this, &Form1::SplitH_MouseMove);

    ListView1 = new VardoListView(Client);
    ListView1->setAccessibleName(tr("Vardo list"));
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->SetFileView(XListView1);
    ListModel = new VardoListDecoration(ListView1);
    ListView1->setModel(ListModel);
    connect(XListView1, &FileListView::ItemEvent, this, &Form1::XListView1_ItemEvent);
    connect(ListView1, &VardoListView::ContextMenuAsked, this, &Form1::ShowListMenu);
    // Where the keys go is seen at a glance.
    for (QWidget* pane : {static_cast<QWidget*>(XTreeView1), static_cast<QWidget*>(XListView1),
                          static_cast<QWidget*>(ListView1)})
        FocusFrame::Attach(pane);
    ListView1->header()->setMinimumSectionSize(1);
    const float widths[] = {300, 1500, 2500, 1000, 2500, 1000, 1000};
    for (int column = 0; column < 7; ++column)
        ListView1->setColumnWidth(column, Twips::ToPixels(widths[column]));

    Picture1 = new QWidget(Client);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Command1 = new QToolButton(Picture1);
    Command1->setAccessibleName(tr("Choose the output folder"));
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setIcon(QIcon(QStringLiteral(":/icons/folder.svg")));
    Command1->setIconSize(QSize(32, 32));
    Command1->setToolTip(QStringLiteral("Press the button to select output path"));
    Command1->setGeometry(Twips::ToRect({0, 0, 675, 675}));
    connect(Command1, &QToolButton::clicked, this, &Form1::SelectOutputPath);
    Text1 = new QLineEdit(Picture1);
    Text1->setAccessibleName(tr("Output folder"));
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setToolTip(QStringLiteral("Output path"));

    connect(ComboBox1, &QComboBox::currentTextChanged, XListView1, &FileListView::SetNamePattern);
    CreateListMenu();
    connect(Text1, &QLineEdit::textChanged, this,
            [](const QString& text) { Module1::settings().targetFolder = Module1::FromQt(text); });
}

void Form1::CreateListMenu()
{
    ListMenu = new QMenu(ListView1);
    ListMenu->setObjectName(QStringLiteral("ListMenu"));
    ListRemove = MenuItem(ListMenu, "ListRemove", QStringLiteral("&Remove"));
    ListRemove->setShortcut(QKeySequence(Qt::Key_Delete));  // shown; the list takes the key itself
    ListRemove->setShortcutContext(Qt::WidgetShortcut);
    ListRetry = MenuItem(ListMenu, "ListRetry", QStringLiteral("Re&try"));
    ListMenu->addSeparator();
    ListOpen = MenuItem(ListMenu, "ListOpen", QStringLiteral("&Open"));
    ListShowInFolder = MenuItem(ListMenu, "ListShowInFolder", QStringLiteral("Show in &Folder"));
    ListRetry->setToolTip(QStringLiteral("Set the failed entries waiting again, for the next Vardo"));
    ListOpen->setToolTip(QStringLiteral("Open the new file with the desktop's program for it"));
    ListShowInFolder->setToolTip(QStringLiteral("Show the new file in its folder"));
}

void Form1::ShowListMenu(const QModelIndex& entry, const QPoint& at)
{
    const vardune::VardoList& list = ListModel->List();
    menuEntry_ = entry.isValid() ? list.At(static_cast<std::size_t>(entry.row())).id : 0;
    bool anySelected = false, anyFailed = false;
    for (const QModelIndex& row : ListView1->selectionModel()->selectedRows()) {
        anySelected = true;
        anyFailed = anyFailed || list.At(static_cast<std::size_t>(row.row())).state == vardune::EntryState::Failed;
    }
    ListRemove->setEnabled(anySelected);
    ListRetry->setEnabled(anyFailed);
    // Only a new file that is there can be opened or shown.
    const bool output = entry.isValid() && QFileInfo(Module1::ToQt(list.At(static_cast<std::size_t>(entry.row())).targetPath)).isFile();
    ListOpen->setEnabled(output);
    ListShowInFolder->setEnabled(output);
    ListMenu->popup(at);
}

void Form1::InitForm()
{
    if (!loaded_) {
        Form_Load();
        if (!loaded_)
            return;
    }
    geometry_.InitForm(Frame());
    ApplyGeometry();
}

void Form1::Form_Load()
{
    if (Module1::PrevInstance()) {
        if (splash_)
            splash_->hide();
        // Files for the list go to the running copy's list; the message is for a start that
        // brings nothing (or whose files the running copy did not take).
        if (!givenPaths_.isEmpty() && InstanceChannel::Hand(Module1::InstanceFolder(), givenPaths_)) {
            Module1::EndProcess();
            return;
        }
        Module1::MessageRequest refusal;
        refusal.text = QStringLiteral("Vardune is running now, you need not to start it again");
        refusal.title = QGuiApplication::applicationDisplayName();
        Module1::MsgBox(nullptr, refusal);
        // The user sees where the running copy is.
        InstanceChannel::Knock(Module1::InstanceFolder());
        Module1::EndProcess();
        return;
    }
    loaded_ = true;
    channel_ = new InstanceChannel(Module1::InstanceFolder(), [this](const QByteArrayList& paths) {
        ShowYourself();
        AddGivenPaths(paths);
    }, this);
    geometry_.tree.width = 0.4f * Frame().scaleWidth;
    geometry_.InitForm(Frame());
    ApplyGeometry();

    const std::string refused = Module1::ReadConfig();
    if (!refused.empty())
        SetSettingsAside(refused);
    RestorePlacement(Module1::settings().window);
    ComboBox1->addItems({QStringLiteral("*.*"), QStringLiteral("*.MP3"), QStringLiteral("*.WAV"),
                         Module1::ToQt(vardune::MediaFolder::AudioChoice())});
    // The audio choice kept by an earlier version as its bare patterns is the named choice.
    const std::string& fileType = Module1::settings().fileType;
    ComboBox1->ShowText(fileType.empty()                               ? QStringLiteral("*.MP3")
                        : fileType == vardune::MediaFolder::AudioPattern() ? Module1::ToQt(vardune::MediaFolder::AudioChoice())
                                                                           : Module1::ToQt(fileType));
    XListView1->SetNamePattern(ComboBox1->currentText());
    XTreeView1->SetFileView(XListView1);
    XListView1->SetCurrentFolder(Module1::ToQt(Module1::settings().sourceFolder));
    Text1->setText(Module1::ToQt(Module1::settings().targetFolder));
    ListActions->RestoreList();
    ShowStatusBarValue();
    // Once a run: a stored pattern that cannot serve names the outputs as the default does.
    if (const auto fault = vardune::OutputLayout::StoredPatternFault(Module1::settings().outputLayout,
                                                                     Module1::settings().namePattern))
        Module1::MsgBox(this, {tr("The name pattern in the settings cannot be used: %1 Names from tags follow the "
                                  "default pattern \"%2\" until it is mended in Options.")
                                   .arg(Module1::ToQt(*fault), Module1::ToQt(vardune::OutputLayout::kDefaultPattern)),
                               tr("Name Pattern"), QMessageBox::Warning, QMessageBox::Ok, QMessageBox::NoButton});
    if (splash_)
        splash_->hide();
    Module1::helpFile() = Module1::ManualFile();
    // The files given on the command line, once the window shows.
    QTimer::singleShot(0, this, &Form1::AddGivenPathsWhenFree);
}

void Form1::SetSettingsAside(const std::string& why)
{
    // Out of the way of the save at the end, kept for whoever wants to look at it.
    const QString path = Module1::ConfigFilePath();
    const QString aside = Module1::SetAside(path);
    Module1::MsgBox(this, {tr("The settings file could not be read: %1 (%2) %3. The settings start from their defaults.")
                               .arg(QDir::toNativeSeparators(path), Module1::ToQt(why),
                                    aside.isEmpty() ? tr("could not be set aside and is not saved over")
                                                    : tr("was set aside as %1").arg(QDir::toNativeSeparators(aside))),
                           tr("Settings Not Read"), QMessageBox::Warning, QMessageBox::Ok, QMessageBox::NoButton});
}

void Form1::Form_Unload()
{
    if (unloading_)
        return;
    unloading_ = true;
    if (loaded_) {
        Module1::settings().window = CurrentPlacement();
        Module1::settings().fileType = Module1::FromQt(ComboBox1->currentText());
        Module1::WriteConfig(XListView1->CurrentFolder());
        ListActions->KeepList();
    }
    Module1::EndProcess();
}

void Form1::RequestUnload()
{
    // Asked twice: the user will not wait. The encoders still finish their files on their own.
    // A batch counts as running from the moment the status board is up, before its first
    // encoder starts: closing then would drop the batch the user has just asked for.
    const bool batchShown = Batch->Board() != nullptr;
    if (quitting_ || (Batch->EncodersRunning() == 0 && !batchShown)) {
        Form_Unload();
        return;
    }
    const auto answer = Module1::MsgBox(this, {QStringLiteral("A batch is running. Stop after the files in progress and quit?"),
                                               QStringLiteral("Vardune"), QMessageBox::Question,
                                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No});
    if (answer != QMessageBox::Yes)
        return;
    quitting_ = true;
    // No further file starts; each file in progress is recorded when its encoder ends, and the
    // last one to end brings the program to its end (BatchFinished).
    Batch->CloseBoard();
    setEnabled(false);
    StatusPanel->setText(QStringLiteral("Vardune quits when the files in progress are done\u2026"));
    StatusPanel->setToolTip(StatusPanel->text());
    // They may all have ended while the question was open.
    if (Batch->EncodersRunning() == 0)
        Form_Unload();
}

void Form1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Its frame is known once the window shows: the place restored is fitted again with it.
    if (!shownOnce_) {
        shownOnce_ = true;
        QTimer::singleShot(0, this, &Form1::FitToScreen);
    }
}

void Form1::FitToScreen()
{
    const QScreen* shown = screen();
    if (!shown || isMaximized() || isFullScreen() || isMinimized())
        return;
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom());
    const QRect free = shown->availableGeometry();
    const auto fitted = vardune::WindowPlacement::Fitted({frame.x(), frame.y(), frame.width(), frame.height()},
                                                         {free.x(), free.y(), free.width(), free.height()});
    const QRect fittedFrame(fitted.left, fitted.top, fitted.width, fitted.height);
    if (fittedFrame != frame)
        setGeometry(fittedFrame.marginsRemoved(margins));
}

void Form1::closeEvent(QCloseEvent* event)
{
    // The window stays until the program ends, which may wait for the files in progress.
    event->ignore();
    RequestUnload();
}

void Form1::BatchFinished(const QString& summary)
{
    if (quitting_) {
        if (Batch->EncodersRunning() == 0)
            Form_Unload();
        return;
    }
    if (summary.isEmpty())
        return;
    StatusPanel->setText(summary);
    StatusPanel->setToolTip(summary);
    summaryShown_ = true;
}

void Form1::CommandStarted()
{
    if (!summaryShown_)
        return;
    summaryShown_ = false;
    ShowStatusBarValue();
}

void Form1::ShowYourself()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    // The focus is asked for a moment later: the other copy's message is still going away, and
    // the window system gives the focus back to where the pointer is when it has gone.
    QTimer::singleShot(100, this, [this] {
        raise();
        activateWindow();
        // A message waiting for an answer, or the status board while it runs a batch, stays in
        // front of the window it holds.
        QWidget* inCharge = QApplication::activeModalWidget();
        if (!inCharge)
            inCharge = Batch->Board();
        if (inCharge) {
            inCharge->raise();
            inCharge->activateWindow();
        }
        // Where the desktop still refuses, the task bar marks the window for the user.
        QApplication::alert(inCharge ? inCharge : this);
    });
}

void Form1::AddGivenPaths(const QByteArrayList& paths)
{
    givenPaths_ += paths;
    if (loaded_)
        AddGivenPathsWhenFree();
}

void Form1::AddGivenPathsWhenFree()
{
    if (givenPaths_.isEmpty() || !loaded_ || unloading_ || quitting_ || givenWaiting_)
        return;
    // Not under a running batch's board, nor while a message waits for its answer: the files
    // are added when that is over, with their own messages.
    if (Batch->Board() || QApplication::activeModalWidget()) {
        givenWaiting_ = true;
        QTimer::singleShot(250, this, [this] {
            givenWaiting_ = false;
            AddGivenPathsWhenFree();
        });
        return;
    }
    ListActions->AddDroppedPaths(std::exchange(givenPaths_, {}));
}

void Form1::ShowStatusBarValue()
{
    StatusPanel->setText(Module1::ToQt(Module1::settings().profile.StatusLine()));
    StatusPanel->setToolTip(StatusPanel->text());
    // The quality may have changed: so has the forecast. The layout may have, too.
    Waiting->ScheduleForecast();
    Waiting->SchedulePlans();
}

void Form1::ButtonClick(const QString& key)
{
    if (key == QLatin1String("Add"))
        ListActions->AddSelectedEntries();
    else if (key == QLatin1String("Remove"))
        ListActions->RemoveSelectedEntries();
    else if (key == QLatin1String("Clear"))
        ListActions->ClearAllEntries();
    else if (key == QLatin1String("Output"))
        SelectOutputPath();
    else if (key == QLatin1String("Options"))
        ShowOptions();
    else if (key == QLatin1String("Vardo"))
        Batch->ShowStatusBoard();
}

void Form1::ShowOptions()
{
    CommandStarted();
    if (options_ && options_->isVisible()) {
        options_->raise();
        options_->activateWindow();
    } else {
        frmOption::Preview preview;
        preview.source = [this]() -> std::optional<vardune::OutputLayout::Source> {
            const QModelIndex current = ListView1->selectionModel()->currentIndex();
            const vardune::VardoList& list = ListModel->List();
            const auto row = static_cast<std::size_t>(current.isValid() ? current.row() : 0);
            if ((!current.isValid() && list.Count() == 0) || row >= list.Count())
                return std::nullopt;
            const vardune::VardoEntry& e = list.At(row);
            vardune::OutputLayout::Source source {e.sourcePath + e.sourceName, e.root, {}};
            if (const vardune::OutputLayout::Tags* tags = Waiting->SourceTags(e.id))
                source.tags = *tags;
            return source;
        };
        preview.portable = [this] { return OutputVolume::TakesOnlyPortableNames(Text1->text()); };
        options_ = new frmOption(this, preview);
        connect(options_, &frmOption::StatusBarValueWanted, this, &Form1::ShowStatusBarValue);
        options_->show();
    }
    ShowStatusBarValue();
}

void Form1::ShowCheckNewVersion()
{
    CommandStarted();
    if (update_ && update_->isVisible()) {
        update_->raise();
        update_->activateWindow();
        return;
    }
    update_ = new frmUpdate;
    update_->show();
}

void Form1::ShowAbout()
{
    CommandStarted();
    if (!about_ || !about_->isVisible())
        about_ = new frmAbout(this);
    about_->show();
}

QString Form1::GetFileName(const QString& path)
{
    return Module1::ToQt(vardune::VardoList::GetFileName(Module1::FromQt(path)));
}

void Form1::XListView1_ItemEvent()
{
    // Only when the first selected item is a non-empty file; otherwise nothing, silently.
    const QString first = XListView1->FirstSelectedItem();
    if (first.isEmpty() || vardune::LeadingNumber(vardune::VardoList::GetFileSize(Module1::FromQt(first))) == 0)
        return;
    ListActions->AddSelectedEntries();
}

void Form1::SelectOutputPath()
{
    CommandStarted();
    // The picker opens at the output folder the box names, or at home when that is no folder.
    const QString shown = Text1->text();
    const QString start = !shown.isEmpty() && QFileInfo(shown).isDir() ? shown : QDir::homePath();
    const QString folder = Module1::BrowseForFolder(this, QStringLiteral("Please select a folder."), start);
    if (folder.isEmpty())
        return;
    Text1->setText(folder);
    Text1->setToolTip(folder);
}

vardune::LayoutFrame Form1::Frame() const
{
    vardune::LayoutFrame f;
    f.scaleWidth = Twips::FromPixels(Client->width());
    f.scaleHeight = Twips::FromPixels(Client->height());
    f.toolbarTop = Twips::FromPixels(Toolbar1->y());
    f.toolbarHeight = Twips::FromPixels(Toolbar1->height());
    f.statusTop = Twips::FromPixels(StatusBar1->y());
    f.statusHeight = Twips::FromPixels(StatusBar1->height());
    return f;
}

void Form1::PlaceDockedBars()
{
    const int toolbarHeight = Toolbar1->sizeHint().height();
    const int statusHeight = StatusBar1->sizeHint().height();
    Toolbar1->setGeometry(0, 0, Client->width(), toolbarHeight);
    StatusBar1->setGeometry(0, Client->height() - statusHeight, Client->width(), statusHeight);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Client && event->type() == QEvent::Resize) {
        PlaceDockedBars();
        // The window made smaller than the panes the user left: the tree gives way (a splitter
        // bar's drag keeps its own limits).
        if (loaded_ && !isMinimized())
            geometry_.KeepPanesIn(Frame());
        Form_Resize();
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::Form_Resize()
{
    if (isMinimized() || !loaded_)
        return;
    XTreeView1->SetScreenUpdate(false);
    XListView1->SetScreenUpdate(false);
    geometry_.Resize(Frame());
    ApplyGeometry();
    XTreeView1->SetScreenUpdate(true);
    XListView1->SetScreenUpdate(true);
}

void Form1::ApplyGeometry()
{
    const vardune::MainGeometry& g = geometry_;
    XTreeView1->setGeometry(Twips::ToRect(g.tree));
    SplitV->setGeometry(Twips::ToRect(g.splitV));
    Picture2->setGeometry(Twips::ToRect(g.picture2));
    ComboBox1->setGeometry(Twips::ToRect(g.combo));
    XListView1->setGeometry(Twips::ToRect(g.fileView));
    SplitH->setGeometry(Twips::ToRect(g.splitH));
    ListView1->setGeometry(Twips::ToRect(g.list));
    Picture1->setGeometry(Twips::ToRect(g.picture1));
    Text1->setGeometry(Twips::ToRect(g.text1));
}

void Form1::SplitH_MouseMove(float x)
{
    if (bSplitDrag == -1) {
        if (const auto width = vardune::SplitDrag(geometry_.tree.width, x, Frame().scaleWidth))
            geometry_.tree.width = *width;
    }
    Form_Resize();
}

void Form1::SplitV_MouseMove(float y)
{
    if (bSplitDrag == -1) {
        if (const auto height = vardune::SplitDrag(geometry_.tree.height, y, Frame().scaleHeight))
            geometry_.tree.height = *height;
    }
    Form_Resize();
}

void Form1::RestorePlacement(const vardune::WindowPlacement& placement)
{
    if (placement.normal) {
        QRect normal(Twips::ToPixels(placement.normal->left), Twips::ToPixels(placement.normal->top),
                     Twips::ToPixels(placement.normal->width), Twips::ToPixels(placement.normal->height));
        // The screen it lands on: the one that shows most of it. A place no screen shows any
        // more (a screen taken away) comes back centred on the primary screen.
        const QScreen* landing = nullptr;
        qint64 shown = 0;
        for (const QScreen* screen : QGuiApplication::screens()) {
            const QRect common = screen->availableGeometry().intersected(normal);
            if (!common.isEmpty() && qint64(common.width()) * common.height() > shown) {
                shown = qint64(common.width()) * common.height();
                landing = screen;
            }
        }
        if (!landing && (landing = QGuiApplication::primaryScreen()))
            normal.moveCenter(landing->availableGeometry().center());
        // Kept at another scale or on a larger screen: no larger than this screen's free area,
        // and inside it, so that the title bar and the status bar can be reached.
        if (landing) {
            const QRect free = landing->availableGeometry();
            const auto fitted = vardune::WindowPlacement::Fitted({normal.x(), normal.y(), normal.width(), normal.height()},
                                                                 {free.x(), free.y(), free.width(), free.height()});
            normal = QRect(fitted.left, fitted.top, fitted.width, fitted.height);
        }
        setGeometry(normal);
    }
    if (placement.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
    if (placement.columnWidths.size() == vardune::WindowPlacement::kColumns)
        for (int column = 0; column < int(vardune::WindowPlacement::kColumns); ++column)
            ListView1->setColumnWidth(column, Twips::ToPixels(placement.columnWidths[std::size_t(column)]));
    if (!placement.normal)
        SizeForFirstStart();
    // The splitter bars where the user left them, as far as the window they come back in has
    // room for them by the bars' own rule.
    const QSize client(isMaximized() && screen() ? screen()->availableGeometry().size()
                                                 : size() - QSize(0, menuBar()->sizeHint().height()));
    if (placement.treeWidth)
        if (const auto width = vardune::SplitDrag(0, *placement.treeWidth, Twips::FromPixels(client.width())))
            geometry_.tree.width = *width;
    if (placement.treeHeight)
        if (const auto height = vardune::SplitDrag(0, *placement.treeHeight, Twips::FromPixels(client.height())))
            geometry_.tree.height = *height;
}

void Form1::SizeForFirstStart()
{
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown)
        return;
    const QRect available = shown->availableGeometry();
    const int menu = menuBar()->sizeHint().height();
    const float scale = vardune::WindowPlacement::FirstStartScale(float(available.width()), float(available.height()),
                                                                  float(kClientWidth), float(kClientHeight + menu));
    if (scale <= 1.0f)
        return;
    const int width = int(std::lround(kClientWidth * scale));
    const int height = int(std::lround(kClientHeight * scale));
    resize(width, height + menu);
    // As at construction: the client has its size before the window is first laid out.
    Client->resize(width, height);
    PlaceDockedBars();
    move(available.center() - rect().center());
    // The panes in the designed proportions: the tree as wide as the load makes it, and as
    // much taller as the window is.
    geometry_.tree.width = 0.4f * Frame().scaleWidth;
    geometry_.tree.height = vardune::MainGeometry::Designed().tree.height * scale;
}

vardune::WindowPlacement Form1::CurrentPlacement() const
{
    vardune::WindowPlacement placement;
    const QRect normal = isMaximized() ? normalGeometry() : geometry();
    if (normal.isValid())
        placement.normal = vardune::TwipsRect{Twips::FromPixels(normal.x()), Twips::FromPixels(normal.y()),
                                              Twips::FromPixels(normal.width()), Twips::FromPixels(normal.height())};
    placement.maximized = isMaximized();
    for (int column = 0; column < int(vardune::WindowPlacement::kColumns); ++column)
        placement.columnWidths.push_back(Twips::FromPixels(ListView1->columnWidth(column)));
    placement.treeWidth = geometry_.tree.width;
    placement.treeHeight = geometry_.tree.height;
    return placement;
}
