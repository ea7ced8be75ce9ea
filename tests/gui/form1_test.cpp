#include "choicebox.h"
#include "configcodec.h"
#include "configtable.h"
#include "filelistview.h"
#include "foldertreeview.h"
#include "form1.h"
#include "frmstartup.h"
#include "guitestmain.h"
#include "helpwindow.h"
#include "mediafolder.h"
#include "module1.h"
#include "splitterbar.h"
#include "twips.h"
#include "vardolistmodel.h"
#include "vardolistview.h"
#include "vardolistactions.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QScreen>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <sys/stat.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QStringList ShownNames(FileListView* view)
{
    QStringList names;
    for (const QString& path : view->ShownPaths())
        names << QFileInfo(path).fileName();
    names.sort();
    return names;
}

} // namespace

class Form1Test : public QObject {
    Q_OBJECT

private:
    int ended_ = 0;
    QString ini_;

private slots:
    void initTestCase()
    {
        Module1::Test::SetEndProcessHandler([this] { ++ended_; });
        ini_ = Module1::ConfigFilePath();
        QVERIFY(ini_.startsWith(QCoreApplication::applicationDirPath()));
    }

    void init()
    {
        ended_ = 0;
        QFile::remove(ini_);
        QFile::remove(Module1::VardoListFilePath());
        QFile::remove(Module1::CarriedPlaylistsFilePath());
        Module1::Test::ReleaseInstanceLock();
        Module1::Test::TakeAskedMessages();
    }

