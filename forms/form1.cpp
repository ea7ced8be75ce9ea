#include "form1.h"

#include "batchdriver.h"
#include "choicebox.h"
#include "encoderpool.h"
#include "filelistview.h"
#include "focusframe.h"
#include "forecastreader.h"
#include "formcontrols.h"
#include "foldertreeview.h"
#include "frmabout.h"
#include "frmmonitor.h"
#include "frmoption.h"
#include "frmupdate.h"
#include "frmstartup.h"
#include "instancechannel.h"
#include "loudnesspass.h"
#include "module1.h"
#include "splitterbar.h"
#include "twips.h"
#include "vardolistmodel.h"
#include "vardolistview.h"

#include "mediafolder.h"
#include "namepattern.h"
#include "numerictext.h"
#include "outputfolder.h"
#include "playertidy.h"
#include "playlistcarrier.h"
#include "vardolistfile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSaveFile>
#include <QEventLoop>
#include <QScreen>
#include <QThread>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <unordered_set>
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
    , pool_(new EncoderPool(this))
    , forecastReader_(new ForecastReader(this))
    , forecastTimer_(new QTimer(this))
    , freeSpaceTimer_(new QTimer(this))
    , planTimer_(new QTimer(this))
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

    // The forecast follows the list, the quality and the output folder, and the encoder's
    // answers as they come, redrawn at most ten times a second; the free space is looked at
    // again every few seconds, since other programs write too.
    forecastTimer_->setSingleShot(true);
    forecastTimer_->setInterval(100);
    connect(forecastTimer_, &QTimer::timeout, this, &Form1::ShowForecast);
    freeSpaceTimer_->setInterval(5000);
    connect(freeSpaceTimer_, &QTimer::timeout, this, &Form1::ScheduleForecast);
    connect(forecastReader_, &ForecastReader::Read, this, &Form1::ScheduleForecast);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(ListModel, signal, this, &Form1::ScheduleForecast);
    connect(ListModel, &QAbstractItemModel::modelReset, this, &Form1::ScheduleForecast);
    connect(ListModel, &QAbstractItemModel::dataChanged, this, &Form1::ScheduleForecast);
    connect(Text1, &QLineEdit::textChanged, this, &Form1::ScheduleForecast);
    // The planned outputs follow the same changes, less often: they are redrawn, not typed.
    planTimer_->setSingleShot(true);
    planTimer_->setInterval(300);
    connect(planTimer_, &QTimer::timeout, this, &Form1::PlanOutputs);
    ListModel->SetPlanner([this](const vardune::VardoEntry& entry) { return PlannedOutput(entry); });
    connect(Text1, &QLineEdit::textChanged, this, &Form1::SchedulePlans);
    connect(forecastReader_, &ForecastReader::Read, this, &Form1::SchedulePlans);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(ListModel, signal, this, &Form1::SchedulePlans);
    connect(ListModel, &QAbstractItemModel::modelReset, this, &Form1::SchedulePlans);

    Client->installEventFilter(this);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    // Until the window is shown its client has not been laid out: give it the designed size
    // so the load can measure it.
    Client->resize(kClientWidth, kClientHeight);
    PlaceDockedBars();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
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

    connect(AddEntry, &QAction::triggered, this, &Form1::AddSelectedEntries);
    connect(RemoveEntry, &QAction::triggered, this, &Form1::RemoveSelectedEntries);
    connect(ClearAllEntry, &QAction::triggered, this, &Form1::ClearAllEntries);
    connect(Exit, &QAction::triggered, this, &Form1::RequestUnload);
    connect(OutputPath, &QAction::triggered, this, &Form1::SelectOutputPath);
    connect(StartVardo, &QAction::triggered, this, &Form1::ShowStatusBoard);
    connect(TidyThePlayer, &QAction::triggered, this, &Form1::TidyPlayer);
    connect(Options, &QAction::triggered, this, &Form1::ShowOptions);
    connect(About, &QAction::triggered, this, &Form1::ShowAbout);
    connect(CheckNewVersion, &QAction::triggered, this, &Form1::ShowCheckNewVersion);
    connect(ActiveHelp, &QAction::triggered, this, [this] {
        CommandStarted();
        Module1::ShowUserGuide(this);
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
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));

    XListView1 = new FileListView(Client);
    XListView1->setObjectName(QStringLiteral("XListView1"));

    SplitH = new SplitterBar(Qt::Vertical, Client);
    SplitH->setObjectName(QStringLiteral("SplitH"));
    connect(SplitH, &SplitterBar::MouseDown, this, [this] { bSplitDrag = -1; });
    connect(SplitH, &SplitterBar::MouseUp, this, [this] { bSplitDrag = 0; });
    connect(SplitH, &SplitterBar::MouseMove, this, &Form1::SplitH_MouseMove);

    ListView1 = new VardoListView(Client);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->SetFileView(XListView1);
    ListModel = new VardoListModel(ListView1);
    ListView1->setModel(ListModel);
    // After the drop has ended: a message about a refused file must not hold the other
    // program's drag open.
    connect(ListView1, &VardoListView::DroppedFromFileView, this, &Form1::AddSelectedEntries, Qt::QueuedConnection);
    connect(ListView1, &VardoListView::DroppedFiles, this, &Form1::AddDroppedPaths, Qt::QueuedConnection);
    connect(XListView1, &FileListView::ItemEvent, this, &Form1::XListView1_ItemEvent);
    connect(ListView1, &VardoListView::DeletePressed, this, &Form1::RemoveSelectedEntries);
    connect(ListView1, &VardoListView::ContextMenuAsked, this, &Form1::ShowListMenu);
    connect(XTreeView1, &FolderTreeView::AddFolderRequested, this, &Form1::AddFolderEntries);
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
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setIcon(QIcon(QStringLiteral(":/icons/folder.svg")));
    Command1->setIconSize(QSize(32, 32));
    Command1->setToolTip(QStringLiteral("Press the button to select output path"));
    Command1->setGeometry(Twips::ToRect({0, 0, 675, 675}));
    connect(Command1, &QToolButton::clicked, this, &Form1::SelectOutputPath);
    Text1 = new QLineEdit(Picture1);
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
    connect(ListRemove, &QAction::triggered, this, &Form1::RemoveSelectedEntries);
    connect(ListRetry, &QAction::triggered, this, &Form1::RetrySelectedEntries);
    connect(ListOpen, &QAction::triggered, this, &Form1::OpenOutput);
    connect(ListShowInFolder, &QAction::triggered, this, &Form1::ShowOutputInFolder);
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
    channel_ = new InstanceChannel(Module1::InstanceFolder(), [this] { ShowYourself(); }, this);
    geometry_.tree.width = 0.4f * Frame().scaleWidth;
    geometry_.InitForm(Frame());
    ApplyGeometry();

    Module1::ReadConfig();
    RestorePlacement(Module1::settings().window);
    ComboBox1->addItems({QStringLiteral("*.*"), QStringLiteral("*.MP3"), QStringLiteral("*.WAV"),
                         Module1::ToQt(vardune::MediaFolder::AudioPattern())});
    const std::string& fileType = Module1::settings().fileType;
    ComboBox1->ShowText(fileType.empty() ? QStringLiteral("*.MP3") : Module1::ToQt(fileType));
    XListView1->SetNamePattern(ComboBox1->currentText());
    XTreeView1->SetFileView(XListView1);
    XListView1->SetCurrentFolder(Module1::ToQt(Module1::settings().sourceFolder));
    Text1->setText(Module1::ToQt(Module1::settings().targetFolder));
    RestoreList();
    ShowStatusBarValue();
    if (splash_)
        splash_->hide();
    Module1::helpFile() = Module1::ManualFile();
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
        KeepList();
    }
    Module1::EndProcess();
}