    void firstStartShowsDefaultsAndExitSavesThem()
    {
        Form1 form;
        form.InitForm();
        QVERIFY(form.IsLoaded());
        // The three choices, then every audio type the encoder reads.
        QCOMPARE(form.ComboBox1->count(), 4);
        QCOMPARE(QStringList({form.ComboBox1->itemText(0), form.ComboBox1->itemText(1), form.ComboBox1->itemText(2)}),
                 QStringList({"*.*", "*.MP3", "*.WAV"}));
        QCOMPARE(form.ComboBox1->itemText(3), Module1::ToQt(vardune::MediaFolder::AudioChoice()));
        QCOMPARE(form.ComboBox1->currentText(), QStringLiteral("*.MP3"));
        QCOMPARE(form.ComboBox1->currentIndex(), 1);
        QCOMPARE(form.XListView1->NamePattern(), QStringLiteral("*.MP3"));
        QCOMPARE(form.XListView1->CurrentFolder(), QDir::homePath() + "/");
        QCOMPARE(form.Text1->text(), QDir::homePath() + "/");
        const QString line = "1- MP3 Potable Player  1- CD Quality  1- Stereo";
        QCOMPARE(form.StatusPanel->text(), line);
        QCOMPARE(form.StatusPanel->toolTip(), line);
        // The status bar's regular 8.25 pt "MS Sans Serif", as its text is drawn.
        QCOMPARE(form.StatusPanel->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(form.StatusPanel->font().pointSizeF(), 8.25);
        QVERIFY(!form.StatusPanel->font().bold());
        QCOMPARE(Module1::helpFile(), QCoreApplication::applicationDirPath() + "/VarduneManual.chm");
        QVERIFY(!QFile::exists(ini_));

        form.Exit->trigger();
        QCOMPARE(ended_, 1);
        const vardune::Settings saved = vardune::ReadConfig(Module1::FromQt(ini_), "unused");
        QCOMPARE(Module1::ToQt(saved.versionText), QStringLiteral("03.00.01"));
        QCOMPARE(Module1::ToQt(saved.sourceFolder), QDir::homePath() + "/");
        QCOMPARE(Module1::ToQt(saved.targetFolder), QDir::homePath() + "/");
        QVERIFY(saved.profile == vardune::EncodingProfile());
    }

    void controlsMenusAndToolbarAreComplete()
    {
        Form1 form;
        for (const char* name : {"Toolbar1", "StatusBar1", "XTreeView1", "SplitV", "Picture2", "Label1",
                                 "ComboBox1", "XListView1", "SplitH", "ListView1", "Picture1", "Command1", "Text1"})
            QVERIFY2(form.findChild<QWidget*>(name), name);
        QCOMPARE(form.Text1->toolTip(), QStringLiteral("Output path"));
        QCOMPARE(form.Command1->toolTip(), QStringLiteral("Press the button to select output path"));
        QCOMPARE(form.Label1->text(), QStringLiteral("Type:"));

        QStringList menus;
        for (QAction* menu : form.menuBar()->actions()) {
            QStringList items;
            for (QAction* item : menu->menu()->actions())
                items << item->objectName() + "=" + item->text();
            menus << menu->text() + ": " + items.join(", ");
        }
        QCOMPARE(menus, QStringList({
            "&File: AddEntry=Add &Entry, RemoveEntry=&Remove Entry, ClearAllEntry=&Clear All Entry, Exit=E&xit",
            "&Action: StartVardo=&Start Vardo, TidyThePlayer=&Tidy the Player\u2026, CheckNewVersion=&Check New Version",
            "&Option: Options=&Options, OutputPath=O&utput Path",
            "&Help: ActiveHelp=&Help, About=&About"}));

        QStringList buttons;
        for (QAction* button : form.Toolbar1->actions())
            buttons << button->text() + "|" + button->data().toString() + "|" + button->toolTip();
        QCOMPARE(buttons, QStringList({
            "Add New|Add|Add selected media files to Vardo list",
            "Remove|Remove|Remove selected entries from Vardo list",
            "Clear All|Clear|Clear all entries from Vardo list",
            "Output|Output|Select output path",
            "Options|Options|Config Vardo parameters",
            "Vardo|Vardo|Begin to Vardo media files in Vardo list"}));

        QStringList headers;
        QList<int> widths;
        for (int column = 0; column < form.ListModel->columnCount(); ++column) {
            headers << form.ListModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
            widths << form.ListView1->columnWidth(column);
        }
        QCOMPARE(headers, QStringList({"S", "Source Path", "Media File", "Size", "Target MP3 File", "Size", "Rate"}));
        QCOMPARE(widths, QList<int>({20, 100, 167, 67, 167, 67, 67}));
    }

    void windowAppliesTheLayoutAndKeepsTheTreeOnResize()
    {
        Form1 form;
        form.InitForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto& g = form.Geometry();
        QCOMPARE(g.tree.width, 0.4f * Twips::FromPixels(681));
        const struct {
            QWidget* widget;
            const vardune::TwipsRect* rect;
        } panes[] = {{form.XTreeView1, &g.tree}, {form.SplitV, &g.splitV}, {form.Picture2, &g.picture2},
                     {form.ComboBox1, &g.combo}, {form.XListView1, &g.fileView}, {form.SplitH, &g.splitH},
                     {form.ListView1, &g.list}, {form.Picture1, &g.picture1}, {form.Text1, &g.text1}};
        for (const auto& pane : panes)
            QCOMPARE(pane.widget->geometry(), Twips::ToRect(*pane.rect));
        QCOMPARE(form.ListView1->geometry().right() + 1, form.Client->width());
        QCOMPARE(form.XTreeView1->y(), form.Toolbar1->height());
        QCOMPARE(form.XListView1->geometry().bottom() + 1, form.StatusBar1->y());

        const QRect treeBefore = form.XTreeView1->geometry();
        form.resize(form.width() + 150, form.height() + 90);
        QTRY_COMPARE(form.Client->width(), 681 + 150);
        QCOMPARE(form.XTreeView1->geometry(), treeBefore);
        QCOMPARE(form.ListView1->geometry().right() + 1, form.Client->width());
        QCOMPARE(form.XListView1->geometry().bottom() + 1, form.StatusBar1->y());
    }

    void splitterBarsDragWithinTheirLimits()
    {
        Form1 form;
        form.InitForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const float width = form.Geometry().tree.width;

        // Moving over the bar without a button changes the cursor only.
        SendMouse(form.SplitH, QEvent::MouseMove, {2, 10}, Qt::NoButton);
        QCOMPARE(form.SplitH->cursor().shape(), Qt::SizeHorCursor);
        QCOMPARE(form.Geometry().tree.width, width);

        SendMouse(form.SplitH, QEvent::MouseButtonPress, {2, 10}, Qt::LeftButton);
        QCOMPARE(form.bSplitDrag, qint16(-1));
        SendMouse(form.SplitH, QEvent::MouseMove, {32, 10}, Qt::LeftButton);
        QCOMPARE(form.Geometry().tree.width, width + 32 * 15);
        QCOMPARE(form.XTreeView1->width(), Twips::ToRect(form.Geometry().tree).width());
        // A move that would leave the tree 200 twips or less wide is dropped.
        SendMouse(form.SplitH, QEvent::MouseMove, {-2000, 10}, Qt::LeftButton);
        QCOMPARE(form.Geometry().tree.width, width + 32 * 15);
        SendMouse(form.SplitH, QEvent::MouseButtonRelease, {0, 10}, Qt::NoButton);
        QCOMPARE(form.bSplitDrag, qint16(0));

        const float height = form.Geometry().tree.height;
        SendMouse(form.SplitV, QEvent::MouseButtonPress, {10, 1}, Qt::LeftButton);
        SendMouse(form.SplitV, QEvent::MouseMove, {10, 21}, Qt::LeftButton);
        SendMouse(form.SplitV, QEvent::MouseButtonRelease, {10, 21}, Qt::NoButton);
        QCOMPARE(form.SplitV->cursor().shape(), Qt::SizeVerCursor);
        QCOMPARE(form.Geometry().tree.height, height + 21 * 15);
        QCOMPARE(form.SplitV->y(), form.XTreeView1->geometry().bottom() + 1);
    }

    void secondInstanceIsRefusedAndTouchesNothing()
    {
        Form1 first;
        first.InitForm();
        first.Text1->setText("/changed/");
        vardune::WriteConfig(Module1::FromQt(ini_), Module1::settings());
        const QByteArray before = ReadAll(ini_);
        Module1::settings() = {};

        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        Form1 second;
        second.InitForm();
        QCOMPARE(ended_, 1);
        QVERIFY(!second.IsLoaded());
        const auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].text, QStringLiteral("Vardune is running now, you need not to start it again"));
        QCOMPARE(asked[0].title, QStringLiteral("Vardune"));
        QCOMPARE(asked[0].icon, QMessageBox::NoIcon);
        QCOMPARE(asked[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(ReadAll(ini_), before);
        QVERIFY(Module1::settings().targetFolder.empty());
    }

    void storedSettingsComeBackUnchanged()
    {
        QTemporaryDir music;
        const QString source = music.path() + "/Müsik 日本 'live'";
        QVERIFY(QDir().mkpath(source));
        vardune::Settings stored;
        stored.versionText = "01.02.03";
        stored.sourceFolder = Module1::FromQt(source);
        stored.targetFolder = "/out/" + std::string(300, 'x');
        stored.profile = {"Walkman", "3- TAPE QUALITY", "2- Mono", "128"};
        QVERIFY(vardune::WriteConfig(Module1::FromQt(ini_), stored));

        Form1 form;
        form.InitForm();
        QCOMPARE(form.XListView1->CurrentFolder(), source);
        QCOMPARE(form.Text1->text(), Module1::ToQt(stored.targetFolder));
        QCOMPARE(form.StatusPanel->text(), QStringLiteral("Walkman  3- TAPE QUALITY  2- Mono"));
        form.close();
        QCOMPARE(ended_, 1);

        const vardune::Settings saved = vardune::ReadConfig(Module1::FromQt(ini_), "unused");
        QCOMPARE(saved.versionText, stored.versionText);
        QCOMPARE(saved.sourceFolder, stored.sourceFolder);
        QCOMPARE(saved.targetFolder, stored.targetFolder);
        QVERIFY(saved.profile == stored.profile);
    }

    void typeBoxFiltersTheFileViewIgnoringCase()
    {
        QTemporaryDir folder;
        for (const char* name : {"a.mp3", "B.MP3", "c.wav", "d.txt", "noext"}) {
            QFile file(folder.path() + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        Form1 form;
        form.InitForm();
        form.XListView1->SetCurrentFolder(folder.path());
        QTRY_COMPARE(ShownNames(form.XListView1), QStringList({"B.MP3", "a.mp3"}));
        form.ComboBox1->setCurrentIndex(2);
        QTRY_COMPARE(ShownNames(form.XListView1), QStringList({"c.wav"}));
        // Typed key by key, each key applies at once; "*.*" is every file, a name without a
        // dot included, and "*" stays "*".
        const QStringList all = {"B.MP3", "a.mp3", "c.wav", "d.txt", "noext"};
        const struct {
            const char* typed;
            QStringList shown;
        } cases[] = {{"*.*", all}, {"*.w", {}}, {"*.wa", {}}, {"*.WAV", {"c.wav"}}, {"*", all}, {"*.TXT;*.mp3", {"B.MP3", "a.mp3", "d.txt"}}};
        for (const auto& c : cases) {
            form.ComboBox1->setFocus();
            QTest::keyClick(form.ComboBox1, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(form.ComboBox1, c.typed);
            QCOMPARE(form.ComboBox1->currentText(), QLatin1String(c.typed));
            QCOMPARE(form.XListView1->NamePattern(), QLatin1String(c.typed));
            QTRY_COMPARE(ShownNames(form.XListView1), c.shown);
        }
        // Picking a folder in the tree shows it in the file view.
        const QModelIndex home = form.XTreeView1->FolderModel()->index(QDir::homePath());
        form.XTreeView1->setCurrentIndex(home);
        QCOMPARE(form.XListView1->CurrentFolder(), QDir::homePath());
    }

    void theVardoListComesBackAtTheNextStart()
    {
        const QString listFile = Module1::VardoListFilePath();
        QVERIFY(listFile.startsWith(QDir::homePath() + "/.local/share/"));
        std::vector<vardune::VardoEntry> before;
        {
            Form1 form;
            form.InitForm();
            form.ListModel->Append({{"/music/a.mp3", " 10"}, {"/music/tab\there.wav", " 20"}});
            form.ListModel->Append({{"/music/c.flac", " 30"}}, "/music");
            form.ListActions->RememberPlaylist("/music/Road\tTrip.m3u8", "/music/");
            const auto id = [&](int row) { return form.ListModel->List().At(std::size_t(row)).id; };
            form.ListModel->SetResult(id(0), "/out/V_a.mp3", " 4", " 40%", vardune::EntryState::Done);
            vardune::BatchWalk::Outcome failed;
            failed.note = "not an audio file";
            form.ListModel->Record(id(1), "/out/V_tab\there.wav.MP3", failed);
            before = form.ListModel->List().Entries();
            form.close();
        }
        QCOMPARE(ended_, 1);
        {
            Module1::Test::ReleaseInstanceLock();
            Form1 form;
            form.InitForm();
            const auto& after = form.ListModel->List().Entries();
            QCOMPARE(after.size(), before.size());
            for (std::size_t i = 0; i < after.size(); ++i) {
                QCOMPARE(after[i].state, before[i].state);
                QCOMPARE(after[i].sourcePath + after[i].sourceName, before[i].sourcePath + before[i].sourceName);
                QCOMPARE(after[i].sourceSize, before[i].sourceSize);
                QCOMPARE(after[i].targetPath, before[i].targetPath);
                QCOMPARE(after[i].rate, before[i].rate);
                QCOMPARE(after[i].note, before[i].note);
                QCOMPARE(after[i].root, before[i].root);
            }
            QCOMPARE(after[2].root, std::string("/music/"));
            // The playlists the list carries come back with it.
            QCOMPARE(int(form.ListActions->Playlists().size()), 1);
            QCOMPARE(form.ListActions->Playlists()[0].path, std::string("/music/Road\tTrip.m3u8"));
            QCOMPARE(form.ListActions->Playlists()[0].root, std::string("/music/"));
            QCOMPARE(after[1].note, std::string("not an audio file"));
            QVERIFY(Module1::Test::TakeAskedMessages().empty());
        }

        // Another program's file, or one cut short, is set aside with a message; the list
        // starts empty and the next close writes a good one.
        {
            QFile damaged(listFile);
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write("Vardune Vardo list 1\nW\t/music/\ta.mp");
        }
        Module1::Test::ReleaseInstanceLock();
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        Form1 form;
        form.InitForm();
        QCOMPARE(form.ListModel->rowCount(), 0);
        const auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(asked.size(), std::size_t(1));
        QCOMPARE(asked[0].title, QStringLiteral("Vardo List Not Restored"));
        const QStringList aside = QDir(QFileInfo(listFile).path()).entryList({"VardoList.txt.damaged-*"});
        QCOMPARE(aside.size(), 1);
        QVERIFY2(asked[0].text.contains(aside[0]), qPrintable(asked[0].text));
        QCOMPARE(ReadAll(QFileInfo(listFile).path() + "/" + aside[0]), QByteArray("Vardune Vardo list 1\nW\t/music/\ta.mp"));
        QVERIFY(!QFile::exists(listFile));
        form.close();
        QCOMPARE(ReadAll(listFile), QByteArray("Vardune Vardo list 1\n"));
        QFile::remove(QFileInfo(listFile).path() + "/" + aside[0]);
    }

    // What stands at the settings file's name and holds no settings (a FIFO, a link to
    // /dev/zero, a file of 300 MB) is not waited on or read: it is set aside with a message,
    // the window starts from the defaults, and closing it writes a good file.
    void settingsThatAreNoFileAreSetAside_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("FIFO") << "fifo" << "(it is a FIFO)";
        QTest::newRow("link to /dev/zero") << "zero" << "(it is a device)";
        QTest::newRow("300 MB") << "large" << "(it is larger than 1 MB)";
    }
    void settingsThatAreNoFileAreSetAside()
    {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        if (kind == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(ini_).constData(), 0600), 0);
        } else if (kind == "zero") {
            QVERIFY(QFile::link("/dev/zero", ini_));
        } else {
            QFile large(ini_);
            QVERIFY(large.open(QIODevice::WriteOnly));
            QVERIFY(large.resize(qint64(300) << 20));
        }
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        {
            Form1 form;
            form.InitForm();
            const auto asked = Module1::Test::TakeAskedMessages();
            QCOMPARE(int(asked.size()), 1);
            QCOMPARE(asked[0].title, QStringLiteral("Settings Not Read"));
            QVERIFY2(asked[0].text.contains(why), qPrintable(asked[0].text));
            const QStringList aside = QDir(QFileInfo(ini_).path()).entryList({"Vardune.ini.damaged-*"}, QDir::Files | QDir::System);
            QCOMPARE(aside.size(), 1);
            QVERIFY2(asked[0].text.contains(aside[0]), qPrintable(asked[0].text));
            QVERIFY(!QFileInfo(ini_).exists() && !QFileInfo(ini_).isSymLink());
            QCOMPARE(Module1::settings().profile, vardune::EncodingProfile());
            form.close();
            QFile::remove(QFileInfo(ini_).path() + "/" + aside[0]);
        }
        QVERIFY(QFileInfo(ini_).isFile());
        QCOMPARE(vardune::ReadConfig(Module1::FromQt(ini_), "unused").profile, vardune::EncodingProfile());
    }

    void placementAndColumnWidthsComeBackAtTheNextStart()
    {
        {
            Form1 form;
            form.InitForm();
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            form.setGeometry(40, 50, 700, 600);
            // The "Media File" column widened by dragging its header's right edge.
            QHeaderView* header = form.ListView1->header();
            const int edge = header->sectionViewportPosition(2) + header->sectionSize(2) - 1;
            const int middle = header->height() / 2;
            SendMouse(header->viewport(), QEvent::MouseButtonPress, {edge, middle}, Qt::LeftButton);
            SendMouse(header->viewport(), QEvent::MouseMove, {edge + 60, middle}, Qt::LeftButton);
            SendMouse(header->viewport(), QEvent::MouseButtonRelease, {edge + 60, middle}, Qt::NoButton);
            QCOMPARE(form.ListView1->columnWidth(2), 167 + 60);
            // Both splitter bars dragged, and another file type chosen.
            for (SplitterBar* bar : {form.SplitH, form.SplitV}) {
                SendMouse(bar, QEvent::MouseButtonPress, {2, 2}, Qt::LeftButton);
                SendMouse(bar, QEvent::MouseMove, bar == form.SplitH ? QPoint(32, 2) : QPoint(2, 42), Qt::LeftButton);
                SendMouse(bar, QEvent::MouseButtonRelease, {2, 2}, Qt::NoButton);
            }
            QCOMPARE(form.Geometry().tree.width, 4086.0f + 480);
            QCOMPARE(form.Geometry().tree.height, 1815.0f + 630);
            form.ComboBox1->setCurrentIndex(3);
            form.close();
        }
        {
            Module1::Test::ReleaseInstanceLock();
            Form1 form;
            form.InitForm();
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCOMPARE(form.geometry(), QRect(40, 50, 700, 600));
            QCOMPARE(form.ListView1->columnWidth(2), 167 + 60);
            QCOMPARE(form.ListView1->columnWidth(3), 67);
            QCOMPARE(form.Geometry().tree.width, 4086.0f + 480);
            QCOMPARE(form.Geometry().tree.height, 1815.0f + 630);
            QCOMPARE(form.XTreeView1->height(), (1815 + 630) / 15);
            QCOMPARE(form.ComboBox1->currentText(), Module1::ToQt(vardune::MediaFolder::AudioChoice()));
            QCOMPARE(form.XListView1->NamePattern(), form.ComboBox1->currentText());
            form.showMaximized();
            QTRY_VERIFY(form.isMaximized());
            form.close();
        }
        {
            Module1::Test::ReleaseInstanceLock();
            Form1 form;
            form.InitForm();
            QVERIFY(form.windowState() & Qt::WindowMaximized);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QTRY_VERIFY(form.geometry() != QRect(40, 50, 700, 600));
            QCOMPARE(form.normalGeometry(), QRect(40, 50, 700, 600));
            // The tree keeps the width the user left it at; the list takes the rest.
            QCOMPARE(form.Geometry().tree.width, 4086.0f + 480);
            QCOMPARE(form.ListView1->geometry().right() + 1, form.Client->width());
            form.close();
        }
        QCOMPARE(ended_, 3);

        // A placement on no screen any more keeps its size and comes back centred.
        vardune::Settings stored = vardune::ReadConfig(Module1::FromQt(ini_), "");
        stored.window.normal = vardune::TwipsRect{-300000, 200000, 9000, 6000};
        stored.window.maximized = false;
        QVERIFY(vardune::WriteConfig(Module1::FromQt(ini_), stored));
        Module1::Test::ReleaseInstanceLock();
        Form1 form;
        form.InitForm();
        QCOMPARE(form.size(), QSize(600, 400));
        QCOMPARE(form.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
    }

    // A window kept larger than the screen it comes back on (kept at another scale, or on a
    // larger screen), or partly off it, is fitted to the screen's free area, frame and all.
    void aWindowKeptOffTheScreenComesBackOnIt_data()
    {
        const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::addColumn<QRect>("kept");
        QTest::addColumn<QString>("fitted");  // how its frame lies on the screen
        QTest::newRow("kept at 2x scale") << QRect(532, 372, 2134, 1256) << "whole screen";
        QTest::newRow("taller only") << QRect(30, 20, 600, free.height() + 300) << "full height";
        QTest::newRow("past the bottom right") << QRect(free.right() - 100, free.bottom() - 50, 600, 400) << "bottom right";
        QTest::newRow("above the top left") << QRect(free.left() - 90, free.top() - 40, 600, 400) << "top left";
    }
    void aWindowKeptOffTheScreenComesBackOnIt()
    {
        QFETCH(QRect, kept);
        QFETCH(QString, fitted);
        vardune::Settings stored;
        stored.window.normal = vardune::TwipsRect{float(kept.x() * 15), float(kept.y() * 15), float(kept.width() * 15),
                                                  float(kept.height() * 15)};
        QVERIFY(vardune::WriteConfig(Module1::FromQt(ini_), stored));
        Form1 form;
        form.InitForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect free = form.screen()->availableGeometry();
        QTRY_VERIFY2(free.contains(form.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                         .arg(form.frameGeometry().x())
                                                                         .arg(form.frameGeometry().y())
                                                                         .arg(form.frameGeometry().width())
                                                                         .arg(form.frameGeometry().height())));
        const QRect frame = form.frameGeometry();
        if (fitted == "whole screen") {
            QCOMPARE(frame, free);
        } else if (fitted == "full height") {
            QCOMPARE(frame.top(), free.top());
            QCOMPARE(frame.height(), free.height());
            QCOMPARE(form.geometry().left(), kept.left());
            QCOMPARE(form.width(), kept.width());
        } else {
            QCOMPARE(form.size(), kept.size());
            QCOMPARE(fitted == "top left" ? frame.topLeft() : frame.bottomRight(),
                     fitted == "top left" ? free.topLeft() : free.bottomRight());
        }
        // The panes are laid out in the window as it came back.
        QTRY_COMPARE(form.ListView1->geometry().right() + 1, form.Client->width());
        QCOMPARE(form.XListView1->geometry().bottom() + 1, form.StatusBar1->y());
    }

    // However small the user makes the window, and however wide and tall the tree was left,
    // the tree, the file view, the list with its output strip and the status bar keep room.
    void theLeastWindowShowsEveryPane_data()
    {
        QTest::addColumn<bool>("largeTree");
        QTest::newRow("designed tree") << false;
        QTest::newRow("tree left large") << true;
    }
    void theLeastWindowShowsEveryPane()
    {
        QFETCH(bool, largeTree);
        if (largeTree) {
            vardune::Settings stored;
            stored.window.normal = vardune::TwipsRect{0, 0, 780 * 15, 580 * 15};
            stored.window.treeWidth = 650 * 15;
            stored.window.treeHeight = 400 * 15;
            QVERIFY(vardune::WriteConfig(Module1::FromQt(ini_), stored));
        }
        Form1 form;
        form.InitForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.resize(320, 200);
        QTRY_COMPARE(form.size(), form.minimumSize());
        QTRY_COMPARE(form.Client->width(), form.minimumWidth());
        QVERIFY(form.minimumWidth() <= 681 && form.minimumHeight() <= 480);
        const QRect client = form.Client->rect();
        for (QWidget* pane : std::initializer_list<QWidget*>{form.XTreeView1, form.XListView1, form.ListView1,
                                                              form.Picture1, form.ComboBox1}) {
            const QRect at(pane->mapTo(form.Client, QPoint(0, 0)), pane->size());
            QVERIFY2(at.width() >= 60 && at.height() >= 20, qPrintable(pane->objectName()));
            QVERIFY2(client.contains(at), qPrintable(pane->objectName()));
            QVERIFY2(at.bottom() < form.StatusBar1->y(), qPrintable(pane->objectName()));
        }
        QVERIFY(form.StatusBar1->isVisible() && form.StatusBar1->geometry().bottom() == client.bottom());
        QVERIFY(form.XListView1->height() >= 90 && form.ListView1->width() >= 90);
        QVERIFY(form.SplitH->geometry().left() > form.XTreeView1->geometry().right());
    }

    // The desktop's standard keys: F1 opens the manual, Shift+F10 opens the list's and the
    // tree's menus as the Menu key does, Ctrl+Q quits as Exit does.
    void standardKeys()
    {
        Form1 form;
        form.InitForm();
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_F1);
        HelpWindow* help = nullptr;
        QTRY_VERIFY((help = Open<HelpWindow>()) != nullptr);
        delete help;
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));