void Form1::RestoreList()
{
    const QString path = Module1::VardoListFilePath();
    QFile file(path);
    if (path.isEmpty() || !file.exists())
        return;
    std::optional<std::vector<vardune::VardoEntry>> entries;
    // Never read more than a list the program could have written.
    if (file.open(QIODevice::ReadOnly) && file.size() <= qint64(vardune::VardoListFile::kMaxBytes))
        entries = vardune::VardoListFile::Parse(file.read(qint64(vardune::VardoListFile::kMaxBytes) + 1).toStdString());
    file.close();
    if (entries) {
        ListModel->Restore(*entries);
        RestorePlaylists();
        return;
    }
    // Kept for whoever wants to look at it, and out of the way of the next save.
    const QString aside = path + QDateTime::currentDateTime().toString(QStringLiteral(".'damaged-'yyyyMMdd-HHmmss"));
    const bool moved = QFile::rename(path, aside);
    Module1::MsgBox(this, {QStringLiteral("The Vardo list kept from the last run could not be read: ")
                               + QDir::toNativeSeparators(path)
                               + (moved ? QStringLiteral(" was set aside as ") + QDir::toNativeSeparators(aside)
                                        : QStringLiteral(" could not be set aside and will be replaced"))
                               + QStringLiteral(". The list starts empty."),
                           QStringLiteral("Vardo List Not Restored"), QMessageBox::Warning, QMessageBox::Ok,
                           QMessageBox::NoButton});
}

void Form1::KeepList()
{
    const QString path = Module1::VardoListFilePath();
    if (path.isEmpty())
        return;
    QDir().mkpath(QFileInfo(path).path());
    // Written beside and renamed over the old one: a run that ends half way leaves the old list.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        const std::string text = vardune::VardoListFile::Encode(ListModel->List().Entries());
        file.write(text.data(), qint64(text.size()));
        file.commit();
    }
    const QString playlistsPath = Module1::CarriedPlaylistsFilePath();
    if (playlists_.empty()) {
        QFile::remove(playlistsPath);
        return;
    }
    std::vector<vardune::VardoListFile::Playlist> playlists;
    for (const CarriedPlaylist& p : playlists_)
        playlists.push_back({p.path, p.root});
    QSaveFile playlistsFile(playlistsPath);
    if (playlistsFile.open(QIODevice::WriteOnly)) {
        const std::string text = vardune::VardoListFile::EncodePlaylists(playlists);
        playlistsFile.write(text.data(), qint64(text.size()));
        playlistsFile.commit();
    }
}

void Form1::RestorePlaylists()
{
    // Only with the list they belong to; a damaged file carries none, and says nothing: the
    // playlists are found again when their folder is added again.
    QFile file(Module1::CarriedPlaylistsFilePath());
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64(vardune::VardoListFile::kMaxBytes))
        return;
    const auto playlists
        = vardune::VardoListFile::ParsePlaylists(file.read(qint64(vardune::VardoListFile::kMaxBytes) + 1).toStdString());
    if (!playlists)
        return;
    for (const vardune::VardoListFile::Playlist& p : *playlists)
        RememberPlaylist(p.path, p.root);
}

void Form1::RequestUnload()
{
    // Asked twice: the user will not wait. The encoders still finish their files on their own.
    // A batch counts as running from the moment the status board is up, before its first
    // encoder starts: closing then would drop the batch the user has just asked for.
    const bool batchShown = monitor_ && monitor_->isVisible();
    if (quitting_ || (EncodersRunning() == 0 && !batchShown)) {
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
    if (monitor_)
        monitor_->close();
    setEnabled(false);
    StatusPanel->setText(QStringLiteral("Vardune quits when the files in progress are done\u2026"));
    StatusPanel->setToolTip(StatusPanel->text());
    // They may all have ended while the question was open.
    if (EncodersRunning() == 0)
        Form_Unload();
}

void Form1::closeEvent(QCloseEvent* event)
{
    // The window stays until the program ends, which may wait for the files in progress.
    event->ignore();
    RequestUnload();
}

QString Form1::OutputFolderText() const
{
    return Text1->text();
}

void Form1::SetOutputFolderText(const QString& folder)
{
    Text1->setText(folder);
}

bool Form1::WantsDesktopNotice() const
{
    return QApplication::activeWindow() == nullptr;
}

int Form1::EncodersRunning() const
{
    return pool_->Running();
}

vardune::TakenNames& Form1::RunningTargets()
{
    return pool_->Names();
}

void Form1::BatchFinished(const QString& summary)
{
    if (quitting_) {
        if (EncodersRunning() == 0)
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
        if (!inCharge && monitor_ && monitor_->isVisible())
            inCharge = monitor_;
        if (inCharge) {
            inCharge->raise();
            inCharge->activateWindow();
        }
        // Where the desktop still refuses, the task bar marks the window for the user.
        QApplication::alert(inCharge ? inCharge : this);
    });
}

void Form1::ShowStatusBarValue()
{
    StatusPanel->setText(Module1::ToQt(Module1::settings().profile.StatusLine()));
    StatusPanel->setToolTip(StatusPanel->text());
    // The quality may have changed: so has the forecast. The layout may have, too.
    ScheduleForecast();
    SchedulePlans();
}

void Form1::SchedulePlans()
{
    if (!planTimer_->isActive())
        planTimer_->start();
}

void Form1::PlanOutputs()
{
    plannedOutputs_.clear();
    const QString shown = Text1->text();
    if (!shown.isEmpty()) {
        const std::string folder = vardune::BatchWalk::NormaliseOutputFolder(Module1::FromQt(shown));
        vardune::BatchWalk::NameRules rules;
        rules.portable = Module1::TakesOnlyPortableNames(shown);
        rules.maxBytes = vardune::BatchWalk::NameMax(Module1::FromQt(Module1::OutputFolderPath(shown)));
        const vardune::OutputLayout layout
            = vardune::OutputLayout::FromSettings(Module1::settings().outputLayout, Module1::settings().namePattern);
        const bool byTags = layout.Layout() == vardune::OutputLayout::Kind::NamesFromTags;
        vardune::TakenNames planned(pool_->Names().Folding());
        for (const vardune::VardoEntry& e : ListModel->List().Entries()) {
            if (e.state != vardune::EntryState::Waiting || e.converting)
                continue;
            vardune::OutputLayout::Source source {e.sourcePath + e.sourceName, e.root, {}};
            const vardune::OutputLayout::Tags* tags = byTags ? SourceTags(e.id) : nullptr;
            // Named by its fallbacks only once the encoder has found it has no such tags.
            if (byTags && !tags && SourceTagsPending(e.id))
                continue;
            if (tags)
                source.tags = *tags;
            const vardune::OutputLayout::Plan plan = layout.PlanFor(source, rules);
            std::string path;
            for (int number = 1; number <= 1000; ++number) {
                path = folder + plan.Relative(rules, number);
                if (!planned.Contains(path))
                    break;
            }
            planned.Take(path);
            plannedOutputs_.emplace(e.id, std::move(path));
        }
    }
    ListModel->PlansChanged();
}