        for (QWidget* pane : std::initializer_list<QWidget*>{form.ListView1, form.XTreeView1}) {
            pane->setFocus();
            if (pane == form.XTreeView1)
                form.XTreeView1->setCurrentIndex(form.XTreeView1->model()->index(0, 0));
            QTest::keyClick(pane, Qt::Key_F10, Qt::ShiftModifier);
            QTRY_VERIFY2(QApplication::activePopupWidget() != nullptr, qPrintable(pane->objectName()));
            QApplication::activePopupWidget()->close();
            QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
        }

        QCOMPARE(ended_, 0);
        QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(ended_, 1);
    }

    void aClickInATallTreeHighlightsTheFolderItShows()
    {
        // More folders than the tree has room for, files beside them and inside one of them.
        QTemporaryDir music;
        for (int i = 0; i < 60; ++i)
            QVERIFY(QDir(music.path()).mkpath(QStringLiteral("Album %1").arg(i, 2, 10, QLatin1Char('0'))));
        QVERIFY(QDir(music.path()).mkpath(QStringLiteral("Album 55/CD 2")));
        for (const char* name : {"a.mp3", "b.wav", "Album 55/x.mp3"}) {
            QFile file(music.path() + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        Form1 form;
        form.InitForm();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.ComboBox1->setFocus();
        QTest::keyClick(form.ComboBox1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(form.ComboBox1, "*.*");
        FolderTreeView* tree = form.XTreeView1;
        QFileSystemModel* folders = tree->FolderModel();
        form.XListView1->SetCurrentFolder(music.path());
        const QPersistentModelIndex top = folders->index(music.path());
        tree->expand(top);
        QTRY_COMPARE(folders->rowCount(top), 60);
        QTRY_COMPARE(folders->filePath(tree->currentIndex()), music.path());
        QTest::qWait(300);  // the tree has revealed the folder as its parents were read
        QVERIFY(tree->viewport()->height() < 60 * tree->visualRect(top).height());

        // Rows at the bottom and at the top edge of the view, where a re-centred tree would
        // put another folder under the pointer.
        const struct {
            const char* name;
            QAbstractItemView::ScrollHint where;
        } clicks[] = {{"Album 55", QAbstractItemView::PositionAtBottom}, {"Album 03", QAbstractItemView::PositionAtTop},
                      {"Album 40", QAbstractItemView::PositionAtBottom}};
        for (const auto& click : clicks) {
            const QPersistentModelIndex folder = folders->index(music.path() + "/" + click.name);
            tree->scrollTo(folder, click.where);
            const QRect before = tree->visualRect(folder);
            QVERIFY(tree->viewport()->rect().contains(before.center()));
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, before.center());
            // The highlighted folder is the one clicked, and its files are the ones shown.
            QCOMPARE(tree->selectionModel()->selectedRows(), QModelIndexList{folder});
            QCOMPARE(tree->currentIndex(), QModelIndex(folder));
            QCOMPARE(form.XListView1->CurrentFolder(), music.path() + "/" + click.name);
            QCOMPARE(tree->visualRect(folder), before);  // nothing moved under the pointer
            if (QLatin1String(click.name) == QLatin1String("Album 55"))
                QTRY_COMPARE(ShownNames(form.XListView1), QStringList({"x.mp3"}));
        }

        // Back to the folder above the ones visited: its files, and never its folders.
        tree->scrollTo(top, QAbstractItemView::PositionAtTop);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualRect(top).center());
        QCOMPARE(form.XListView1->CurrentFolder(), music.path());
        QTRY_COMPARE(ShownNames(form.XListView1), QStringList({"a.mp3", "b.wav"}));
        QTest::qWait(300);
        QCOMPARE(ShownNames(form.XListView1), QStringList({"a.mp3", "b.wav"}));
        form.close();
    }

    void focusIsVisibleInTheTreeTheFileViewAndTheList()
    {
        Form1 form;
        form.InitForm();
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QWidget* panes[] = {form.XTreeView1, form.XListView1, form.ListView1};
        const QColor highlight = form.palette().color(QPalette::Active, QPalette::Highlight);
        // The middle of each pane's left edge and of its top edge, as the screen shows them.
        const auto edgeColours = [&](QWidget* pane) {
            const QImage shot = form.grab().toImage();
            return QList<QColor>{shot.pixelColor(pane->mapTo(&form, QPoint(0, pane->height() / 2))),
                                 shot.pixelColor(pane->mapTo(&form, QPoint(pane->width() / 2, 1)))};
        };
        for (QWidget* focused : panes) {
            // Into the pane with the mouse, as the user reaches it.
            QTest::mouseClick(focused, Qt::LeftButton, Qt::NoModifier, QPoint(focused->width() - 3, focused->height() / 2));
            if (!focused->hasFocus())
                QTest::mouseClick(static_cast<QAbstractScrollArea*>(focused)->viewport(), Qt::LeftButton, Qt::NoModifier,
                                  QPoint(5, 5));
            QTRY_VERIFY2(focused->hasFocus(), qPrintable(focused->objectName()));
            for (QWidget* pane : panes) {
                const QList<QColor> colours = edgeColours(pane);
                for (const QColor& colour : colours)
                    QVERIFY2((colour == highlight) == (pane == focused),
                             qPrintable(pane->objectName() + " with the focus in " + focused->objectName() + ": "
                                        + colour.name()));
            }
        }
        // The keys move it on, and the frame with them.
        form.XTreeView1->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* next = QApplication::focusWidget();
        QVERIFY(next != form.XTreeView1);
        QVERIFY(edgeColours(form.XTreeView1).first() != highlight);
        form.close();
    }

    void splashShowsTheVersionOverThePicture()
    {
        frmStartUp splash;
        QCOMPARE(splash.size(), QSize(192, 190));
        QCOMPARE(splash.lblVersion->text(), QStringLiteral("Version 03.00.01"));
        QCOMPARE(splash.lblVersion->y(), 104);
    }
};

VARDUNE_GUI_TEST_MAIN(Form1Test)
#include "form1_test.moc"