std::string Form1::PlannedOutput(const vardune::VardoEntry& entry) const
{
    const auto found = plannedOutputs_.find(entry.id);
    return found == plannedOutputs_.end() ? std::string() : found->second;
}

void Form1::ScheduleForecast()
{
    if (!forecastTimer_->isActive())
        forecastTimer_->start();
}

vardune::SizeForecast Form1::Forecast() const
{
    vardune::SizeForecast forecast(Module1::settings().profile);
    for (const vardune::VardoEntry& e : ListModel->List().Entries()) {
        if (e.state != vardune::EntryState::Waiting || e.converting)
            continue;
        const auto source = forecastSource_.find(e.id);
        forecast.Add(vardune::LeadingNumber(e.sourceSize),
                     source == forecastSource_.end() ? nullptr : forecastReader_->Find(source->second.number));
    }
    return forecast;
}

const vardune::OutputLayout::Tags* Form1::SourceTags(std::uint64_t entry) const
{
    const auto source = forecastSource_.find(entry);
    const vardune::SizeForecast::Facts* facts
        = source == forecastSource_.end() ? nullptr : forecastReader_->Find(source->second.number);
    return facts && facts->readable ? &facts->tags : nullptr;
}

bool Form1::SourceTagsPending(std::uint64_t entry) const
{
    const auto source = forecastSource_.find(entry);
    return source == forecastSource_.end() || !forecastReader_->Find(source->second.number);
}

double Form1::SourceSeconds(std::uint64_t entry) const
{
    const auto source = forecastSource_.find(entry);
    const vardune::SizeForecast::Facts* facts
        = source == forecastSource_.end() ? nullptr : forecastReader_->Find(source->second.number);
    return facts && facts->readable ? facts->seconds : 0.0;
}

const std::optional<vardune::LoudnessLevel::Measure>* Form1::MeasuredAhead(std::uint64_t entry) const
{
    const auto found = measuredAhead_.find(entry);
    const long position = ListModel->List().Find(entry);
    if (found == measuredAhead_.end() || position < 0)
        return nullptr;
    // A file written since is measured again.
    const vardune::VardoEntry& e = ListModel->List().At(static_cast<std::size_t>(position));
    if (found->second.changed != ForecastReader::ChangeTime(e.sourcePath + e.sourceName))
        return nullptr;
    return &found->second.measure;
}

void Form1::MeasureAhead()
{
    if (aheadPass_ || vardune::LoudnessLevel::ModeFrom(Module1::settings().evenLoudness) == vardune::LoudnessLevel::Mode::Off
        || (monitor_ && monitor_->isVisible()) || EncodersRunning() > 0)
        return;
    std::vector<std::pair<std::uint64_t, std::string>> sources;
    for (const vardune::VardoEntry& e : ListModel->List().Entries()) {
        if (e.state != vardune::EntryState::Waiting || e.converting || measuredAhead_.count(e.id))
            continue;
        const std::string path = e.sourcePath + e.sourceName;
        aheadAsked_[e.id] = ForecastReader::ChangeTime(path);
        sources.emplace_back(e.id, path);
    }
    if (sources.empty())
        return;
    // One process: the cores stay the user's while the list is put together.
    aheadPass_ = new LoudnessPass(std::move(sources), 1, this);
    connect(aheadPass_, &LoudnessPass::Finished, this, &Form1::AheadMeasured, Qt::QueuedConnection);
    aheadPass_->Start();
}

void Form1::AheadMeasured()
{
    if (!aheadPass_)
        return;
    // Stopped early (a batch starts), only the files it answered for are kept.
    for (const auto& [id, measure] : aheadPass_->Measures())
        measuredAhead_[id] = {aheadAsked_[id], measure};
    aheadAsked_.clear();
    aheadPass_->disconnect(this);
    aheadPass_->deleteLater();
    aheadPass_ = nullptr;
    // Files added meanwhile are measured next.
    ScheduleForecast();
}

void Form1::ReadEditedSources()
{
    for (const vardune::VardoEntry& e : ListModel->List().Entries()) {
        if (e.state != vardune::EntryState::Waiting)
            continue;
        const auto source = forecastSource_.find(e.id);
        if (source != forecastSource_.end()
            && source->second.changed != ForecastReader::ChangeTime(e.sourcePath + e.sourceName))
            forecastSource_.erase(source);
    }
    ShowForecast();
}

void Form1::ShowForecast()
{
    // Each new entry's source is asked for once; after that it is found by the entry's id.
    if (ListModel->List().Count() == 0) {
        forecastSource_.clear();
        measuredAhead_.clear();
    }
    for (const vardune::VardoEntry& e : ListModel->List().Entries())
        if (e.state == vardune::EntryState::Waiting && !forecastSource_.count(e.id)) {
            const std::string path = e.sourcePath + e.sourceName;
            const std::int64_t changed = ForecastReader::ChangeTime(path);
            forecastSource_.emplace(e.id, ForecastSource {forecastReader_->Request(path, e.sourceSize, changed), changed});
        }
    forecastReader_->Send();
    MeasureAhead();
    const vardune::SizeForecast forecast = Forecast();
    if (forecast.Waiting() == 0) {
        ForecastPanel->hide();
        ForecastPanel->clear();
        freeSpaceTimer_->stop();
        return;
    }
    const QString text = Module1::ToQt(forecast.Text(Module1::FreeBytes(Text1->text())));
    ForecastPanel->setText(text);
    ForecastPanel->setToolTip(text);
    ForecastPanel->show();
    if (!freeSpaceTimer_->isActive())
        freeSpaceTimer_->start();
}

void Form1::ButtonClick(const QString& key)
{
    if (key == QLatin1String("Add"))
        AddSelectedEntries();
    else if (key == QLatin1String("Remove"))
        RemoveSelectedEntries();
    else if (key == QLatin1String("Clear"))
        ClearAllEntries();
    else if (key == QLatin1String("Output"))
        SelectOutputPath();
    else if (key == QLatin1String("Options"))
        ShowOptions();
    else if (key == QLatin1String("Vardo"))
        ShowStatusBoard();
}

void Form1::ShowOptions()
{
    CommandStarted();
    if (options_ && options_->isVisible()) {
        options_->raise();
        options_->activateWindow();
    } else {
        options_ = new frmOption(this);
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

void Form1::ShowStatusBoard()
{
    CommandStarted();
    // A board that was closed is gone even if its deletion is still pending: open a new one.
    if (!monitor_ || !monitor_->isVisible()) {
        // The folder first: its free room can only be measured once it is there.
        if (!OutputFolderReady())
            return;
        // Outputs that cannot all fit: the user decides before anything is written.
        std::optional<std::size_t> limit;
        const vardune::SizeForecast forecast = Forecast();
        const std::optional<double> freeBytes = Module1::FreeBytes(Text1->text());
        if (freeBytes && forecast.Waiting() > 0 && forecast.Bytes() > *freeBytes) {
            const auto answer = Module1::MsgBox(this, {Module1::ToQt(vardune::SizeForecast::Question(forecast.Bytes(), *freeBytes, forecast.AtLeast())),
                                                       QStringLiteral("Not Enough Room"), QMessageBox::Question,
                                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes});
            if (answer != QMessageBox::Yes)
                return;
            limit = forecast.FittingCount(*freeBytes);
        }
        // The batch measures what is left with every core.
        AheadMeasured();
        monitor_ = new frmMonitor(this);
        monitor_->fileLimit = limit;
    }
    monitor_->show();
}

bool Form1::OutputFolderReady()
{
    // Asked only when the batch has a file to write: an empty list runs as it always has.
    bool fileToWrite = false;
    for (const vardune::VardoEntry& e : ListModel->List().Entries())
        fileToWrite = fileToWrite || (e.state == vardune::EntryState::Waiting && !e.converting);
    const std::string folder = Module1::FromQt(Text1->text());
    // No folder at all: the names are taken from the current folder, as they always were.
    if (!fileToWrite || folder.empty())
        return true;
    const QString name = Module1::ToQt(vardune::OutputFolder::DisplayName(folder));
    const auto refuse = [&](const QString& why) {
        Module1::MsgBox(this, {QStringLiteral("The output folder ") + name + why, QStringLiteral("Invalid Output Folder"),
                               QMessageBox::Information, QMessageBox::Ok, QMessageBox::NoButton});
        return false;
    };
    auto check = vardune::OutputFolder::Inspect(folder);
    if (check.state == vardune::OutputFolder::State::Missing) {
        const auto answer = Module1::MsgBox(this, {QStringLiteral("The output folder ") + name
                                                       + QStringLiteral(" does not exist. Create it?"),
                                                   QStringLiteral("Create Output Folder"), QMessageBox::Question,
                                                   QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes});
        if (answer != QMessageBox::Yes)
            return false;
        const std::string failure = vardune::OutputFolder::Create(folder);
        if (!failure.empty())
            return refuse(QStringLiteral(" cannot be created: ") + Module1::ToQt(failure) + QLatin1Char('.'));
        check = vardune::OutputFolder::Inspect(folder);
    }
    switch (check.state) {
    case vardune::OutputFolder::State::Ready:
        return true;
    case vardune::OutputFolder::State::NotFolder:
        return refuse(QStringLiteral(" is a file, not a folder."));
    case vardune::OutputFolder::State::Uncreatable:
        return refuse(QStringLiteral(" cannot be created: ") + Module1::ToQt(check.reason) + QLatin1Char('.'));
    default:
        return refuse(QStringLiteral(" cannot be written: ") + Module1::ToQt(check.reason) + QLatin1Char('.'));
    }
}

void Form1::AddSelectedEntries()
{
    CommandStarted();
    QStringList paths;
    for (QString path = XListView1->FirstSelectedItem(); !path.isEmpty(); path = XListView1->NextSelectedItem())
        paths << path;
    // The files lie in the folder the file view shows: kept folders start there.
    AddEntries(paths, XListView1->CurrentFolder());
}

Form1::AddCheck Form1::CheckForAdd(const std::string& file, const std::unordered_set<std::string>& pending,
                                    std::string& size) const
{
    // A picture or a playlist beside the music would only fail in every batch.
    if (!vardune::MediaFolder::IsAudioName(vardune::VardoList::GetFileName(file)))
        return AddCheck::NotAudio;
    if (ListModel->List().IsDuplicatedEntry(file) || pending.count(file))
        return AddCheck::Duplicate;
    size = vardune::VardoList::GetFileSize(file);
    return vardune::LeadingNumber(size) != 0 ? AddCheck::Taken : AddCheck::Invalid;
}

int Form1::AddEntries(const QStringList& paths, const QString& root)
{
    int added = 0;
    // Accepted files are appended in runs, so adding thousands stays fast; a run is shown
    // before any message about the next refused file.
    std::vector<std::pair<std::string, std::string>> pending;
    std::unordered_set<std::string> pendingPaths;
    // Files of other types are named together at the end: a drop of a whole album folder's
    // files brings its pictures and playlists too.
    QStringList notAudio;
    const auto flush = [&] {
        if (pending.empty())
            return;
        ListModel->Append(pending, Module1::FromQt(root));
        added += static_cast<int>(pending.size());
        pending.clear();
        pendingPaths.clear();
        ListView1->scrollTo(ListModel->index(ListModel->rowCount() - 1, 0));
    };
    for (const QString& path : paths) {
        const std::string file = Module1::FromQt(path);
        // A playlist added itself goes along, from the folder its neighbours are added from,
        // or its own when dropped on its own.
        if (vardune::PlaylistCarrier::IsPlaylist(file) && QFileInfo(path).isFile()) {
            RememberPlaylist(file, root.isEmpty() ? Module1::FromQt(QFileInfo(path).absolutePath() + QLatin1Char('/'))
                                                  : vardune::BatchWalk::NormaliseOutputFolder(Module1::FromQt(root)));
            continue;
        }
        std::string size;
        const AddCheck check = CheckForAdd(file, pendingPaths, size);
        if (check == AddCheck::Taken) {
            pending.emplace_back(file, size);
            pendingPaths.insert(file);
            continue;
        }
        if (check == AddCheck::NotAudio) {
            notAudio << path;
            continue;
        }
        flush();
        ShowRefused({path}, check);
    }
    flush();
    ShowRefused(notAudio, AddCheck::NotAudio);
    return added;
}

void Form1::ShowRefused(const QStringList& paths, AddCheck why)
{
    if (paths.isEmpty())
        return;
    const bool duplicate = why == AddCheck::Duplicate;
    const bool notAudio = why == AddCheck::NotAudio;
    QString text;
    if (paths.size() == 1) {
        text = duplicate  ? QStringLiteral("Duplicated file name: ") + paths.front()
               : notAudio ? QStringLiteral("Not an audio file: ") + paths.front()
                                + QStringLiteral(". Vardune converts MP3, WAV, FLAC, Ogg and AIFF files.")
                          : QStringLiteral("Invalid file name: ") + paths.front() + QStringLiteral(" or file size is 0 byte.");
    } else {
        // A folder may hold hundreds: the first ones are named, the rest counted.
        constexpr int kNamed = 10;
        text = (duplicate  ? QStringLiteral("These %1 files are already waiting in the Vardo list:")
                : notAudio ? QStringLiteral("These %1 files are not audio files that Vardune converts (MP3, WAV, FLAC, Ogg, AIFF):")
                           : QStringLiteral("These %1 files are empty or cannot be read:"))
                   .arg(paths.size());
        for (int i = 0; i < paths.size() && i < kNamed; ++i)
            text += QLatin1Char('\n') + paths.at(i);
        if (paths.size() > kNamed)
            text += QStringLiteral("\n\u2026 and %1 more.").arg(paths.size() - kNamed);
    }
    const QString title = duplicate  ? QStringLiteral("Duplicated File Name")
                          : notAudio ? QStringLiteral("Not an Audio File")
                                     : QStringLiteral("Invalid File Name");
    Module1::MsgBox(this, {text, title, QMessageBox::Information, QMessageBox::Ok, QMessageBox::NoButton});
}

void Form1::AddFolder(const QString& folder, const std::function<bool(const std::string&)>& wanted)
{
    std::vector<std::pair<std::string, std::string>> taken;
    std::unordered_set<std::string> takenPaths;
    QStringList duplicates, invalid;
    int leftOut = 0;
    int playlists = 0;
    // Playlists come along whatever the type box shows: they are carried, not converted.
    const auto wantedOrPlaylist = [&wanted](const std::string& name) {
        return wanted(name) || vardune::PlaylistCarrier::IsPlaylist(name);
    };
    const std::string root = vardune::BatchWalk::NormaliseOutputFolder(Module1::FromQt(folder));
    for (const std::string& file : vardune::MediaFolder::Files(Module1::FromQt(folder), wantedOrPlaylist)) {
        if (vardune::PlaylistCarrier::IsPlaylist(file)) {
            RememberPlaylist(file, root);
            ++playlists;
            continue;
        }
        std::string size;
        switch (CheckForAdd(file, takenPaths, size)) {
        case AddCheck::Taken:
            taken.emplace_back(file, size);
            takenPaths.insert(file);
            break;
        case AddCheck::NotAudio:
            ++leftOut;
            break;
        case AddCheck::Duplicate:
            duplicates << Module1::ToQt(file);
            break;
        case AddCheck::Invalid:
            invalid << Module1::ToQt(file);
            break;
        }
    }
    ListModel->Append(taken, Module1::FromQt(folder));
    if (!taken.empty())
        ListView1->scrollTo(ListModel->index(ListModel->rowCount() - 1, 0));
    ShowRefused(duplicates, AddCheck::Duplicate);
    ShowRefused(invalid, AddCheck::Invalid);
    const int added = static_cast<int>(taken.size());
    QString text = (added == 1 ? QStringLiteral("1 media file was added from ")
                               : QString::number(added) + QStringLiteral(" media files were added from "))
        + QDir::toNativeSeparators(folder) + QLatin1Char('.');
    if (leftOut > 0)
        text += (leftOut == 1 ? QStringLiteral(" 1 other file was left out")
                              : QStringLiteral(" %1 other files were left out").arg(leftOut))
            + QStringLiteral(": Vardune converts only audio files (MP3, WAV, FLAC, Ogg, AIFF).");
    if (playlists > 0)
        text += (playlists == 1 ? QStringLiteral(" 1 playlist goes along")
                                : QStringLiteral(" %1 playlists go along").arg(playlists))
            + QStringLiteral(": written for the outputs when a batch ends.");
    Module1::MsgBox(this, {text, QStringLiteral("Folder Added"), QMessageBox::Information, QMessageBox::Ok,
                           QMessageBox::NoButton});
}

void Form1::AddFolderEntries(const QString& folder)
{
    CommandStarted();
    const std::vector<std::string> filters = vardune::NameFilters(Module1::FromQt(ComboBox1->currentText()));
    AddFolder(folder, [filters](const std::string& name) { return vardune::MatchesNameFilters(name, filters); });
}

void Form1::AddDroppedPaths(const QStringList& paths)
{
    CommandStarted();
    // Dropped files go in together, in runs as Add takes them; each folder in its turn.
    QStringList files;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        AddEntries(std::exchange(files, {}));
        AddFolder(path, [](const std::string&) { return true; });
    }
    AddEntries(files);
}

bool Form1::IsDuplicatedEntry(const QString& path) const
{
    return ListModel->List().IsDuplicatedEntry(Module1::FromQt(path));
}

void Form1::RemoveSelectedEntries()
{
    CommandStarted();
    // Read the selection by its ranges: asking row by row is quadratic in the number of
    // separately selected rows.
    const QItemSelection selection = ListView1->selectionModel()->selection();
    if (selection.isEmpty())
        return;
    std::vector<bool> selected(static_cast<std::size_t>(ListModel->rowCount()), false);
    for (const QItemSelectionRange& range : selection)
        for (int row = range.top(); row <= range.bottom(); ++row)
            selected[static_cast<std::size_t>(row)] = true;
    ListModel->RemoveSelected(selected);
}

void Form1::ClearAllEntries()
{
    CommandStarted();
    const auto answer = Module1::MsgBox(this, {QStringLiteral("Do yo really want to delete all enties?"),
                                               QStringLiteral("Confirm Delete All"), QMessageBox::Question,
                                               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel});
    if (answer == QMessageBox::Ok) {
        ListModel->Clear();
        playlists_.clear();
    }
}

void Form1::RememberPlaylist(const std::string& path, const std::string& root)
{
    for (const CarriedPlaylist& known : playlists_)
        if (known.path == path)
            return;
    playlists_.push_back({path, root});
}

namespace {

// Runs work on a thread of its own while the window goes on painting (but takes no input),
// and returns when it is done: a walk over a large output tree does not freeze the window.
void RunOffWindow(const std::function<void()>& work)
{
    QThread* thread = QThread::create(work);
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    thread->start();
    if (!thread->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    QApplication::restoreOverrideCursor();
    delete thread;
}

} // namespace

void Form1::TidyPlayer()
{
    CommandStarted();
    const QString title = QStringLiteral("Tidy the Player");
    const auto say = [&](const QString& text, QMessageBox::Icon icon) {
        Module1::MsgBox(this, {text, title, icon, QMessageBox::Ok, QMessageBox::NoButton});
    };
    const std::string folder = Module1::FromQt(Text1->text());
    if (folder.empty() || vardune::OutputFolder::Inspect(folder).state != vardune::OutputFolder::State::Ready) {
        say(QStringLiteral("There is no output folder to tidy. Choose one with Output Path first."), QMessageBox::Information);
        return;
    }
    // A source counts while it stays among the list's folders and files.
    std::vector<std::string> folders;
    std::vector<std::string> files;
    // The list's folders are those its entries were added from, and each entry's own.
    for (const vardune::VardoEntry& e : ListModel->List().Entries()) {
        if (!e.root.empty())
            folders.push_back(e.root);
        folders.push_back(e.sourcePath);
        files.push_back(e.sourcePath + e.sourceName);
    }
    // Resolving the list's folders reads the disk too: off the window, with the walk.
    std::optional<vardune::PlayerTidy> tidy;
    std::vector<vardune::PlayerTidy::Stale> stale;
    RunOffWindow([&] {
        tidy.emplace(folders, files);
        stale = tidy->Scan(folder);
    });
    if (stale.empty()) {
        say(QStringLiteral("Nothing to tidy: every file Vardune made in the output folder comes from a source still in the Vardo list."),
            QMessageBox::Information);
        return;
    }
    const QString root = QDir::cleanPath(QFileInfo(Text1->text()).canonicalFilePath()) + QLatin1Char('/');
    const auto shown = [&](const std::string& path) {
        const QString text = Module1::ToQt(path);
        return text.startsWith(root) ? text.mid(root.size()) : text;
    };
    constexpr std::size_t kShown = 10;
    QString text = stale.size() == 1
        ? QStringLiteral("This file in the output folder was made by Vardune from a source no longer in the Vardo list:\n")
        : QStringLiteral("These %1 files in the output folder were made by Vardune from sources no longer in the Vardo list:\n").arg(stale.size());
    for (std::size_t i = 0; i < stale.size() && i < kShown; ++i)
        text += QStringLiteral("\n") + shown(stale[i].output);
    if (stale.size() > kShown)
        text += QStringLiteral("\n\u2026and %1 more.").arg(stale.size() - kShown);
    text += stale.size() == 1 ? QStringLiteral("\n\nRemove it?") : QStringLiteral("\n\nRemove them?");
    const auto answer = Module1::MsgBox(this, {text, title, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No});
    if (answer != QMessageBox::Yes)
        return;
    vardune::PlayerTidy::Removal result;
    RunOffWindow([&] { result = tidy->Remove(folder, stale); });
    QString done = result.removed.size() == 1 ? QStringLiteral("1 file removed.")
                                                : QStringLiteral("%1 files removed.").arg(result.removed.size());
    if (!result.kept.empty()) {
        done += QStringLiteral("\n\n%1 kept:").arg(result.kept.size());
        for (std::size_t i = 0; i < result.kept.size() && i < kShown; ++i)
            done += QStringLiteral("\n") + shown(result.kept[i].first) + QStringLiteral(" (") + Module1::ToQt(result.kept[i].second) + QLatin1Char(')');
        if (result.kept.size() > kShown)
            done += QStringLiteral("\n\u2026and %1 more.").arg(result.kept.size() - kShown);
    }
    say(done, result.kept.empty() ? QMessageBox::Information : QMessageBox::Warning);
}

void Form1::RetrySelectedEntries()
{
    CommandStarted();
    std::vector<std::uint64_t> failed;
    for (const QModelIndex& row : ListView1->selectionModel()->selectedRows()) {
        const vardune::VardoEntry& e = ListModel->List().At(static_cast<std::size_t>(row.row()));
        if (e.state == vardune::EntryState::Failed)
            failed.push_back(e.id);
    }
    // In list order, so of two failed entries for one file the first waits again.
    std::sort(failed.begin(), failed.end());
    QStringList refused;
    for (std::uint64_t id : failed)
        if (!ListModel->Retry(id)) {
            const vardune::VardoEntry& e = ListModel->List().At(static_cast<std::size_t>(ListModel->List().Find(id)));
            refused << Module1::ToQt(e.sourcePath + e.sourceName);
        }
    // A file that waits in another entry already is converted there.
    ShowRefused(refused, AddCheck::Duplicate);
}

void Form1::OpenOutput()
{
    CommandStarted();
    const long row = ListModel->List().Find(menuEntry_);
    if (row >= 0)
        Module1::OpenFile(this, Module1::ToQt(ListModel->List().At(static_cast<std::size_t>(row)).targetPath));
}

void Form1::ShowOutputInFolder()
{
    CommandStarted();
    const long row = ListModel->List().Find(menuEntry_);
    if (row >= 0)
        Module1::ShowInFolder(this, Module1::ToQt(ListModel->List().At(static_cast<std::size_t>(row)).targetPath));
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
    AddSelectedEntries();
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
        // A place no screen shows any more (a screen taken away): the size stays, centred.
        bool seen = false;
        for (const QScreen* screen : QGuiApplication::screens())
            seen = seen || screen->availableGeometry().intersects(normal);
        if (!seen)
            if (const QScreen* screen = QGuiApplication::primaryScreen())
                normal.moveCenter(screen->availableGeometry().center());
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
